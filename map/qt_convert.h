// Conversions at the boundary to Qt, for the map drawing and the window
// alike: the program's Windows-1252 text, and its colours stored as
// 0x00BBGGRR.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <string>

namespace bearfix {

QString toQString(const std::string& cp1252);
// Characters outside the code page become '?'.
std::string toCp1252(const QString& text);

inline QColor fromColourRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline uint32_t toColourRef(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 | static_cast<uint32_t>(c.blue()) << 16;
}

}  // namespace bearfix
