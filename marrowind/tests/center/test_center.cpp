#include "test_center.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace marrowind::testing {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string normalise_path(std::string_view path) {
    std::string p(path);
    if (p.empty() || p.front() != '/') p.insert(0, 1, '/');
    return p;
}

int port_of(const sockaddr_storage& a) {
    if (a.ss_family != AF_INET) return -1;
    return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

// cpp-httplib does not hand its socket to a handler; the connection is found
// by its two ports among the process's descriptors.
int find_connection(int local_port, int remote_port) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int found = -1;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0') continue;
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(int(fd), reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        if (port_of(local) == local_port && port_of(peer) == remote_port) {
            found = int(fd);
            break;
        }
    }
    closedir(dir);
    return found;
}

// Closes the request's connection under cpp-httplib: the descriptor number is
// taken over by /dev/null, so the library's own later writes and close touch
// nothing else. With reset, the close is abortive (RST instead of FIN).
void drop_connection(const httplib::Request& req, bool reset) {
    int fd = find_connection(req.local_port, req.remote_port);
    if (fd < 0) return;
    if (reset) {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0) return;
    dup2(null_fd, fd);
    close(null_fd);
}

RecordedRequest record_of(const httplib::Request& req) {
    RecordedRequest r;
    r.method = req.method;
    r.version = req.version;
    r.target = req.target;
    for (const auto& [name, value] : req.headers) {
        // cpp-httplib files the connection's addresses among the headers.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        r.headers.emplace_back(name, value);
    }
    r.body = req.body;
    return r;
}

}  // namespace

std::string RecordedRequest::path() const { return target.substr(0, target.find('?')); }

std::string RecordedRequest::query() const {
    auto q = target.find('?');
    return q == std::string::npos ? std::string() : target.substr(q + 1);
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (iequals(n, name)) return v;
    return std::nullopt;
}

std::size_t RecordedRequest::header_count(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(headers.begin(), headers.end(),
                                                  [&](const auto& h) { return iequals(h.first, name); }));
}

TestCenter::TestCenter(int port) : server_(std::make_unique<httplib::Server>()) {
    // A client that goes away mid-reply must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);

    fallback_ = [](const RecordedRequest&) { return Reply{.status = 404, .body = "Not Found"}; };
    // Blocked fault-mode handlers each hold a worker until the center stops.
    server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
    server_->set_keep_alive_timeout(1);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); };
    const std::string any = "[\\s\\S]*";
    server_->Get(any, handler);
    server_->Post(any, handler);
    server_->Put(any, handler);
    server_->Patch(any, handler);
    server_->Delete(any, handler);
    server_->Options(any, handler);

    if (port == 0) {
        port_ = server_->bind_to_any_port("127.0.0.1");
    } else if (server_->bind_to_port("127.0.0.1", port)) {
        port_ = port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) throw std::runtime_error("test center: cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() is ignored until the listen loop runs, so wait for it.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestCenter::~TestCenter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    thread_.join();
}

std::string TestCenter::base_url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void TestCenter::enqueue(std::string_view path, Reply reply) {
    std::lock_guard lock(mutex_);
    queued_[normalise_path(path)].push_back(std::move(reply));
}

void TestCenter::set_handler(std::string_view path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[normalise_path(path)] = std::move(handler);
}

void TestCenter::set_fallback(Handler handler) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(handler);
}

std::vector<RecordedRequest> TestCenter::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> TestCenter::requests_to(std::string_view path) const {
    std::string p = normalise_path(path);
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> out;
    for (const auto& r : requests_)
        if (r.path() == p) out.push_back(r);
    return out;
}

std::size_t TestCenter::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool TestCenter::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

bool TestCenter::sleep_unless_stopping(std::chrono::milliseconds d) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, d, [&] { return stopping_; });
}

Reply TestCenter::choose(const RecordedRequest& rec) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        std::string path = rec.path();
        if (auto q = queued_.find(path); q != queued_.end() && !q->second.empty()) {
            Reply r = std::move(q->second.front());
            q->second.pop_front();
            return r;
        }
        auto h = handlers_.find(path);
        handler = h != handlers_.end() ? h->second : fallback_;
    }
    // Outside the lock: a handler may look at the record itself.
    return handler(rec);
}

void TestCenter::serve(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec = record_of(req);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(rec);
    }
    changed_.notify_all();
    Reply reply = choose(rec);

    if (reply.delay.count() > 0 && !sleep_unless_stopping(reply.delay)) {
        drop_connection(req, false);
        return;
    }

    res.status = reply.status;
    for (auto& [name, value] : reply.headers) res.set_header(name, value);

    switch (reply.mode) {
    case ReplyMode::Normal:
        res.set_content(reply.body, reply.content_type);
        return;
    case ReplyMode::NeverAnswer:
        sleep_unless_stopping(std::chrono::hours(24));
        drop_connection(req, false);
        return;
    case ReplyMode::CloseWithoutReply:
        drop_connection(req, false);
        return;
    case ReplyMode::SlowBody:
        res.set_content_provider(
            reply.body.size(), reply.content_type,
            [this, body = reply.body, interval = reply.interval](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset > 0 && !sleep_unless_stopping(interval)) return false;
                return sink.write(body.data() + offset, 1);
            });
        return;
    case ReplyMode::TruncatedBody:
    case ReplyMode::ResetMidBody: {
        bool reset = reply.mode == ReplyMode::ResetMidBody;
        res.set_content_provider(
            reply.body.size(), reply.content_type,
            [this, &req, reset, body = reply.body](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset == 0 && body.size() > 1) return sink.write(body.data(), body.size() / 2);
                // Give the first half time to reach the peer before the connection goes.
                sleep_unless_stopping(std::chrono::milliseconds(50));
                if (reset) drop_connection(req, true);
                return false;
            });
        return;
    }
    }
}

}  // namespace marrowind::testing
