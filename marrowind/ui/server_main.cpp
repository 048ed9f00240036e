#include "marrowind/ui/server_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "marrowind/ui/book_data_set.h"
#include "marrowind/ui/group_set.h"
#include "marrowind/ui/operation.h"
#include "platform/service.h"
#include "platform/ui.h"

namespace marrowind {
namespace {

// The program's icon: a book on the tray's background, drawn here rather than shipped.
QIcon ProgramIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x5f, 0xa8));
  p.drawRoundedRect(QRectF(2, 4, 28, 24), 4, 4);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(6, 8, 9, 16));
  p.drawRect(QRectF(17, 8, 9, 16));
  p.setBrush(QColor(0xf0, 0xa0, 0x30));
  p.drawEllipse(QRectF(22, 20, 8, 8));
  return QIcon(pixmap);
}

}  // namespace

TFmServerMain::TFmServerMain(TDs& ds) : Ds(ds), firstTick_(kSerInterval) {
  setObjectName(QStringLiteral("FmServerMain"));
  setWindowTitle(QStringLiteral("FmServerMain"));
  setFont(QFont(QStringLiteral("MS Sans Serif")));
  setWindowIcon(ProgramIcon());

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  NGroup = PopupMenu->addAction(QStringLiteral("集群中心设置"));
  NGroup->setObjectName(QStringLiteral("NGroup"));
  N3 = PopupMenu->addSeparator();
  N3->setObjectName(QStringLiteral("N3"));
  miProperties = PopupMenu->addAction(QStringLiteral("数据库配置"));
  miProperties->setObjectName(QStringLiteral("miProperties"));
  N1 = PopupMenu->addSeparator();
  N1->setObjectName(QStringLiteral("N1"));
  miClose = PopupMenu->addAction(QStringLiteral("退出(&Q)"));
  miClose->setObjectName(QStringLiteral("miClose"));
  connect(NGroup, &QAction::triggered, this, [this] { NGroupClick(); });
  connect(miProperties, &QAction::triggered, this, [this] { miPropertiesClick(); });
  connect(miClose, &QAction::triggered, this, [this] { miCloseClick(); });

  // Its waits keep the event loop turning.
  InstallEventLoopWaits();
  QCoreApplication::instance()->installEventFilter(this);

  FormCreate();
}

TFmServerMain::~TFmServerMain() {
  if (TrayIcon) TrayIcon->hide();
  delete TrayIcon;
}

void TFmServerMain::FormCreate() {
  // Decided once: HaveGroup does not change after start-up.
  NGroup->setVisible(HaveGroup);
}

void TFmServerMain::Initialize(bool fromService) {
  FromService_ = fromService;
  ReadSettings();
  if (FromService_) {
    // A service is stopped by the service manager, not from its menu.
    miClose->setVisible(false);
    N1->setVisible(false);
  }
  AddTrayIcon();
  GroupThread = std::make_unique<TGroupThread>(Ds);  // suspended until a tick resumes it

  TSer = new QTimer(this);
  TSer->setObjectName(QStringLiteral("TSer"));
  TSer->setInterval(kSerInterval);
  connect(TSer, &QTimer::timeout, this, [this] { TSerTimer(); });
  if (!Ds.AcData.Connected()) {
    platform::ui::MessageBox(nullptr, "错误", "连接数据库失败，请检查数据库配置！", platform::ui::Icon::Error);
    return;
  }
  TSer->start(firstTick_);
}

void TFmServerMain::ReadSettings() {
  // Nothing is kept there; a user without the rights to it loses nothing.
  platform::service::OpenMachineKey("\\SOFTWARE\\Velmora\\TomevaleSer");
}

void TFmServerMain::AddTrayIcon() {
  // Made also without a tray (the program may start before the desktop's panel): Qt
  // shows the icon as soon as a tray comes up, and again after a tray's restart. A
  // platform without a screen (the service's) never has one.
  if (TrayIcon) return;
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
  TrayIcon = new QSystemTrayIcon(windowIcon());
  TrayIcon->setToolTip(QStringLiteral("Tomevale图书馆系统服务"));
  TrayIcon->setContextMenu(PopupMenu);  // opened at the cursor by a right click
  TrayIcon->show();
}

void TFmServerMain::TSerTimer() {
  if (TSer->intervalAsDuration() != kSerInterval) TSer->setInterval(kSerInterval);  // after a shortened first tick
  // A tick never overlaps itself, and one that falls while a login or a dialog's
  // request is under way is passed over: the next tries again. So is one while a
  // message box waits for its answer, which a tick's wait inside it would hold up.
  if (TOperation::AnyUnderWay() || ProgramEnding()) return;
  if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) return;
  TOperation tick(TOperation::Kind::Tick, this);
  try {
    marrowind::TSerTimer(Ds, GroupThread.get());
  } catch (const ESilentAbort&) {
    // The center cannot be reached, or the tick was given up: the next tick tries again.
  } catch (const std::exception& e) {
    // A wait given up fails its call; that is no error to report.
    if (!tick.GivenUp()) platform::ui::Application::ShowException(e.what());
  }
}

void TFmServerMain::NGroupClick() {
  if (FmGroupSet || groupSetOpening_) return;  // one settings dialog at a time
  if (!TOperation::ClearOfTick(this, [this] { NGroupClick(); })) return;
  groupSetOpening_ = true;  // its creation may wait for the database
  TFmGroupSet dialog(Ds, GroupThread.get());
  groupSetOpening_ = false;
  if (ProgramEnding()) return;
  FmGroupSet = &dialog;
  dialog.exec();
  FmGroupSet = nullptr;
}

void TFmServerMain::miPropertiesClick() {
  if (!TOperation::ClearOfTick(this, [this] { miPropertiesClick(); })) return;
  TFmBookDataSet dialog;
  TFmBookDataSet* const previous = FmBookDataSet;
  FmBookDataSet = &dialog;
  dialog.exec();
  FmBookDataSet = previous;
}

void TFmServerMain::miCloseClick() { close(); }

void TFmServerMain::StopGroupThread() {
  if (!GroupThread || workerStopped_) return;
  workerStopped_ = true;
  try {
    GroupThread->Terminate();
    GroupThread->WaitFor(TGroupThread::kExitWait);
  } catch (...) {
    // Stopping must never keep the program from ending.
  }
}

bool TFmServerMain::WorkerEnded() {
  return !GroupThread || GroupThread->WaitFor(std::chrono::milliseconds(0));
}

void TFmServerMain::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    SetProgramEnding(true);
    if (GroupThread) GroupThread->Terminate();
    // Inside a wait the main thread may hold the connection the worker needs: the wait
    // for the worker comes once the waits have unwound (the program's end does it).
    if (!TOperation::AnyUnderWay()) StopGroupThread();
    // Every loop, the nested ones included; a dialog cannot refuse it.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
  }
  event->accept();
}

bool TFmServerMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
    close();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace marrowind
