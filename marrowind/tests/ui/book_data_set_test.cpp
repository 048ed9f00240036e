#include <codemill.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "library_fixture.h"
#include "marrowind/ui/book_data_set.h"
#include "marrowind/ui/operation.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "ui_test_support.h"

namespace fs = std::filesystem;
using marrowind::TFmBookDataSet;
using marrowind::test::BoxRecorder;
using marrowind::test::DatabaseLock;
using marrowind::test::LibrarySetup;
using marrowind::test::ReadBytes;
using marrowind::test::ShowActive;
using marrowind::test::TempFolder;
using marrowind::test::WriteFile;
using platform::text::Cp936ToUtf8;
using platform::text::Utf8ToCp936;
using platform::ui::Icon;

namespace {

std::string Stored(const std::string& plainCp936) { return GetPassword(plainCp936.c_str()); }

std::string Key(const fs::path& folder, const char* key) {
  return platform::profile::IniFile(folder / "DataSet.ini").ReadString("Connection", key, "<none>");
}

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// What no password looks like in the edit: ten characters of code 0xDF.
std::string NoPasswordShown() { return QString(10, QChar(0xDF)).toStdString(); }

}  // namespace

TEST(BookDataSet, FormLooksAsDesigned) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  TFmBookDataSet dlg;
  EXPECT_EQ(dlg.windowTitle(), Q("设置数据库"));
  EXPECT_EQ(dlg.size(), QSize(304, 140));
  EXPECT_EQ(dlg.font().family(), Q("宋体"));
  EXPECT_EQ(dlg.font().pixelSize(), 13);
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
  const std::pair<const char*, const char*> captions[] = {{"Label1", "服务器名"}, {"Label2", "数据库名"},
                                                          {"Label3", "登陆用户"}, {"Label4", "密码"},
                                                          {"BitBtn2", "测试链接"}, {"BitBtn1", "确定"},
                                                          {"BitBtn3", "取消"}};
  for (auto [name, caption] : captions) {
    QWidget* w = dlg.findChild<QWidget*>(Q(name));
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(w->property("text").toString(), Q(caption)) << name;
  }
  EXPECT_EQ(dlg.EPassword->echoMode(), QLineEdit::Password);
  // Tab order, wrapping from the last button to the first edit.
  ASSERT_TRUE(ShowActive(&dlg));
  EXPECT_EQ(QApplication::focusWidget(), dlg.EServerName);
  const std::vector<QWidget*> order = {dlg.EServerName, dlg.EDataBaseName, dlg.EUser, dlg.EPassword,
                                       dlg.BitBtn2,     dlg.BitBtn1,       dlg.BitBtn3};
  for (size_t i = 0; i < order.size(); ++i) {
    order[i]->setFocus();
    QTest::keyClick(order[i], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), order[(i + 1) % order.size()]) << i;
  }
}

TEST(BookDataSet, LoadsTheFileWithThePasswordUnscrambled) {
  struct Case {
    std::string ini;  // bytes of DataSet.ini, or "-" for no file
    std::string server, database, user, password;  // UTF-8 as the edits show them
  } cases[] = {
      {"[Connection]\r\nServer Name=sqlite:library.db\r\nDataBase Name=library\r\nUser Name=sa\r\nPassword=" +
           Stored("secret") + "\r\n",
       "sqlite:library.db", "library", "sa", "secret"},
      {"[Connection]\r\nServer Name=" + Utf8ToCp936("图书馆服务器") + "\r\nPassword=" + Stored(Utf8ToCp936("口令")) +
           "\r\n",
       "图书馆服务器", "", "", "口令"},
      // No file, no Password key: the empty text through GetPassword, ten 0xDF bytes,
      // shown as ten characters (not as the five that code page 936 makes of them).
      {"-", "", "", "", NoPasswordShown()},
      {"[Connection]\r\nServer Name=srv\r\nPassword=\r\n", "srv", "", "", NoPasswordShown()},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    platform::module::OverrideProgramFolderForTesting(folder.Path());
    if (c.ini != "-") WriteFile(folder.Path() / "DataSet.ini", c.ini);
    TFmBookDataSet dlg;
    EXPECT_EQ(dlg.EServerName->text().toStdString(), c.server);
    EXPECT_EQ(dlg.EDataBaseName->text().toStdString(), c.database);
    EXPECT_EQ(dlg.EUser->text().toStdString(), c.user);
    EXPECT_EQ(dlg.EPassword->text().toStdString(), c.password);
    EXPECT_EQ(dlg.EPassword->displayText(), QString(dlg.EPassword->text().size(), QLatin1Char('*')));
  }
}

TEST(BookDataSet, OnlyOkWritesTheFileWithThePasswordScrambled) {
  const std::string original =
      "[Connection]\r\nServer Name=sqlite:library.db\r\nDataBase Name=library\r\nUser Name=sa\r\nPassword=" +
      Stored("old") + "\r\n";
  enum class Close { Ok, Cancel, CloseBox, CloseBoxAfterTest };
  for (Close how : {Close::Ok, Close::Cancel, Close::CloseBox, Close::CloseBoxAfterTest}) {
    TempFolder folder;
    platform::module::OverrideProgramFolderForTesting(folder.Path());
    WriteFile(folder.Path() / "DataSet.ini", original);
    BoxRecorder boxes;
    TFmBookDataSet dlg;
    ASSERT_TRUE(ShowActive(&dlg));
    dlg.EServerName->setText(Q("sqlite:新馆.db"));
    dlg.EDataBaseName->setText(Q(" lib2 "));
    dlg.EUser->setText(Q("管理员"));
    dlg.EPassword->setText(Q("新口令"));
    switch (how) {
      case Close::Ok: QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton); break;
      case Close::Cancel: QTest::mouseClick(dlg.BitBtn3, Qt::LeftButton); break;
      case Close::CloseBoxAfterTest: QTest::mouseClick(dlg.BitBtn2, Qt::LeftButton); [[fallthrough]];
      case Close::CloseBox: dlg.close(); break;
    }
    EXPECT_FALSE(dlg.isVisible());
    const std::string now = ReadBytes(folder.Path() / "DataSet.ini");
    if (how != Close::Ok) {
      EXPECT_EQ(now, original);
      continue;
    }
    EXPECT_EQ(Key(folder.Path(), "Server Name"), Utf8ToCp936("sqlite:新馆.db"));
    EXPECT_EQ(Key(folder.Path(), "DataBase Name"), "lib2");  // written untrimmed; the profile read trims
    EXPECT_NE(now.find("DataBase Name= lib2 \r\n"), std::string::npos);
    EXPECT_EQ(Key(folder.Path(), "User Name"), Utf8ToCp936("管理员"));
    EXPECT_EQ(Key(folder.Path(), "Password"), Stored(Utf8ToCp936("新口令")));
    EXPECT_TRUE(boxes.boxes.empty());
  }
}

TEST(BookDataSet, PasswordsComeBackAsGetPasswordGivesThem) {
  struct Case {
    const char* typed;
    const char* back;
  } cases[] = {
      {"abcdefghijklm", "abcdefghij"},  // the first ten characters
      {"  pw  ", "pw"},                 // blanks at either end do not come back
      {"a b", "a b"},
      {"", ""},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    platform::module::OverrideProgramFolderForTesting(folder.Path());
    {
      TFmBookDataSet dlg;
      dlg.EPassword->setText(Q(c.typed));
      dlg.BitBtn1Click();
    }
    TFmBookDataSet again;
    EXPECT_EQ(again.EPassword->text(), Q(c.back)) << c.typed;
  }
  // What the dialog shows for a missing password is saved back as the empty text.
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  {
    TFmBookDataSet dlg;
    dlg.BitBtn1Click();
  }
  EXPECT_EQ(Key(folder.Path(), "Password"), "");
}

TEST(BookDataSet, TestConnectionUsesTheEditsAndTellsTheOutcome) {
  LibrarySetup lib;
  const std::string before = ReadBytes(lib.Folder() / "DataSet.ini");
  struct Case {
    const char* server;
    const char* text;
  } cases[] = {
      {"sqlite:library.db", "成功链接到目标数据库！"},
      {"sqlite:missing.db", "无法链接到目标数据库！"},
      {"", "无法链接到目标数据库！"},
  };
  BoxRecorder boxes;
  TFmBookDataSet dlg;
  for (const Case& c : cases) {
    boxes.boxes.clear();
    dlg.EServerName->setText(Q(c.server));
    dlg.EPassword->setText(Q("wrong"));
    dlg.BitBtn2Click();
    ASSERT_EQ(boxes.boxes.size(), 1u) << c.server;
    EXPECT_EQ(boxes.boxes[0].owner, &dlg);
    EXPECT_EQ(boxes.boxes[0].title, "信息");
    EXPECT_EQ(boxes.boxes[0].text, c.text);
    EXPECT_EQ(boxes.boxes[0].icon, Icon::Information);  // a failure too
    EXPECT_EQ(dlg.Test.Params().password, "wrong");     // as typed, not scrambled
  }
  dlg.EServerName->setText(Q("sqlite:library.db"));
  dlg.BitBtn2Click();
  EXPECT_TRUE(dlg.Test.Connected());  // open until the dialog closes
  dlg.close();
  EXPECT_FALSE(dlg.Test.Connected());
  EXPECT_EQ(ReadBytes(lib.Folder() / "DataSet.ini"), before);
}

// A test connection to a database that another program holds locked waits with the
// event loop turning: a second 测试链接 is ignored, and closing the dialog gives the
// test up and closes it once the connection is let go, without a message.
TEST(BookDataSet, ATestConnectionWaitingForALockIsIgnoredAgainAndGivenUpByClosing) {
  LibrarySetup lib;
  DatabaseLock other(lib.Database());
  ASSERT_TRUE(other.Held());
  BoxRecorder boxes;
  TFmBookDataSet dlg;
  ASSERT_TRUE(ShowActive(&dlg));
  dlg.EServerName->setText(Q("sqlite:library.db"));
  bool checked = false;
  marrowind::test::Once([&] { return marrowind::TOperation::Of(&dlg) != nullptr; },
                        [&] {
                          checked = true;
                          ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
                          EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
                          dlg.BitBtn2->click();
                          dlg.close();
                          EXPECT_TRUE(dlg.isVisible());  // until the test has let go of the connection
                        });
  dlg.BitBtn2Click();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(boxes.boxes.empty());  // not the failure message after the busy time-out
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.Test.Connected());
  other.Release();
}

TEST(BookDataSet, EnterMovesTheFocusAndStartsNothing) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  BoxRecorder boxes;
  TFmBookDataSet dlg;
  ASSERT_TRUE(ShowActive(&dlg));
  EXPECT_EQ(QApplication::focusWidget(), dlg.EServerName);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), dlg.EDataBaseName);
  dlg.EPassword->setFocus();
  QTest::keyClick(dlg.EPassword, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(QApplication::focusWidget(), dlg.BitBtn2);
  EXPECT_TRUE(boxes.boxes.empty());  // the test did not run
  EXPECT_TRUE(dlg.isVisible());
  // Enter follows the tab order, wrapping from the last tab stop to the first.
  dlg.BitBtn2->setFocus();
  dlg.FormKeyPress();
  EXPECT_EQ(QApplication::focusWidget(), dlg.BitBtn1);
  dlg.BitBtn3->setFocus();
  dlg.FormKeyPress();
  EXPECT_EQ(QApplication::focusWidget(), dlg.EServerName);
  // Escape closes nothing; Enter on a focused button clicks it.
  QTest::keyClick(dlg.EServerName, Qt::Key_Escape);
  EXPECT_TRUE(dlg.isVisible());
  dlg.BitBtn3->setFocus();
  QTest::keyClick(dlg.BitBtn3, Qt::Key_Return);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(fs::exists(folder.Path() / "DataSet.ini"));
}

TEST(BookDataSet, APasswordThatCannotBeStoredIsReportedReadably) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  BoxRecorder boxes;
  TFmBookDataSet dlg;
  ASSERT_TRUE(ShowActive(&dlg));
  dlg.EPassword->setText(Q("磅"));  // scrambled, its bytes hold a line break
  dlg.BitBtn1Click();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  const std::string& text = boxes.boxes[0].text;
  EXPECT_NE(text.find("无法保存数据库配置"), std::string::npos);
  EXPECT_EQ(QString::fromUtf8(text).toStdString(), text);  // valid UTF-8
  EXPECT_EQ(text.find_first_of("\r\n\xDF"), std::string::npos) << text;
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_FALSE(fs::exists(folder.Path() / "DataSet.ini"));
  dlg.BitBtn3Click();
}

TEST(BookDataSet, AFileThatCannotBeWrittenIsReportedAndTheDialogStays) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  fs::create_directory(folder.Path() / "DataSet.ini.tmp~");  // the new file cannot be made
  BoxRecorder boxes;
  TFmBookDataSet dlg;
  ASSERT_TRUE(ShowActive(&dlg));
  dlg.EServerName->setText(Q("srv"));
  dlg.BitBtn1Click();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].title, "错误");
  EXPECT_EQ(boxes.boxes[0].icon, Icon::Error);
  EXPECT_NE(boxes.boxes[0].text.find("无法保存数据库配置"), std::string::npos);
  EXPECT_TRUE(dlg.isVisible());
  dlg.BitBtn3Click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(boxes.boxes.size(), 1u);
}
