#include "platform/ui.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>
#include <vector>

using namespace platform::ui;

TEST(MessageBox, InterceptorSeesTheBoxAndAnswersIt) {
  std::vector<Box> seen;
  SetMessageBoxInterceptor([&](const Box& b) {
    seen.push_back(b);
    return Answer::No;
  });
  EXPECT_EQ(MessageBox(nullptr, "询问", "是否与集群中心同步所有数据", Icon::Question, Buttons::YesNo),
            Answer::No);
  SetMessageBoxInterceptor({});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "询问");
  EXPECT_EQ(seen[0].text, "是否与集群中心同步所有数据");
  EXPECT_EQ(seen[0].icon, Icon::Question);
  EXPECT_EQ(seen[0].buttons, Buttons::YesNo);
}

TEST(MessageBox, RealBoxReturnsTheButtonPressed) {
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        EXPECT_EQ(box->windowTitle(), QString::fromUtf8("系统提示"));
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        box->button(QMessageBox::Yes)->click();
      }
    }
  });
  EXPECT_EQ(MessageBox(nullptr, "系统提示", "text", Icon::Information, Buttons::YesNo), Answer::Yes);
}

namespace {
class Thrower : public QObject {
 protected:
  void timerEvent(QTimerEvent*) override { throw std::runtime_error("连接失败"); }
};
}  // namespace

TEST(Application, AnUncaughtErrorEndsTheEventWithAnErrorBoxAndTheProgramGoesOn) {
  std::vector<Box> seen;
  SetMessageBoxInterceptor([&](const Box& b) {
    seen.push_back(b);
    return Answer::Ok;
  });
  Thrower t;
  int id = t.startTimer(0);
  bool afterwards = false;
  QTimer::singleShot(20, [&] {
    afterwards = true;
    QApplication::quit();
  });
  QApplication::exec();
  t.killTimer(id);
  SetMessageBoxInterceptor({});
  EXPECT_TRUE(afterwards);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].title, "错误");
  EXPECT_EQ(seen[0].text, "连接失败");
  EXPECT_EQ(seen[0].icon, Icon::Error);
}

TEST(MessageBox, WithoutAUserBoxesGoToStandardErrorAndAreAnsweredAsClosed) {
  SendMessageBoxesToStandardError();
  struct Case {
    Buttons buttons;
    Answer want;
  } cases[] = {{Buttons::Ok, Answer::Ok}, {Buttons::OkCancel, Answer::Cancel}, {Buttons::YesNo, Answer::No}};
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    const Answer a = MessageBox(nullptr, "错误", "连接数据库失败，请检查数据库配置！", Icon::Error, c.buttons);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "错误: 连接数据库失败，请检查数据库配置！\n");
    EXPECT_EQ(a, c.want);
  }
  SetMessageBoxInterceptor({});
}
