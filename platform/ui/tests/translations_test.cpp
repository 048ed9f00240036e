// Qt's own texts on a Chinese desktop. The program starts as the programs do for a user
// whose only locale setting is LANG=zh_CN.UTF-8.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <cstdlib>
#include <ostream>
#include <vector>

#include "platform/ui.h"

// Failures show the texts, not their UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace {

using namespace platform::ui;

// A button's text without its "(&Y)" mnemonic.
QString Caption(const QAbstractButton* button) {
  QString text = button->text();
  text.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&")));
  return text;
}

// Runs a message box of the programs and reads its buttons' captions while it is open.
std::vector<QString> Captions(Buttons buttons, const char* title, const char* text) {
  std::vector<QString> captions;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      EXPECT_EQ(box->windowTitle(), QString::fromUtf8(title));
      EXPECT_EQ(box->text(), QString::fromUtf8(text));
      for (QMessageBox::StandardButton b :
           {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
        if (QAbstractButton* button = box->button(b)) captions.push_back(Caption(button));
      }
      box->reject();
    }
  });
  MessageBox(nullptr, title, text, Icon::Question, buttons);
  return captions;
}

TEST(QtTexts, TheStandardButtonsOfTheBoxesAreChineseAndTheProgramsTextsStayAsTheyAre) {
  EXPECT_EQ(Captions(Buttons::YesNo, "询问", "是否与集群中心同步所有数据"),
            (std::vector<QString>{QStringLiteral("是"), QStringLiteral("否")}));
  EXPECT_EQ(Captions(Buttons::OkCancel, "系统提示", "Connection failed"),
            (std::vector<QString>{QStringLiteral("确定"), QStringLiteral("取消")}));
}

TEST(QtTexts, FileDialogsAreChinese) {
  QFileDialog dialog(nullptr, QString(), QString(), QStringLiteral("标签模板*.Lab (*.Lab)"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  EXPECT_EQ(Caption(buttons->button(QDialogButtonBox::Open)), QStringLiteral("打开"));
  EXPECT_EQ(Caption(buttons->button(QDialogButtonBox::Cancel)), QStringLiteral("取消"));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LANG", "zh_CN.UTF-8", 1);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) unsetenv(name);
  ::testing::InitGoogleTest(&argc, argv);
  Application app(argc, argv);
  return RUN_ALL_TESTS();
}
