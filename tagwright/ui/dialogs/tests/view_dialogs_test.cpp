#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <functional>
#include <string>

#include "dialog_fixture.h"
#include "tagwright/dialogs.h"

namespace tagwright::testing {
namespace {

using TextSetTest = DialogTest;
using BarWidthTest = DialogTest;
using NameTest = DialogTest;
using KeyFilterTest = DialogTest;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// --- the shared key filter -------------------------------------------------------------

TEST_F(KeyFilterTest, NumericEditsTakeOnlyDigitsDotAndBackspace) {
  TFmTextSet text(nullptr, "书名", 12);
  TFmBarWidth bar(nullptr, 2, 12, true);
  struct Edit {
    const char* what;
    QLineEdit* edit;
  };
  for (const Edit& e : {Edit{"TFmTextSet.EFontSize", text.EFontSize}, Edit{"TFmBarWidth.EWidth", bar.EWidth}}) {
    SCOPED_TRACE(e.what);
    e.edit->clear();
    QTest::keyClicks(e.edit, "a1.-2 +b3$x");
    EXPECT_EQ(e.edit->text(), QStringLiteral("1.23"));
    QTest::keyClick(e.edit, Qt::Key_Backspace);
    EXPECT_EQ(e.edit->text(), QStringLiteral("1.2"));
    for (Qt::Key k : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
      QTest::keyClick(e.edit, k);
    EXPECT_EQ(e.edit->text(), QStringLiteral("1.2"));
    // Keys that type nothing are the edit's own.
    QTest::keyClick(e.edit, Qt::Key_Home);
    QTest::keyClick(e.edit, Qt::Key_Delete);
    EXPECT_EQ(e.edit->text(), QStringLiteral(".2"));
    // A paste keeps the number keys of the clipboard's text.
    QGuiApplication::clipboard()->setText(QStringLiteral("4 五x5."));
    QTest::keyClick(e.edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(e.edit->text(), QStringLiteral("45..2"));
    // So does the paste of the edit's context menu.
    e.edit->setText(QStringLiteral("7"));
    e.edit->setCursorPosition(1);
    QGuiApplication::clipboard()->setText(QStringLiteral("-8a"));
    bool pasted = false;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction* paste : menu->actions()) {
        if (!paste->text().startsWith(QLineEdit::tr("&Paste"))) continue;
        paste->trigger();
        pasted = true;
      }
      menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(4, 4), e.edit->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(e.edit, &menuEvent);
    EXPECT_TRUE(pasted);
    EXPECT_EQ(e.edit->text(), QStringLiteral("78"));
    EXPECT_FALSE(e.edit->acceptDrops());
  }
  // The text of a text view is free.
  text.EText->clear();
  QTest::keyClicks(text.EText, "a-b 1.");
  EXPECT_EQ(text.EText->text(), QStringLiteral("a-b 1."));
  EXPECT_TRUE(IsNumberKey(8) && IsNumberKey(u'.') && IsNumberKey(u'0') && IsNumberKey(u'9'));
  EXPECT_FALSE(IsNumberKey(u'/') || IsNumberKey(u':') || IsNumberKey(u'-') || IsNumberKey(27) ||
               IsNumberKey(u'\r') || IsNumberKey(u'５'));
}

// --- TFmTextSet ------------------------------------------------------------------------

TEST_F(TextSetTest, WindowAndConstructorValues) {
  TFmTextSet dlg(nullptr, "  第一行 标题", 12);
  EXPECT_EQ(dlg.size(), QSize(212, 96));
  EXPECT_TRUE(dlg.windowTitle().isEmpty());
  EXPECT_EQ(dlg.font().family(), QStringLiteral("宋体"));
  EXPECT_EQ(dlg.font().pixelSize(), 13);
  EXPECT_EQ(dlg.EText->text(), QStringLiteral("  第一行 标题"));
  EXPECT_EQ(dlg.EFontSize->text(), QStringLiteral("12"));
  EXPECT_EQ(dlg.Text, "  第一行 标题");
  EXPECT_EQ(dlg.FontSize, 0);
  EXPECT_FALSE(dlg.OK);
  EXPECT_EQ(dlg.findChild<QLabel*>("Label2")->text(), QStringLiteral("显示文本"));
  EXPECT_EQ(dlg.findChild<QLabel*>("Label1")->text(), QStringLiteral("字符大小"));
  EXPECT_EQ(dlg.findChild<QPushButton*>("Button1")->text(), QStringLiteral("确定"));
  EXPECT_EQ(dlg.findChild<QPushButton*>("Button2")->text(), QStringLiteral("取消"));
  EXPECT_EQ(dlg.findChild<QLineEdit*>("EText"), dlg.EText);
  EXPECT_EQ(dlg.findChild<QLineEdit*>("EFontSize"), dlg.EFontSize);
  EXPECT_EQ(TabOrder(&dlg),
            (std::vector<std::string>{"EText", "EFontSize", "Button1", "Button2"}));
  EXPECT_FALSE(dlg.Button1->autoDefault() || dlg.Button2->autoDefault());
}

TEST_F(TextSetTest, ConfirmationChecksTextThenSize) {
  struct Case {
    std::string text, size;
    std::string message;  // empty: confirmed
    std::string wantText;
    std::int32_t wantSize;
  };
  const Case cases[] = {
      {"   ", "4", "没有输入要显示的文本", "", 0},
      {"\t \r", "4", "没有输入要显示的文本", "", 0},
      {"", "x.", "没有输入要显示的文本", "", 0},
      {"  题 名  ", "2", "", "题 名", 2},
      {"a", "64", "", "a", 64},
      {"a", "1", "字符大小为2~64", "", 0},
      {"a", "65", "字符大小为2~64", "", 0},
      {"a", "0", "字符大小为2~64", "", 0},
      {"a", "4.5", "字符大小错误", "", 0},
      {"a", "", "字符大小错误", "", 0},
      {"a", ".", "字符大小错误", "", 0},
      {"a", "99999999999", "字符大小错误", "", 0},
      {"a", "2147483648", "字符大小错误", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\" size \"" + c.size + "\"");
    TFmTextSet dlg(nullptr, "旧文本", 9);
    const bool open = RunModal(dlg, [&] {
      dlg.EText->setText(Q(c.text));
      dlg.EFontSize->setText(Q(c.size));
      dlg.Button1->click();
    });
    if (c.message.empty()) {
      ExpectNoBox();
      EXPECT_FALSE(open);
      EXPECT_TRUE(dlg.OK);
      EXPECT_EQ(dlg.Text, c.wantText);
      EXPECT_EQ(dlg.FontSize, c.wantSize);
    } else {
      ExpectRefused(&dlg, c.message);
      EXPECT_TRUE(open);
      EXPECT_FALSE(dlg.OK);
      EXPECT_EQ(dlg.EText->text(), Q(c.text)) << "values as typed";
      EXPECT_EQ(dlg.EFontSize->text(), Q(c.size));
    }
  }
}

TEST_F(TextSetTest, EscClosesFromTheTextOnly) {
  {
    TFmTextSet dlg(nullptr, "abc", 9);
    EXPECT_FALSE(RunModal(dlg, [&] { QTest::keyClick(dlg.EText, Qt::Key_Escape); }));
    EXPECT_FALSE(dlg.OK);
  }
  {
    TFmTextSet dlg(nullptr, "abc", 9);
    EXPECT_TRUE(RunModal(dlg, [&] { QTest::keyClick(dlg.EFontSize, Qt::Key_Escape); }));
    EXPECT_EQ(dlg.EFontSize->text(), QStringLiteral("9"));
  }
  {
    TFmTextSet dlg(nullptr, "abc", 9);
    EXPECT_TRUE(RunModal(dlg, [&] { QTest::keyClick(dlg.Button1, Qt::Key_Escape); }));
  }
  {
    // No default button: Enter in an edit confirms nothing.
    TFmTextSet dlg(nullptr, "abc", 9);
    EXPECT_TRUE(RunModal(dlg, [&] {
      QTest::keyClick(dlg.EText, Qt::Key_Return);
      QTest::keyClick(dlg.EFontSize, Qt::Key_Return);
    }));
    EXPECT_FALSE(dlg.OK);
    ExpectNoBox();
  }
  for (auto cancel : {std::function<void(TFmTextSet&)>([](TFmTextSet& d) { d.Button2->click(); }),
                      std::function<void(TFmTextSet&)>([](TFmTextSet& d) { d.close(); })}) {
    TFmTextSet dlg(nullptr, "abc", 9);
    EXPECT_FALSE(RunModal(dlg, [&] {
      dlg.EText->setText(QStringLiteral("新"));
      cancel(dlg);
    }));
    EXPECT_FALSE(dlg.OK);
  }
}

// --- TFmBarWidth -----------------------------------------------------------------------

TEST_F(BarWidthTest, WindowAndConstructorValues) {
  for (bool haveCode : {true, false}) {
    SCOPED_TRACE(haveCode);
    TFmBarWidth dlg(nullptr, 3, 12, haveCode);
    EXPECT_EQ(dlg.size(), QSize(221, 139));
    EXPECT_TRUE(dlg.windowTitle().isEmpty());
    EXPECT_EQ(dlg.font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(dlg.EWidth->text(), QStringLiteral("3"));
    EXPECT_EQ(dlg.EFontSize->text(), QStringLiteral("12"));
    EXPECT_TRUE(dlg.EFontSize->isHidden());
    EXPECT_TRUE(dlg.Label2->isHidden());
    EXPECT_EQ(dlg.CbHaveCode->isChecked(), haveCode);
    EXPECT_EQ(dlg.EFontSize->isEnabled(), haveCode) << "a false flag counts as a click";
    EXPECT_EQ(dlg.BarWidth, 3);
    EXPECT_EQ(dlg.FontSize, 0);
    EXPECT_FALSE(dlg.HaveCode);
    EXPECT_FALSE(dlg.OK);
    EXPECT_EQ(dlg.CbHaveCode->text(), QStringLiteral("输出码值"));
    EXPECT_EQ(dlg.CbHaveCode->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(dlg.findChild<QLabel*>("Label1")->text(), QStringLiteral("宽度单位"));
    EXPECT_EQ(dlg.findChild<QPushButton*>("Button1")->text(), QStringLiteral("确定"));
    EXPECT_EQ(dlg.findChild<QPushButton*>("Button2")->text(), QStringLiteral("取消"));
    EXPECT_EQ(dlg.findChild<QCheckBox*>("CbHaveCode"), dlg.CbHaveCode);
    EXPECT_EQ(TabOrder(&dlg), (std::vector<std::string>{"EWidth", "CbHaveCode", "Button1", "Button2"}));
  }
}

TEST_F(BarWidthTest, ClickingTheFlagEnablesTheSize) {
  TFmBarWidth dlg(nullptr, 3, 12, true);
  dlg.CbHaveCode->click();
  EXPECT_FALSE(dlg.EFontSize->isEnabled());
  dlg.CbHaveCode->click();
  EXPECT_TRUE(dlg.EFontSize->isEnabled());
  dlg.CbHaveCode->setChecked(false);  // code, not a click
  EXPECT_TRUE(dlg.EFontSize->isEnabled());
}

TEST_F(BarWidthTest, ConfirmationChecksWidthThenSize) {
  struct Case {
    std::string width;
    std::int32_t size;
    const char* sizeText;  // what the hidden size edit holds, when not the size handed in
    std::string message;   // empty: confirmed
  };
  const Case cases[] = {
      {"1", 2, nullptr, ""},
      {"10", 32, nullptr, ""},
      {"0", 12, nullptr, "宽度单位大小为1~10"},
      {"11", 12, nullptr, "宽度单位大小为1~10"},
      {"", 12, nullptr, "宽度单位错误"},
      {"1.5", 12, nullptr, "宽度单位错误"},
      {"99999999999", 12, nullptr, "宽度单位错误"},
      {"0", 40, nullptr, "宽度单位大小为1~10"},
      {"x", 40, nullptr, "宽度单位错误"},
      {"3", 40, nullptr, "字符大小为2~32"},
      {"3", 1, nullptr, "字符大小为2~32"},
      {"3", 33, nullptr, "字符大小为2~32"},
      {"3", 12, "", "字符大小错误"},
      {"3", 12, "1.", "字符大小错误"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("width \"" + c.width + "\" size " + std::to_string(c.size));
    TFmBarWidth dlg(nullptr, 2, c.size, true);
    if (c.sizeText) dlg.EFontSize->setText(QString::fromUtf8(c.sizeText));
    const bool open = RunModal(dlg, [&] {
      dlg.EWidth->setText(Q(c.width));
      dlg.Button1->click();
    });
    if (c.message.empty()) {
      ExpectNoBox();
      EXPECT_FALSE(open);
      EXPECT_TRUE(dlg.OK);
      EXPECT_EQ(dlg.BarWidth, std::stoi(c.width));
      EXPECT_EQ(dlg.FontSize, c.size);
      EXPECT_TRUE(dlg.HaveCode);
    } else {
      ExpectRefused(&dlg, c.message);
      EXPECT_TRUE(open);
      EXPECT_FALSE(dlg.OK);
      EXPECT_EQ(dlg.EWidth->text(), Q(c.width)) << "values as typed";
    }
  }
}

TEST_F(BarWidthTest, SizeOutsideItsRangeCanOnlyBeCancelled) {
  TFmBarWidth dlg(nullptr, 2, 40, false);
  EXPECT_TRUE(RunModal(dlg, [&] {
    dlg.Button1->click();
    dlg.CbHaveCode->click();
    dlg.Button1->click();
  }));
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, "字符大小为2~32");
  EXPECT_EQ(boxes_[1].text, "字符大小为2~32");
  boxes_.clear();
  EXPECT_FALSE(dlg.OK);
}

TEST_F(BarWidthTest, WithoutReadableLineTheSizeGoesBackUnchanged) {
  TFmBarWidth dlg(nullptr, 4, 9, false);
  EXPECT_FALSE(RunModal(dlg, [&] {
    EXPECT_FALSE(dlg.CbHaveCode->isChecked());
    EXPECT_FALSE(dlg.EFontSize->isEnabled());
    dlg.Button1->click();
  }));
  ExpectNoBox();
  ASSERT_TRUE(dlg.OK);
  EXPECT_FALSE(dlg.HaveCode);
  EXPECT_EQ(dlg.FontSize, 9);
  EXPECT_EQ(dlg.BarWidth, 4);
}

TEST_F(BarWidthTest, CancelPaths) {
  for (auto cancel : {std::function<void(TFmBarWidth&)>([](TFmBarWidth& d) { d.Button2->click(); }),
                      std::function<void(TFmBarWidth&)>([](TFmBarWidth& d) { d.close(); })}) {
    TFmBarWidth dlg(nullptr, 4, 9, true);
    EXPECT_FALSE(RunModal(dlg, [&] { cancel(dlg); }));
    EXPECT_FALSE(dlg.OK);
  }
  TFmBarWidth dlg(nullptr, 4, 9, true);
  EXPECT_TRUE(RunModal(dlg, [&] { QTest::keyClick(dlg.EWidth, Qt::Key_Escape); }));
}

// --- TFmName ---------------------------------------------------------------------------

TEST_F(NameTest, WindowAndStart) {
  TFmName dlg(nullptr);
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("组件名称"));
  EXPECT_EQ(dlg.Label1->text(), QStringLiteral("组件名称"));
  EXPECT_TRUE(dlg.EName->text().isEmpty());
  EXPECT_EQ(dlg.findChild<QLineEdit*>("EName"), dlg.EName);
  EXPECT_TRUE(dlg.findChildren<QPushButton*>().isEmpty());
  EXPECT_EQ(dlg.font().family(), QStringLiteral("宋体"));
  EXPECT_FALSE(dlg.OK);
}

TEST_F(NameTest, EnterConfirmsANameEscCancels) {
  struct Case {
    const char* what;
    QString name;
    Qt::Key key;
    bool ok;
    bool open;
    const char* message;
  };
  const Case cases[] = {
      {"blank name", QStringLiteral("   "), Qt::Key_Return, false, true, "名称不能为空"},
      {"empty name", QString(), Qt::Key_Enter, false, true, "名称不能为空"},
      {"name with blanks", QStringLiteral(" 书名 "), Qt::Key_Return, true, false, nullptr},
      {"keypad Enter", QStringLiteral("ISBN"), Qt::Key_Enter, true, false, nullptr},
      {"Esc", QStringLiteral("ISBN"), Qt::Key_Escape, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFmName dlg(nullptr);
    dlg.EName->setText(QStringLiteral("旧名"));
    const bool open = RunModal(dlg, [&] {
      dlg.EName->setText(c.name);
      QTest::keyClick(dlg.EName, c.key, c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    });
    EXPECT_EQ(open, c.open);
    EXPECT_EQ(dlg.OK, c.ok);
    EXPECT_EQ(dlg.EName->text(), c.name) << "taken as it stands, blanks included";
    if (c.message)
      ExpectRefused(&dlg, c.message);
    else
      ExpectNoBox();
  }
}

TEST_F(NameTest, OtherKeysReachTheEdit) {
  TFmName dlg(nullptr);
  QTest::keyClicks(dlg.EName, "Code 1-a.");
  EXPECT_EQ(dlg.EName->text(), QStringLiteral("Code 1-a."));
  EXPECT_FALSE(RunModal(dlg, [&] { dlg.close(); }));
  EXPECT_FALSE(dlg.OK);
}

}  // namespace
}  // namespace tagwright::testing

namespace tagwright::testing {
namespace {

TEST_F(DialogTest, EveryDialogShowsAtTheScreenCentre) {
  // Owned by a control in a window at the screen's corner, as a view or the page is.
  QWidget window;
  window.setGeometry(0, 0, 300, 200);
  auto* owner = new QWidget(&window);
  owner->setGeometry(10, 10, 50, 50);
  window.show();
  TFmPageSet page(owner);
  TFmTextSet text(owner, "a", 9);
  TFmBarWidth bar(owner, 2, 9, true);
  TFmName name(owner);
  for (QDialog* d : std::initializer_list<QDialog*>{&page, &text, &bar, &name}) {
    SCOPED_TRACE(d->objectName().toStdString());
    d->show();
    const QPoint off = d->frameGeometry().center() - d->screen()->geometry().center();
    EXPECT_LE(off.manhattanLength(), 2);
    d->close();
  }
}

}  // namespace
}  // namespace tagwright::testing
