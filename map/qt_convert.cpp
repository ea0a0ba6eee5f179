#include "map/qt_convert.h"

#include "support/cp1252.h"

namespace bearfix {

QString toQString(const std::string& cp1252) {
    QString out;
    out.reserve(static_cast<qsizetype>(cp1252.size()));
    for (char c : cp1252) out.append(QChar(static_cast<char16_t>(cp1252ToUnicode(static_cast<unsigned char>(c)))));
    return out;
}

std::string toCp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) out += static_cast<char>(unicodeToCp1252(c.unicode()));
    return out;
}

}  // namespace bearfix
