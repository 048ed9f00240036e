// The label designer: its main window, shown maximised, until the window is closed.
#include "platform/ui.h"
#include "tagwright/fm_main.h"
#include "tagwright/fonts.h"

int main(int argc, char** argv) {
  platform::ui::Application app(argc, argv);
  tagwright::InstallFontSubstitutes();
  tagwright::TForm1 form;
  form.showMaximized();
  return app.exec();
}
