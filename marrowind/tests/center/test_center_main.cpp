// test-center [PORT]: a cluster center for trying Marrowind by hand. It accepts
// every station's login, acknowledges every batch, and prints what it receives.
#include "test_center.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>

using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;
using marrowind::testing::TestCenter;

namespace {

std::mutex print_mutex;

void print(const RecordedRequest& r) {
    std::lock_guard lock(print_mutex);
    std::cout << r.method << ' ' << r.target << ' ' << r.version << '\n';
    for (const auto& [name, value] : r.headers) std::cout << "  " << name << ": " << value << '\n';
    if (!r.body.empty()) std::cout << "  body (" << r.body.size() << " bytes): " << r.body << '\n';
    std::cout << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    long port = 0;
    bool usable = argc <= 2;
    if (argc == 2) {
        char* end = nullptr;
        port = std::strtol(argv[1], &end, 10);
        usable = end != argv[1] && *end == '\0' && port >= 0 && port <= 65535;
    }
    if (!usable) {
        std::cerr << "usage: test-center [PORT]   (no PORT or 0: any free port)\n";
        return 2;
    }

    // The center's threads inherit the blocked signals; only sigwait below takes them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        TestCenter center(static_cast<int>(port));
        std::atomic<long> next_number{static_cast<long>(std::time(nullptr) % 100000) * 10};

        center.set_handler("Api/GroupLogin", [&](const RecordedRequest& r) {
            print(r);
            return Reply{.body = "\"OK" + std::to_string(++next_number) + "\""};
        });
        center.set_handler("api/StationData", [](const RecordedRequest& r) {
            print(r);
            return Reply{.body = "\"OK\""};
        });
        center.set_fallback([](const RecordedRequest& r) {
            print(r);
            return Reply{.status = 404, .body = "Not Found"};
        });

        {
            std::lock_guard lock(print_mutex);
            std::cout << "test-center listening on " << center.base_url() << std::endl;
        }
        int received = 0;
        sigwait(&stop_signals, &received);
    } catch (const std::exception& e) {
        std::cerr << "test-center: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
