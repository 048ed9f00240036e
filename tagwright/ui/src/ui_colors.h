// Colours of the label files (0x00BBGGRR) as Qt colours.
#pragma once

#include <QColor>

#include "tagwright/label_control.h"

namespace tagwright {

inline QColor ToQColor(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

}  // namespace tagwright
