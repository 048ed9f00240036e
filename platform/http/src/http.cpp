#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/text.h"

namespace platform::http {
namespace {

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

Result failure(Outcome outcome, std::string message, int socket_error = 0) {
    Result r;
    r.outcome = outcome;
    r.message = std::move(message);
    r.socket_error = socket_error;
    return r;
}

// curl would rewrite the path (dot segments, escaping of spaces and 8-bit
// bytes); the peer must see the caller's bytes, so curl only gets the origin
// and the target goes on the request line as it stands.
struct SplitUrl {
    std::string origin;  // scheme://authority/
    std::string target;  // /path?query
};

std::optional<SplitUrl> split_url(const std::string& url) {
    auto sep = url.find("://");
    if (sep == std::string::npos || sep == 0) return std::nullopt;
    auto authority_end = url.find_first_of("/?", sep + 3);
    if (authority_end == sep + 3) return std::nullopt;  // no host
    SplitUrl s;
    s.origin = url.substr(0, authority_end == std::string::npos ? url.size() : authority_end) + "/";
    if (authority_end == std::string::npos) {
        s.target = "/";
    } else {
        s.target = url.substr(authority_end);
        if (s.target.front() == '?') s.target.insert(0, 1, '/');
    }
    // The request line cannot carry blanks or control bytes.
    for (unsigned char c : s.target)
        if (c <= 0x20 || c == 0x7f) return std::nullopt;
    return s;
}

bool valid_header(const Header& h) {
    if (h.name.empty()) return false;
    for (unsigned char c : h.name)
        if (c <= 0x20 || c == 0x7f || c == ':') return false;
    return h.value.find_first_of("\r\n") == std::string::npos;
}

// Windows socket error numbers, as a peer or caller on Windows would see them.
int winsock_error(long os_errno) {
    switch (os_errno) {
    case ECONNREFUSED: return 10061;
    case ETIMEDOUT: return 10060;
    case EHOSTUNREACH: return 10065;
    case ENETUNREACH: return 10051;
    case ECONNRESET: return 10054;
    case EADDRNOTAVAIL: return 10049;
    default: return 0;
    }
}

struct Transfer {
    std::string body;
    std::string status_line;
    std::size_t max_reply_bytes = 0;
    bool too_large = false;
    bool connected = false;
};

// Called once the connection stands, just before the request goes out: what
// tells a connect time-out from a reply that took too long.
int on_connected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->connected = true;
    return CURL_PREREQFUNC_OK;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->body.size() + n > t->max_reply_bytes) {
        t->too_large = true;
        return 0;  // makes curl stop with CURLE_WRITE_ERROR
    }
    t->body.append(data, n);
    return n;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    if (line.starts_with("HTTP/")) {  // the last status line is the final one (after 1xx)
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        t->status_line = line;
    }
    return n;
}

}  // namespace

std::string_view to_string(Outcome outcome) {
    switch (outcome) {
    case Outcome::Ok: return "Ok";
    case Outcome::HttpError: return "HttpError";
    case Outcome::ConnectFailed: return "ConnectFailed";
    case Outcome::TimedOut: return "TimedOut";
    case Outcome::Aborted: return "Aborted";
    case Outcome::OtherError: return "OtherError";
    }
    return "?";
}

Result perform(const Request& request) {
    global_init();

    auto url = split_url(request.url);
    if (!url) return failure(Outcome::OtherError, "Invalid URL: " + request.url);
    if (request.method == Method::Get && !request.body.empty())
        return failure(Outcome::OtherError, "A GET request carries no body");

    bool has_accept = false, has_expect = false, has_content_type = false;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    auto add_header = [&](const std::string& line) {
        curl_slist* l = curl_slist_append(headers.get(), line.c_str());
        if (!l) return false;
        (void)headers.release();
        headers.reset(l);
        return true;
    };
    for (const Header& h : request.headers) {
        if (!valid_header(h)) return failure(Outcome::OtherError, "Invalid request header: " + h.name);
        has_accept |= platform::text::EqualsNoCase(h.name, "Accept");
        has_expect |= platform::text::EqualsNoCase(h.name, "Expect");
        has_content_type |= platform::text::EqualsNoCase(h.name, "Content-Type");
        // curl's syntax for a header without value is "Name;".
        if (!add_header(h.value.empty() ? h.name + ";" : h.name + ": " + h.value))
            return failure(Outcome::OtherError, "Out of memory");
    }
    // "Name:" removes a header curl would add of its own accord.
    if (!has_accept && !add_header("Accept:")) return failure(Outcome::OtherError, "Out of memory");
    if (!has_expect && !add_header("Expect:")) return failure(Outcome::OtherError, "Out of memory");
    if (request.method == Method::Post && !has_content_type && !add_header("Content-Type:"))
        return failure(Outcome::OtherError, "Out of memory");

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) return failure(Outcome::OtherError, "Cannot create an HTTP client");
    CURL* h = easy.get();

    Transfer transfer;
    transfer.max_reply_bytes = request.max_reply_bytes;
    char error[CURL_ERROR_SIZE] = {};

    // libcurl keeps its default for an option it refuses (a request target over
    // 8,000,000 bytes, say) and would send the request all the same, to "/" then:
    // a request that cannot be made as built is not made.
    CURLcode set_rc = CURLE_OK;
    const char* refused = nullptr;
    auto check = [&](CURLcode rc, const char* option) {
        if (rc != CURLE_OK && !refused) {
            set_rc = rc;
            refused = option;
        }
    };
    check(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error), "ERRORBUFFER");
    check(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L), "NOSIGNAL");
    check(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"), "PROTOCOLS_STR");
    check(curl_easy_setopt(h, CURLOPT_URL, url->origin.c_str()), "URL");
    check(curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, url->target.c_str()), "REQUEST_TARGET");
    check(curl_easy_setopt(h, CURLOPT_PROXY, ""), "PROXY");
    check(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L), "FOLLOWLOCATION");
    check(curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L), "FORBID_REUSE");
    check(curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                           request.version == Version::Http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1),
          "HTTP_VERSION");
    check(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()), "HTTPHEADER");
    // curl reads 0 as "no limit"; every request here has one.
    auto limit = [](std::chrono::milliseconds ms) { return std::max<long>(1, static_cast<long>(ms.count())); };
    check(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limit(request.connect_timeout)), "CONNECTTIMEOUT_MS");
    check(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limit(request.total_timeout)), "TIMEOUT_MS");
    check(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body), "WRITEFUNCTION");
    check(curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer), "WRITEDATA");
    check(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header), "HEADERFUNCTION");
    check(curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer), "HEADERDATA");
    check(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, on_connected), "PREREQFUNCTION");
    check(curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer), "PREREQDATA");
    if (request.method == Method::Post) {
        check(curl_easy_setopt(h, CURLOPT_POST, 1L), "POST");
        check(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size())),
              "POSTFIELDSIZE_LARGE");
        check(curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()), "POSTFIELDS");
    } else {
        check(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L), "HTTPGET");
    }
    if (refused)
        return failure(Outcome::OtherError,
                       std::string("Cannot build the request (") + refused + "): " + curl_easy_strerror(set_rc));

    if (curl_multi_add_handle(multi.get(), h) != CURLM_OK)
        return failure(Outcome::OtherError, "Cannot start the HTTP request");

    // The multi loop, rather than curl_easy_perform, lets the abort check run
    // every 50 ms even while the peer sends nothing at all.
    bool aborted = false;
    CURLcode rc = CURLE_OK;
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi.get(), &running);
        if (mc != CURLM_OK) {
            curl_multi_remove_handle(multi.get(), h);
            return failure(Outcome::OtherError, curl_multi_strerror(mc));
        }
        if (running == 0) break;
        if (request.abort && request.abort()) {
            aborted = true;
            break;
        }
        mc = curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
        if (mc != CURLM_OK) {
            curl_multi_remove_handle(multi.get(), h);
            return failure(Outcome::OtherError, curl_multi_strerror(mc));
        }
    }
    if (!aborted) {
        int left = 0;
        rc = CURLE_GOT_NOTHING;
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left))
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) rc = msg->data.result;
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    long os_errno = 0;
    curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &os_errno);
    curl_multi_remove_handle(multi.get(), h);

    std::string curl_message = error[0] ? std::string(error) : std::string(curl_easy_strerror(rc));

    Result r;
    r.status = status;
    if (aborted) {
        r.outcome = Outcome::Aborted;
        r.message = "Request aborted";
    } else if (rc == CURLE_OK) {
        // Only a complete reply has a body: a cut-off one could look like an answer.
        r.body = std::move(transfer.body);
        if (status >= 400) {
            r.outcome = Outcome::HttpError;
            r.message = transfer.status_line.empty() ? "HTTP status " + std::to_string(status)
                                                     : transfer.status_line;
        } else {
            r.outcome = Outcome::Ok;
        }
    } else if (rc == CURLE_COULDNT_CONNECT || (rc == CURLE_OPERATION_TIMEDOUT && !transfer.connected)) {
        r.outcome = Outcome::ConnectFailed;
        r.socket_error = rc == CURLE_OPERATION_TIMEDOUT ? 10060 : winsock_error(os_errno);
        r.message = r.socket_error ? "Socket Error # " + std::to_string(r.socket_error) + " " + curl_message
                                   : curl_message;
    } else if (rc == CURLE_OPERATION_TIMEDOUT) {
        r.outcome = Outcome::TimedOut;
        r.message = curl_message;
    } else if (rc == CURLE_WRITE_ERROR && transfer.too_large) {
        r.outcome = Outcome::OtherError;
        r.message = "Reply larger than " + std::to_string(request.max_reply_bytes) + " bytes";
    } else {
        r.outcome = Outcome::OtherError;
        r.message = curl_message;
    }
    return r;
}

}  // namespace platform::http
