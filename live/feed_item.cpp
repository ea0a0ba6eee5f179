#include "live/feed_item.h"

#include <charconv>

#include "support/cp1252.h"

namespace bearfix {

namespace {

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

}  // namespace

bool feedStationName(std::string_view bytes, std::string& out, std::string& why) {
    bytes = trimmed(bytes);
    std::string name = isValidUtf8(bytes) ? utf8ToCp1252(bytes) : std::string(bytes);
    if (!isStationName(name, why)) return false;
    out = std::move(name);
    return true;
}

bool feedNumber(std::string_view text, double& out) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || text.front() == 'i' || text.front() == 'I' || text.front() == 'n' ||
        text.front() == 'N')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

}  // namespace bearfix
