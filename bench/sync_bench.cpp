// What a full resynchronisation costs: 100,000 journal rows refilled and drained by
// the worker to a cluster center on loopback (in a child process, so that its record
// of the requests does not count), then the floor: the same bodies posted with bare
// libcurl and the same deletions made with bare SQLite. Prints rows per second of
// both, the ratio, and the worker process's peak resident memory.
//
//   sync_bench [rows]
#include <curl/curl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "platform/module.h"
#include "test_center.h"

namespace {

using Clock = std::chrono::steady_clock;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

const char* const kRefill =
    "delete from DataChange insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'P',SortId,'I' from Inf_Periodical insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'J',Id,'I' from inf_Borrow insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'R',读者编号,'I' from Inf_Reader insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'D',BillId,'I' from B_Destory where checkOut=1 ";
// Source records of the fixture that the refill journals besides the added books.
constexpr int kFixtureRecords = 14;

// The center: a child process that answers every login and batch, and hands the
// batch bodies back on GET /dump (each preceded by its length and a newline). It
// ends when the pipe from the parent closes.
int StartCenter(pid_t& pid, int& keepAlive) {
  int portPipe[2], lifePipe[2];
  if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return -1;
  pid = fork();
  if (pid == 0) {
    close(portPipe[0]);
    close(lifePipe[1]);
    marrowind::testing::TestCenter center;
    center.set_handler("Api/GroupLogin", [](const RecordedRequest&) { return Reply{.body = "\"OK1\""}; });
    center.set_handler("api/StationData", [](const RecordedRequest&) { return Reply{.body = "\"OK\""}; });
    center.set_handler("dump", [&center](const RecordedRequest&) {
      std::string out;
      for (const auto& r : center.requests_to("api/StationData")) {
        out += std::to_string(r.body.size()) + "\n" + r.body;
      }
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

int CountOf(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + what.size())) ++n;
  return n;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "sync_bench: %s\n", what);
    std::exit(1);
  }
}

void Sqlite(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sync_bench: %s: %s\n", sql, error ? error : "?");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  Check(rows > kFixtureRecords, "too few rows");
  pid_t centerPid = 0;
  int keepAlive = -1;
  int port = StartCenter(centerPid, keepAlive);  // before any thread of this process
  Check(port > 0, "cannot start the center");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

  marrowind::test::TempFolder folder;
  const std::filesystem::path dbFile = folder.Path() / "library.db";
  marrowind::test::CreateLibraryDatabase(dbFile);
  marrowind::test::DataSetValues values;
  values.server = "sqlite:library.db";
  marrowind::test::WriteDataSetIni(folder.Path(), values);
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  std::filesystem::current_path(folder.Path());

  sqlite3* raw = nullptr;
  Check(sqlite3_open(dbFile.c_str(), &raw) == SQLITE_OK, "cannot open the database");
  {
    Sqlite(raw, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(raw,
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
    Sqlite(raw, "delete from DataChange");
    std::string settings = "insert into SystemRul (SystemCode,SysTemName,Content) values(14,'GroupUrl','" + base +
                           "'),(15,'GroupId','S01'),(16,'GroupPw','pw')";
    Sqlite(raw, settings.c_str());
    Sqlite(raw, "COMMIT");
  }

  long rssBefore = 0, rssPeak = 0;
  double refillSeconds = 0, drainSeconds = 0;
  int journalRows = 0;
  {
    marrowind::TDs ds;
    ds.DataModuleCreate();
    Check(marrowind::HaveGroup, "no journal table");
    marrowind::TGroupThread worker(ds);
    marrowind::TSerTimer(ds, &worker);  // logs in; the journal is empty yet
    Check(!marrowind::DynNum.Empty(), "login failed");
    rssBefore = PeakRssKb();

    auto t0 = Clock::now();
    Check(ds.ExecSql(kRefill), "refill failed");
    auto t1 = Clock::now();
    Check(ds.OpenDataChange(), "empty journal");
    journalRows = ds.AqDataChange.RecordCount();
    worker.Resume();
    Check(worker.WaitSuspended(std::chrono::hours(1)), "the worker did not finish");
    auto t2 = Clock::now();
    rssPeak = PeakRssKb();
    refillSeconds = Seconds(t1 - t0);
    drainSeconds = Seconds(t2 - t1);
    Check(ds.OpenSql("select count(*) from DataChange"), "count failed");
    Check(ds.AqLs.Fields(0).AsInteger() == 0, "rows left in the journal");
  }

  // The floor, on the same bodies and a journal refilled the same way.
  std::string dump = Get(base + "dump");
  std::vector<std::string> bodies;
  for (size_t p = 0; p < dump.size();) {
    size_t nl = dump.find('\n', p);
    size_t n = std::stoul(dump.substr(p, nl - p));
    bodies.push_back(dump.substr(nl + 1, n));
    p = nl + 1 + n;
  }
  dump.clear();
  dump.shrink_to_fit();
  Sqlite(raw, "BEGIN");
  Sqlite(raw, "delete from DataChange");
  Sqlite(raw,
         "insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book union all "
         "select 'P',SortId,'I' from Inf_Periodical union all select 'J',Id,'I' from inf_Borrow union all "
         "select 'C',班级编号,'I' from inf_Class union all select 'R',读者编号,'I' from Inf_Reader union all "
         "select 'D',BillId,'I' from B_Destory where checkOut=1");
  Sqlite(raw, "COMMIT");
  std::vector<sqlite3_int64> ids;
  {
    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(raw, "select ChangeId from DataChange order by ChangeId", -1, &sel, nullptr);
    while (sqlite3_step(sel) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(sel, 0));
    sqlite3_finalize(sel);
  }
  sqlite3_stmt* del = nullptr;
  sqlite3_prepare_v2(raw, "DELETE FROM DataChange WHERE ChangeId = ?1", -1, &del, nullptr);
  const std::string url = base + "api/StationData?GroupID=S01&DynNum=1&";
  size_t next = 0;
  auto f0 = Clock::now();
  for (const std::string& body : bodies) {
    Check(BarePost(url, body), "bare post failed");
    int n = CountOf(body, "<ChangeId>");
    Sqlite(raw, "BEGIN IMMEDIATE");
    for (int i = 0; i < n && next < ids.size(); ++i) {
      sqlite3_bind_int64(del, 1, ids[next++]);
      Check(sqlite3_step(del) == SQLITE_DONE, "delete failed");
      sqlite3_reset(del);
    }
    Sqlite(raw, "COMMIT");
  }
  double floorSeconds = Seconds(Clock::now() - f0);
  sqlite3_finalize(del);
  sqlite3_close(raw);

  close(keepAlive);
  int status = 0;
  waitpid(centerPid, &status, 0);

  std::printf("journal rows            %d in %zu batches\n", journalRows, bodies.size());
  std::printf("refill                  %.3f s\n", refillSeconds);
  std::printf("worker drain            %.3f s  %.0f rows/s\n", drainSeconds, journalRows / drainSeconds);
  std::printf("resync (refill + drain) %.3f s  %.0f rows/s\n", refillSeconds + drainSeconds,
              journalRows / (refillSeconds + drainSeconds));
  std::printf("floor (curl + sqlite)   %.3f s  %.0f rows/s\n", floorSeconds, journalRows / floorSeconds);
  std::printf("drain / floor           %.2f\n", drainSeconds / floorSeconds);
  std::printf("peak RSS                %ld KiB (%ld KiB before the resync)\n", rssPeak, rssBefore);
  return 0;
}
