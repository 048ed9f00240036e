#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QThread>
#include <QTest>
#include <QTimer>

#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "marrowind/ui/book_data_set.h"
#include "marrowind/ui/group_set.h"
#include "marrowind/ui/operation.h"
#include "marrowind/ui/server_main.h"
#include "sync_support.h"
#include "ui_test_support.h"

using marrowind::TFmServerMain;
using marrowind::test::BoxRecorder;
using marrowind::test::DatabaseLock;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;
using platform::ui::Icon;
using namespace std::chrono_literals;

namespace {

class ServerMain : public marrowind::test::SyncTest {
 protected:
  void SetUp() override {
    SyncTest::SetUp();
    // The machine key goes into this test's folder, not the system's.
    qputenv("TOMEVALE_REGISTRY_ROOT", QString::fromStdString((lib_->Folder() / "registry").string()).toLocal8Bit());
    center().set_handler("Api/GroupLogin",
                         [](const marrowind::testing::RecordedRequest&) { return Reply{.body = "\"OK4711\""}; });
    center().set_handler("api/StationData",
                         [](const marrowind::testing::RecordedRequest&) { return Reply{.body = "\"OK\""}; });
  }
  void TearDown() override {
    marrowind::SetProgramEnding(false);  // the next test's program runs
    SyncTest::TearDown();
  }

  static Reply Silent(const marrowind::testing::RecordedRequest&) { return Reply{.mode = ReplyMode::NeverAnswer}; }

  static int OpenClusterDialogs() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (dynamic_cast<marrowind::TFmGroupSet*>(w) && w->isVisible()) ++n;
    }
    return n;
  }

  static std::vector<std::string> VisibleItems(const TFmServerMain& f) {
    std::vector<std::string> names;
    for (QAction* a : f.PopupMenu->actions()) {
      if (a->isVisible()) names.push_back(a->objectName().toStdString());
    }
    return names;
  }

  static bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > timeout.count()) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    }
    return true;
  }
};

}  // namespace

TEST_F(ServerMain, MenuItemsInOrderWithTheirCaptions) {
  TFmServerMain f(ds());
  std::vector<std::pair<std::string, std::string>> items;
  for (QAction* a : f.PopupMenu->actions()) {
    items.emplace_back(a->objectName().toStdString(), a->isSeparator() ? "-" : a->text().toStdString());
  }
  EXPECT_EQ(items, (std::vector<std::pair<std::string, std::string>>{
                       {"NGroup", "集群中心设置"}, {"N3", "-"}, {"miProperties", "数据库配置"}, {"N1", "-"},
                       {"miClose", "退出(&Q)"}}));
  EXPECT_FALSE(f.isVisible());
}

TEST_F(ServerMain, MenuShowsTheClusterItemWithTheJournalAndNoExitOnAServiceStart) {
  struct Case {
    bool haveGroup, fromService;
    std::vector<std::string> visible;
  } cases[] = {
      {true, false, {"NGroup", "N3", "miProperties", "N1", "miClose"}},
      {false, false, {"N3", "miProperties", "N1", "miClose"}},
      {true, true, {"NGroup", "N3", "miProperties"}},
      {false, true, {"N3", "miProperties"}},
  };
  for (const Case& c : cases) {
    marrowind::HaveGroup = c.haveGroup;
    BoxRecorder boxes;
    TFmServerMain f(ds());
    f.Initialize(c.fromService);
    EXPECT_EQ(VisibleItems(f), c.visible) << c.haveGroup << c.fromService;
    EXPECT_EQ(f.FromService(), c.fromService);
    EXPECT_EQ(f.TrayIcon, nullptr);  // the offscreen desktop has no tray: the program runs on without one
    EXPECT_TRUE(boxes.boxes.empty());
  }
}

TEST_F(ServerMain, ConnectedStartArmsTheTimerWithASuspendedWorker) {
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.Initialize(false);
  ASSERT_NE(f.TSer, nullptr);
  EXPECT_TRUE(f.TSer->isActive());
  EXPECT_EQ(f.TSer->interval(), 120000);
  ASSERT_NE(f.GroupThread, nullptr);
  EXPECT_TRUE(f.GroupThread->Suspended());
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(std::filesystem::is_directory(lib_->Folder() / "registry" / "HKLM" / "SOFTWARE" / "Velmora" /
                                            "TomevaleSer"));
}

TEST_F(ServerMain, WithoutADatabaseTheStartUpMessageLeavesTheTimerOffAndTheMenuWorking) {
  marrowind::test::WriteDataSetIni(lib_->Folder(), {.server = "sqlite:missing.db"});
  marrowind::TDs unconnected;
  unconnected.DataModuleCreate();
  ASSERT_FALSE(marrowind::HaveGroup);
  BoxRecorder boxes;
  TFmServerMain f(unconnected);
  f.Initialize(false);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].owner, nullptr);
  EXPECT_EQ(boxes.boxes[0].title, "错误");
  EXPECT_EQ(boxes.boxes[0].text, "连接数据库失败，请检查数据库配置！");
  EXPECT_EQ(boxes.boxes[0].icon, Icon::Error);
  ASSERT_NE(f.TSer, nullptr);
  EXPECT_FALSE(f.TSer->isActive());
  EXPECT_EQ(VisibleItems(f), (std::vector<std::string>{"N3", "miProperties", "N1", "miClose"}));

  // The database dialog still opens, so the connection can be put right.
  bool opened = false;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(f.FmBookDataSet, nullptr);
    opened = f.FmBookDataSet->isVisible();
    EXPECT_EQ(f.FmBookDataSet->EServerName->text(), QStringLiteral("sqlite:missing.db"));
    f.FmBookDataSet->BitBtn3Click();
  });
  f.miProperties->trigger();
  EXPECT_TRUE(opened);
  EXPECT_EQ(f.FmBookDataSet, nullptr);
}

TEST_F(ServerMain, FirstTickLogsInAndTheWorkerDrainsTheJournal) {
  StoreSettings(center().base_url(), "S01", "pw");
  const size_t rows = JournalIds().size();
  ASSERT_GT(rows, 0u);
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.SetFirstTickDelay(20ms);
  f.Initialize(false);
  EXPECT_TRUE(RunEventsUntil([&] { return JournalIds().empty() && f.GroupThread->Suspended(); }));
  EXPECT_EQ(center().requests_to("Api/GroupLogin").size(), 1u);
  EXPECT_GE(center().requests_to("api/StationData").size(), (rows + 9) / 10);
  EXPECT_EQ(f.TSer->interval(), 120000);  // the ticks after the first keep the interval
  EXPECT_TRUE(f.TSer->isActive());
  EXPECT_FALSE(marrowind::SyncBusy);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ServerMain, TickAgainstAnUnreachableCenterEndsSilently) {
  marrowind::test::RefusingPort refusing;
  StoreSettings(refusing.Url(), "S01", "pw");
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.SetFirstTickDelay(1ms);
  f.Initialize(false);
  // The tick runs whole inside one event; its settings read marks that it ran.
  ASSERT_TRUE(RunEventsUntil([&] { return marrowind::GroupUrl.Get() == refusing.Url(); }));
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(f.GroupThread->Suspended());
  EXPECT_TRUE(marrowind::DynNum.Empty());
}

TEST_F(ServerMain, ASecondClickOnTheClusterItemOpensNoSecondDialog) {
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.Initialize(false);
  auto openDialogs = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (dynamic_cast<marrowind::TFmGroupSet*>(w) && w->isVisible()) ++n;
    }
    return n;
  };
  int first = -1, second = -1;
  QTimer::singleShot(0, [&] {
    first = openDialogs();
    f.NGroup->trigger();  // returns at once: the dialog is open
    second = openDialogs();
    ASSERT_NE(f.FmGroupSet, nullptr);
    f.FmGroupSet->BCloseClick();
  });
  f.NGroup->trigger();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(f.FmGroupSet, nullptr);
  // Closed and freed, it can be opened again.
  QTimer::singleShot(0, [&] { f.FmGroupSet->close(); });
  f.NGroup->trigger();
  EXPECT_EQ(f.FmGroupSet, nullptr);
}

TEST_F(ServerMain, ExitEndsTheWorkerIdleOrInsideAPost) {
  for (bool insidePost : {false, true}) {
    SCOPED_TRACE(insidePost);
    TFmServerMain f(ds());
    f.Initialize(false);
    if (insidePost) {
      center().set_handler("api/StationData",
                           [](const marrowind::testing::RecordedRequest&) { return Reply{.mode = ReplyMode::NeverAnswer}; });
      LoggedIn();
      ASSERT_TRUE(ds().OpenDataChange());
      const size_t requests = center().request_count();  // counted before the post can arrive
      f.GroupThread->Resume();
      ASSERT_TRUE(center().wait_for_requests(requests + 1));
    }
    f.miClose->trigger();
    EXPECT_TRUE(f.Closed());
    EXPECT_TRUE(f.WorkerEnded());  // within the exit wait
  }
}

// A login the center never answers and a database call that waits for another
// program's lock both leave the event loop turning (a timer fires all along); the
// program's end gives either wait up at once.
TEST_F(ServerMain, TheEventLoopTurnsWhileALoginStallsOrTheDatabaseIsLocked) {
  TFmServerMain f(ds());
  center().set_handler("Api/GroupLogin", Silent);
  const std::string url = marrowind::LoginUrl(center().base_url(), "S01", "pw");
  DatabaseLock other(lib_->Database());
  ASSERT_TRUE(other.Held());
  int fired = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
  timer.start();

  marrowind::SetHttpLimits({2000ms, 500ms});
  std::string text = "unchanged";
  EXPECT_FALSE(marrowind::HttpGetResult(url, text));  // the time limit: a failed login
  EXPECT_GT(fired, 5);
  fired = 0;
  ds().AcData.SetBusyTimeout(500ms);
  EXPECT_FALSE(ds().ExecSql("update SystemRul set Content='x' where SystemCode=1"));
  EXPECT_GT(fired, 5);

  // No time limit near: only the program's end (here from the timer) stops them.
  marrowind::SetHttpLimits({60000ms, 60000ms});
  ds().AcData.SetBusyTimeout(60000ms);
  for (bool login : {true, false}) {
    SCOPED_TRACE(login);
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(100, [] { marrowind::SetProgramEnding(true); });
    if (login) {
      EXPECT_THROW(marrowind::HttpGetResult(url, text), marrowind::ESilentAbort);
    } else {
      EXPECT_FALSE(ds().ExecSql("update SystemRul set Content='x' where SystemCode=1"));
    }
    EXPECT_LT(t.elapsed(), 30000);
    marrowind::SetProgramEnding(false);
  }
  other.Release();
}

// While the cluster dialog's opening test login waits for the center, a second
// "集群中心设置" opens nothing and the sync timer's ticks pass over; closing the dialog
// abandons the login.
TEST_F(ServerMain, WhileTheDialogsTestLoginWaitsTicksPassOverAndNoSecondDialogOpens) {
  StoreSettings(center().base_url(), "S01", "pw");
  center().set_handler("Api/GroupLogin", Silent);
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.Initialize(false);
  bool checked = false;
  marrowind::test::Once([&] { return center().request_count() == 1; },
                        [&] {
                          checked = true;
                          f.NGroup->trigger();
                          EXPECT_EQ(OpenClusterDialogs(), 1);
                          f.TSer->start(1);
                          QTest::qWait(100);  // ticks come and pass over
                          f.TSer->stop();
                          EXPECT_EQ(center().request_count(), 1u);
                          ASSERT_NE(f.FmGroupSet, nullptr);
                          f.FmGroupSet->close();
                        });
  f.NGroup->trigger();
  EXPECT_TRUE(checked);
  EXPECT_EQ(f.FmGroupSet, nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(marrowind::DynNum.Empty());
  EXPECT_FALSE(marrowind::TOperation::AnyUnderWay());
}

// A menu choice made while the tick waits for a silent center does not wait for the
// tick's time limit: the tick is given up and the dialog opens at once.
TEST_F(ServerMain, AMenuChoiceGivesUpAStalledTick) {
  StoreSettings(center().base_url(), "S01", "pw");
  center().enqueue("Api/GroupLogin", Reply{.mode = ReplyMode::NeverAnswer});  // the tick's
  marrowind::SetHttpLimits({2000ms, 60000ms});
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.SetFirstTickDelay(1ms);
  f.Initialize(false);
  QElapsedTimer t;
  bool opened = false;
  marrowind::test::Once([&] { return center().request_count() == 1; },
                        [&] {
                          t.start();
                          f.NGroup->trigger();  // inside the tick's wait: returns at once
                        });
  marrowind::test::Once([&] { return f.FmGroupSet && !f.FmGroupSet->Opening(); },
                        [&] {
                          opened = true;
                          EXPECT_LT(t.elapsed(), 30000);  // long before the tick's limit
                          EXPECT_EQ(marrowind::DynNum.Get(), "4711");  // its own test login passed
                          f.FmGroupSet->close();
                        });
  EXPECT_TRUE(RunEventsUntil([&] { return opened && !f.FmGroupSet; }, 30s));
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(center().requests_to("Api/GroupLogin").size(), 2u);
}

// The desktop session's end (its quit request, or any quit of the application) ends
// the program as 退出 does, also while a dialog waits for the center.
TEST_F(ServerMain, TheSessionsQuitRequestEndsTheProgramAlsoWithADialogWaiting) {
  StoreSettings(center().base_url(), "S01", "pw");
  center().set_handler("Api/GroupLogin", Silent);
  BoxRecorder boxes;
  TFmServerMain f(ds());
  f.Initialize(false);
  marrowind::test::Once([&] { return center().request_count() == 1; },
                        [&] {
                          QEvent quit(QEvent::Quit);
                          QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
                        });
  f.NGroup->trigger();  // returns once the quit has ended every loop
  EXPECT_TRUE(f.Closed());
  EXPECT_EQ(f.FmGroupSet, nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
  f.StopGroupThread();
  EXPECT_TRUE(f.WorkerEnded());
  marrowind::test::ForgetTheEndOfTheLoops();
}

// While a message box waits for its answer the ticks pass over: a tick waiting for the
// center inside the box's loop would hold up what follows the answer.
TEST_F(ServerMain, TicksPassOverWhileAMessageBoxWaitsForItsAnswer) {
  StoreSettings(center().base_url(), "S01", "pw");
  TFmServerMain f(ds());
  f.Initialize(false);
  QTimer::singleShot(0, [&] {
    f.TSer->start(1);
    QTimer::singleShot(100, [] {
      ASSERT_NE(QApplication::activeModalWidget(), nullptr);
      QApplication::activeModalWidget()->close();
    });
  });
  platform::ui::MessageBox(nullptr, "系统提示", "…", Icon::Information);  // a real box
  f.TSer->stop();
  EXPECT_EQ(center().request_count(), 0u);
}
