// Small scanning functions for key=value command texts and data lines.
//
// Every function starts at a cursor into a NUL-terminated single-byte text and
// moves it past what it consumed. Blanks are space and TAB. Nothing here
// allocates, reports errors or looks at the locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace bearfix {

// Skips spaces and TABs; returns how many.
int32_t skipBlanks(const char*& cursor);

// True when `word` follows (after optional blanks); the cursor then stands
// after it. Otherwise the cursor is left alone.
bool matchWord(const char*& cursor, const char* word);

// `keys` holds NUL-terminated keys one after another, ended by an empty key,
// e.g. "sr=\0rf=\0". Returns the index of the first key that follows (letter
// case matters) with the cursor moved past it, or -1 with the cursor unmoved.
int matchKeyword(const char*& cursor, const char* keys);

// A signed integer of at most `maxDigits` digits. "0x" switches to hexadecimal
// whatever `base` says; otherwise only base 16 reads hex digits. Returns
// `fallback` when no digit was read; overflow wraps as 32-bit arithmetic does.
int32_t parseInt(const char*& cursor, int maxDigits, int base, int32_t fallback);

// A signed decimal number with an optional fraction and no exponent. Returns
// `fallback` when the integer part has no digit.
double parseDouble(const char*& cursor, double fallback);

// The digits of a decimal number at `cursor`, "12", "12." or "12.5" (no
// sign, no exponent), moved past: as a whole number (of the first 19
// digits), how many digits, how many of them after the point, and whether
// one came before it.
struct DecimalDigits {
    uint64_t whole = 0;
    int digits = 0;
    int fraction = 0;
    bool integerPart = false;
};
DecimalDigits scanDecimalDigits(const char*& cursor);

// The digits of a decimal number as a whole number, `digits` of them with
// `fraction` after the point, when one division gives it correctly rounded
// (both are exact doubles: at most 15 digits, 22 after the point); false
// otherwise, for the general conversion.
bool exactDecimal(uint64_t whole, int digits, int fraction, double* value);

// A text between double quotes, at most `maxChars` characters kept (the
// destination holds maxChars + 1). False, cursor unmoved, when no quote
// follows the blanks.
bool parseQuoted(const char*& cursor, char* destination, int maxChars);

// `text` without the blanks and tabs at either end.
std::string_view trimBlanks(std::string_view text);

}  // namespace bearfix
