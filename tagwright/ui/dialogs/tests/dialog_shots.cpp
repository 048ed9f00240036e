// Writes a picture of each of the designer's dialogs into the folder given as argument.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "platform/ui.h"
#include "tagwright/dialogs.h"
#include "platform/fonts.h"

namespace {

bool Shoot(QWidget& w, const QDir& dir, const QString& name) {
  w.show();
  QApplication::processEvents();
  const QString path = dir.filePath(name);
  const bool ok = w.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
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
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  bool ok = true;
  {
    tagwright::TFmPageSet d(nullptr);
    ok &= Shoot(d, dir, QStringLiteral("FmPageSet-new.png"));
  }
  {
    tagwright::TFmPageSet d(nullptr);
    tagwright::TLabelRec rec;
    rec.PageWidth = 110;
    rec.LCount = 3;
    rec.LWidthmm = 32;
    rec.LHeightmm = 25;
    rec.PageGap = 3;
    rec.LRSpace = 1;
    rec.LShape = 0;
    rec.Direction = "T";
    d.LoadRec(rec);
    ok &= Shoot(d, dir, QStringLiteral("FmPageSet-round.png"));
  }
  {
    tagwright::TFmTextSet d(nullptr, "输入要显示的文本", 12);
    ok &= Shoot(d, dir, QStringLiteral("FmTextSet.png"));
  }
  {
    tagwright::TFmBarWidth d(nullptr, 2, 12, true);
    ok &= Shoot(d, dir, QStringLiteral("FmBarWidth.png"));
  }
  {
    tagwright::TFmName d(nullptr);
    d.EName->setText(QStringLiteral("书名"));
    ok &= Shoot(d, dir, QStringLiteral("FmName.png"));
  }
  return ok ? 0 : 1;
}
