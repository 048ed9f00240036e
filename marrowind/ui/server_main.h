// The program's main form: never shown; the tray icon and its menu are the whole user
// interface. It owns the sync timer and the worker, and closing it ends the program.
#pragma once

#include <QWidget>

#include <chrono>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace marrowind {

class TDs;
class TFmBookDataSet;
class TFmGroupSet;
class TGroupThread;

class TFmServerMain : public QWidget {
 public:
  // Builds the form and its menu and runs FormCreate.
  explicit TFmServerMain(TDs& ds);
  // FormDestroy: the tray icon goes.
  ~TFmServerMain() override;

  // Completes start-up: machine key, menu for a service start, tray icon, the worker
  // (suspended), the sync timer (armed only when the database is connected; otherwise
  // the start-up message).
  void Initialize(bool fromService);

  // The delay of the first tick once the timer is armed; later ticks follow at the
  // timer's interval. Takes effect at Initialize.
  void SetFirstTickDelay(std::chrono::milliseconds delay) { firstTick_ = delay; }

  // The menu's items. One chosen while a sync tick waits gives the tick up and runs
  // once it has ended.
  void NGroupClick();
  void miPropertiesClick();
  void miCloseClick();
  // Asks the worker to end and waits for it at most TGroupThread::kExitWait, once.
  void StopGroupThread();

  bool FromService() const { return FromService_; }
  // True once the form has closed: the program is ending.
  bool Closed() const { return closed_; }
  // False when a worker exists that has not ended (after StopGroupThread: one still
  // inside a batch when the wait ran out).
  bool WorkerEnded();

  QMenu* PopupMenu;
  QAction* NGroup;
  QAction* N3;
  QAction* miProperties;
  QAction* N1;
  QAction* miClose;
  // The sync timer; made by Initialize.
  QTimer* TSer = nullptr;
  // The tray icon, made by Initialize whether or not the desktop has a tray: it
  // appears when one comes up. None on a platform without a screen.
  QSystemTrayIcon* TrayIcon = nullptr;
  // The worker; made by Initialize.
  std::unique_ptr<TGroupThread> GroupThread;
  // The open dialogs, or none.
  TFmGroupSet* FmGroupSet = nullptr;
  TFmBookDataSet* FmBookDataSet = nullptr;

 protected:
  // FormClose: the program is ending (every wait gives up), the worker is asked to
  // end and waited for (after the waits have unwound when the close came inside one),
  // then every event loop of the program ends.
  void closeEvent(QCloseEvent* event) override;
  // The application's quit request (the session manager's at log-out) closes the form.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void ReadSettings();
  void AddTrayIcon();
  void TSerTimer();

  TDs& Ds;
  bool FromService_ = false;
  bool closed_ = false;
  bool groupSetOpening_ = false;
  bool workerStopped_ = false;
  std::chrono::milliseconds firstTick_;
};

}  // namespace marrowind
