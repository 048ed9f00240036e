#include "marrowind/core/group_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/xml_table.h"
#include "platform/db.h"
#include "platform/http.h"
#include "platform/module.h"
#include "platform/text.h"

namespace marrowind {

namespace db = platform::db;
namespace http = platform::http;

namespace {

struct KindStatement {
  char kind;
  const char* body;
  const char* condition;
};

// The station id goes between the quotes of "Select '"; each body begins by closing
// them. The statements take every journal row up to lastId: rows before the run
// have left the journal after their acknowledgement.
const KindStatement kStatements[] = {
    {'B',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.* from DataChange as A left join Inf_Book as b on "
     "a.SouId=B.SortId ",
     " where not( a.oldid is null and b.sortid is null) and a.ChangeId<="},
    {'P',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.* from DataChange as A left join Inf_Periodical "
     "as b on a.SouId=B.SortId ",
     " where not( a.oldid is null and b.sortid is null) and a.ChangeId<="},
    {'J',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,Id,读者编号,图书编号,BarCode,书刊号,图书名称,类别,"
     "价格,借出时间,应还日期,归还时间,押金,租金,实际租金,赔偿金,罚金,归还状态,借阅经手,归还经手,归还备注 from "
     "DataChange as A left join Inf_Borrow as b on a.SouId=B.Id ",
     " where not( a.oldid is null and b.id is null) and a.ChangeId<="},
    {'C',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,b.*  from DataChange as A left join Inf_Class as b "
     "on a.SouId=B.班级编号 ",
     " Where a.ChangeId <="},
    {'R',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,b.*  from DataChange as A left join Inf_Reader as "
     "b on a.SouId=B.读者编号 ",
     " Where a.ChangeId <="},
    {'D',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.*,C.WorkTime from DataChange as a left join "
     "s_Destory as b on a.SouId=b.BillId join b_Destory as c on b.BIllId=C.BillId",
     " Where a.ChangeId<="},
};

const KindStatement* StatementOf(char kind) {
  for (const KindStatement& k : kStatements) {
    if (k.kind == kind) return &k;
  }
  return nullptr;
}

// The kind letter of the current row; 0 for an empty ContSouType.
char KindOf(const db::Query& q) {
  std::string type = q.FieldByName("ContSouType").AsString();
  return type.empty() ? '\0' : type[0];
}

std::int64_t ChangeIdOf(const db::Query& q) { return q.FieldByName("ChangeId").AsInteger(); }

constexpr int kMaxBatchRows = 10;

}  // namespace

std::optional<std::string> BatchStatement(char kind, std::string_view groupId, std::int64_t lastId,
                                          std::optional<std::int64_t> firstId) {
  const KindStatement* k = StatementOf(kind);
  if (!k) return std::nullopt;
  std::string sql = "Select '";
  sql += SqlQuoted(groupId);
  sql += k->body;
  sql += k->condition;
  sql += platform::text::IntToStr(lastId);
  if (firstId) {
    sql += " and a.ChangeId>=";
    sql += platform::text::IntToStr(*firstId);
  }
  return sql;
}

std::string BatchUrl(std::string_view groupUrl, std::string_view groupId, std::string_view dynNum) {
  std::string url(groupUrl);
  url += "api/StationData?GroupID=";
  url += UrlEncoded(groupId);
  url += "&DynNum=";
  url += UrlEncoded(dynNum);
  url += "&";
  return url;
}

bool BatchAcknowledged(long status, std::string_view body) {
  // A redirect or other non-success status is no acknowledgement either.
  return status >= 200 && status <= 299 && body == "\"OK\"";
}

std::optional<TRun> FindRun(db::Query& snapshot) {
  TRun run;
  snapshot.First();
  while (!snapshot.Eof() && !StatementOf(KindOf(snapshot))) {
    run.afterPassedOver = true;
    snapshot.Next();
  }
  if (snapshot.Eof()) return std::nullopt;
  run.kind = KindOf(snapshot);
  run.firstId = ChangeIdOf(snapshot);
  for (;;) {
    ++run.count;
    run.lastId = ChangeIdOf(snapshot);
    snapshot.Next();
    if (run.count >= kMaxBatchRows || snapshot.Eof()) break;
    if (KindOf(snapshot) != run.kind) break;
  }
  return run;
}

void DeleteAcknowledged(db::Query& snapshot, std::int64_t firstId, std::int64_t lastId) {
  snapshot.First();
  while (!snapshot.Eof() && ChangeIdOf(snapshot) < firstId) snapshot.Next();
  while (!snapshot.Eof() && ChangeIdOf(snapshot) <= lastId) snapshot.Delete();
}

struct TGroupThread::State {
  explicit State(TDs& d) : ds(d) {}

  TDs& ds;
  std::thread thread;

  mutable std::mutex mu;
  mutable std::condition_variable cv;
  bool parked = true;  // created suspended
  bool wake = false;   // a resume not yet taken up
  bool started = false;
  std::function<void()> beforeSuspend;  // tests only
  bool ended = false;
  // Read without the lock by the post's abort check.
  std::atomic<bool> stopRequest{false};
  std::atomic<bool> terminate{false};

  bool CutShort() const { return stopRequest.load() || terminate.load(); }

  // Suspends the worker until a resume or a terminate request. A resume that came
  // since the last wake-up is taken up at once, unless a stop asked for this stop.
  void Park() {
    std::unique_lock lock(mu);
    if (wake && !stopRequest) {
      wake = false;
      parked = false;
      return;
    }
    wake = false;
    stopRequest = false;
    parked = true;
    cv.notify_all();
    cv.wait(lock, [&] { return wake || terminate; });
    parked = false;
    wake = false;
  }

  // One pass of the loop; true when a batch was acknowledged and the next may
  // follow at once, false when the worker is to go idle.
  bool Pass() {
    if (stopRequest) return false;
    db::Query& snapshot = ds.AqDataChange;
    if (snapshot.RecordCount() <= 0) return false;
    if (DynNum.Empty()) return false;
    SyncBusy = true;
    std::optional<TRun> run = FindRun(snapshot);
    if (!run) return false;  // only rows without a batch statement: they wait in the journal
    std::optional<std::int64_t> lowerBound;
    if (run->afterPassedOver) lowerBound = run->firstId;
    std::string sql = *BatchStatement(run->kind, GroupId.Get(), run->lastId, lowerBound);
    return SendBatch(sql, run->firstId, run->lastId) == BatchOutcome::Acknowledged;
  }

  BatchOutcome SendBatch(const std::string& statement, std::int64_t firstId, std::int64_t lastId) {
    std::string document;
    {
      db::Query batch(ds.AcData);
      batch.SetSql(statement);
      try {
        batch.Open();
        document = BuildXmlTable(batch);
      } catch (const std::exception&) {
        return BatchOutcome::Failed;  // no whole document to keep
      }
    }

    HttpLimits limits = GetHttpLimits();
    http::Request request{
        .method = http::Method::Post,
        .url = BatchUrl(GroupUrl.Get(), GroupId.Get(), DynNum.Get()),
        .headers = {{"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
                    {"Accept", "text/html, */*"},
                    {"Content-Type", "text/xml"}},
        .body = document,
        .version = http::Version::Http10,
        .connect_timeout = limits.connect,
        .total_timeout = limits.total,
        .abort = [this] { return CutShort(); },
    };
    http::Result reply = http::perform(request);
    if (reply.outcome == http::Outcome::Aborted) return BatchOutcome::Abandoned;
    if (reply.outcome != http::Outcome::Ok) {
      SaveFailedXml(document);
      return BatchOutcome::Failed;
    }
    if (!BatchAcknowledged(reply.status, reply.body)) return BatchOutcome::Refused;

    db::Query& snapshot = ds.AqDataChange;
    try {
      DeleteAcknowledged(snapshot, firstId, lastId);
      snapshot.UpdateBatch();
    } catch (const std::exception&) {
      // The rows stay in the journal and in the snapshot; the center gets the batch
      // again later.
      try {
        snapshot.CancelBatch();
      } catch (const std::exception&) {
      }
      SaveFailedXml(document);
      return BatchOutcome::Failed;
    }
    return BatchOutcome::Acknowledged;
  }

  static void Body(const std::shared_ptr<State>& s) {
    platform::module::SetCurrentThreadName("ThreadGroup");
    // A database lock or a busy connection is waited for only until a stop or a
    // terminate request comes.
    db::SetThreadBusyWait([s](std::chrono::milliseconds step) {
      std::unique_lock lock(s->mu);
      s->cv.wait_for(lock, step, [&] { return s->CutShort(); });
      return !s->CutShort();
    });
    {
      std::lock_guard lock(s->mu);
      s->started = true;
    }
    s->cv.notify_all();
    s->Park();
    while (!s->terminate) {
      bool goOn = false;
      try {
        goOn = s->Pass();
      } catch (...) {
        goOn = false;  // whatever failed, the worker stays and goes idle
      }
      if (!goOn && !s->terminate) {
        SyncBusy = false;
        std::function<void()> hook;
        {
          std::lock_guard lock(s->mu);
          hook = s->beforeSuspend;
        }
        if (hook) hook();
        s->Park();
      }
    }
    {
      std::lock_guard lock(s->mu);
      s->ended = true;
    }
    s->cv.notify_all();
  }
};

TGroupThread::TGroupThread(TDs& ds) : state_(std::make_shared<State>(ds)) {
  state_->thread = std::thread([s = state_] { State::Body(s); });
  std::unique_lock lock(state_->mu);
  state_->cv.wait(lock, [&] { return state_->started; });
}

TGroupThread::~TGroupThread() {
  Terminate();
  if (WaitFor(kExitWait)) {
    state_->thread.join();
  } else {
    state_->thread.detach();  // it holds its own share of the state
  }
}

void TGroupThread::Resume() {
  {
    std::lock_guard lock(state_->mu);
    state_->wake = true;
  }
  state_->cv.notify_all();
}

void TGroupThread::Stop() {
  std::unique_lock lock(state_->mu);
  if ((state_->parked && !state_->wake) || state_->ended) return;
  state_->stopRequest = true;
  state_->cv.notify_all();
  state_->cv.wait(lock, [&] { return (state_->parked && !state_->wake) || state_->ended; });
  state_->stopRequest = false;
}

void TGroupThread::Terminate() {
  {
    std::lock_guard lock(state_->mu);
    state_->terminate = true;
  }
  state_->cv.notify_all();
}

bool TGroupThread::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mu);
  return state_->cv.wait_for(lock, timeout, [&] { return state_->ended; });
}

bool TGroupThread::Suspended() const {
  std::lock_guard lock(state_->mu);
  return state_->parked && !state_->wake && !state_->ended;
}

bool TGroupThread::WaitSuspended(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mu);
  return state_->cv.wait_for(lock, timeout, [&] { return (state_->parked && !state_->wake) || state_->ended; });
}

void TGroupThread::SetBeforeSuspendForTesting(std::function<void()> hook) {
  std::lock_guard lock(state_->mu);
  state_->beforeSuspend = std::move(hook);
}

BatchOutcome TGroupThread::SendBatch(const std::string& statement, std::int64_t firstId, std::int64_t lastId) {
  return state_->SendBatch(statement, firstId, lastId);
}

}  // namespace marrowind
