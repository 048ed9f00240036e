// What a full resynchronisation costs: the journal refilled with N rows and drained
// by the worker to a cluster center on loopback, against its floor: the same bodies
// posted with bare libcurl (a fresh handle each, HTTP/1.0, the same headers) and
// the same rows deleted with bare SQLite, one durable transaction a batch, but no
// batch SELECT and no document building.
//
// Every run is a process of its own (fresh memory, database and center; the center
// is a child process, so that its record of the requests does not count). Runs
// alternate which of the worker and the floor goes first; a floor that goes first
// posts the bodies that the worker sent in the run before at the same size. After
// both, the run replays the worker's walk over a snapshot of N rows (finding each
// run, then marking its rows deleted) to time those two steps per batch.
//
//   sync_bench [ROWS]      7 runs at ROWS rows (100,000): each run, then the medians
//   sync_bench --scaling   3 runs at 25,000 and at 200,000 rows: the medians at both
//                          sizes, with the time per batch of finding runs and walking
//                          acknowledged rows
//   sync_bench --memory    one run at each of 25,000, 50,000, 100,000 and 200,000
//                          rows, worker first: growth of resident memory over the
//                          resync and the fitted bytes per journal row
//   --runs K               K runs (per size) in place of the mode's count
//
// The last line is always
//   sync_bench: rows=N drain_s=... floor_s=... ratio=... rss_before_kib=... rss_peak_kib=...
// for the run with the median ratio (of the largest size in the modes of several).
#include <curl/curl.h>
#include <malloc.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "platform/db.h"
#include "platform/module.h"
#include "test_center.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "sync_bench: %s\n", what);
    std::exit(1);
  }
}

// --- resident memory ------------------------------------------------------------

long StatusKib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, n, key) == 0) return std::atol(line.c_str() + n);
  }
  return -1;
}

// Gives freed memory back and starts the peak anew from what is resident now.
long ResetPeakRss() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKib("VmRSS:");
}

long PeakRssKib() { return StatusKib("VmHWM:"); }

// --- the center -------------------------------------------------------------------

// A child process that answers every login and batch, and hands back on GET /dump
// the batch bodies that arrived since the last dump (each preceded by its length
// and a newline). It ends when the pipe from the parent closes.
int StartCenter(pid_t& pid, int& keepAlive) {
  int portPipe[2], lifePipe[2];
  if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return -1;
  pid = fork();
  if (pid == 0) {
    close(portPipe[0]);
    close(lifePipe[1]);
    marrowind::testing::TestCenter center;
    size_t dumped = 0;
    center.set_handler("Api/GroupLogin", [](const RecordedRequest&) { return Reply{.body = "\"OK1\""}; });
    center.set_handler("api/StationData", [](const RecordedRequest&) { return Reply{.body = "\"OK\""}; });
    center.set_handler("dump", [&center, &dumped](const RecordedRequest&) {
      std::string out;
      std::vector<RecordedRequest> posts = center.requests_to("api/StationData");
      for (size_t i = dumped; i < posts.size(); ++i) out += std::to_string(posts[i].body.size()) + "\n" + posts[i].body;
      dumped = posts.size();
      return Reply{.body = out};
    });
    int port = center.port();
    if (write(portPipe[1], &port, sizeof port) != sizeof port) _exit(1);
    char c;
    while (read(lifePipe[0], &c, 1) > 0) {
    }
    _exit(0);
  }
  close(portPipe[1]);
  close(lifePipe[0]);
  keepAlive = lifePipe[1];
  int port = -1;
  if (read(portPipe[0], &port, sizeof port) != sizeof port) return -1;
  close(portPipe[0]);
  return port;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

struct Curl {
  CURL* h = curl_easy_init();
  curl_slist* headers = nullptr;
  ~Curl() {
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
  }
};

// One bare POST as the worker makes it: fresh handle, HTTP/1.0, the same headers.
bool BarePost(const std::string& url, const std::string& body) {
  Curl c;
  std::string reply;
  for (const char* h : {"User-Agent: Mozilla/3.0 (compatible; Indy Library)", "Accept: text/html, */*",
                        "Content-Type: text/xml", "Expect:"}) {
    c.headers = curl_slist_append(c.headers, h);
  }
  curl_easy_setopt(c.h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c.h, CURLOPT_HTTPHEADER, c.headers);
  curl_easy_setopt(c.h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(c.h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c.h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c.h, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c.h, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(c.h, CURLOPT_NOSIGNAL, 1L);
  return curl_easy_perform(c.h) == CURLE_OK && reply == "\"OK\"";
}

std::string Get(const std::string& url) {
  Curl c;
  std::string reply;
  curl_easy_setopt(c.h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c.h, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c.h, CURLOPT_WRITEDATA, &reply);
  curl_easy_perform(c.h);
  return reply;
}

// The batch bodies the center received since the last dump.
std::vector<std::string> DumpBodies(const std::string& base) {
  std::string dump = Get(base + "dump");
  std::vector<std::string> bodies;
  for (size_t p = 0; p < dump.size();) {
    size_t nl = dump.find('\n', p);
    size_t n = std::stoul(dump.substr(p, nl - p));
    bodies.push_back(dump.substr(nl + 1, n));
    p = nl + 1 + n;
  }
  return bodies;
}

void SaveBodies(const fs::path& file, const std::vector<std::string>& bodies) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const std::string& b : bodies) out << b.size() << '\n' << b;
  Check(static_cast<bool>(out), "cannot keep the bodies");
}

std::vector<std::string> LoadBodies(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> bodies;
  size_t n = 0;
  while (in >> n) {
    in.get();
    std::string b(n, '\0');
    in.read(b.data(), static_cast<std::streamsize>(n));
    bodies.push_back(std::move(b));
  }
  Check(!bodies.empty(), "no bodies of an earlier run to post");
  return bodies;
}

int CountOf(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + what.size())) ++n;
  return n;
}

void Sqlite(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sync_bench: %s: %s\n", sql, error ? error : "?");
    std::exit(1);
  }
}

// --- one run ------------------------------------------------------------------------

const char* const kRefill =
    "delete from DataChange insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'P',SortId,'I' from Inf_Periodical insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'J',Id,'I' from inf_Borrow insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'R',读者编号,'I' from Inf_Reader insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'D',BillId,'I' from B_Destory where checkOut=1 ";
// The same journal, filled with bare SQLite for the floor and the replay.
const char* const kBareRefill =
    "insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book union all "
    "select 'P',SortId,'I' from Inf_Periodical union all select 'J',Id,'I' from inf_Borrow union all "
    "select 'C',班级编号,'I' from inf_Class union all select 'R',读者编号,'I' from Inf_Reader union all "
    "select 'D',BillId,'I' from B_Destory where checkOut=1";
// Source records of the fixture that the refill journals besides the added books.
constexpr int kFixtureRecords = 14;

struct RunResult {
  int rows = 0;
  long batches = 0;
  bool workerFirst = true;
  double refill = 0, drain = 0, floor = 0;
  double findUs = 0, walkUs = 0;  // per batch, in the replay
  long rssBefore = 0, rssPeak = 0;
  double Ratio() const { return drain / floor; }
};

class Run {
 public:
  Run(int rows, const std::string& base) : rows_(rows), base_(base) {
    dbFile_ = folder_.Path() / "library.db";
    marrowind::test::CreateLibraryDatabase(dbFile_);
    marrowind::test::DataSetValues values;
    values.server = "sqlite:library.db";
    marrowind::test::WriteDataSetIni(folder_.Path(), values);
    platform::module::OverrideProgramFolderForTesting(folder_.Path());
    fs::current_path(folder_.Path());

    Check(sqlite3_open(dbFile_.c_str(), &raw_) == SQLITE_OK, "cannot open the database");
    Sqlite(raw_, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(raw_,
                       "insert into Inf_Book (SortId,书名,作者,出版社,ISBN,索书号,价格,册数,入库日期,可借) "
                       "values(?1,'图书 '||?1,'作者','人民文学出版社','9787020002207','I242.4/1',59.7,3,"
                       "'2024-03-05 09:00:00',1)",
                       -1, &ins, nullptr);
    for (int i = 0; i < rows - kFixtureRecords; ++i) {
      std::string id = "BK" + std::to_string(1000000 + i);
      sqlite3_bind_text(ins, 1, id.c_str(), -1, SQLITE_TRANSIENT);
      Check(sqlite3_step(ins) == SQLITE_DONE, "cannot add a book");
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Sqlite(raw_, "delete from DataChange");
    std::string settings = "insert into SystemRul (SystemCode,SysTemName,Content) values(14,'GroupUrl','" + base +
                           "'),(15,'GroupId','S01'),(16,'GroupPw','pw')";
    Sqlite(raw_, settings.c_str());
    Sqlite(raw_, "COMMIT");
  }

  ~Run() { sqlite3_close(raw_); }

  // The resync through the program's own parts: the refill text, the snapshot, the
  // worker until it suspends itself with the journal empty.
  void Worker(RunResult& r) {
    marrowind::TDs ds;
    ds.DataModuleCreate();
    Check(marrowind::HaveGroup, "no journal table");
    marrowind::TGroupThread worker(ds);
    marrowind::TSerTimer(ds, &worker);  // logs in; the journal is empty yet
    Check(!marrowind::DynNum.Empty(), "login failed");
    r.rssBefore = ResetPeakRss();

    auto t0 = Clock::now();
    Check(ds.ExecSql(kRefill), "refill failed");
    auto t1 = Clock::now();
    Check(ds.OpenDataChange(), "empty journal");
    Check(ds.AqDataChange.RecordCount() == rows_, "the journal does not hold the rows asked for");
    worker.Resume();
    Check(worker.WaitSuspended(std::chrono::hours(1)), "the worker did not finish");
    auto t2 = Clock::now();
    r.rssPeak = PeakRssKib();
    r.refill = Seconds(t1 - t0);
    r.drain = Seconds(t2 - t1);
    Check(ds.OpenSql("select count(*) from DataChange"), "count failed");
    Check(ds.AqLs.Fields(0).AsInteger() == 0, "rows left in the journal");
  }

  // The floor: each body posted bare, then its rows deleted in one durable
  // transaction, as many rows as the body holds, in ChangeId order.
  void Floor(const std::vector<std::string>& bodies, RunResult& r) {
    std::vector<sqlite3_int64> ids = BareRefill();
    sqlite3_stmt* del = nullptr;
    sqlite3_prepare_v2(raw_, "DELETE FROM DataChange WHERE ChangeId = ?1", -1, &del, nullptr);
    const std::string url = base_ + "api/StationData?GroupID=S01&DynNum=1&";
    size_t next = 0;
    auto f0 = Clock::now();
    for (const std::string& body : bodies) {
      Check(BarePost(url, body), "bare post failed");
      int n = CountOf(body, "<ChangeId>");
      Sqlite(raw_, "BEGIN IMMEDIATE");
      for (int i = 0; i < n && next < ids.size(); ++i) {
        sqlite3_bind_int64(del, 1, ids[next++]);
        Check(sqlite3_step(del) == SQLITE_DONE, "delete failed");
        sqlite3_reset(del);
      }
      Sqlite(raw_, "COMMIT");
    }
    r.floor = Seconds(Clock::now() - f0);
    sqlite3_finalize(del);
    Check(next == ids.size(), "the floor's bodies do not cover the journal");
  }

  // The worker's walk over a snapshot of the whole journal, without posts or
  // deletions in the database: each batch's run found, then its rows marked deleted.
  void Replay(RunResult& r) {
    BareRefill();
    platform::db::Connection c;
    std::string source = "sqlite:" + dbFile_.string();
    c.SetConnectionString("Data Source=" + source, {source, "", "", ""});
    c.Open();
    platform::db::Query snapshot(c);
    snapshot.SetSql("Select * from DataChange Order By ChangeId");
    snapshot.Open();
    Clock::duration find{}, walk{};
    long batches = 0;
    for (;;) {
      auto t0 = Clock::now();
      std::optional<marrowind::TRun> run = marrowind::FindRun(snapshot);
      auto t1 = Clock::now();
      if (!run) break;
      marrowind::DeleteAcknowledged(snapshot, run->firstId, run->lastId);
      auto t2 = Clock::now();
      find += t1 - t0;
      walk += t2 - t1;
      ++batches;
    }
    Check(snapshot.RecordCount() == 0, "the replay left rows");
    r.findUs = Seconds(find) * 1e6 / static_cast<double>(batches);
    r.walkUs = Seconds(walk) * 1e6 / static_cast<double>(batches);
  }

 private:
  std::vector<sqlite3_int64> BareRefill() {
    Sqlite(raw_, "BEGIN");
    Sqlite(raw_, "delete from DataChange");
    Sqlite(raw_, kBareRefill);
    Sqlite(raw_, "COMMIT");
    std::vector<sqlite3_int64> ids;
    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(raw_, "select ChangeId from DataChange order by ChangeId", -1, &sel, nullptr);
    while (sqlite3_step(sel) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(sel, 0));
    sqlite3_finalize(sel);
    Check(ids.size() == static_cast<size_t>(rows_), "the bare refill does not hold the rows asked for");
    return ids;
  }

  int rows_;
  std::string base_;
  marrowind::test::TempFolder folder_;
  fs::path dbFile_;
  sqlite3* raw_ = nullptr;
};

// The body of a run's process; the bodies file carries the worker's bodies from run
// to run.
RunResult RunChild(int rows, bool workerFirst, const fs::path& bodiesFile) {
  pid_t centerPid = 0;
  int keepAlive = -1;
  int port = StartCenter(centerPid, keepAlive);  // before any thread of this process
  Check(port > 0, "cannot start the center");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

  RunResult r;
  r.rows = rows;
  r.workerFirst = workerFirst;
  {
    Run run(rows, base);
    if (workerFirst) {
      run.Worker(r);
      std::vector<std::string> bodies = DumpBodies(base);
      SaveBodies(bodiesFile, bodies);
      r.batches = static_cast<long>(bodies.size());
      run.Floor(bodies, r);
    } else {
      {
        std::vector<std::string> bodies = LoadBodies(bodiesFile);
        run.Floor(bodies, r);
      }
      DumpBodies(base);  // the floor's own posts
      run.Worker(r);
      std::vector<std::string> bodies = DumpBodies(base);
      SaveBodies(bodiesFile, bodies);
      r.batches = static_cast<long>(bodies.size());
    }
    run.Replay(r);
  }
  close(keepAlive);
  int status = 0;
  waitpid(centerPid, &status, 0);
  return r;
}

// Runs one measurement in a process of its own.
RunResult RunOnce(int rows, bool workerFirst, const fs::path& bodiesFile) {
  int pipeFd[2];
  Check(pipe(pipeFd) == 0, "no pipe");
  std::fflush(stdout);
  pid_t pid = fork();
  Check(pid >= 0, "cannot fork");
  if (pid == 0) {
    close(pipeFd[0]);
    RunResult r = RunChild(rows, workerFirst, bodiesFile);
    ssize_t n = write(pipeFd[1], &r, sizeof r);
    _exit(n == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(pipeFd[1]);
  RunResult r;
  ssize_t n = read(pipeFd[0], &r, sizeof r);
  close(pipeFd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Check(n == static_cast<ssize_t>(sizeof r) && WIFEXITED(status) && WEXITSTATUS(status) == 0, "a run failed");
  return r;
}

void Print(int index, const RunResult& r) {
  std::printf(
      "  run %d, %s first: %d rows in %ld batches; refill %.3f s, drain %.3f s, floor %.3f s, ratio %.3f; "
      "RSS %ld -> %ld KiB; per batch: finding the run %.2f us, walking acknowledged rows %.2f us\n",
      index, r.workerFirst ? "worker" : "floor", r.rows, r.batches, r.refill, r.drain, r.floor, r.Ratio(),
      r.rssBefore, r.rssPeak, r.findUs, r.walkUs);
  std::fflush(stdout);
}

// Runs of one size, alternating which goes first, the worker first in the first.
std::vector<RunResult> Runs(int rows, int count, const fs::path& folder) {
  std::printf("%d rows, %d runs\n", rows, count);
  const fs::path bodies = folder / ("bodies-" + std::to_string(rows));
  std::vector<RunResult> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(RunOnce(rows, i % 2 == 0, bodies));
    Print(i + 1, out.back());
  }
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The run whose ratio is the median (the lower middle one for an even count).
const RunResult& MedianRun(const std::vector<RunResult>& runs) {
  std::vector<const RunResult*> sorted;
  for (const RunResult& r : runs) sorted.push_back(&r);
  std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->Ratio() < b->Ratio(); });
  return *sorted[(sorted.size() - 1) / 2];
}

template <typename F>
double MedianOf(const std::vector<RunResult>& runs, F f) {
  std::vector<double> v;
  for (const RunResult& r : runs) v.push_back(f(r));
  return Median(v);
}

void Summary(const std::vector<RunResult>& runs) {
  std::printf(
      "  median of %zu: drain %.3f s, floor %.3f s, ratio %.3f (range %.3f to %.3f); per batch: finding the run "
      "%.2f us, walking acknowledged rows %.2f us\n",
      runs.size(), MedianOf(runs, [](auto& r) { return r.drain; }), MedianOf(runs, [](auto& r) { return r.floor; }),
      MedianOf(runs, [](auto& r) { return r.Ratio(); }),
      std::min_element(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.Ratio() < b.Ratio(); })->Ratio(),
      std::max_element(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.Ratio() < b.Ratio(); })->Ratio(),
      MedianOf(runs, [](auto& r) { return r.findUs; }), MedianOf(runs, [](auto& r) { return r.walkUs; }));
}

void LastLine(const RunResult& r) {
  std::printf("sync_bench: rows=%d drain_s=%.3f floor_s=%.3f ratio=%.3f rss_before_kib=%ld rss_peak_kib=%ld\n", r.rows,
              r.drain, r.floor, r.Ratio(), r.rssBefore, r.rssPeak);
}

}  // namespace

int main(int argc, char** argv) {
  enum class Mode { Ratio, Scaling, Memory } mode = Mode::Ratio;
  int rows = 100000;
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--scaling") mode = Mode::Scaling;
    else if (a == "--memory") mode = Mode::Memory;
    else if (a == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
    else rows = std::atoi(a.c_str());
  }
  Check(rows > kFixtureRecords, "too few rows");
  marrowind::test::TempFolder folder;  // the bodies handed from run to run

  if (mode == Mode::Ratio) {
    std::vector<RunResult> all = Runs(rows, runs > 0 ? runs : 7, folder.Path());
    Summary(all);
    LastLine(MedianRun(all));
  } else if (mode == Mode::Scaling) {
    const int count = runs > 0 ? runs : 3;
    std::vector<RunResult> small = Runs(25000, count, folder.Path());
    Summary(small);
    std::vector<RunResult> large = Runs(200000, count, folder.Path());
    Summary(large);
    double rs = MedianOf(small, [](auto& r) { return r.Ratio(); });
    double rl = MedianOf(large, [](auto& r) { return r.Ratio(); });
    std::printf("median ratio at 200,000 rows minus at 25,000 rows: %+.3f\n", rl - rs);
    LastLine(MedianRun(large));
  } else {
    const int sizes[] = {25000, 50000, 100000, 200000};
    std::vector<std::pair<double, double>> points;  // rows, bytes of growth
    std::vector<RunResult> last;
    for (int n : sizes) {
      std::printf("%d rows\n", n);
      last.clear();
      for (int i = 0; i < (runs > 0 ? runs : 1); ++i) {
        last.push_back(RunOnce(n, true, folder.Path() / "bodies"));
        const RunResult& r = last.back();
        Print(i + 1, r);
        double growth = static_cast<double>(r.rssPeak - r.rssBefore) * 1024;
        std::printf("  growth %.0f KiB, %.1f bytes per row\n", growth / 1024, growth / n);
        points.emplace_back(n, growth);
      }
    }
    // Least squares: the slope of the growth over the rows.
    double mx = 0, my = 0;
    for (auto [x, y] : points) {
      mx += x;
      my += y;
    }
    mx /= static_cast<double>(points.size());
    my /= static_cast<double>(points.size());
    double sxy = 0, sxx = 0;
    for (auto [x, y] : points) {
      sxy += (x - mx) * (y - my);
      sxx += (x - mx) * (x - mx);
    }
    std::printf("fitted growth: %.1f bytes per journal row (%.0f KiB at no rows)\n", sxy / sxx,
                (my - sxy / sxx * mx) / 1024);
    LastLine(MedianRun(last));
  }
  return 0;
}
