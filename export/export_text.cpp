#include "export/export_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace bearfix {

namespace {

std::string fixed(double value, int precision) {
    char buf[400];
    const auto r = precision < 0 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                                 : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    std::string text(buf, r.ec == std::errc() ? r.ptr : buf);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text == "-0" || text.empty() ? "0" : text;
}

}  // namespace

std::string degreesText(double degrees) { return fixed(degrees, 9); }

std::string numberText(double value) { return std::isfinite(value) ? fixed(value, -1) : "0"; }

std::string xmlText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' ? ' ' : c;
        }
    }
    return out;
}

std::string jsonText(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace bearfix
