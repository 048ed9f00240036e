// The cluster settings, the login GET and the sync tick against a center on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <set>
#include <thread>

#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "platform/text.h"
#include "sync_support.h"

using namespace marrowind;
using marrowind::test::DocumentChangeIds;
using marrowind::test::ReadFile;
using marrowind::test::RefusingPort;
using marrowind::test::SilentListener;
using marrowind::test::SyncTest;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;
using marrowind::testing::TestCenter;
using namespace std::chrono_literals;

namespace {

std::set<std::string> HeaderNames(const RecordedRequest& r) {
  std::set<std::string> names;
  for (const auto& h : r.headers) names.insert(platform::text::AsciiLower(h.first));
  return names;
}

class ClusterLogin : public SyncTest {};

}  // namespace

TEST(ClusterValues, QuotedForSqlAndEncodedForUrls) {
  EXPECT_EQ(SqlQuoted("S01"), "S01");
  EXPECT_EQ(SqlQuoted("O'Brien''s"), "O''Brien''''s");
  EXPECT_EQ(SqlQuoted("'; drop table DataChange --"), "''; drop table DataChange --");
  EXPECT_EQ(SqlQuoted(""), "");

  struct Case {
    std::string value, want;
  } cases[] = {
      {"S01", "S01"},
      {"Az09-._~", "Az09-._~"},
      {"a&b=c d", "a%26b%3Dc%20d"},
      {"馆01", "%B9%DD01"},  // code page 936 bytes, as the center read them before
      {"100%+/?#", "100%25%2B%2F%3F%23"},
      {"\xF0\x9F\x98\x80", "%3F"},  // not in the code page: "?"
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlEncoded(c.value), c.want) << c.value;
  EXPECT_EQ(LoginUrl("http://c/", "S 1", "p&w"), "http://c/Api/GroupLogin?GroupId=S%201&Pw=p%26w");
  EXPECT_EQ(BatchUrl("http://c/", "S01", "4711"), "http://c/api/StationData?GroupID=S01&DynNum=4711&");
}

TEST_F(ClusterLogin, ReadGroupSettingsCreatesTheRowsAndNormalisesTheAddress) {
  // The fixture has no settings rows yet: they are created, 14 with "Http://".
  GroupUrl.Set("stale");
  EXPECT_FALSE(ReadGroupSettings(ds()));
  EXPECT_EQ(GroupUrl.Get(), "Http://");
  EXPECT_EQ(GroupId.Get(), "");
  ASSERT_TRUE(ds().OpenSql("select count(*) from SystemRul where SystemCode in (14,15,16) and "
                           "(Content is null or SystemCode=14)"));
  EXPECT_EQ(ds().AqLs.Fields(0).AsInteger(), 3);

  struct Case {
    std::optional<std::string> stored;  // nullopt: NULL content
    bool configured;
    std::string url;
  } cases[] = {
      {"Http://", false, "Http://"},
      {"", false, ""},
      {std::nullopt, false, ""},
      {"http://", true, "http://"},  // case counts: not the default text
      {"HTTP://", true, "HTTP://"},
      {"http://center.example/sync", true, "http://center.example/sync/"},
      {"http://center.example/", true, "http://center.example/"},
  };
  for (const Case& c : cases) {
    Exec("update SystemRul set Content=" + (c.stored ? "'" + *c.stored + "'" : std::string("NULL")) +
         " where SystemCode=14");
    Exec("update SystemRul set Content='S''01' where SystemCode=15");
    Exec("update SystemRul set Content='pw' where SystemCode=16");
    EXPECT_EQ(ReadGroupSettings(ds()), c.configured) << c.url;
    EXPECT_EQ(GroupUrl.Get(), c.url);
    EXPECT_EQ(GroupId.Get(), "S'01");
    EXPECT_EQ(GroupPw.Get(), "pw");
  }

  // Without the journal table nothing is read.
  HaveGroup = false;
  Exec("update SystemRul set Content='http://other/' where SystemCode=14");
  EXPECT_FALSE(ReadGroupSettings(ds()));
  EXPECT_EQ(GroupUrl.Get(), "http://center.example/");
}

TEST_F(ClusterLogin, LoginRepliesAreSplitAtTheirQuotes) {
  struct Case {
    Reply reply;
    bool ok;
    std::string text;
  } cases[] = {
      {Reply{.body = "\"OK4711\""}, true, "4711"},
      {Reply{.body = "\"OK\""}, true, ""},  // success with an empty number
      {Reply{.body = "\"OK"}, true, ""},
      {Reply{.body = "OK4711"}, false, "K471"},  // no opening quote: a failure
      {Reply{.body = ""}, false, ""},
      {Reply{.body = "\""}, false, ""},
      {Reply{.body = "\"校验码错误\""}, false, "校验码错误"},
      {Reply{.body = "\"OK编号\""}, true, "编号"},
      {Reply{.body = "\"ok12\""}, false, "ok12"},
      // An error status or a cut-off reply is no answer, whatever its body says.
      {Reply{.status = 500, .body = "\"OK4711\""}, false, ""},
      {Reply{.status = 404, .body = "\"Not Found\""}, false, ""},
      {Reply{.status = 302, .body = "\"OK4711\""}, false, ""},
      {Reply{.body = "\"OK4711\"", .mode = ReplyMode::TruncatedBody}, false, ""},
      {Reply{.body = "\"OK4711\"", .mode = ReplyMode::ResetMidBody}, false, ""},
  };
  std::string url = center().base_url() + "Api/GroupLogin?GroupId=S01&Pw=pw";
  for (const Case& c : cases) {
    center().enqueue("Api/GroupLogin", c.reply);
    std::string text = "unchanged";
    EXPECT_EQ(HttpGetResult(url, text), c.ok) << c.reply.body;
    EXPECT_EQ(text, c.text) << c.reply.body;
  }
}

TEST_F(ClusterLogin, UnreachableCenterIsTheSilentAbortButALateReplyAFailedLogin) {
  SetHttpLimits({200ms, 400ms});
  std::string text;
  RefusingPort refusing;
  EXPECT_THROW(HttpGetResult(refusing.Url() + "Api/GroupLogin?GroupId=S01&Pw=pw", text), ESilentAbort);
  SilentListener silent;
  EXPECT_THROW(HttpGetResult(silent.Url() + "Api/GroupLogin?GroupId=S01&Pw=pw", text), ESilentAbort);

  // Connected, but the reply never comes: bounded, and only a failed login.
  center().enqueue("Api/GroupLogin", Reply{.mode = ReplyMode::NeverAnswer});
  text = "unchanged";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(HttpGetResult(center().base_url() + "Api/GroupLogin?GroupId=S01&Pw=pw", text));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(text, "");
}

// A thread that waits in its own way (the program's windows turn their event loop):
// the login runs beside the wait and gives the same result; a wait that refuses the
// start or gives up ends the login as the silent abort.
TEST_F(ClusterLogin, ALoginWaitWaitsBesideTheRequestAndMayStopIt) {
  struct TestWait : LoginWait {
    bool mayStart = true;
    std::function<bool(TestCenter&)> giveUp = [](TestCenter&) { return false; };
    TestCenter* center = nullptr;
    int looks = 0;
    size_t requestsSeenWaiting = 0;
    bool MayStart() override { return mayStart; }
    bool Wait(const std::function<bool()>& ended) override {
      while (!ended()) {
        ++looks;
        requestsSeenWaiting = center->request_count();
        if (giveUp(*center)) return false;
        std::this_thread::sleep_for(5ms);
      }
      return true;
    }
  } wait;
  wait.center = &center();
  SetThreadLoginWait(&wait);
  StoreSettings(center().base_url(), "S01", "pw");
  Exec("delete from DataChange");

  center().enqueue("Api/GroupLogin", Reply{.body = "\"OK4711\"", .delay = 100ms});
  TSerTimer(ds(), nullptr);
  EXPECT_EQ(DynNum.Get(), "4711");
  EXPECT_GT(wait.looks, 0);
  EXPECT_EQ(wait.requestsSeenWaiting, 1u);  // the request went out while the thread waited

  wait.mayStart = false;
  TSerTimer(ds(), nullptr);
  EXPECT_TRUE(DynNum.Empty());
  EXPECT_EQ(center().request_count(), 1u);  // no request at all

  wait.mayStart = true;
  wait.giveUp = [](TestCenter& c) { return c.request_count() == 2; };
  center().enqueue("Api/GroupLogin", Reply{.mode = ReplyMode::NeverAnswer});
  DynNum.Set("old");
  std::string text;
  EXPECT_THROW(HttpGetResult(LoginUrl(center().base_url(), "S01", "pw"), text), ESilentAbort);
  EXPECT_EQ(center().request_count(), 2u);
  SetThreadLoginWait(nullptr);
}

TEST_F(ClusterLogin, TickLogsInWithTheExactRequest) {
  StoreSettings(center().base_url().substr(0, center().base_url().size() - 1), "馆 01", "p&w=1");  // no final "/"
  Exec("delete from DataChange");
  center().enqueue("Api/GroupLogin", Reply{.body = "\"OK4711\""});
  TGroupThread worker(ds());
  TSerTimer(ds(), &worker);

  ASSERT_EQ(center().request_count(), 1u);
  RecordedRequest r = center().requests()[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.version, "HTTP/1.1");
  EXPECT_EQ(r.target, "/Api/GroupLogin?GroupId=%B9%DD%2001&Pw=p%26w%3D1");
  EXPECT_EQ(HeaderNames(r), (std::set<std::string>{"host", "content-type", "accept", "user-agent"}));
  EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.header("Accept"), "text/html, */*");
  EXPECT_EQ(r.header("User-Agent"), "Mozilla/5.0 (compatible; Indy Library)");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(DynNum.Get(), "4711");
  EXPECT_EQ(GroupUrl.Get(), center().base_url());
  // An empty journal: no snapshot with rows, the worker stays as it was.
  EXPECT_FALSE(SyncBusy);
  EXPECT_TRUE(worker.Suspended());
}

TEST_F(ClusterLogin, TickThatCannotLogInLeavesNoNumber) {
  TGroupThread worker(ds());
  struct Case {
    const char* what;
    std::function<void()> arrange;
    size_t requests;  // logins the center sees
  } cases[] = {
      {"journal table missing", [&] { HaveGroup = false; }, 0},
      {"not configured", [&] { StoreSettings("Http://", "S01", "pw"); }, 0},
      {"refused login",
       [&] {
         StoreSettings(center().base_url(), "S01", "wrong");
         center().enqueue("Api/GroupLogin", Reply{.body = "\"校验码错误\""});
       },
       1},
      {"login with an error status",
       [&] {
         StoreSettings(center().base_url(), "S01", "pw");
         center().enqueue("Api/GroupLogin", Reply{.status = 500, .body = "\"OK4711\""});
       },
       1},
  };
  for (const Case& c : cases) {
    HaveGroup = true;
    c.arrange();
    size_t before = center().request_count();
    DynNum.Set("stale");
    EXPECT_NO_THROW(TSerTimer(ds(), &worker)) << c.what;
    EXPECT_EQ(DynNum.Get(), "") << c.what;
    EXPECT_EQ(center().request_count() - before, c.requests) << c.what;
    EXPECT_FALSE(ds().AqDataChange.Active()) << c.what << ": no snapshot";
    EXPECT_FALSE(SyncBusy) << c.what;
    EXPECT_TRUE(worker.Suspended()) << c.what;
  }

  // An unreachable center ends the tick silently, before anything after the login.
  RefusingPort refusing;
  StoreSettings(refusing.Url(), "S01", "pw");
  DynNum.Set("stale");
  EXPECT_NO_THROW(TSerTimer(ds(), &worker));
  EXPECT_EQ(DynNum.Get(), "");
  EXPECT_FALSE(ds().AqDataChange.Active());
}

TEST_F(ClusterLogin, TickHandsAFreshSnapshotToTheIdleWorker) {
  StoreSettings(center().base_url(), "S01", "pw");
  std::vector<std::int64_t> ids = Journal({"B", "B", "P"});
  center().set_handler("Api/GroupLogin", [](const RecordedRequest&) { return Reply{.body = "\"OK31\""}; });
  center().set_handler("api/StationData", [](const RecordedRequest&) { return Reply{.body = "\"OK\""}; });
  TGroupThread worker(ds());
  TSerTimer(ds(), &worker);
  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_EQ(JournalIds(), std::vector<std::int64_t>{});
  EXPECT_FALSE(SyncBusy);
  auto batches = center().requests_to("api/StationData");
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].query(), "GroupID=S01&DynNum=31&");

  // A snapshot query that fails reaches the caller; the tick had logged in.
  Exec("drop table DataChange");
  EXPECT_THROW(TSerTimer(ds(), &worker), platform::db::DbError);
  EXPECT_EQ(DynNum.Get(), "31");
  EXPECT_FALSE(SyncBusy);
}

TEST_F(ClusterLogin, TickWhileTheWorkerOwnsTheSnapshotOnlyLogsIn) {
  StoreSettings(center().base_url(), "S01", "pw");
  std::vector<std::int64_t> ids = Journal(std::vector<std::string>(15, "B"));  // two batches
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> logins{0};
  center().set_handler("Api/GroupLogin", [&](const RecordedRequest&) {
    return Reply{.body = "\"OK" + std::to_string(++logins) + "\""};
  });
  std::atomic<int> posts{0};
  center().set_handler("api/StationData", [&, released](const RecordedRequest&) {
    if (++posts == 1) released.wait();  // the first batch is under way until the test lets go
    return Reply{.body = "\"OK\""};
  });
  TGroupThread worker(ds());
  TSerTimer(ds(), &worker);
  ASSERT_TRUE(center().wait_for_requests(2));  // login, first batch
  ASSERT_TRUE(SyncBusy);

  // New journal rows: a snapshot taken now would hold them.
  Exec("insert into DataChange (ContSouType,SouId,CmdType) values('B','TS0001','U')");
  TSerTimer(ds(), &worker);
  EXPECT_EQ(logins.load(), 2);
  EXPECT_EQ(DynNum.Get(), "2");
  EXPECT_EQ(ds().AqDataChange.RecordCount(), 15);  // the worker's snapshot, not replaced
  release.set_value();

  ASSERT_TRUE(worker.WaitSuspended(10s));
  auto batches = center().requests_to("api/StationData");
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].query(), "GroupID=S01&DynNum=1&");
  EXPECT_EQ(batches[1].query(), "GroupID=S01&DynNum=2&");  // the newer number, read at the post
  EXPECT_EQ(JournalIds().size(), 1u);  // only the row added after the snapshot
  EXPECT_FALSE(SyncBusy);
}

TEST_F(ClusterLogin, ARequestThatCannotBeBuiltIsNotMade) {
  // A center that says "OK" on every path: a request sent anywhere but where it was
  // built for would have its batch acknowledged and the rows deleted undelivered.
  center().set_fallback([](const RecordedRequest&) { return Reply{.body = "\"OK\""}; });
  const std::vector<std::int64_t> ids = Journal({"B", "B", "P"});
  TGroupThread worker(ds());
  const std::string huge(9'000'000, '7');  // longer than any request target libcurl takes

  // A check code that does not fit the login address: a failed login.
  StoreSettings(center().base_url(), "S01", huge);
  DynNum.Set("stale");
  EXPECT_NO_THROW(TSerTimer(ds(), &worker));
  EXPECT_EQ(DynNum.Get(), "");
  EXPECT_EQ(center().request_count(), 0u);
  EXPECT_FALSE(ds().AqDataChange.Active());
  EXPECT_TRUE(worker.Suspended());

  // A number that does not fit the batch address: the post's failure road.
  StoreSettings(center().base_url(), "S01", "pw");
  center().set_handler("Api/GroupLogin", [&](const RecordedRequest&) { return Reply{.body = "\"OK" + huge + "\""}; });
  EXPECT_NO_THROW(TSerTimer(ds(), &worker));
  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_EQ(DynNum.Get(), huge);
  ASSERT_EQ(center().request_count(), 1u);
  EXPECT_EQ(center().requests()[0].path(), "/Api/GroupLogin");
  EXPECT_EQ(JournalIds(), ids);
  EXPECT_FALSE(SyncBusy);
  const std::optional<std::string> saved = ReadFile(FailedXml());
  ASSERT_TRUE(saved) << "no LS2.xml";
  EXPECT_EQ(DocumentChangeIds(*saved), std::vector<std::int64_t>(ids.begin(), ids.begin() + 2));
}
