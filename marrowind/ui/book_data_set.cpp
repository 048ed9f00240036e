#include "marrowind/ui/book_data_set.h"

#include <codemill.h>

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyle>

#include <string>

#include "marrowind/core/data_sou.h"
#include "marrowind/ui/dialog_keys.h"
#include "marrowind/ui/operation.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace marrowind {
namespace {

constexpr char kSection[] = "Connection";

QString FromCp936(const std::string& bytes) { return QString::fromStdString(platform::text::Cp936ToUtf8(bytes)); }
std::string ToCp936(const QLineEdit* edit) { return platform::text::Utf8ToCp936(edit->text().toStdString()); }

// GetPassword's text is the library's until the next call: copy it at once.
std::string Scramble(const std::string& text) {
  const char* result = GetPassword(text.c_str());
  return result ? std::string(result) : std::string();
}

}  // namespace

TFmBookDataSet::TFmBookDataSet(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FmBookDataSet"));
  setWindowTitle(QStringLiteral("设置数据库"));
  // Single fixed border with the system menu and a minimise box, no maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(13);
  setFont(font);
  setFixedSize(304, 140);
  // Modal to itself only: the tray menu stays usable while it is open.
  setWindowModality(Qt::WindowModal);
  InstallEventLoopWaits();

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outer, raised inner bevel
  Panel1->setGeometry(0, 0, 304, 140);

  auto label = [&](const char* name, const char* caption, int y) {
    auto* l = new QLabel(QString::fromUtf8(caption), Panel1);
    l->setObjectName(QString::fromUtf8(name));
    l->setGeometry(16, y, 56, 21);
    return l;
  };
  auto edit = [&](const char* name, QLabel* buddy) {
    auto* e = new QLineEdit(Panel1);
    e->setObjectName(QString::fromUtf8(name));
    e->setGeometry(76, buddy->y(), 122, 21);
    buddy->setBuddy(e);
    return e;
  };
  auto button = [&](const char* name, const char* caption, QStyle::StandardPixmap picture, int y) {
    auto* b = new QPushButton(style()->standardIcon(picture), QString::fromUtf8(caption), Panel1);
    b->setObjectName(QString::fromUtf8(name));
    b->setGeometry(214, y, 75, 25);
    return b;
  };
  Label1 = label("Label1", "服务器名", 16);
  EServerName = edit("EServerName", Label1);
  Label2 = label("Label2", "数据库名", 44);
  EDataBaseName = edit("EDataBaseName", Label2);
  Label3 = label("Label3", "登陆用户", 72);
  EUser = edit("EUser", Label3);
  Label4 = label("Label4", "密码", 100);
  EPassword = edit("EPassword", Label4);
  EPassword->setEchoMode(QLineEdit::Password);
  EPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  BitBtn2 = button("BitBtn2", "测试链接", QStyle::SP_BrowserReload, 16);
  BitBtn1 = button("BitBtn1", "确定", QStyle::SP_DialogOkButton, 57);
  BitBtn3 = button("BitBtn3", "取消", QStyle::SP_DialogCancelButton, 98);

  QWidget* order[] = {EServerName, EDataBaseName, EUser, EPassword, BitBtn2, BitBtn1, BitBtn3};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  EServerName->setFocus();

  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
  // The form sees every key before its controls.
  InstallDialogKeys(this, [this] { FormKeyPress(); });

  FormCreate();
}

TFmBookDataSet::~TFmBookDataSet() = default;

void TFmBookDataSet::FormCreate() {
  IniFile = std::make_unique<platform::profile::IniFile>(platform::module::ProgramFolder() / "DataSet.ini",
                                                         platform::profile::IniFile::WriteMode::OnFlush);
  LoadSettings();
}

void TFmBookDataSet::LoadSettings() {
  EServerName->setText(FromCp936(IniFile->ReadString(kSection, "Server Name", "")));
  EDataBaseName->setText(FromCp936(IniFile->ReadString(kSection, "DataBase Name", "")));
  EUser->setText(FromCp936(IniFile->ReadString(kSection, "User Name", "")));
  loadedPassword_ = Scramble(IniFile->ReadString(kSection, "Password", ""));
  // Read as code page 936, the ten 0xDF bytes of no password would be five characters.
  shownPassword_ =
      loadedPassword_ == Scramble("") ? QString::fromLatin1(loadedPassword_) : FromCp936(loadedPassword_);
  EPassword->setText(shownPassword_);
}

std::string TFmBookDataSet::PlainPassword() const {
  return EPassword->text() == shownPassword_ ? loadedPassword_ : ToCp936(EPassword);
}

void TFmBookDataSet::SaveSettings() {
  const std::string stored = Scramble(PlainPassword());
  if (stored.find_first_of("\r\n") != std::string::npos) {
    // The scrambled bytes are no text: the message names the password instead.
    throw platform::profile::ProfileError("这个密码加密后无法写入 DataSet.ini，请换一个密码");
  }
  IniFile->WriteString(kSection, "Server Name", ToCp936(EServerName));
  IniFile->WriteString(kSection, "DataBase Name", ToCp936(EDataBaseName));
  IniFile->WriteString(kSection, "User Name", ToCp936(EUser));
  IniFile->WriteString(kSection, "Password", stored);
  IniFile->Flush();
}

void TFmBookDataSet::BitBtn2Click() {
  if (testing_) return;
  if (!TOperation::ClearOfTick(this, [this] { BitBtn2Click(); })) return;
  bool connected = false, givenUp = false;
  {
    TOperation test(TOperation::Kind::Dialog, this);
    const QScopedValueRollback<bool> underWay(testing_, true);
    Test.Close();
    Test.SetConnectionString("", {});
    // The password as typed: the test is made before anything is stored.
    SetConnectionSettings(Test, ToCp936(EServerName), ToCp936(EDataBaseName), ToCp936(EUser), PlainPassword());
    try {
      Test.Open();
      connected = Test.Connected();
    } catch (const std::exception&) {
      connected = false;
    }
    givenUp = test.GivenUp();
  }
  if (closeAfterTest_) {
    close();  // closed while the test ran: now that it has let go of the connection
    return;
  }
  if (givenUp) return;
  platform::ui::MessageBox(this, "信息", connected ? "成功链接到目标数据库！" : "无法链接到目标数据库！",
                           platform::ui::Icon::Information);
}

void TFmBookDataSet::BitBtn1Click() {
  SaveOnClose = true;
  close();
}

void TFmBookDataSet::BitBtn3Click() {
  SaveOnClose = false;
  close();
}

void TFmBookDataSet::FormKeyPress() { focusNextPrevChild(true); }

void TFmBookDataSet::closeEvent(QCloseEvent* event) {
  if (testing_) {
    // The test connection is inside its call: it is given up, and the dialog closes
    // once the call has returned.
    if (TOperation* test = TOperation::Of(this)) test->Abandon();
    closeAfterTest_ = true;
    event->ignore();
    return;
  }
  closeAfterTest_ = false;
  if (SaveOnClose && IniFile) {
    try {
      SaveSettings();
    } catch (const std::exception& e) {
      // Closing as if saved would lose the settings without a word: say so and stay.
      SaveOnClose = false;
      platform::ui::MessageBox(this, "错误", std::string("无法保存数据库配置：") + e.what(), platform::ui::Icon::Error);
      event->ignore();
      return;
    }
  }
  Test.Close();
  IniFile.reset();
  QDialog::closeEvent(event);
}

}  // namespace marrowind
