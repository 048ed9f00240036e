// HTTP client: one request, one fresh connection, nothing carried over.
//
// Every request gets its own libcurl handle: no cookies, no redirects, no proxy,
// no headers beyond those the caller gives and those HTTP itself needs (Host,
// Content-Length). The URL's path and query go on the request line exactly as
// given, so callers encode values themselves and the peer sees those bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::http {

enum class Method { Get, Post };

enum class Version { Http10, Http11 };

struct Header {
    std::string name{};
    std::string value{};
};

struct Request {
    Method method = Method::Get;
    // "http://host[:port]/path?query". Everything from the first "/" after the
    // host is the request target, sent byte for byte.
    std::string url{};
    // Sent in this order. An empty value sends the header with no value.
    std::vector<Header> headers{};
    // Sent only with Post (with its Content-Length, also when empty); a Get
    // with a body is refused as OtherError.
    std::string body{};
    Version version = Version::Http11;
    // No connection within this time: ConnectFailed (socket error 10060).
    std::chrono::milliseconds connect_timeout{10000};
    // The whole exchange, connecting included: TimedOut once connected.
    std::chrono::milliseconds total_timeout{60000};
    // Polled about every 50 ms while the request runs; true stops it (Aborted).
    std::function<bool()> abort{};
    // A reply body larger than this ends the request as OtherError.
    std::size_t max_reply_bytes = 16u * 1024u * 1024u;
};

enum class Outcome {
    Ok,             // a reply with status below 400: status and body are the center's
    HttpError,      // status 400 or above: body kept, but it is no answer
    ConnectFailed,  // no connection: refused, unreachable or connect time limit
    TimedOut,       // connected, but the reply did not complete in the total time
    Aborted,        // the abort check said stop
    OtherError,     // anything else (bad URL, reset, truncated reply, ...)
};

struct Result {
    Outcome outcome = Outcome::OtherError;
    long status = 0;    // the status line's code when one arrived, else 0
    // The complete reply body as received, without conversion, for Ok and
    // HttpError; empty for every other outcome, so a cut-off reply never
    // reads as an answer.
    std::string body{};
    // Empty for Ok. ConnectFailed gives "Socket Error # 10061 ..." for a
    // refused connection and "Socket Error # 10060 ..." for the connect time
    // limit, as the Windows socket layer numbers them.
    std::string message{};
    // Windows socket error number for ConnectFailed (10061, 10060, 10065,
    // 10051, ...), 0 otherwise.
    int socket_error = 0;

    bool ok() const { return outcome == Outcome::Ok; }
};

// Runs one request to its end. Safe to call from several threads at once.
Result perform(const Request& request);

// "Ok", "HttpError", ... for messages and test output.
std::string_view to_string(Outcome outcome);

}  // namespace platform::http
