// Marrowind's start-up. One copy per user runs at a time. Started by the service
// manager (the unit's account is this process's), it runs headless: data module,
// worker and sync tick, no tray and no dialogs, its messages on standard error, until
// the manager stops it; a database it cannot open ends it with status 1, so that the
// manager starts it again later. Otherwise it lives in the tray until "退出" is chosen
// or the desktop session ends.
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <iostream>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/ui/operation.h"
#include "marrowind/ui/server_main.h"
#include "platform/service.h"
#include "platform/stop_signal.h"
#include "platform/fonts.h"
#include "platform/ui.h"

namespace {

constexpr char kInstanceGuardName[] = "SCKTSRVR";

// TOMEVALE_TICK_MS: the delay of the first sync tick in milliseconds, for trying the
// program out; the ticks after it keep the timer's interval.
std::optional<std::chrono::milliseconds> FirstTickDelay() {
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue("TOMEVALE_TICK_MS", &ok);
  if (!ok || ms <= 0) return std::nullopt;
  return std::chrono::milliseconds(ms);
}

int Run(int argc, char** argv) {
  using platform::service::InstallSwitch;
  using platform::service::InstanceGuard;

  const InstallSwitch installSwitch = platform::service::FindInstallSwitch(argc, argv);
  if (installSwitch != InstallSwitch::None) {
    // The service is a systemd unit that the administrator installs; there is no
    // service of this program's own to register or remove, and nothing runs.
    std::cerr << "marrowind: " << (installSwitch == InstallSwitch::Install ? "INSTALL" : "UNINSTALL")
              << ": nothing is installed or removed; the service is the systemd unit "
              << platform::service::UnitNameFor(platform::service::kServiceName)
              << " (see TomevaleServer.service beside the program's sources)" << std::endl;
    return 0;
  }

  const InstanceGuard guard = InstanceGuard::Acquire(kInstanceGuardName);
  const bool asService = platform::service::IsRunningAsService();
  // Under the service manager no window ever opens, whatever display there is.
  if (asService) qputenv("QT_QPA_PLATFORM", "offscreen");

  platform::ui::Application app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // the main form is never shown
  platform::fonts::SubstituteWindowsFonts();
  // Nobody answers a box of the service; the journal keeps standard error.
  if (asService || qEnvironmentVariable("TOMEVALE_MESSAGE_BOXES") == QStringLiteral("stderr")) {
    platform::ui::SendMessageBoxesToStandardError();
  }

  if (guard.status() == InstanceGuard::Status::AlreadyHeld) {
    platform::ui::MessageBox(nullptr, "TomevaleServer", "The Socket Server is already running",
                             platform::ui::Icon::Error);
    return 1;
  }
  if (guard.status() == InstanceGuard::Status::Failed) {
    // As when the named mutex cannot be made: the program runs without the guard.
    std::cerr << "marrowind: no single-instance lock: " << guard.error() << std::endl;
  }

  // From here on a database lock is waited for with the event loop turning, so the
  // stop signal is heard during the start-up's connection too.
  marrowind::InstallEventLoopWaits();
  marrowind::TFmServerMain* form = nullptr;
  platform::ui::StopSignal stop([&form](int) {
    if (form) {
      form->close();
    } else {
      marrowind::SetProgramEnding(true);
    }
  });

  marrowind::TDs Ds;
  try {
    Ds.DataModuleCreate();
  } catch (const std::exception& e) {
    // The journal probe failed: reported, and the cluster features stay off.
    if (!marrowind::ProgramEnding()) platform::ui::Application::ShowException(e.what());
  }
  if (marrowind::ProgramEnding()) return 0;  // stopped while connecting

  marrowind::TFmServerMain FmServerMain(Ds);
  form = &FmServerMain;
  if (const auto delay = FirstTickDelay()) FmServerMain.SetFirstTickDelay(*delay);
  FmServerMain.Initialize(asService);
  if (asService && !FmServerMain.Closed() && !Ds.AcData.Connected()) {
    // Nothing would ever sync: the start-up message is on standard error; the service
    // manager restarts the program after the unit's pause.
    FmServerMain.StopGroupThread();
    return 1;
  }

  const int code = FmServerMain.Closed() ? 0 : QApplication::exec();
  // Once every wait has unwound: a close inside one left the worker unwaited, and an
  // abandoned login's helper thread is on its way out.
  FmServerMain.StopGroupThread();
  marrowind::LoginHelpersEnded(marrowind::TGroupThread::kExitWait);
  if (!FmServerMain.WorkerEnded()) {
    // A worker still inside a batch after the exit wait uses the data module: end
    // the process here instead of destroying what it uses.
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
