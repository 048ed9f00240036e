// The marrowind program itself, started as child processes in a program folder of
// their own, with message boxes on standard error.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>

#include "library_fixture.h"
#include "platform/db.h"
#include "platform/service.h"
#include "test_center.h"

namespace fs = std::filesystem;
using marrowind::test::DatabaseLock;
using marrowind::test::TempFolder;
using marrowind::testing::RecordedRequest;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;

namespace {

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = folder_.Path() / "marrowind";
    fs::copy_file(MARROWIND_PROGRAM, program_);
    fs::create_directory(folder_.Path() / "runtime");
    fs::permissions(folder_.Path() / "runtime", fs::perms::owner_all);
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("TOMEVALE_MESSAGE_BOXES", "stderr");
    env_.insert("XDG_RUNTIME_DIR", Path(folder_.Path() / "runtime"));  // the single-instance lock
    env_.insert("TOMEVALE_REGISTRY_ROOT", Path(folder_.Path() / "registry"));
    env_.remove("TOMEVALE_TICK_MS");
  }

  static QString Path(const fs::path& p) { return QString::fromStdString(p.string()); }

  std::unique_ptr<QProcess> Start(const QStringList& args = {}) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env_);
    p->setWorkingDirectory(Path(folder_.Path()));
    p->start(Path(program_), args);
    EXPECT_TRUE(p->waitForStarted(5000));
    return p;
  }

  // Reads the process's standard error until it holds `text`.
  static bool WaitForError(QProcess& p, const QString& text, QString& seen, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!seen.contains(text)) {
      if (t.elapsed() > ms || p.state() == QProcess::NotRunning) return false;
      p.waitForReadyRead(100);
      seen += QString::fromUtf8(p.readAllStandardError());
    }
    return true;
  }

  static QString Finish(QProcess& p, int ms = 10000) {
    EXPECT_TRUE(p.waitForFinished(ms));
    return QString::fromUtf8(p.readAllStandardError());
  }

  // The program's library: the fixture database, DataSet.ini, and the cluster
  // settings pointing at `url` (none: not configured).
  void Library(const std::string& url = "") {
    marrowind::test::CreateLibraryDatabase(folder_.Path() / "library.db");
    marrowind::test::WriteDataSetIni(folder_.Path(), {.server = "sqlite:library.db"});
    if (!url.empty()) {
      Sql("insert into SystemRul (SystemCode,SysTemName,Content) values(14,'GroupUrl','" + url +
          "'),(15,'GroupId','S01'),(16,'GroupPw','pw')");
    }
  }
  std::int64_t Sql(const std::string& text) {
    platform::db::Connection c;
    const std::string file = (folder_.Path() / "library.db").string();
    c.SetConnectionString("", {"sqlite:" + file, "", "", ""});
    c.Open();
    return c.Execute(text);
  }
  int JournalRows() {
    platform::db::Connection c;
    c.SetConnectionString("", {"sqlite:" + (folder_.Path() / "library.db").string(), "", "", ""});
    c.Open();
    platform::db::Query q(c);
    q.SetSql("select count(*) from DataChange");
    q.Open();
    return static_cast<int>(q.Fields(0).AsInteger());
  }

  // True once the program has run its Initialize: the machine key exists.
  bool WaitInitialized(QProcess& p, int ms = 10000) {
    const fs::path key = folder_.Path() / "registry" / "HKLM" / "SOFTWARE" / "Velmora" / "TomevaleSer";
    QElapsedTimer t;
    t.start();
    while (!fs::is_directory(key) && t.elapsed() < ms && p.state() == QProcess::Running) p.waitForFinished(20);
    return fs::is_directory(key) && p.state() == QProcess::Running;
  }

  // SIGTERM, as the service manager stops the program: the time until it has ended.
  static qint64 Terminate(QProcess& p) {
    QElapsedTimer t;
    t.start();
    p.terminate();
    EXPECT_TRUE(p.waitForFinished(30000));
    return t.elapsed();
  }

  TempFolder folder_;
  fs::path program_;
  QProcessEnvironment env_;
};

}  // namespace

TEST_F(Program, ASecondStartIsRefusedBeforeAnyDatabaseConnection) {
  // No database: every start that connects says so, the first one included.
  marrowind::test::WriteDataSetIni(folder_.Path(), {.server = "sqlite:missing.db"});
  auto first = Start();
  QString firstErr;
  ASSERT_TRUE(WaitForError(*first, QString::fromUtf8("错误: 连接数据库失败，请检查数据库配置！"), firstErr)) << firstErr.toStdString();

  for (const char* arg : {"", "+INSTALL"}) {  // a plus sign makes no switch
    auto second = Start(*arg ? QStringList{arg} : QStringList{});
    const QString err = Finish(*second);
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 1);
    EXPECT_EQ(err.toStdString(), "TomevaleServer: The Socket Server is already running\n") << arg;
  }
  EXPECT_EQ(first->state(), QProcess::Running);

  // The switches run beside the first copy: no lock, nothing installed, nothing run.
  for (const char* arg : {"/install", "-UnInstall", "\\INSTALL"}) {
    auto sw = Start({arg});
    const QString err = Finish(*sw);
    EXPECT_EQ(sw->exitCode(), 0) << arg;
    EXPECT_TRUE(err.contains("nothing is installed or removed")) << err.toStdString();
    EXPECT_FALSE(err.contains(QString::fromUtf8("连接数据库失败"))) << arg;
  }

  first->terminate();  // SIGTERM, as the service manager stops it
  Finish(*first);
  EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first->exitCode(), 0);

  // The lock went with the first copy.
  auto again = Start();
  QString againErr;
  EXPECT_TRUE(WaitForError(*again, QString::fromUtf8("连接数据库失败"), againErr)) << againErr.toStdString();
  again->terminate();
  Finish(*again);
}

TEST_F(Program, StopSignalEndsAConnectedProgramWithItsIdleWorker) {
  marrowind::test::CreateLibraryDatabase(folder_.Path() / "library.db");
  marrowind::test::WriteDataSetIni(folder_.Path(), {.server = "sqlite:library.db"});
  auto p = Start();
  // Start-up has run Initialize once the machine key exists.
  const fs::path key = folder_.Path() / "registry" / "HKLM" / "SOFTWARE" / "Velmora" / "TomevaleSer";
  QElapsedTimer t;
  t.start();
  while (!fs::is_directory(key) && t.elapsed() < 10000) p->waitForFinished(20);
  ASSERT_TRUE(fs::is_directory(key));
  ASSERT_EQ(p->state(), QProcess::Running);
  QThread::msleep(100);
  t.restart();
  p->terminate();
  const QString err = Finish(*p);
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 0);
  EXPECT_TRUE(err.isEmpty()) << err.toStdString();
  // An idle worker ends when asked; the exit wait bounds it at 1000 ms.
  EXPECT_LT(t.elapsed(), 5000);
}

// SIGTERM ends the program at once whatever it is doing, and loses no journal row.
// (The figures printed are the time from the signal to the end.)
enum class State { Idle, LoginToASilentCenter, PostToASilentCenter, WaitForALockedDatabase };

void PrintTo(State s, std::ostream* os) { *os << static_cast<int>(s); }

class ProgramStop : public Program, public ::testing::WithParamInterface<State> {};

TEST_P(ProgramStop, StopSignalEndsTheProgramAtOnce) {
  const State state = GetParam();
  marrowind::testing::TestCenter center;
  center.set_handler("Api/GroupLogin", [state](const RecordedRequest&) {
    return state == State::LoginToASilentCenter ? Reply{.mode = ReplyMode::NeverAnswer} : Reply{.body = "\"OK7\""};
  });
  center.set_handler("api/StationData", [](const RecordedRequest&) { return Reply{.mode = ReplyMode::NeverAnswer}; });
  Library(center.base_url());
  const int rows = JournalRows();
  ASSERT_GT(rows, 0);
  if (state != State::Idle) env_.insert("TOMEVALE_TICK_MS", state == State::WaitForALockedDatabase ? "500" : "50");
  auto p = Start();
  ASSERT_TRUE(WaitInitialized(*p));
  std::unique_ptr<DatabaseLock> lock;
  switch (state) {
    case State::Idle:
      QThread::msleep(100);
      break;
    case State::LoginToASilentCenter:
      ASSERT_TRUE(center.wait_for_requests(1));
      break;
    case State::PostToASilentCenter:
      ASSERT_TRUE(center.wait_for_requests(2));
      ASSERT_EQ(center.requests_to("api/StationData").size(), 1u);
      break;
    case State::WaitForALockedDatabase:
      lock = std::make_unique<DatabaseLock>(folder_.Path() / "library.db");
      ASSERT_TRUE(lock->Held());
      QThread::msleep(1500);  // the tick came at 500 ms and waits for the lock
      break;
  }
  const qint64 ms = Terminate(*p);
  std::cout << "[ measured ] SIGTERM to exit: " << ms << " ms" << std::endl;
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 0);
  EXPECT_TRUE(QString::fromUtf8(p->readAllStandardError()).isEmpty());
  EXPECT_LT(ms, 5000);  // no wait of the center's or the database's holds it up
  lock.reset();
  EXPECT_EQ(JournalRows(), rows);  // nothing acknowledged, nothing deleted
  if (state == State::WaitForALockedDatabase) {
    EXPECT_EQ(center.request_count(), 0u);  // stopped before its login
  }
}

INSTANTIATE_TEST_SUITE_P(States, ProgramStop,
                         ::testing::Values(State::Idle, State::LoginToASilentCenter, State::PostToASilentCenter,
                                           State::WaitForALockedDatabase),
                         [](const ::testing::TestParamInfo<State>& i) {
                           switch (i.param) {
                             case State::Idle: return "Idle";
                             case State::LoginToASilentCenter: return "InsideALoginTheCenterNeverAnswers";
                             case State::PostToASilentCenter: return "InsideAPostTheCenterNeverAnswers";
                             case State::WaitForALockedDatabase: return "InsideATickWaitingForALockedDatabase";
                           }
                           return "?";
                         });

// Started by the service manager, a program that cannot open its database says so on
// standard error and ends with status 1, for the unit's Restart=on-failure.
TEST_F(Program, ServiceThatCannotOpenItsDatabaseEndsWithStatusOne) {
  const fs::path units = folder_.Path() / "units";
  fs::create_directory(units);
  std::ofstream(units / "TomevaleServer.service")
      << "[Service]\nExecStart=/bin/true\nUser=" << platform::service::CurrentUserName() << "\n";
  env_.insert("SYSTEMD_UNIT_PATH", Path(units));
  env_.remove("TOMEVALE_MESSAGE_BOXES");  // the service road sends them to standard error itself
  marrowind::test::WriteDataSetIni(folder_.Path(), {.server = "sqlite:missing.db"});
  auto p = Start();
  const QString err = Finish(*p);
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 1);
  EXPECT_EQ(err.toStdString(), "错误: 连接数据库失败，请检查数据库配置！\n");

  // With its database it runs until stopped.
  fs::remove(folder_.Path() / "DataSet.ini");
  Library();
  auto ok = Start();
  ASSERT_TRUE(WaitInitialized(*ok));
  QThread::msleep(200);
  EXPECT_EQ(ok->state(), QProcess::Running);
  Terminate(*ok);
  EXPECT_EQ(ok->exitCode(), 0);
}

namespace {

// An X server of the test's own, and the programs started on it.
class XDisplay {
 public:
  XDisplay() {
    server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!server_.waitForStarted(5000)) return;
    QElapsedTimer t;
    t.start();
    while (!out_.contains('\n') && t.elapsed() < 10000) {
      server_.waitForReadyRead(100);
      out_ += server_.readAllStandardOutput();
    }
    if (out_.contains('\n')) name_ = ":" + QString::fromLatin1(out_.trimmed());
  }
  ~XDisplay() { Stop(); }
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  static bool Available(const QStringList& programs) {
    for (const QString& p : programs) {
      if (QStandardPaths::findExecutable(p).isEmpty()) return false;
    }
    return true;
  }
  bool Up() const { return !name_.isEmpty(); }
  const QString& Name() const { return name_; }
  void Stop() {
    if (server_.state() == QProcess::NotRunning) return;
    server_.terminate();
    server_.waitForFinished(5000);
  }

  // Runs an X client on the display to its end; its standard output.
  QString Run(const QString& program, const QStringList& args) const {
    QProcess c;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", name_);
    c.setProcessEnvironment(env);
    c.start(program, args);
    c.waitForFinished(10000);
    return QString::fromUtf8(c.readAllStandardOutput());
  }
  // Every window's line of the tree, with its name, class and geometry.
  QString Tree() const { return Run("xwininfo", {"-root", "-tree"}); }
  // The window tree below the tray host's panel.
  QString Tray() const {
    const QRegularExpression panel(R"((0x[0-9a-f]+) "panel": \("panel" "trayer"\))");
    const auto m = panel.match(Tree());
    return m.hasMatch() ? Run("xwininfo", {"-tree", "-id", m.captured(1)}) : QString();
  }

 private:
  QProcess server_;
  QByteArray out_;
  QString name_;
};

// The position of the program's icon in the tray (the middle of its window), if docked.
std::optional<QPoint> TrayIcon(const XDisplay& x) {
  const QRegularExpression icon(
      R"re("marrowind": \("marrowind" "marrowind"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
  const auto m = icon.match(x.Tray());
  if (!m.hasMatch()) return std::nullopt;
  return QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2, m.captured(4).toInt() + m.captured(2).toInt() / 2);
}

// A top-level window of the program named `title` and larger than its hidden helper
// windows: an open menu ("marrowind") or dialog. The docked icon is no top level.
std::optional<QRect> Shown(const XDisplay& x, const QString& title) {
  const QRegularExpression window("^     0x[0-9a-f]+ \"" + QRegularExpression::escape(title) +
                                  R"(": \("marrowind" "marrowind"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
  for (const QString& line : x.Tree().split('\n')) {
    const auto m = window.match(line);
    if (m.hasMatch() && m.captured(1).toInt() > 3 && m.captured(2).toInt() > 3) {
      return QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
    }
  }
  return std::nullopt;
}

bool WaitFor(const std::function<bool()>& done, qint64& ms, int limit = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limit) return false;
    QThread::msleep(20);
  }
  ms = t.elapsed();
  return true;
}

}  // namespace

// On a desktop whose tray comes up after the program (as at log-in), the icon appears;
// its menu opens and the cluster dialog comes up while the center leaves the tick's
// login unanswered; SIGTERM then ends the program with the dialog open.
TEST_F(Program, TheIconComesWithALateTrayAndItsMenuAnswersDuringAStalledLogin) {
  if (!XDisplay::Available({"Xvfb", "trayer", "xwininfo", "xdotool"})) {
    GTEST_SKIP() << "needs Xvfb, trayer, xwininfo, xdotool";
  }
  XDisplay x;
  ASSERT_TRUE(x.Up());
  marrowind::testing::TestCenter center;
  center.set_handler("Api/GroupLogin", [](const RecordedRequest&) { return Reply{.mode = ReplyMode::NeverAnswer}; });
  Library(center.base_url());
  env_.insert("QT_QPA_PLATFORM", "xcb");
  env_.insert("DISPLAY", x.Name());
  env_.insert("TOMEVALE_TICK_MS", "50");
  auto p = Start();
  ASSERT_TRUE(WaitInitialized(*p));
  ASSERT_TRUE(center.wait_for_requests(1));  // the tick's login, never answered

  QProcess tray;
  QProcessEnvironment trayEnv = QProcessEnvironment::systemEnvironment();
  trayEnv.insert("DISPLAY", x.Name());
  tray.setProcessEnvironment(trayEnv);
  tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
  ASSERT_TRUE(tray.waitForStarted(5000));
  qint64 ms = 0;
  std::optional<QPoint> icon;
  ASSERT_TRUE(WaitFor([&] { return (icon = TrayIcon(x)).has_value(); }, ms));
  std::cout << "[ measured ] tray icon docked " << ms << " ms after the tray host started" << std::endl;
  EXPECT_LT(ms, 10000);

  QElapsedTimer t;
  t.start();
  x.Run("xdotool", {"mousemove", QString::number(icon->x()), QString::number(icon->y()), "click", "3"});
  std::optional<QRect> menu;
  ASSERT_TRUE(WaitFor([&] { return (menu = Shown(x, "marrowind")).has_value(); }, ms));
  std::cout << "[ measured ] tray menu open " << t.elapsed() << " ms after the click, the login stalled" << std::endl;
  t.restart();
  // Its first item, 集群中心设置.
  x.Run("xdotool", {"mousemove", QString::number(menu->center().x()), QString::number(menu->top() + 10), "click", "1"});
  ASSERT_TRUE(WaitFor([&] { return Shown(x, "数据集群中心设置").has_value(); }, ms));
  std::cout << "[ measured ] cluster dialog shown " << t.elapsed() << " ms after the choice" << std::endl;
  ASSERT_TRUE(center.wait_for_requests(2));  // its opening test login, never answered either

  ms = Terminate(*p);
  std::cout << "[ measured ] SIGTERM to exit, cluster dialog open inside its test login: " << ms << " ms" << std::endl;
  EXPECT_EQ(p->exitCode(), 0);
  EXPECT_LT(ms, 5000);
  tray.terminate();
  tray.waitForFinished(5000);
}

// The desktop session's end takes the display away: the program ends with it, also in
// the middle of a login.
TEST_F(Program, LosingTheDisplayEndsTheProgram) {
  if (!XDisplay::Available({"Xvfb"})) GTEST_SKIP() << "needs Xvfb";
  XDisplay x;
  ASSERT_TRUE(x.Up());
  marrowind::testing::TestCenter center;
  center.set_handler("Api/GroupLogin", [](const RecordedRequest&) { return Reply{.mode = ReplyMode::NeverAnswer}; });
  Library(center.base_url());
  const int rows = JournalRows();
  env_.insert("QT_QPA_PLATFORM", "xcb");
  env_.insert("DISPLAY", x.Name());
  env_.insert("TOMEVALE_TICK_MS", "50");
  auto p = Start();
  ASSERT_TRUE(WaitInitialized(*p));
  ASSERT_TRUE(center.wait_for_requests(1));
  QElapsedTimer t;
  t.start();
  x.Stop();
  ASSERT_TRUE(p->waitForFinished(30000));
  std::cout << "[ measured ] display closed to exit, inside a login: " << t.elapsed() << " ms" << std::endl;
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(JournalRows(), rows);
}
