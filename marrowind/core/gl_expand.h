// Process-wide cluster settings and flags, shared by the main and the worker thread,
// and the cluster login that both the sync tick and the settings dialog make.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace marrowind {

class TDs;

// True when the database holds the change journal DataChange as a user table; it
// switches the cluster features on. Set by TDs::DataModuleCreate.
extern std::atomic<bool> HaveGroup;

// A text setting that one thread writes while another reads it: every read gives a
// whole value, the old one or the new one.
class SharedText {
 public:
  std::string Get() const {
    std::lock_guard lock(mu_);
    return value_;
  }
  void Set(std::string value) {
    std::lock_guard lock(mu_);
    value_ = std::move(value);
  }
  void Clear() { Set({}); }
  bool Empty() const {
    std::lock_guard lock(mu_);
    return value_.empty();
  }

 private:
  mutable std::mutex mu_;
  std::string value_;
};

// Base address of the cluster center (SystemRul code 14); ends in "/" once read.
extern SharedText GroupUrl;
// This library's station id (code 15).
extern SharedText GroupId;
// The station's check code for the login (code 16).
extern SharedText GroupPw;
// Dynamic number of the last successful login; empty when the last tick did not log in.
extern SharedText DynNum;

// The center address as SystemRul is filled with it: not configured yet.
inline constexpr std::string_view kUnconfiguredUrl = "Http://";

// Time limits of every request to the center, the login and the batch post. No
// connection within `connect` counts as unreachable; a reply not complete within
// `total` as no reply.
struct HttpLimits {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds total{60000};
};
HttpLimits GetHttpLimits();
void SetHttpLimits(HttpLimits limits);  // tests shorten them

// The center cannot be reached (connection refused or not made in time): the
// operation that asked ends at once, with no message. The sync tick and the settings
// dialog catch and swallow it; the application's error report must too.
class ESilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// A value for SQL text between single quotes: every quote doubled.
std::string SqlQuoted(std::string_view value);

// A value for a URL query: the value's code page 936 bytes, each byte other than a
// letter, digit or one of "-._~" written as %XX.
std::string UrlEncoded(std::string_view value);

// groupUrl + "Api/GroupLogin?GroupId=" + id + "&Pw=" + pw, the values encoded.
std::string LoginUrl(std::string_view groupUrl, std::string_view groupId, std::string_view groupPw);

// Makes sure the settings rows 14, 15 and 16 exist in SystemRul, loads GroupUrl,
// GroupId and GroupPw from them (a "/" appended to the address when it lacks one),
// and answers whether the center address is configured: not empty and not exactly
// "Http://". False at once, settings untouched, when HaveGroup is false. A failed
// read leaves the settings as they were. Never throws for SQL errors.
bool ReadGroupSettings(TDs& ds);

// What the calling thread does while a login it asked for runs on a helper thread.
// The program's windows give their thread one that keeps the event loop turning.
class LoginWait {
 public:
  virtual ~LoginWait() = default;
  // False when the operation that asks for the login is being given up: no request
  // is made.
  virtual bool MayStart() = 0;
  // Returns true once `ended()` holds; false when it gives the wait up (the request is
  // then abandoned).
  virtual bool Wait(const std::function<bool()>& ended) = 0;
};
// Sets the calling thread's login wait; none (the default) makes the login on the
// calling thread itself, which it holds until the reply or the time limit.
void SetThreadLoginWait(LoginWait* wait);
// True once no helper thread of an abandoned login is left (each ends at its next look
// at the abandonment); false after `timeout`. The program's end waits for them.
bool LoginHelpersEnded(std::chrono::milliseconds timeout);

// The login GET and its quoted reply. True for a reply that starts with a double
// quote and "OK": `text` is what follows "OK", the last character dropped (the
// dynamic number). False for any other reply, `text` being the reply without its
// first and last character. A reply without a success status (an error page, a
// redirect), one that did not come within the time limit, or a broken one gives false
// with an empty text: its body is never read as the center's answer. A refused
// connection or none made in time (socket errors 10061, 10060) throws ESilentAbort,
// and so does a login that the thread's LoginWait refuses or gives up.
// Headers: Content-Type "application/x-www-form-urlencoded", Accept "text/html, */*",
// User-Agent "Mozilla/5.0 (compatible; Indy Library)".
bool HttpGetResult(const std::string& url, std::string& text);

// The split of HttpGetResult's reply, on the body of a success reply (empty for no
// answer): the body is first taken through code page 936, then split by characters.
bool SplitLoginReply(std::string_view reply, std::string& text);

}  // namespace marrowind
