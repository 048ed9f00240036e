#include "tagwright/fonts.h"

#include <QFont>
#include <QString>
#include <QStringList>

namespace tagwright {

void InstallFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  // Qt tries the faces in order; the first one is the one scripts/install-deps installs.
  const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"),
                           QStringLiteral("Noto Sans CJK SC"),
                           QStringLiteral("Noto Serif CJK SC"),
                           QStringLiteral("AR PL UMing CN")};
  QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
  QFont::insertSubstitutions(QStringLiteral("SimSun"), cjk);
}

}  // namespace tagwright
