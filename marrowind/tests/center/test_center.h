// A cluster center on loopback for tests: scripted replies, fault modes, and a
// record of every request exactly as it arrived.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace marrowind::testing {

enum class ReplyMode {
    Normal,             // status line, headers and body, after `delay`
    NeverAnswer,        // reads the request, then sends nothing until the center stops
    SlowBody,           // announces the whole body, then sends one byte every `interval`
    TruncatedBody,      // announces the whole body, sends the first half, closes normally
    ResetMidBody,       // announces the whole body, sends the first half, resets the connection
    CloseWithoutReply,  // closes the connection without sending a byte
};

struct Reply {
    int status = 200;
    std::string body{};
    std::string content_type = "text/html";
    std::vector<std::pair<std::string, std::string>> headers{};  // extra reply headers
    std::chrono::milliseconds delay{0};                        // before anything is sent
    ReplyMode mode = ReplyMode::Normal;
    std::chrono::milliseconds interval{1000};                  // SlowBody: time between bytes
};

struct RecordedRequest {
    std::string method{};   // "GET", "POST"
    std::string version{};  // "HTTP/1.0", "HTTP/1.1"
    std::string target{};   // request-line target as sent, undecoded: "/Api/GroupLogin?GroupId=..."
    // Header names as received; compare them with header(), which ignores case.
    // (cpp-httplib drops headers with an empty value and percent-decodes values.)
    std::vector<std::pair<std::string, std::string>> headers{};
    std::string body{};

    std::string path() const;   // target up to "?"
    std::string query() const;  // target after the first "?", "" when none
    std::optional<std::string> header(std::string_view name) const;  // first with this name
    std::size_t header_count(std::string_view name) const;
};

class TestCenter {
public:
    using Handler = std::function<Reply(const RecordedRequest&)>;

    // Listens on 127.0.0.1; port 0 takes an ephemeral port from the system.
    explicit TestCenter(int port = 0);
    ~TestCenter();
    TestCenter(const TestCenter&) = delete;
    TestCenter& operator=(const TestCenter&) = delete;

    int port() const { return port_; }
    std::string base_url() const;  // "http://127.0.0.1:PORT/"

    // Paths are the raw path of the target, with or without the leading "/":
    // "Api/GroupLogin" and "/Api/GroupLogin" are the same. Case counts.
    // A queued reply answers one request, in order, before the path's handler.
    void enqueue(std::string_view path, Reply reply);
    void set_handler(std::string_view path, Handler handler);
    // Answers requests to any other path; by default 404 "Not Found".
    void set_fallback(Handler handler);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requests_to(std::string_view path) const;
    std::size_t request_count() const;
    // True once at least n requests have arrived; false after the timeout.
    bool wait_for_requests(std::size_t n,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void serve(const httplib::Request& req, httplib::Response& res);
    Reply choose(const RecordedRequest& rec);
    bool sleep_unless_stopping(std::chrono::milliseconds d);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<RecordedRequest> requests_;
    std::map<std::string, std::deque<Reply>, std::less<>> queued_;
    std::map<std::string, Handler, std::less<>> handlers_;
    Handler fallback_;
};

}  // namespace marrowind::testing
