#pragma once
// Text the command line writes: JSON values and error lines.

#include <string>

namespace bearfix {

// The shortest text that reads back as `value` ("0" for -0).
std::string jsonNumber(double value);

// A Windows-1252 text as a JSON string (UTF-8, quotes and controls escaped).
std::string jsonString(const std::string& cp1252);

// Each line of `errors` (Windows-1252) on standard error after the file's name.
void printErrorLines(const std::string& path, const std::string& errors);

}  // namespace bearfix
