// The boundary between Qt's Unicode strings and the program's Windows-1252
// text, for the map drawing and the window alike.
#pragma once

#include <QString>
#include <string>

namespace bearfix {

QString toQString(const std::string& cp1252);
// Characters outside the code page become '?'.
std::string toCp1252(const QString& text);

}  // namespace bearfix
