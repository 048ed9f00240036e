// The sync worker: drains the journal snapshot of the data module to the cluster
// center in batches of at most ten rows of one kind, deleting the rows of each batch
// once the center has acknowledged it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::db {
class Query;
}

namespace marrowind {

class TDs;

// The batch statement of a kind letter (B, P, J, C, R, D): "Select '" + station id
// (quotes doubled) + the kind's body and condition + lastId; with firstId,
// " and a.ChangeId>=" + firstId follows. No value for a kind without a statement.
std::optional<std::string> BatchStatement(char kind, std::string_view groupId, std::int64_t lastId,
                                          std::optional<std::int64_t> firstId = std::nullopt);

// groupUrl + "api/StationData?GroupID=" + id + "&DynNum=" + number + "&", the values
// encoded.
std::string BatchUrl(std::string_view groupUrl, std::string_view groupId, std::string_view dynNum);

// The next run of the snapshot: from its first row, rows whose kind has no batch
// statement (empty ContSouType, or a first letter other than B, C, D, J, P, R) are
// passed over and stay; then the leading rows of one kind, at most ten. Kinds
// compare by their first character, case counts. No value when only passed-over
// rows remain. Leaves the snapshot's current row where the run ended.
struct TRun {
  char kind = 0;
  std::int64_t firstId = 0;  // ChangeId of the run's first row
  std::int64_t lastId = 0;   // and of its last
  int count = 0;
  bool afterPassedOver = false;  // rows were passed over before the run
};
std::optional<TRun> FindRun(platform::db::Query& snapshot);

// Marks an acknowledged run's rows deleted in the snapshot: from its first row, rows
// before firstId (passed over) stay, then every row up to lastId goes. Nothing
// reaches the journal before the snapshot's batch update.
void DeleteAcknowledged(platform::db::Query& snapshot, std::int64_t firstId, std::int64_t lastId);

// The center's acknowledgement of a batch: a success status (200 to 299) and a body of
// exactly "OK" in double quotes, nothing before or after.
bool BatchAcknowledged(long status, std::string_view body);

enum class BatchOutcome {
  Acknowledged,  // the center answered "OK" and the run's rows left the journal
  Refused,       // another answer: nothing deleted, nothing saved
  Failed,        // no post or no reply, or the deletion failed: LS2.xml holds the document
  Abandoned,     // a stop or terminate request cut the post short: nothing deleted or saved
};

// One worker thread, named "ThreadGroup". It starts suspended; a resume sends it
// through the snapshot the caller took (the caller having set SyncBusy), batch after
// batch, until the snapshot is used up, DynNum is empty, a batch is not
// acknowledged or fails; then it clears SyncBusy and suspends itself. A resume that
// arrives while it is on its way to suspend itself is kept: it goes on at once.
class TGroupThread {
 public:
  // Returns once the thread runs, named and suspended.
  explicit TGroupThread(TDs& ds);
  // Terminate and wait at most 1000 ms; a worker still inside a batch then (a
  // database wait) is left to end on its own, without this object; the data module
  // must outlive it, as the program's does.
  ~TGroupThread();
  TGroupThread(const TGroupThread&) = delete;
  TGroupThread& operator=(const TGroupThread&) = delete;

  // Wakes a suspended worker; for a running one the wake is kept for its next stop.
  void Resume();
  // Brings a running worker to a stop at the next point between batches (a post
  // under way is aborted and its batch abandoned), clears SyncBusy and returns once
  // it is suspended. A pending resume is dropped. Nothing happens when it is
  // already suspended. Resume starts it again from the first row of the snapshot.
  void Stop();
  // Asks the thread to end: at once when suspended, else at the next point between
  // batches (a post under way is aborted).
  void Terminate();
  // True once the thread body has returned; false when it has not within `timeout`.
  bool WaitFor(std::chrono::milliseconds timeout);
  // True while the worker waits for a resume (and none is pending).
  bool Suspended() const;
  // True once the worker is suspended with no resume pending (or ended); false
  // after `timeout`.
  bool WaitSuspended(std::chrono::milliseconds timeout) const;

  // One batch on the worker's snapshot: the statement's rows as the document, the
  // post, then the deletion of the snapshot rows firstId..lastId and one batch
  // update on an acknowledgement. Runs on the calling thread; the worker calls it.
  BatchOutcome SendBatch(const std::string& statement, std::int64_t firstId, std::int64_t lastId);

  // Tests widen the moment between the worker's clearing SyncBusy and its
  // suspending itself: the hook runs on the worker thread right there.
  void SetBeforeSuspendForTesting(std::function<void()> hook);

  static constexpr std::chrono::milliseconds kExitWait{1000};

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace marrowind
