#include "marrowind/ui/group_set.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/ui/dialog_keys.h"
#include "marrowind/ui/operation.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace marrowind {

using platform::ui::Buttons;
using platform::ui::Icon;

const char kRefillStatement[] =
    "delete from DataChange "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'P',SortId,'I' from Inf_Periodical "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'J',Id,'I' from inf_Borrow "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'R',读者编号,'I' from Inf_Reader "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'D',BillId,'I' from B_Destory where checkOut=1 ";

namespace {

std::string Text(const QLineEdit* e) { return e->text().toStdString(); }
std::string Trimmed(const QLineEdit* e) { return std::string(platform::text::Trim(Text(e))); }
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string WithSlash(std::string url) {
  if (url.empty() || url.back() != '/') url += '/';
  return url;
}

// QLineEdit::setText cuts a text to the edit's length limit; the limit is for typing,
// so a longer stored value widens it and stays whole.
void SetWhole(QLineEdit* e, const QString& text) {
  if (text.size() > e->maxLength()) e->setMaxLength(static_cast<int>(text.size()));
  e->setText(text);
}

}  // namespace

TFmGroupSet::TFmGroupSet(TDs& ds, TGroupThread* groupThread, QWidget* parent)
    : QDialog(parent), Ds(ds), GroupThread(groupThread) {
  setObjectName(QStringLiteral("FmGroupSet"));
  setWindowTitle(QStringLiteral("数据集群中心设置"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(13);
  setFont(font);
  setFixedSize(477, 126);
  // Modal to itself only: the tray menu stays usable while it is open.
  setWindowModality(Qt::WindowModal);
  InstallEventLoopWaits();

  auto label = [&](const char* name, const char* caption, int x, int y, int width) {
    auto* l = new QLabel(QString::fromUtf8(caption), this);
    l->setObjectName(QString::fromUtf8(name));
    l->setGeometry(x, y, width, 21);
    return l;
  };
  auto edit = [&](const char* name, QLabel* buddy, int x, int width, int maxLength) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromUtf8(name));
    e->setGeometry(x, buddy->y(), width, 21);
    e->setMaxLength(maxLength);
    buddy->setBuddy(e);
    return e;
  };
  auto button = [&](const char* name, const char* caption, int x) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(QString::fromUtf8(name));
    b->setGeometry(x, 86, 75, 25);
    return b;
  };
  Label1 = label("Label1", "中心地址", 24, 16, 56);
  EGroupUrl = edit("EGroupUrl", Label1, 88, 353, 100);
  EGroupUrl->setText(QStringLiteral("Http://"));
  Label2 = label("Label2", "本馆ID", 24, 50, 56);
  EGroupId = edit("EGroupId", Label2, 88, 139, 10);
  Label3 = label("Label3", "校验码", 246, 50, 48);
  ECheckNum = edit("ECheckNum", Label3, 302, 139, 30);
  ECheckNum->setEchoMode(QLineEdit::Password);
  ECheckNum->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  BLogion = button("BLogion", "集群测试", 88);
  BSynchro = button("BSynchro", "数据同步", 227);
  BSynchro->setEnabled(false);
  BClose = button("BClose", "返回", 366);

  QWidget* order[] = {EGroupUrl, BLogion, EGroupId, ECheckNum, BClose, BSynchro};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  EGroupUrl->setFocus();

  connect(BLogion, &QPushButton::clicked, this, [this] { BLogionClick(); });
  connect(BSynchro, &QPushButton::clicked, this, [this] { BSynchroClick(); });
  connect(BClose, &QPushButton::clicked, this, [this] { BCloseClick(); });
  InstallDialogKeys(this);

  FormCreate();
}

void TFmGroupSet::FormCreate() {
  {
    TOperation read(TOperation::Kind::Dialog, this);
    ReadGroupSettings(Ds);
  }
  SetWhole(EGroupUrl, Q(GroupUrl.Get()));
  SetWhole(EGroupId, Q(GroupId.Get()));
  SetWhole(ECheckNum, Q(GroupPw.Get()));
  const std::string url = Text(EGroupUrl);
  if (url.empty() || url == kUnconfiguredUrl) return;
  opening_ = true;
  QTimer::singleShot(0, this, [this] { OpeningTest(); });
}

void TFmGroupSet::OpeningTest() {
  if (!TOperation::ClearOfTick(this, [this] { OpeningTest(); })) return;
  try {
    TestLogin(Text(EGroupUrl), Text(EGroupId), Text(ECheckNum));  // silent either way
  } catch (const ESilentAbort&) {
    // Unreachable center, or closed meanwhile: the dialog stays untested.
  }
  opening_ = false;
}

bool TFmGroupSet::Busy() const { return opening_ || TOperation::Of(this); }

bool TFmGroupSet::TestLogin(const std::string& url, const std::string& groupId, const std::string& checkCode) {
  std::string dynNum;
  {
    TOperation login(TOperation::Kind::Dialog, this);
    const QScopedValueRollback<TOperation*> abandonable(login_, &login);
    if (!HttpGetResult(LoginUrl(WithSlash(url), groupId, checkCode), dynNum)) return false;
  }
  DynNum.Set(dynNum);
  EGroupUrl->setReadOnly(true);
  EGroupId->setReadOnly(true);
  ECheckNum->setReadOnly(true);
  BLogion->setEnabled(false);
  BSynchro->setEnabled(true);
  return true;
}

void TFmGroupSet::BLogionClick() {
  if (Busy()) return;
  if (!TOperation::ClearOfTick(this, [this] { BLogionClick(); })) return;
  const std::string url = Trimmed(EGroupUrl);
  const std::string groupId = Trimmed(EGroupId);
  const std::string checkCode = Trimmed(ECheckNum);
  if (url.empty() || url == kUnconfiguredUrl) {
    platform::ui::MessageBox(this, "错误", "没有输入中心地址！", Icon::Error);
    return;
  }
  if (groupId.empty()) {
    platform::ui::MessageBox(this, "错误", "没有输入本馆ID!", Icon::Error);
    return;
  }
  if (checkCode.empty()) {
    platform::ui::MessageBox(this, "错误", "没有输入校验码！", Icon::Error);
    return;
  }
  bool passed = false;
  try {
    passed = TestLogin(url, groupId, checkCode);
  } catch (const ESilentAbort&) {
    return;  // the center cannot be reached: the click ends without a word
  }
  if (!passed) {
    platform::ui::MessageBox(this, "系统提示", "集群测试未通过,请确认输入的机群效验信息和网络连接！", Icon::Error);
    return;
  }
  // SystemRul keeps the address as typed; the values' quotes are doubled. The test has
  // passed: closing the dialog no longer stops the storing, only the program's end.
  bool stored = false;
  {
    TOperation store(TOperation::Kind::Dialog, this);
    stored = Ds.ExecSql("Update SystemRul Set Content='" + SqlQuoted(url) + "' where SystemCode=14 ");
    stored = Ds.ExecSql("Update SystemRul Set Content='" + SqlQuoted(groupId) + "' where SystemCode=15") && stored;
    stored = Ds.ExecSql("Update SystemRul Set Content='" + SqlQuoted(checkCode) + "' where SystemCode=16") && stored;
  }
  GroupUrl.Set(WithSlash(url));
  GroupId.Set(groupId);
  GroupPw.Set(checkCode);
  if (ProgramEnding() || closed_) return;  // nobody to tell
  if (!stored) {
    // The next tick reads the settings from the database again: say that they are not there.
    platform::ui::MessageBox(this, "错误", "集群测试已通过，但设置未能保存到数据库！", Icon::Error);
    return;
  }
  platform::ui::MessageBox(this, "系统提示", "集群测试已通过，现在可开始数据同步！", Icon::Information);
}

void TFmGroupSet::BSynchroClick() {
  if (Busy()) return;
  if (!TOperation::ClearOfTick(this, [this] { BSynchroClick(); })) return;
  if (platform::ui::MessageBox(this, "询问", "是否与集群中心同步所有数据", Icon::Question, Buttons::YesNo) !=
      platform::ui::Answer::Yes) {
    return;
  }
  // No tick runs while the question waits for its answer, so none is under way here.
  bool refilled = false, rows = false;
  {
    TOperation resync(TOperation::Kind::Dialog, this);
    // The worker stops between batches (a post under way is abandoned) and gives up
    // the snapshot before the journal is replaced under it.
    if (GroupThread) GroupThread->Stop();  // nothing to do for a suspended one
    refilled = Ds.ExecSql(kRefillStatement);
    try {
      rows = refilled && Ds.OpenDataChange();
    } catch (const std::exception&) {
      if (ProgramEnding()) return;  // the program's end gave the snapshot up
      throw;
    }
  }
  if (!refilled) {
    // One transaction: the old journal is whole, and the next tick goes on with it.
    if (ProgramEnding() || closed_) return;  // nobody to tell
    platform::ui::MessageBox(this, "错误", "数据同步失败，集群中心的数据未被重新生成！", Icon::Error);
    return;
  }
  if (!rows) return;  // nothing to send: the worker stays idle
  if (GroupThread) GroupThread->Resume();
  if (ProgramEnding() || closed_) return;
  platform::ui::MessageBox(this, "系统提示", "数据同步将在后台运行，你可以继续其它操作", Icon::Information);
  close();
}

void TFmGroupSet::BCloseClick() { close(); }

void TFmGroupSet::closeEvent(QCloseEvent* event) {
  if (login_) login_->Abandon();
  closed_ = true;
  QDialog::closeEvent(event);
}

}  // namespace marrowind
