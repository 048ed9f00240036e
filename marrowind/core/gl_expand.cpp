#include "marrowind/core/gl_expand.h"

#include <condition_variable>
#include <memory>
#include <thread>

#include "marrowind/core/data_sou.h"
#include "platform/http.h"
#include "platform/text.h"

namespace marrowind {

std::atomic<bool> HaveGroup{false};

SharedText GroupUrl;
SharedText GroupId;
SharedText GroupPw;
SharedText DynNum;

namespace {

std::mutex limitsMu;
HttpLimits limits;

thread_local LoginWait* threadLoginWait = nullptr;

std::mutex helpersMu;
std::condition_variable helpersEnded;
int helpers = 0;

// The request on a helper thread while the calling thread waits in its own way. A
// wait given up abandons the request: the helper aborts it at its next look and ends
// on its own.
platform::http::Result PerformWhileWaiting(platform::http::Request request, LoginWait& wait) {
  struct Call {
    std::atomic<bool> ended{false};
    std::atomic<bool> abandoned{false};
    platform::http::Result result;
  };
  auto call = std::make_shared<Call>();
  request.abort = [call] { return call->abandoned.load(); };
  {
    std::lock_guard lock(helpersMu);
    ++helpers;
  }
  try {
    std::thread([call, request = std::move(request)] {
      call->result = platform::http::perform(request);
      call->ended = true;
      std::lock_guard lock(helpersMu);
      --helpers;
      helpersEnded.notify_all();
    }).detach();
  } catch (...) {
    std::lock_guard lock(helpersMu);
    --helpers;
    throw;
  }
  if (!wait.Wait([&call] { return call->ended.load(); })) {
    call->abandoned = true;
    throw ESilentAbort();
  }
  return std::move(call->result);
}

// Byte offset where the last UTF-8 character of `s` starts (0 for an empty text).
size_t LastCharStart(std::string_view s) {
  size_t i = s.size();
  while (i > 0) {
    --i;
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) break;
  }
  return i;
}

// Byte length of the first UTF-8 character of a non-empty `s`.
size_t FirstCharLength(std::string_view s) {
  size_t i = 1;
  while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

std::string Between(std::string_view s, size_t from, size_t to) {
  return to > from ? std::string(s.substr(from, to - from)) : std::string();
}

}  // namespace

void SetThreadLoginWait(LoginWait* wait) { threadLoginWait = wait; }

bool LoginHelpersEnded(std::chrono::milliseconds timeout) {
  std::unique_lock lock(helpersMu);
  return helpersEnded.wait_for(lock, timeout, [] { return helpers == 0; });
}

HttpLimits GetHttpLimits() {
  std::lock_guard lock(limitsMu);
  return limits;
}

void SetHttpLimits(HttpLimits l) {
  std::lock_guard lock(limitsMu);
  limits = l;
}

std::string SqlQuoted(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string UrlEncoded(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string bytes = platform::text::Utf8ToCp936(value);
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string LoginUrl(std::string_view groupUrl, std::string_view groupId, std::string_view groupPw) {
  std::string url(groupUrl);
  url += "Api/GroupLogin?GroupId=";
  url += UrlEncoded(groupId);
  url += "&Pw=";
  url += UrlEncoded(groupPw);
  return url;
}

bool ReadGroupSettings(TDs& ds) {
  if (!HaveGroup) return false;
  ds.ExecSql(
      "if not Exists(Select 1 from SystemRul where systemCode=14) insert SystemRul (SystemCode,SysTemName,Content) "
      "values(14,'GroupUrl','Http://')");
  ds.ExecSql(
      "if not Exists(Select 1 from SystemRul where systemCode=15) insert SystemRul (SystemCode,SysTemName) "
      "values(15,'GroupId')");
  ds.ExecSql(
      "if not Exists(Select 1 from SystemRul where systemCode=16) insert SystemRul (SystemCode,SysTemName) "
      "values(16,'GroupPw')");
  if (ds.OpenSql("Select * from SystemRul where SystemCode in (14,15,16)")) {
    try {
      platform::db::Query& q = ds.AqLs;
      for (q.First(); !q.Eof(); q.Next()) {
        std::int64_t code = q.FieldByName("SystemCode").AsInteger();
        std::string content = q.FieldByName("Content").AsString();
        if (code == 14) GroupUrl.Set(content);
        if (code == 15) GroupId.Set(content);
        if (code == 16) GroupPw.Set(content);
      }
    } catch (const platform::db::DbError&) {
      // A row that cannot be read ends the read; what was read stays.
    }
  }
  std::string url = GroupUrl.Get();
  if (url.empty()) return false;
  if (url.back() != '/') {
    url += '/';
    GroupUrl.Set(url);
  }
  return url != kUnconfiguredUrl;
}

bool HttpGetResult(const std::string& url, std::string& text) {
  HttpLimits l = GetHttpLimits();
  platform::http::Request request{
      .method = platform::http::Method::Get,
      .url = url,
      .headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                  {"Accept", "text/html, */*"},
                  {"User-Agent", "Mozilla/5.0 (compatible; Indy Library)"}},
      .connect_timeout = l.connect,
      .total_timeout = l.total,
  };
  LoginWait* wait = threadLoginWait;
  if (wait && !wait->MayStart()) throw ESilentAbort();
  platform::http::Result result =
      wait ? PerformWhileWaiting(std::move(request), *wait) : platform::http::perform(request);
  if (result.outcome == platform::http::Outcome::ConnectFailed &&
      (result.socket_error == 10061 || result.socket_error == 10060)) {
    throw ESilentAbort();
  }
  // Only a reply with a success status is the center's answer; an error page, a
  // redirect, a reply that did not come in time or a broken one read as empty.
  bool answer = result.outcome == platform::http::Outcome::Ok && result.status >= 200 && result.status <= 299;
  return SplitLoginReply(answer ? result.body : std::string(), text);
}

bool SplitLoginReply(std::string_view reply, std::string& text) {
  // The reply is UTF-8; what the station keeps is what its code page can hold.
  const std::string body = platform::text::Cp936ToUtf8(platform::text::Utf8ToCp936(reply));
  size_t last = LastCharStart(body);
  if (body.starts_with("\"OK")) {
    text = Between(body, 3, last);
    return true;
  }
  text = body.empty() ? std::string() : Between(body, FirstCharLength(body), last);
  return false;
}

}  // namespace marrowind
