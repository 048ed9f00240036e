// The sync worker against a center on loopback: runs and batches, the batch request
// and document, what counts as an acknowledgement, stop, resume and terminate. Faults
// of the center and the database, each with the tick that recovers from it, are in
// fault_injection_test.cpp.

#include <atomic>
#include <future>
#include <set>
#include <thread>

#include "marrowind/core/group_thread.h"
#include "platform/text.h"
#include "sync_support.h"

using namespace marrowind;
using marrowind::test::DatabaseLock;
using marrowind::test::DocumentChangeIds;
using marrowind::test::ReadFile;
using marrowind::test::SyncTest;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;
using namespace std::chrono_literals;
using Ids = std::vector<std::int64_t>;

namespace {

class GroupThread : public SyncTest {
 protected:
  // What the tick does when the worker is idle and the journal has rows.
  void Hand(TGroupThread& worker) {
    ASSERT_TRUE(ds().OpenDataChange());
    worker.Resume();
  }

  // Hands the journal to the worker and waits until it is idle again.
  void Drain(TGroupThread& worker) {
    Hand(worker);
    ASSERT_TRUE(worker.WaitSuspended(10s));
    EXPECT_FALSE(SyncBusy);
  }

  void AcknowledgeAll() {
    center().set_handler("api/StationData", [](const RecordedRequest&) { return Reply{.body = "\"OK\""}; });
  }

  // The ChangeIds of each batch the center received.
  std::vector<Ids> BatchIds() {
    std::vector<Ids> out;
    for (const std::string& b : Batches()) out.push_back(DocumentChangeIds(b));
    return out;
  }
};

Ids Slice(const Ids& ids, size_t from, size_t to) { return Ids(ids.begin() + from, ids.begin() + to); }

std::set<std::string> ThreadNames() {
  std::set<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name = ReadFile(task.path() / "comm").value_or("");
    if (!name.empty() && name.back() == '\n') name.pop_back();
    names.insert(name);
  }
  return names;
}

}  // namespace

TEST_F(GroupThread, RunsOfOneKindGoInBatchesOfTen) {
  LoggedIn();
  AcknowledgeAll();
  TGroupThread worker(ds());
  EXPECT_TRUE(worker.Suspended());
  EXPECT_TRUE(ThreadNames().contains("ThreadGroup"));

  Ids ids = Journal(std::vector<std::string>(25, "B"));
  Drain(worker);
  EXPECT_EQ(BatchIds(), (std::vector<Ids>{Slice(ids, 0, 10), Slice(ids, 10, 20), Slice(ids, 20, 25)}));
  EXPECT_EQ(JournalIds(), Ids{});
  EXPECT_FALSE(std::filesystem::exists(FailedXml()));
}

TEST_F(GroupThread, KindsCutRunsByTheirFirstLetter) {
  LoggedIn();
  AcknowledgeAll();
  TGroupThread worker(ds());
  struct Case {
    std::vector<std::string> kinds;
    std::vector<std::vector<size_t>> batches;  // journal positions in each batch
    std::vector<size_t> left;                  // positions that stay in the journal
  } cases[] = {
      {{"B", "B", "P", "B"}, {{0, 1}, {2}, {3}}, {}},
      {{"BX", "B", "Bogus"}, {{0, 1, 2}}, {}},
      {{"J", "C", "R", "D", "P"}, {{0}, {1}, {2}, {3}, {4}}, {}},
      // "b" is a kind of its own, and one without a batch statement: it stays and is
      // passed over; later rows still go, and no batch carries it.
      {{"B", "b", "B"}, {{0}, {2}}, {1}},
      {{"", "X", "B", "B", "Z", "C", "b"}, {{2, 3}, {5}}, {0, 1, 4, 6}},
  };
  for (const Case& c : cases) {
    Ids ids = Journal(c.kinds);
    size_t before = Batches().size();
    Drain(worker);
    std::vector<Ids> want, got = BatchIds();
    for (const auto& b : c.batches) {
      Ids w;
      for (size_t p : b) w.push_back(ids[p]);
      want.push_back(w);
    }
    got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_EQ(got, want) << c.kinds.size();
    Ids left;
    for (size_t p : c.left) left.push_back(ids[p]);
    EXPECT_EQ(JournalIds(), left);
    EXPECT_TRUE(worker.Suspended());
  }

  // A snapshot of passed-over rows alone: the worker goes idle at once, nothing posted.
  size_t posts = Batches().size();
  Drain(worker);
  EXPECT_EQ(Batches().size(), posts);
  EXPECT_EQ(JournalIds().size(), 4u);
}

TEST_F(GroupThread, BatchRequestAndDocumentByteForByte) {
  // Two book rows: one with NULL, text to clean, money, bit false, a date at
  // midnight; one with a date and time.
  Exec("delete from DataChange");
  Exec("update Inf_Book set 作者='a<b & c>d', 出版社=NULL where SortId='TS0003'");
  Exec("update Inf_Book set 册数=2 where SortId='TS0005'");
  Ids ids = JournalIds();
  ASSERT_EQ(ids.size(), 2u);
  GroupUrl.Set(center().base_url());
  GroupId.Set("馆'01");  // doubled in the statement, the value comes back whole
  DynNum.Set("47 11");
  AcknowledgeAll();
  TGroupThread worker(ds());
  Drain(worker);

  auto posts = center().requests_to("api/StationData");
  ASSERT_EQ(posts.size(), 1u);
  const RecordedRequest& r = posts[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.target, "/api/StationData?GroupID=%B9%DD%2701&DynNum=47%2011&");
  std::set<std::string> names;
  for (const auto& h : r.headers) names.insert(platform::text::AsciiLower(h.first));
  EXPECT_EQ(names, (std::set<std::string>{"host", "user-agent", "accept", "content-type", "content-length"}));
  EXPECT_EQ(r.header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(r.header("Accept"), "text/html, */*");
  EXPECT_EQ(r.header("Content-Type"), "text/xml");
  EXPECT_EQ(r.header("Content-Length"), std::to_string(r.body.size()));
  const std::string id0 = std::to_string(ids[0]), id1 = std::to_string(ids[1]);
  const std::string want =
      "<XmlTable>"
      "<rows><StationId>馆'01</StationId><ChangeId>" + id0 + "</ChangeId><ContSouType>B</ContSouType>"
      "<SouId>TS0003</SouId><CmdType>U</CmdType><OldId></OldId><SortId>TS0003</SortId><书名>平凡的世界</书名>"
      "<作者>ab  cd</作者><出版社></出版社><ISBN>9787530216781</ISBN><索书号>I247.5/3</索书号><价格>108.5</价格>"
      "<册数>1</册数><入库日期>2024-02-20</入库日期><可借>False</可借></rows>"
      "<rows><StationId>馆'01</StationId><ChangeId>" + id1 + "</ChangeId><ContSouType>B</ContSouType>"
      "<SouId>TS0005</SouId><CmdType>U</CmdType><OldId></OldId><SortId>TS0005</SortId><书名>十万个为什么</书名>"
      "<作者>韩启德</作者><出版社>少年儿童出版社</出版社><ISBN>9787532483495</ISBN><索书号>Z228.1/4</索书号>"
      "<价格>25.8</价格><册数>2</册数><入库日期>2024-03-05 9:00:00</入库日期><可借>True</可借></rows>"
      "</XmlTable>";
  EXPECT_EQ(r.body, want);
  EXPECT_EQ(JournalIds(), Ids{});
}

TEST_F(GroupThread, OnlyAnExactQuotedOkAcknowledges) {
  LoggedIn();
  TGroupThread worker(ds());
  Ids ids = Journal({"B", "B", "P"});
  struct Case {
    Reply reply;
    bool saved;  // the failure path: LS2.xml holds the document
  } cases[] = {
      {Reply{.body = "OK"}, false},
      {Reply{.body = "\"OK\"\r\n"}, false},
      {Reply{.body = "\"ok\""}, false},
      {Reply{.body = " \"OK\""}, false},
      {Reply{.body = "\"OK\"x"}, false},
      {Reply{.body = "\"OK"}, false},
      {Reply{.body = "\"\""}, false},
      {Reply{.body = ""}, false},
      {Reply{.status = 302, .body = "\"OK\""}, false},
      {Reply{.status = 500, .body = "\"OK\""}, true},  // an error status is no answer
      {Reply{.status = 404, .body = "Not Found"}, true},
      {Reply{.body = "\"OK\"", .mode = ReplyMode::TruncatedBody}, true},
      {Reply{.body = "\"OK\"", .mode = ReplyMode::ResetMidBody}, true},
      {Reply{.mode = ReplyMode::CloseWithoutReply}, true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(FailedXml());
    center().enqueue("api/StationData", c.reply);
    size_t before = Batches().size();
    Drain(worker);
    auto batches = Batches();
    ASSERT_EQ(batches.size(), before + 1) << c.reply.body;
    EXPECT_EQ(DocumentChangeIds(batches.back()), Slice(ids, 0, 2));
    EXPECT_EQ(JournalIds(), ids) << c.reply.status << " " << c.reply.body;
    EXPECT_EQ(ReadFile(FailedXml()), c.saved ? std::optional(batches.back()) : std::nullopt)
        << c.reply.status << " " << c.reply.body;
    EXPECT_TRUE(worker.Suspended());
  }
}

TEST_F(GroupThread, NoNumberOrNoStatementMeansNoPost) {
  AcknowledgeAll();
  TGroupThread worker(ds());
  Ids ids = Journal({"B", "B"});
  LoggedIn("");  // the last login left no number
  Drain(worker);
  EXPECT_EQ(center().request_count(), 0u);
  EXPECT_EQ(JournalIds(), ids);

  // The batch statement cannot run: idle, nothing posted or saved, the worker lives on.
  LoggedIn();
  Exec("alter table Inf_Book rename to Inf_Book_Away");
  Drain(worker);
  EXPECT_EQ(center().request_count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(FailedXml()));
  EXPECT_EQ(JournalIds(), ids);
  Exec("alter table Inf_Book_Away rename to Inf_Book");
  Drain(worker);
  EXPECT_EQ(JournalIds(), Ids{});
}

TEST_F(GroupThread, StopAbandonsAPostAndResumeStartsOver) {
  LoggedIn();
  Ids ids = Journal(std::vector<std::string>(15, "P"));
  center().enqueue("api/StationData", Reply{.mode = ReplyMode::NeverAnswer});
  AcknowledgeAll();
  TGroupThread worker(ds());
  worker.Stop();  // already suspended: nothing to do
  EXPECT_TRUE(worker.Suspended());
  Hand(worker);
  ASSERT_TRUE(center().wait_for_requests(1));
  EXPECT_FALSE(worker.Suspended());
  auto start = std::chrono::steady_clock::now();
  worker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the post was cut short, not waited out
  EXPECT_TRUE(worker.Suspended());
  EXPECT_FALSE(SyncBusy);
  EXPECT_FALSE(std::filesystem::exists(FailedXml()));
  EXPECT_EQ(JournalIds(), ids);

  // After a refill, the worker starts from the first row of the new snapshot.
  Ids more = Journal(std::vector<std::string>(3, "P"));
  Drain(worker);
  EXPECT_EQ(JournalIds(), Ids{});
  EXPECT_EQ(DocumentChangeIds(Batches().back()), more);
}

TEST_F(GroupThread, TerminateEndsTheWorkerWithinTheExitWait) {
  LoggedIn();
  {
    TGroupThread parked(ds());
    parked.Terminate();
    EXPECT_TRUE(parked.WaitFor(TGroupThread::kExitWait));
    EXPECT_FALSE(parked.Suspended());
  }
  Journal({"B"});
  center().enqueue("api/StationData", Reply{.mode = ReplyMode::NeverAnswer});
  TGroupThread busy(ds());
  Hand(busy);
  ASSERT_TRUE(center().wait_for_requests(1));
  busy.Terminate();
  EXPECT_TRUE(busy.WaitFor(TGroupThread::kExitWait));
  busy.Stop();  // an ended worker: returns at once
  EXPECT_EQ(JournalIds().size(), 1u);

  // Its batch query waiting for a database that another program holds locked.
  ds().AcData.SetBusyTimeout(10s);
  TGroupThread waiting(ds());
  ASSERT_TRUE(ds().OpenDataChange());
  DatabaseLock other(lib_->Database());
  ASSERT_TRUE(other.Held());
  const size_t requests = center().request_count();
  waiting.Resume();
  std::this_thread::sleep_for(200ms);
  waiting.Terminate();
  EXPECT_TRUE(waiting.WaitFor(TGroupThread::kExitWait));
  other.Release();
  EXPECT_EQ(center().request_count(), requests);  // it never got to post
  EXPECT_EQ(JournalIds().size(), 1u);
}

TEST_F(GroupThread, AResumeDuringTheWorkersWayToSuspendIsNotLost) {
  LoggedIn();
  AcknowledgeAll();
  Ids first = Journal({"B"});
  TGroupThread worker(ds());
  // The worker has let go of its snapshot and is about to suspend itself: the tick
  // takes a new snapshot and resumes it right then.
  std::promise<void> cleared, resumed;
  std::shared_future<void> resumedFuture = resumed.get_future().share();
  std::atomic<int> stops{0};
  worker.SetBeforeSuspendForTesting([&, resumedFuture] {
    if (++stops != 1) return;
    cleared.set_value();
    resumedFuture.wait();
  });
  Hand(worker);
  cleared.get_future().wait();
  EXPECT_FALSE(SyncBusy);
  Exec("insert into DataChange (ContSouType,SouId,CmdType) values('C','BJ0701','U')");
  ASSERT_TRUE(ds().OpenDataChange());
  worker.Resume();
  resumed.set_value();

  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_EQ(JournalIds(), Ids{});  // the second snapshot went out as well
  EXPECT_EQ(Batches().size(), 2u);
  EXPECT_EQ(DocumentChangeIds(Batches()[0]), first);
  EXPECT_FALSE(SyncBusy);
  EXPECT_EQ(stops.load(), 2);
}
