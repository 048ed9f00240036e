// What the Windows user interface gives both programs beside their own windows:
// message boxes, and the application object that reports an error no handler caught.
#pragma once

#include <QApplication>

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace platform::ui {

enum class Icon { None, Error, Warning, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

// One message box as the program asked for it. Texts are UTF-8.
struct Box {
  QWidget* owner = nullptr;
  std::string title;
  std::string text;
  Icon icon = Icon::None;
  Buttons buttons = Buttons::Ok;
};

// Shows a modal message box and returns the button chosen. Closing the box without a
// button counts as Cancel (OkCancel), No (YesNo) or Ok (Ok).
Answer MessageBox(QWidget* owner, std::string_view title, std::string_view text,
                  Icon icon, Buttons buttons = Buttons::Ok);

// Tests see every box instead of the user and answer it. An empty function restores
// the real boxes.
using Interceptor = std::function<Answer(const Box&)>;
void SetMessageBoxInterceptor(Interceptor interceptor);

// Where no one can answer a box (a program run by the service manager, a whole
// program started by a test): every box is written to standard error as one line
// "title: text" and answered as closing it would be (Ok, Cancel or No).
void SendMessageBoxesToStandardError();

// The application object of both programs: an exception that leaves an event handler
// ends that user action or timer tick, its text is shown in an error box, and the
// program goes on with its next event. Qt's own texts (the standard buttons of message
// boxes, file dialogs, Qt's error texts) follow the user's language, as the system's
// dialogs do on Windows: Qt's translations for the user's locale are loaded at its
// creation, when installed. The programs' own texts are never translated.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the standard error box for an error that reached the application.
  static void ShowException(std::string_view text);
};

}  // namespace platform::ui
