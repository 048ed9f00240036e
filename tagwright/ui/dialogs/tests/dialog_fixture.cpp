#include "dialog_fixture.h"

#include <QTimer>
#include <QWidget>

#include "platform/fonts.h"

namespace tagwright::testing {
namespace {

class FontEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { platform::fonts::SubstituteWindowsFonts(); }
};

[[maybe_unused]] ::testing::Environment* const kFonts =
    ::testing::AddGlobalTestEnvironment(new FontEnvironment);

}  // namespace

void DialogTest::SetUp() {
  platform::ui::SetMessageBoxInterceptor([this](const platform::ui::Box& b) {
    boxes_.push_back(b);
    return platform::ui::Answer::Ok;
  });
}

void DialogTest::TearDown() { platform::ui::SetMessageBoxInterceptor({}); }

bool DialogTest::RunModal(QDialog& dlg, const std::function<void()>& during) {
  bool open = false;
  QTimer::singleShot(0, &dlg, [&] {
    during();
    open = dlg.isVisible();
    if (open) dlg.reject();
  });
  dlg.exec();
  return open;
}

void DialogTest::ExpectRefused(const QWidget* owner, const std::string& text) {
  ASSERT_EQ(boxes_.size(), 1u) << "expected the one box \"" << text << "\"";
  const platform::ui::Box& b = boxes_.front();
  EXPECT_EQ(b.text, text);
  EXPECT_EQ(b.title, "错误");
  EXPECT_EQ(b.icon, platform::ui::Icon::Error);
  EXPECT_EQ(b.buttons, platform::ui::Buttons::Ok);
  EXPECT_EQ(b.owner, owner);
  boxes_.clear();
}

void DialogTest::ExpectNoBox() {
  EXPECT_TRUE(boxes_.empty()) << "unexpected box \"" << boxes_.front().text << "\"";
  boxes_.clear();
}

std::vector<std::string> DialogTest::TabOrder(const QWidget* window) {
  std::vector<std::string> names;
  for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden()) names.push_back(w->objectName().toStdString());
  return names;
}

}  // namespace tagwright::testing
