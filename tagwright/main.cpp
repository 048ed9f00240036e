// The label designer: its main window, shown maximised, until the window is closed.
#include "platform/ui.h"
#include "tagwright/fm_main.h"
#include "platform/fonts.h"

int main(int argc, char** argv) {
  platform::ui::Application app(argc, argv);
  platform::fonts::SubstituteWindowsFonts();
  tagwright::TForm1 form;
  form.showMaximized();
  return app.exec();
}
