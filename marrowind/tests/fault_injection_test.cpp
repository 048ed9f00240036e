// Faults injected into a whole sync, tick by tick: the tick logs in and hands a
// journal of 25 rows (runs B10, B2, P3, R10) to the worker; a fault hits the login or
// the second batch; the worker must end that tick idle with SyncBusy clear, having
// deleted only rows of batches the center acknowledged, and with LS2.xml holding the
// faulty batch exactly when the post itself failed. Then the fault is removed and the
// next tick must drain the journal. Each scenario prints one line with the rows sent,
// acknowledged and lost.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>

#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "sync_support.h"

using namespace marrowind;
using marrowind::test::DocumentChangeIds;
using marrowind::test::ReadFile;
using marrowind::test::RefusingPort;
using marrowind::test::SyncTest;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;
using namespace std::chrono_literals;
using Ids = std::vector<std::int64_t>;

namespace {

class FaultInjection;

enum class Stage { Login, Post };

struct Scenario {
  std::string name;
  Stage stage = Stage::Post;
  // The center's reply to the faulty request; none: the ordinary "OK".
  std::optional<Reply> reply{};
  // Before the faulty tick.
  std::function<void(FaultInjection&)> inject{};
  // In the center, while it answers the batch before the faulty one.
  std::function<void(FaultInjection&)> afterPreviousBatch{};
  // In the center, while it holds the faulty batch, before it replies.
  std::function<void(FaultInjection&)> whileAtCenter{};
  // After the faulty tick: the fault goes away.
  std::function<void(FaultInjection&)> remove{};
  // The post failed (no reply, no whole reply, an error status, or the deletion
  // failed): LS2.xml holds the faulty batch.
  bool saved = false;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

// Where the faulty batch sits in the journal, and the runs before and after it.
constexpr size_t kJournalRows = 25;
constexpr size_t kFaultyFrom = 10, kFaultyTo = 12;  // the second batch: B rows 11 and 12

bool IsAcknowledgement(const Reply& r) {
  return r.mode == ReplyMode::Normal && r.status == 200 && r.body == "\"OK\"";
}

class FaultInjection : public SyncTest, public ::testing::WithParamInterface<Scenario> {
 public:
  // The settings the tick reads, pointing at `url`.
  void PointSettingsAt(const std::string& url) { StoreSettings(url, "S01", "pw"); }
  std::string CenterUrl() { return center().base_url(); }
  std::string RefusingUrl() const { return refusing_.Url(); }
  // Another program on the same database file.
  platform::db::Connection& Other() {
    std::call_once(otherOpened_, [&] {
      other_.SetConnectionString("", {"sqlite:" + lib_->Database().string(), "", "", ""});
      other_.Open();
    });
    return other_;
  }
  std::filesystem::path Database() const { return lib_->Database(); }

 protected:
  void SetUp() override {
    SyncTest::SetUp();
    // Short enough that a silent or slow center costs a fraction of a second.
    SetHttpLimits({300ms, 500ms});
    ds().AcData.SetBusyTimeout(100ms);
    PointSettingsAt(CenterUrl());
  }

  // The center: every login succeeds; every batch is acknowledged, except the
  // faulty one while the fault is armed. It keeps what each batch carried.
  void ServeCenter(const Scenario& s) {
    center().set_handler("Api/GroupLogin", [this, &s](const RecordedRequest&) {
      if (s.stage == Stage::Login && armed_ && s.reply) return *s.reply;
      return Reply{.body = "\"OK7\""};
    });
    center().set_handler("api/StationData", [this, &s](const RecordedRequest& r) {
      Ids ids = DocumentChangeIds(r.body);
      size_t n;
      {
        std::lock_guard lock(mu_);
        posted_.push_back(ids);
        n = posted_.size();
      }
      Reply reply{.body = "\"OK\""};
      if (s.stage == Stage::Post && armed_) {
        if (n == 1 && s.afterPreviousBatch) s.afterPreviousBatch(*this);
        if (n == 2) {
          if (s.whileAtCenter) s.whileAtCenter(*this);
          if (s.reply) reply = *s.reply;
        }
      }
      if (IsAcknowledgement(reply)) {
        std::lock_guard lock(mu_);
        acknowledged_.insert(ids.begin(), ids.end());
      }
      return reply;
    });
  }

  struct Tally {
    size_t batches = 0, rowsSent = 0, acknowledged = 0, journal = 0, lost = 0;
  };

  // What the center saw from batch `fromBatch` on, and what the journal holds now.
  Tally Count(const Ids& original, size_t fromBatch) {
    Ids left = JournalIds();
    std::set<std::int64_t> inJournal(left.begin(), left.end());
    std::lock_guard lock(mu_);
    Tally t;
    std::set<std::int64_t> sentNow;
    for (size_t i = fromBatch; i < posted_.size(); ++i) {
      ++t.batches;
      t.rowsSent += posted_[i].size();
      for (std::int64_t id : posted_[i]) {
        EXPECT_TRUE(std::binary_search(original.begin(), original.end(), id)) << "batch carried row " << id;
        sentNow.insert(id);
      }
    }
    for (std::int64_t id : sentNow) t.acknowledged += acknowledged_.contains(id);
    t.journal = left.size();
    for (std::int64_t id : original) {
      if (!inJournal.contains(id) && !acknowledged_.contains(id)) {
        ++t.lost;
        ADD_FAILURE() << "row " << id << " left the journal unacknowledged";
      }
    }
    return t;
  }

  size_t Posted() {
    std::lock_guard lock(mu_);
    return posted_.size();
  }
  Ids PostedBatch(size_t i) {
    std::lock_guard lock(mu_);
    return i < posted_.size() ? posted_[i] : Ids{};
  }

  std::atomic<bool> armed_{true};

 private:
  RefusingPort refusing_;
  platform::db::Connection other_;
  std::once_flag otherOpened_;
  std::mutex mu_;
  std::vector<Ids> posted_;
  std::set<std::int64_t> acknowledged_;
};

Ids Slice(const Ids& ids, size_t from, size_t to) { return Ids(ids.begin() + from, ids.begin() + to); }

std::vector<std::string> JournalKinds() {
  std::vector<std::string> kinds(12, "B");
  kinds.insert(kinds.end(), 3, "P");
  kinds.insert(kinds.end(), 10, "R");
  return kinds;
}

}  // namespace

TEST_P(FaultInjection, FaultyTickLosesNothingAndTheNextTickDrains) {
  const Scenario& s = GetParam();
  const Ids ids = Journal(JournalKinds());
  ASSERT_EQ(ids.size(), kJournalRows);
  const Ids faulty = Slice(ids, kFaultyFrom, kFaultyTo);
  ServeCenter(s);
  TGroupThread worker(ds());

  // The faulty tick.
  if (s.inject) s.inject(*this);
  EXPECT_NO_THROW(TSerTimer(ds(), &worker));
  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_FALSE(SyncBusy);
  armed_ = false;
  if (s.remove) s.remove(*this);

  // Counted first: a row gone unacknowledged is reported whatever else went wrong.
  const Tally fault = Count(ids, 0);
  const bool login = s.stage == Stage::Login;
  const bool reached = !login && !s.afterPreviousBatch;  // else the center went away before the batch
  // A login fault stops the tick before the journal is touched; a batch fault comes
  // after the first batch went through.
  EXPECT_EQ(JournalIds(), Slice(ids, login ? 0 : kFaultyFrom, ids.size()));
  if (login) {
    EXPECT_EQ(DynNum.Get(), "");
    EXPECT_EQ(Posted(), 0u);
    EXPECT_FALSE(ds().AqDataChange.Active());
  } else {
    // The snapshot agrees with the journal: a failed deletion was taken back.
    EXPECT_EQ(ds().AqDataChange.RecordCount(), static_cast<int>(kJournalRows - kFaultyFrom));
    EXPECT_EQ(Posted(), reached ? 2u : 1u);
    EXPECT_EQ(PostedBatch(0), Slice(ids, 0, kFaultyFrom));
    if (reached) {
      EXPECT_EQ(PostedBatch(1), faulty);
    }
  }
  std::optional<std::string> saved = ReadFile(FailedXml());
  if (!s.saved) {
    EXPECT_FALSE(saved) << *saved;
  } else if (!saved) {
    ADD_FAILURE() << "no LS2.xml";
  } else if (reached) {
    EXPECT_EQ(*saved, Batches().at(1));  // the very bytes that were posted
  } else {
    EXPECT_EQ(DocumentChangeIds(*saved), faulty);  // its bytes are checked against the resent batch below
  }
  std::filesystem::remove(FailedXml());

  // The fault gone, the next tick takes a new snapshot and drains it.
  const size_t before = Posted();
  EXPECT_NO_THROW(TSerTimer(ds(), &worker));
  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_FALSE(SyncBusy);
  EXPECT_EQ(JournalIds(), Ids{});
  EXPECT_EQ(PostedBatch(before), login ? Slice(ids, 0, kFaultyFrom) : faulty);  // where it stopped
  if (s.saved && saved && !reached) {
    EXPECT_EQ(*saved, Batches().at(before));  // the batch that could not be posted, byte for byte
  }
  EXPECT_FALSE(std::filesystem::exists(FailedXml()));
  const Tally recovery = Count(ids, before);
  const Tally all = Count(ids, 0);
  EXPECT_EQ(all.acknowledged, kJournalRows);
  EXPECT_EQ(all.lost, 0u);

  std::printf("[ FAULT    ] %-24s faulty tick: %zu batches, %2zu rows sent, %2zu acknowledged, %2zu of %zu in journal, "
              "LS2.xml %s | next tick: %zu batches, %2zu rows sent, %2zu acknowledged, %zu in journal | lost %zu\n",
              s.name.c_str(), fault.batches, fault.rowsSent, fault.acknowledged, fault.journal, kJournalRows,
              s.saved ? "written" : "none   ", recovery.batches, recovery.rowsSent, recovery.acknowledged,
              recovery.journal, all.lost);
  RecordProperty("rows_sent", static_cast<int>(all.rowsSent));
  RecordProperty("rows_acknowledged", static_cast<int>(all.acknowledged));
  RecordProperty("rows_lost", static_cast<int>(all.lost));
}

INSTANTIATE_TEST_SUITE_P(
    Sync, FaultInjection,
    ::testing::Values(
        // The login: the tick ends with no number, the worker is not resumed.
        Scenario{.name = "LoginRefused",
                 .stage = Stage::Login,
                 .inject = [](FaultInjection& f) { f.PointSettingsAt(f.RefusingUrl()); },
                 .remove = [](FaultInjection& f) { f.PointSettingsAt(f.CenterUrl()); }},
        Scenario{.name = "LoginNeverAnswered", .stage = Stage::Login, .reply = Reply{.mode = ReplyMode::NeverAnswer}},
        // The post: no connection, no reply, no whole reply, an error status.
        Scenario{.name = "PostRefused",
                 .afterPreviousBatch = [](FaultInjection& f) { GroupUrl.Set(f.RefusingUrl()); },
                 .saved = true},
        Scenario{.name = "PostNeverAnswered", .reply = Reply{.mode = ReplyMode::NeverAnswer}, .saved = true},
        Scenario{.name = "PostClosedWithoutReply",
                 .reply = Reply{.mode = ReplyMode::CloseWithoutReply},
                 .saved = true},
        Scenario{.name = "Http500SayingOk", .reply = Reply{.status = 500, .body = "\"OK\""}, .saved = true},
        Scenario{.name = "OneByteASecond",
                 .reply = Reply{.body = "\"OK\"", .mode = ReplyMode::SlowBody, .interval = 1000ms},
                 .saved = true},
        // Fewer bytes than the reply announced: the client reports it as an error.
        Scenario{.name = "BodyCutShort",
                 .reply = Reply{.body = "\"OK\"", .mode = ReplyMode::TruncatedBody},
                 .saved = true},
        Scenario{.name = "ResetMidBody",
                 .reply = Reply{.body = "\"OK\"", .mode = ReplyMode::ResetMidBody},
                 .saved = true},
        // A whole reply that is no acknowledgement: idle, nothing saved.
        Scenario{.name = "GarbageReply", .reply = Reply{.body = std::string("\x1f\x8b\0\xff<html>", 10)}},
        Scenario{.name = "TruncatedOk", .reply = Reply{.body = "\"OK"}},
        // Acknowledged, but the journal rows cannot be deleted.
        Scenario{.name = "DatabaseWriteLocked",
                 .whileAtCenter = [](FaultInjection& f) { f.Other().Execute("BEGIN EXCLUSIVE"); },
                 .remove = [](FaultInjection& f) { f.Other().Execute("COMMIT"); },
                 .saved = true},
        Scenario{.name = "DatabaseReadLocked",  // the commit cannot take the file from a reader
                 .whileAtCenter =
                     [](FaultInjection& f) {
                       f.Other().Execute("BEGIN");
                       f.Other().Execute("select count(*) from DataChange");
                     },
                 .remove = [](FaultInjection& f) { f.Other().Execute("COMMIT"); },
                 .saved = true},
        Scenario{.name = "JournalReadOnlyTrigger",
                 .whileAtCenter =
                     [](FaultInjection& f) {
                       f.Other().Execute(
                           "create trigger JournalReadOnly before delete on DataChange "
                           "begin select raise(abort, 'the journal is read-only'); end");
                     },
                 .remove = [](FaultInjection& f) { f.Other().Execute("drop trigger JournalReadOnly"); },
                 .saved = true},
        Scenario{.name = "DatabaseFileUnwritable",  // no rollback journal can be made beside it
                 .whileAtCenter =
                     [](FaultInjection& f) {
                       std::filesystem::create_directory(f.Database().string() + "-journal");
                     },
                 .remove = [](FaultInjection& f) { std::filesystem::remove(f.Database().string() + "-journal"); },
                 .saved = true}),
    [](const ::testing::TestParamInfo<Scenario>& p) { return p.param.name; });
