#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "marrowind/core/group_thread.h"
#include "marrowind/ui/group_set.h"
#include "sync_support.h"
#include "ui_test_support.h"

using marrowind::DynNum;
using marrowind::GroupId;
using marrowind::GroupPw;
using marrowind::GroupUrl;
using marrowind::SyncBusy;
using marrowind::TFmGroupSet;
using marrowind::TGroupThread;
using marrowind::test::BoxRecorder;
using marrowind::testing::Reply;
using marrowind::testing::ReplyMode;
using platform::ui::Answer;
using platform::ui::Icon;
using namespace std::chrono_literals;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class GroupSet : public marrowind::test::SyncTest {
 protected:
  void SetUp() override {
    SyncTest::SetUp();
    center().set_handler("Api/GroupLogin", [](const marrowind::testing::RecordedRequest& r) {
      return Reply{.body = r.query() == "GroupId=S01&Pw=pw" ? "\"OK4711\"" : "\"ERR station unknown\""};
    });
  }

  // Settings row `code` as SystemRul holds it; "<null>" for NULL, "<none>" without a row.
  std::string Setting(int code) {
    platform::db::Query q(ds().AcData);
    q.SetSql("select Content from SystemRul where SystemCode=" + std::to_string(code));
    q.Open();
    if (q.Eof()) return "<none>";
    return q.Fields(0).IsNull() ? "<null>" : q.Fields(0).AsString();
  }

  static bool Tested(const TFmGroupSet& d) {
    return d.EGroupUrl->isReadOnly() && d.EGroupId->isReadOnly() && d.ECheckNum->isReadOnly() &&
           !d.BLogion->isEnabled() && d.BSynchro->isEnabled();
  }
  // The opening's silent test runs once events are processed, as in the dialog's loop.
  static bool Opened(const TFmGroupSet& d) {
    QElapsedTimer t;
    t.start();
    while (d.Opening() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !d.Opening();
  }
  static bool Untested(const TFmGroupSet& d) {
    return !d.EGroupUrl->isReadOnly() && !d.EGroupId->isReadOnly() && !d.ECheckNum->isReadOnly() &&
           d.BLogion->isEnabled() && !d.BSynchro->isEnabled();
  }
};

}  // namespace

TEST_F(GroupSet, FormLooksAsDesigned) {
  TFmGroupSet d(ds(), nullptr);
  EXPECT_EQ(d.windowTitle(), Q("数据集群中心设置"));
  EXPECT_EQ(d.size(), QSize(477, 126));
  const std::pair<const char*, const char*> captions[] = {{"Label1", "中心地址"}, {"Label2", "本馆ID"},
                                                          {"Label3", "校验码"},   {"BLogion", "集群测试"},
                                                          {"BSynchro", "数据同步"}, {"BClose", "返回"}};
  for (auto [name, caption] : captions) {
    QWidget* w = d.findChild<QWidget*>(QString::fromUtf8(name));
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(w->property("text").toString(), QString::fromUtf8(caption)) << name;
  }
  EXPECT_EQ(d.EGroupUrl->maxLength(), 100);
  EXPECT_EQ(d.EGroupUrl->width(), 353);
  EXPECT_EQ(d.EGroupId->maxLength(), 10);
  EXPECT_EQ(d.ECheckNum->maxLength(), 30);
  EXPECT_EQ(d.ECheckNum->echoMode(), QLineEdit::Password);
  EXPECT_EQ(d.BLogion->size(), QSize(75, 25));
  EXPECT_TRUE(Untested(d));
  ASSERT_TRUE(marrowind::test::ShowActive(&d));
  const std::vector<QWidget*> order = {d.EGroupUrl, d.BLogion, d.EGroupId, d.ECheckNum, d.BClose};
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    order[i]->setFocus();
    QTest::keyClick(order[i], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), order[i + 1]) << i;  // BSynchro, off, is passed over
  }
}

TEST_F(GroupSet, OpeningFillsTheEditsAndTestsSilently) {
  struct Case {
    const char* name;
    std::optional<std::string> url;  // none: the rows 14-16 are missing
    std::string id, pw;
    bool tested;
    size_t logins;
  } cases[] = {
      {"no settings rows", std::nullopt, "", "", false, 0},
      {"not configured", "Http://", "S01", "pw", false, 0},
      {"accepted", "CENTER", "S01", "pw", true, 1},
      {"accepted, no final slash", "CENTER-NOSLASH", "S01", "pw", true, 1},
      {"refused", "CENTER", "S01", "wrong", false, 1},
      {"unreachable", "REFUSING", "S01", "pw", false, 0},
  };
  marrowind::test::RefusingPort refusing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = center().requests_to("Api/GroupLogin").size();
    std::string url;
    if (!c.url) {
      Exec("delete from SystemRul where SystemCode in (14,15,16)");
    } else {
      url = *c.url == "CENTER"           ? center().base_url()
            : *c.url == "CENTER-NOSLASH" ? center().base_url().substr(0, center().base_url().size() - 1)
            : *c.url == "REFUSING"       ? refusing.Url()
                                         : *c.url;
      StoreSettings(url, c.id, c.pw);
    }
    DynNum.Clear();
    BoxRecorder boxes;
    TFmGroupSet d(ds(), nullptr);
    ASSERT_TRUE(Opened(d));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Tested(d), c.tested);
    EXPECT_EQ(Untested(d), !c.tested);
    EXPECT_EQ(center().requests_to("Api/GroupLogin").size() - before, c.logins);
    EXPECT_EQ(DynNum.Get(), c.tested ? "4711" : "");
    if (!c.url) {
      EXPECT_EQ(d.EGroupUrl->text(), Q("Http://"));
      EXPECT_EQ(Setting(14), "Http://");
      EXPECT_EQ(Setting(15), "<null>");
      EXPECT_EQ(Setting(16), "<null>");
    } else {
      std::string shown = url.back() == '/' ? url : url + "/";  // as ReadGroupSettings holds it
      if (url == "Http://") shown = url;
      EXPECT_EQ(d.EGroupUrl->text(), Q(shown));
      EXPECT_EQ(d.EGroupId->text(), Q(c.id));
      EXPECT_EQ(d.ECheckNum->text(), Q(c.pw));
    }
  }
}

TEST_F(GroupSet, TestButtonValidatesTestsAndStores) {
  const std::string good = center().base_url();
  const std::string noSlash = good.substr(0, good.size() - 1);
  marrowind::test::RefusingPort refusing;
  const std::string closed = refusing.Url();
  struct Box {
    const char* title;
    const char* text;
    Icon icon;
  };
  const Box addressMissing{"错误", "没有输入中心地址！", Icon::Error};
  const Box idMissing{"错误", "没有输入本馆ID!", Icon::Error};
  const Box codeMissing{"错误", "没有输入校验码！", Icon::Error};
  const Box passed{"系统提示", "集群测试已通过，现在可开始数据同步！", Icon::Information};
  const Box failed{"系统提示", "集群测试未通过,请确认输入的机群效验信息和网络连接！", Icon::Error};
  struct Case {
    std::string url, id, pw;
    std::optional<Box> box;
    bool stored;
  } cases[] = {
      {"", "S01", "pw", addressMissing, false},
      {"  Http://  ", "S01", "pw", addressMissing, false},
      {"Http://", "", "", addressMissing, false},  // the first failure only
      {good, " \t", "pw", idMissing, false},
      {good, "S01", "  ", codeMissing, false},
      {"http://", "S01", "pw", failed, false},  // small letters: configured, and the login fails
      {good, "S01", "wrong", failed, false},
      {" " + noSlash + " ", " S01 ", " pw ", passed, true},  // trimmed, "/" added for the test
      {closed, "S01", "pw", std::nullopt, false},             // unreachable: not a word
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + "|" + c.id + "|" + c.pw);
    StoreSettings("Http://", "", "");
    const size_t logins = center().requests_to("Api/GroupLogin").size();
    BoxRecorder boxes;
    TFmGroupSet d(ds(), nullptr);
    d.EGroupUrl->setText(Q(c.url));
    d.EGroupId->setText(Q(c.id));
    d.ECheckNum->setText(Q(c.pw));
    d.BLogionClick();
    if (c.box) {
      ASSERT_EQ(boxes.boxes.size(), 1u);
      EXPECT_EQ(boxes.boxes[0].owner, &d);
      EXPECT_EQ(boxes.boxes[0].title, c.box->title);
      EXPECT_EQ(boxes.boxes[0].text, c.box->text);
      EXPECT_EQ(boxes.boxes[0].icon, c.box->icon);
    } else {
      EXPECT_TRUE(boxes.boxes.empty());
    }
    EXPECT_EQ(Tested(d), c.stored);
    if (c.stored) {
      EXPECT_EQ(Setting(14), noSlash);  // as typed, trimmed, without the "/"
      EXPECT_EQ(Setting(15), "S01");
      EXPECT_EQ(Setting(16), "pw");
      EXPECT_EQ(GroupUrl.Get(), good);
      EXPECT_EQ(GroupId.Get(), "S01");
      EXPECT_EQ(GroupPw.Get(), "pw");
      auto logins_now = center().requests_to("Api/GroupLogin");
      ASSERT_EQ(logins_now.size(), logins + 1);
      EXPECT_EQ(logins_now.back().target, "/Api/GroupLogin?GroupId=S01&Pw=pw");
    } else {
      EXPECT_EQ(Setting(14), "Http://");
      EXPECT_EQ(GroupUrl.Get(), "Http://");  // as the dialog's opening read it
    }
  }
}

TEST_F(GroupSet, StoredValuesKeepTheirQuotes) {
  center().set_handler("Api/GroupLogin", [](const marrowind::testing::RecordedRequest&) {
    return Reply{.body = "\"OK1\""};
  });
  BoxRecorder boxes;
  TFmGroupSet d(ds(), nullptr);
  d.EGroupUrl->setText(Q(center().base_url()));
  d.EGroupId->setText(Q("O'Hara"));
  d.ECheckNum->setText(Q("it's'; drop table DataChange"));
  d.BLogionClick();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "集群测试已通过，现在可开始数据同步！");
  EXPECT_EQ(Setting(15), "O'Hara");
  EXPECT_EQ(Setting(16), "it's'; drop table DataChange");
  EXPECT_FALSE(JournalIds().empty());
}

TEST_F(GroupSet, SettingsThatCannotBeStoredAreNotReportedAsStored) {
  BoxRecorder boxes;
  TFmGroupSet d(ds(), nullptr);
  Exec("alter table SystemRul rename to SystemRul_gone");
  d.EGroupUrl->setText(Q(center().base_url()));
  d.EGroupId->setText(Q("S01"));
  d.ECheckNum->setText(Q("pw"));
  d.BLogionClick();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].title, "错误");
  EXPECT_EQ(boxes.boxes[0].icon, Icon::Error);
  EXPECT_EQ(boxes.boxes[0].text, "集群测试已通过，但设置未能保存到数据库！");
  EXPECT_TRUE(Tested(d));  // the test itself passed
}

// The full resynchronisation while the worker is inside a post that the center never
// answers: the post is abandoned, the journal replaced, and the worker sends the new
// snapshot from its first row.
TEST_F(GroupSet, ResynchronisationStopsARunningWorkerAndSendsTheNewJournal) {
  StoreSettings(center().base_url(), "S01", "pw");
  const std::vector<std::int64_t> old = JournalIds();
  ASSERT_FALSE(old.empty());
  center().enqueue("api/StationData", Reply{.mode = ReplyMode::NeverAnswer});
  center().set_handler("api/StationData", [](const marrowind::testing::RecordedRequest&) {
    return Reply{.body = "\"OK\""};
  });
  TGroupThread worker(ds());
  BoxRecorder boxes(Answer::Yes);
  TFmGroupSet d(ds(), &worker);
  ASSERT_TRUE(Opened(d));
  ASSERT_TRUE(Tested(d));
  ASSERT_TRUE(ds().OpenDataChange());
  worker.Resume();
  ASSERT_TRUE(center().wait_for_requests(2));  // the login, then the post that hangs
  ASSERT_FALSE(worker.Suspended());
  ASSERT_TRUE(marrowind::test::ShowActive(&d));

  d.BSynchroClick();

  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].title, "询问");
  EXPECT_EQ(boxes.boxes[0].text, "是否与集群中心同步所有数据");
  EXPECT_EQ(boxes.boxes[0].icon, Icon::Question);
  EXPECT_EQ(boxes.boxes[0].buttons, platform::ui::Buttons::YesNo);
  EXPECT_EQ(boxes.boxes[1].title, "系统提示");
  EXPECT_EQ(boxes.boxes[1].text, "数据同步将在后台运行，你可以继续其它操作");
  EXPECT_EQ(boxes.boxes[1].icon, Icon::Information);
  EXPECT_FALSE(d.isVisible());

  // The worker drains the refilled journal: 4 books, 2 periodicals, 2 loans,
  // 2 classes, 3 readers, 1 approved withdrawal bill, in that order of kinds.
  ASSERT_TRUE(worker.WaitSuspended(10s));
  EXPECT_TRUE(JournalIds().empty());
  EXPECT_FALSE(SyncBusy);
  // The abandoned batch is the first post; every later one is of the new snapshot.
  const std::vector<std::string> batches = Batches();
  ASSERT_GE(batches.size(), 2u);
  std::vector<std::int64_t> fresh;
  std::string kinds;
  const std::string open = "<ContSouType>";
  for (size_t i = 1; i < batches.size(); ++i) {
    for (std::int64_t id : marrowind::test::DocumentChangeIds(batches[i])) fresh.push_back(id);
    for (size_t p = batches[i].find(open); p != std::string::npos; p = batches[i].find(open, p + 1)) {
      kinds += batches[i][p + open.size()];
    }
  }
  EXPECT_EQ(kinds, "BBBBPPJJCCRRRD");
  EXPECT_FALSE(std::filesystem::exists(FailedXml()));  // abandoned, not failed: nothing saved
  ASSERT_EQ(fresh.size(), 14u);
  EXPECT_GT(fresh.front(), old.back());  // ids never come back after the journal is emptied
  EXPECT_TRUE(std::is_sorted(fresh.begin(), fresh.end()));
}

TEST_F(GroupSet, ResynchronisationRefusedOrEmptyOrFailedLeavesTheWorkerIdle) {
  StoreSettings(center().base_url(), "S01", "pw");
  center().set_handler("api/StationData", [](const marrowind::testing::RecordedRequest&) {
    return Reply{.mode = ReplyMode::NeverAnswer};
  });
  enum class Kind { AnswerNo, NoSourceRows, RefillFails };
  for (Kind kind : {Kind::AnswerNo, Kind::RefillFails, Kind::NoSourceRows}) {
    SCOPED_TRACE(static_cast<int>(kind));
    TGroupThread worker(ds());
    BoxRecorder boxes(kind == Kind::AnswerNo ? Answer::No : Answer::Yes);
    TFmGroupSet d(ds(), &worker);
    ASSERT_TRUE(Opened(d));
    ASSERT_TRUE(Tested(d));
    ASSERT_TRUE(marrowind::test::ShowActive(&d));
    if (kind == Kind::RefillFails) Exec("alter table b_Destory rename to b_Destory_gone");
    const std::vector<std::int64_t> before = JournalIds();
    ASSERT_TRUE(ds().OpenDataChange());
    const size_t posts = center().requests_to("api/StationData").size();
    const size_t requests = center().request_count();  // counted before the post can arrive
    worker.Resume();
    ASSERT_TRUE(center().wait_for_requests(requests + 1));
    ASSERT_EQ(center().requests_to("api/StationData").size(), posts + 1);
    if (kind == Kind::NoSourceRows) {
      // Emptied in one text so that the triggers' journal rows come and go with it.
      for (const char* t : {"inf_Book", "Inf_Periodical", "inf_Borrow", "Inf_Class", "Inf_Reader", "s_Destory",
                            "b_Destory"}) {
        Exec(std::string("delete from ") + t);
      }
    }

    d.BSynchroClick();

    EXPECT_TRUE(d.isVisible());  // the dialog stays open
    switch (kind) {
      case Kind::AnswerNo:
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_FALSE(worker.Suspended());  // untouched: still in its post
        EXPECT_EQ(JournalIds(), before);
        worker.Stop();
        break;
      case Kind::NoSourceRows:
        ASSERT_EQ(boxes.boxes.size(), 1u);  // the question only
        EXPECT_TRUE(JournalIds().empty());
        EXPECT_TRUE(worker.Suspended());
        EXPECT_FALSE(SyncBusy);  // the next tick takes a new snapshot
        break;
      case Kind::RefillFails:
        ASSERT_EQ(boxes.boxes.size(), 2u);
        EXPECT_EQ(boxes.boxes[1].title, "错误");
        EXPECT_EQ(boxes.boxes[1].icon, Icon::Error);
        EXPECT_EQ(JournalIds(), before);  // one transaction: the old journal is whole
        EXPECT_TRUE(worker.Suspended());
        EXPECT_FALSE(SyncBusy);
        Exec("alter table b_Destory_gone rename to b_Destory");
        break;
    }
  }
}

// While its test login waits for a center that never answers, the dialog shows a busy
// cursor and ignores 集群测试 and 数据同步; closing it abandons the login without a word.
TEST_F(GroupSet, ATestLoginUnderWayIgnoresTheButtonsAndClosingAbandonsIt) {
  center().set_handler("Api/GroupLogin", [](const marrowind::testing::RecordedRequest&) {
    return Reply{.mode = ReplyMode::NeverAnswer};
  });
  StoreSettings("Http://", "", "");
  BoxRecorder boxes(Answer::Yes);
  TFmGroupSet d(ds(), nullptr);
  ASSERT_TRUE(marrowind::test::ShowActive(&d));
  d.EGroupUrl->setText(Q(center().base_url()));
  d.EGroupId->setText(Q("S01"));
  d.ECheckNum->setText(Q("pw"));
  bool checked = false;
  marrowind::test::Once([&] { return center().request_count() == 1; },
                        [&] {
                          checked = true;
                          ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
                          EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
                          d.BLogion->click();  // not a second login (which would wait here)
                          d.BSynchroClick();   // not the question
                          EXPECT_TRUE(boxes.boxes.empty());
                          EXPECT_EQ(center().request_count(), 1u);
                          d.close();
                        });
  d.BLogionClick();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(boxes.boxes.empty());  // abandoned: not the failed test's message after the time limit
  EXPECT_TRUE(Untested(d));
  EXPECT_TRUE(DynNum.Empty());
  EXPECT_EQ(Setting(14), "Http://");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// The edits' length limits bind typing only: a stored station id longer than its edit
// is shown, tested and stored whole.
TEST_F(GroupSet, AStationIdLongerThanItsEditIsShownTestedAndStoredWhole) {
  const std::string id = "ABCDEFGHIJKL";  // 12 characters; the edit takes 10 typed ones
  center().set_handler("Api/GroupLogin", [&](const marrowind::testing::RecordedRequest& r) {
    return Reply{.body = r.query() == "GroupId=" + id + "&Pw=pw" ? "\"OK4711\"" : "\"ERR\""};
  });
  for (bool storedCodeRight : {true, false}) {
    SCOPED_TRACE(storedCodeRight);
    StoreSettings(center().base_url(), id, storedCodeRight ? "pw" : "old");
    BoxRecorder boxes;
    TFmGroupSet d(ds(), nullptr);
    ASSERT_TRUE(Opened(d));
    EXPECT_EQ(d.EGroupId->text(), Q(id));
    EXPECT_EQ(center().requests_to("Api/GroupLogin").back().query(),
              "GroupId=" + id + "&Pw=" + (storedCodeRight ? "pw" : "old"));
    EXPECT_EQ(Tested(d), storedCodeRight);
    if (!storedCodeRight) {
      d.ECheckNum->setText(Q("pw"));
      d.BLogionClick();
      ASSERT_EQ(boxes.boxes.size(), 1u);
      EXPECT_EQ(boxes.boxes[0].text, "集群测试已通过，现在可开始数据同步！");
      EXPECT_EQ(Setting(15), id);
      EXPECT_EQ(GroupId.Get(), id);
    }
  }
  // Typing still stops at the limit.
  StoreSettings("Http://", "", "");
  TFmGroupSet d(ds(), nullptr);
  ASSERT_TRUE(marrowind::test::ShowActive(&d));
  QTest::keyClicks(d.EGroupId, Q(id));
  EXPECT_EQ(d.EGroupId->text(), Q(id.substr(0, 10)));
}
