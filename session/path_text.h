// File names as text. A Linux file name is bytes and need not be UTF-8; to
// keep it in a line of a UTF-8 settings file or in an edit field, every byte
// that is not part of well-formed UTF-8 is written as "%XX", and so are CR,
// LF and a '%' that would otherwise read as such an escape. Names in UTF-8
// (and ASCII) without these stay exactly as they are.
#pragma once

#include <string>
#include <string_view>

namespace bearfix {

// Well-formed UTF-8 in the strict sense: shortest forms only, no surrogates,
// nothing beyond U+10FFFF.
bool isStrictUtf8(std::string_view text);

std::string escapePath(std::string_view bytes);

// The bytes of an escaped name; a '%' without two hex digits stands for itself.
std::string unescapePath(std::string_view text);

}  // namespace bearfix
