// The marrowind program itself, started as child processes in a program folder of
// their own, with message boxes on standard error.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <filesystem>

#include "library_fixture.h"

namespace fs = std::filesystem;
using marrowind::test::TempFolder;

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
