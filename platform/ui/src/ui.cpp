#include "platform/ui.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <exception>
#include <iostream>
#include <mutex>
#include <utility>

namespace platform::ui {
namespace {

std::mutex mu;
Interceptor interceptor;

QMessageBox::Icon ToQt(Icon icon) {
  switch (icon) {
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Information: return QMessageBox::Information;
    case Icon::Question: return QMessageBox::Question;
    case Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

// The answer of a box closed without pressing a button.
Answer ClosedAnswer(Buttons buttons) {
  switch (buttons) {
    case Buttons::OkCancel: return Answer::Cancel;
    case Buttons::YesNo: return Answer::No;
    case Buttons::Ok: break;
  }
  return Answer::Ok;
}

}  // namespace

void SetMessageBoxInterceptor(Interceptor i) {
  std::lock_guard lock(mu);
  interceptor = std::move(i);
}

void SendMessageBoxesToStandardError() {
  SetMessageBoxInterceptor([](const Box& box) {
    std::cerr << box.title << ": " << box.text << std::endl;
    return ClosedAnswer(box.buttons);
  });
}

Answer MessageBox(QWidget* owner, std::string_view title, std::string_view text, Icon icon,
                  Buttons buttons) {
  Interceptor i;
  {
    std::lock_guard lock(mu);
    i = interceptor;
  }
  if (i) return i(Box{owner, std::string(title), std::string(text), icon, buttons});

  QMessageBox box(ToQt(icon), QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::NoButton, owner);
  switch (buttons) {
    case Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case Buttons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Ok: return Answer::Ok;
    default: break;
  }
  return ClosedAnswer(buttons);
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // Without a catalogue for the locale (English, C, or the package not installed) Qt
  // keeps its built-in English texts.
  auto* qtTexts = new QTranslator(this);
  if (qtTexts->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(qtTexts);
  } else {
    delete qtTexts;
  }
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("未知错误");
  }
  return true;
}

void Application::ShowException(std::string_view text) {
  MessageBox(QApplication::activeWindow(), "错误", text, Icon::Error);
}

}  // namespace platform::ui
