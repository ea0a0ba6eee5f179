// Conversion between the program's single-byte text (Windows-1252) and Unicode.
//
// Text inside Bearfix is a std::string of Windows-1252 bytes (the degree sign is
// 0xB0). The GUI and the command line convert at their boundary with these
// helpers and never through the system locale.
#pragma once

#include <string>
#include <string_view>

namespace bearfix {

// The code point of a Windows-1252 byte. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 code points of the
// same value, so every byte has an answer and survives a round trip.
char32_t cp1252ToUnicode(unsigned char byte);

// The Windows-1252 byte of a code point: U+0000..U+00FF give the byte of the
// same value, the 27 characters Windows-1252 places in 0x80..0x9F (the euro
// sign and friends) give their byte, anything else gives `fallback`.
unsigned char unicodeToCp1252(char32_t codePoint, unsigned char fallback = '?');

std::string cp1252ToUtf8(std::string_view text);

// True when every byte belongs to a well-formed UTF-8 sequence.
bool isValidUtf8(std::string_view text);

// Malformed UTF-8 and characters outside the code page become `fallback`, one
// per offending sequence.
std::string utf8ToCp1252(std::string_view text, unsigned char fallback = '?');

// At most `maxBytes` of a UTF-8 text, never cutting a character in two.
std::string truncateUtf8(const std::string& text, std::size_t maxBytes);

// A file name (the file system's bytes, normally UTF-8) as text to show.
inline std::string fileNameText(const std::string& path) { return isValidUtf8(path) ? utf8ToCp1252(path) : path; }

}  // namespace bearfix
