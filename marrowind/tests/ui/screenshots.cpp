// Writes pictures of Marrowind's two dialogs and of its tray menu into the folder
// given as argument. The menu is popped up directly: a test X server has no tray.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>

#include <cstdio>
#include <exception>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/ui/book_data_set.h"
#include "marrowind/ui/group_set.h"
#include "marrowind/ui/server_main.h"
#include "platform/fonts.h"
#include "platform/ui.h"

namespace {

bool Save(QWidget& w, const QDir& dir, const QString& name) {
  QApplication::processEvents();
  const QString path = dir.filePath(name);
  const bool ok = w.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

bool Shoot(QWidget& w, const QDir& dir, const QString& name) {
  w.show();
  const bool ok = Save(w, dir, name);
  w.close();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  platform::ui::Application app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  platform::fonts::SubstituteWindowsFonts();
  platform::ui::SendMessageBoxesToStandardError();
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  bool ok = true;
  try {
    marrowind::test::LibrarySetup lib;  // a program folder of its own
    marrowind::TDs ds;
    ds.DataModuleCreate();
    {
      marrowind::TFmBookDataSet d;
      d.EDataBaseName->setText(QStringLiteral("library"));
      d.EUser->setText(QStringLiteral("sa"));
      d.EPassword->setText(QStringLiteral("secret"));
      ok &= Shoot(d, dir, QStringLiteral("FmBookDataSet.png"));
    }
    {
      marrowind::TFmGroupSet d(ds, nullptr);
      d.EGroupUrl->setText(QStringLiteral("http://center.example.org/"));
      d.EGroupId->setText(QStringLiteral("3301021"));
      d.ECheckNum->setText(QStringLiteral("check-code"));
      ok &= Shoot(d, dir, QStringLiteral("FmGroupSet.png"));
    }
    {
      marrowind::TFmServerMain f(ds);
      f.PopupMenu->popup(QPoint(40, 40));
      ok &= Save(*f.PopupMenu, dir, QStringLiteral("TrayMenu.png"));
      f.PopupMenu->close();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "screenshots: %s\n", e.what());
    return 1;
  }
  return ok ? 0 : 1;
}
