// Reading and writing edit fields: texts in the program's Windows-1252, file
// names as the file system's bytes.
#pragma once

#include <QLineEdit>
#include <string>

#include "session/path_text.h"
#include "geo/position_patterns.h"
#include "map/qt_convert.h"

namespace bearfix {

// Writes a field and shows its beginning, where the information is. A field
// that already says it is left alone: no repaint, and the cursor stays.
inline void setText(QLineEdit* edit, const std::string& cp1252) {
    const QString text = toQString(cp1252);
    if (edit->text() == text) return;
    edit->setText(text);
    edit->setCursorPosition(0);
}

inline std::string text(const QLineEdit* edit) { return toCp1252(edit->text()); }

// A position field's text for read_position: the primes ′ ″, which
// Windows-1252 lacks, as ' and ".
inline std::string positionText(const QLineEdit* edit) { return position_text_from_utf8(edit->text().toStdString()); }

// A file name shows with its bytes that are not UTF-8 escaped, so that the
// field gives back the same bytes, edited or not.
inline void setPathText(QLineEdit* edit, const std::string& bytes) {
    edit->setText(QString::fromStdString(escapePath(bytes)));
    edit->setCursorPosition(0);
}

inline std::string pathIn(const QLineEdit* edit) { return unescapePath(edit->text().toStdString()); }

}  // namespace bearfix
