#include "tools/cli_text.h"

#include <charconv>
#include <cstdio>

#include "support/cp1252.h"

namespace bearfix {

std::string jsonNumber(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value + 0.0);
    return std::string(buf, r.ptr);
}

std::string jsonString(const std::string& cp1252) {
    std::string out = "\"";
    for (char c : cp1252ToUtf8(cp1252)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void printErrorLines(const std::string& path, const std::string& errors) {
    for (std::size_t start = 0; start < errors.size();) {
        std::size_t end = errors.find('\n', start);
        if (end == std::string::npos) end = errors.size();
        std::fprintf(stderr, "bearfix-cli: %s: %s\n", path.c_str(),
                     cp1252ToUtf8(errors.substr(start, end - start)).c_str());
        start = end + 1;
    }
}

}  // namespace bearfix
