#include "platform/fonts.h"

#include <QFont>
#include <QString>
#include <QStringList>

namespace platform::fonts {

void SubstituteWindowsFonts() {
  // Qt tries the faces in order; the first one is what scripts/install-deps installs.
  const QStringList latin = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
  const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
                           QStringLiteral("Noto Sans CJK SC"),    QStringLiteral("Noto Serif CJK SC"),
                           QStringLiteral("AR PL UMing CN"),      QStringLiteral("Droid Sans Fallback")};
  for (const QString& face : {QStringLiteral("Arial"), QStringLiteral("MS Sans Serif")}) {
    QFont::removeSubstitutions(face);
    QFont::insertSubstitutions(face, latin);
  }
  for (const QString& face : {QStringLiteral("宋体"), QStringLiteral("SimSun")}) {
    QFont::removeSubstitutions(face);
    QFont::insertSubstitutions(face, cjk);
  }
}

}  // namespace platform::fonts
