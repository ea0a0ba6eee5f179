// Reading and writing edit fields in the program's Windows-1252 text.
#pragma once

#include <QLineEdit>
#include <string>

#include "map/qt_convert.h"

namespace bearfix {

// Writes a field and shows its beginning, where the information is.
inline void setText(QLineEdit* edit, const std::string& cp1252) {
    edit->setText(toQString(cp1252));
    edit->setCursorPosition(0);
}

inline std::string text(const QLineEdit* edit) { return toCp1252(edit->text()); }

}  // namespace bearfix
