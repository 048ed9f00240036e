#include "marrowind/ui/operation.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <chrono>

#include "marrowind/core/gl_expand.h"
#include "platform/db.h"

namespace marrowind {
namespace {

using namespace std::chrono_literals;

// How often a wait looks whether its login has ended or it is to give up.
constexpr std::chrono::milliseconds kLook = 10ms;

bool ending = false;
TOperation* innermost = nullptr;

// The waits of the operation that is innermost when the wait begins: a wait whose own
// operation goes on is not ended by an operation nested inside it.
bool GivenUp(const TOperation* op) { return op ? op->GivenUp() : ending; }

class EventLoopLoginWait final : public LoginWait {
 public:
  bool MayStart() override { return !GivenUp(innermost); }

  bool Wait(const std::function<bool()>& ended) override {
    const TOperation* const op = innermost;
    if (!ended() && !GivenUp(op)) {
      QEventLoop loop;
      QTimer look;
      look.setInterval(kLook);
      QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (ended() || GivenUp(op)) loop.quit();
      });
      look.start();
      // Leaving early without either (the application's loops were ended) gives up.
      loop.exec();
    }
    return ended() && !GivenUp(op);
  }
};

bool WaitTurningEvents(std::chrono::milliseconds step) {
  const TOperation* const op = innermost;
  if (GivenUp(op)) return false;
  QEventLoop loop;
  QTimer::singleShot(step, &loop, &QEventLoop::quit);
  loop.exec();
  return !GivenUp(op);
}

}  // namespace

void SetProgramEnding(bool e) { ending = e; }
bool ProgramEnding() { return ending; }

void InstallEventLoopWaits() {
  static EventLoopLoginWait loginWait;
  SetThreadLoginWait(&loginWait);
  platform::db::SetThreadBusyWait(&WaitTurningEvents);
}

TOperation::TOperation(Kind kind, const QObject* owner) : kind_(kind), owner_(owner), outer_(innermost) {
  innermost = this;
  if (kind_ == Kind::Dialog && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
  }
}

TOperation::~TOperation() {
  innermost = outer_;
  if (kind_ == Kind::Dialog && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::restoreOverrideCursor();
  }
  for (Deferred& d : deferred_) {
    if (!ending && d.context) QTimer::singleShot(0, d.context.data(), std::move(d.action));
  }
}

bool TOperation::GivenUp() const { return abandoned_ || ending; }

TOperation* TOperation::Innermost() { return innermost; }

TOperation* TOperation::Of(const QObject* owner) {
  for (TOperation* op = innermost; op; op = op->outer_) {
    if (op->owner_ == owner) return op;
  }
  return nullptr;
}

TOperation* TOperation::Tick() {
  for (TOperation* op = innermost; op; op = op->outer_) {
    if (op->kind_ == Kind::Tick) return op;
  }
  return nullptr;
}

bool TOperation::ClearOfTick(QObject* context, std::function<void()> action) {
  TOperation* tick = Tick();
  if (!tick) return true;
  tick->Abandon();
  tick->deferred_.push_back({context, std::move(action)});
  return false;
}

}  // namespace marrowind
