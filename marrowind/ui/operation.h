// Work of the main thread that waits (a login at the center, a database call held up
// by a lock) keeps the event loop turning: the tray menu opens, dialogs repaint, the
// stop signal is heard. Each such piece of work is an operation; its waits give up when
// the operation is abandoned or the program is ending.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

namespace marrowind {

// The program is ending: every wait of the main thread gives up at once.
void SetProgramEnding(bool ending);
bool ProgramEnding();

// Gives the calling (main) thread its event-turning waits for logins and database
// locks. Idempotent.
void InstallEventLoopWaits();

class TOperation {
 public:
  enum class Kind {
    Tick,    // the sync tick
    Dialog,  // a dialog's request; a busy cursor shows while it runs
  };

  // Under way from construction to destruction. Operations nest as the calls do: the
  // waits belong to the innermost.
  TOperation(Kind kind, const QObject* owner);
  ~TOperation();
  TOperation(const TOperation&) = delete;
  TOperation& operator=(const TOperation&) = delete;

  // Its waits give up at once, and every later one too.
  void Abandon() { abandoned_ = true; }
  // Abandoned, or the program is ending.
  bool GivenUp() const;

  // The innermost operation under way, or none.
  static TOperation* Innermost();
  // The operation under way for `owner`, or none.
  static TOperation* Of(const QObject* owner);
  // The sync tick under way, or none.
  static TOperation* Tick();
  static bool AnyUnderWay() { return Innermost() != nullptr; }

  // For a user's action that may wait: true when it may run now. With a tick under
  // way the tick is abandoned, `action` runs once the tick has ended (unless `context`
  // is gone or the program is ending by then), and the answer is false.
  static bool ClearOfTick(QObject* context, std::function<void()> action);

 private:
  struct Deferred {
    QPointer<QObject> context;
    std::function<void()> action;
  };

  Kind kind_;
  const QObject* owner_;
  bool abandoned_ = false;
  std::vector<Deferred> deferred_;
  TOperation* outer_;
};

}  // namespace marrowind
