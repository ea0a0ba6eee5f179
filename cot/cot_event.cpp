#include "cot/cot_event.h"

#include <charconv>
#include <cmath>

#include "fix/bearing.h"
#include "support/cp1252.h"

namespace bearfix {

namespace {

constexpr int64_t kDeleteStaleMs = 60 * 1000;

}  // namespace

std::string cotTime(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : 0;
    std::string text = formatUtc(seconds);  // 2020-12-16T19:59:34Z
    if (text.empty()) return "1970-01-01T00:00:00.000Z";
    const int millis = static_cast<int>(ms >= 0 ? ms % 1000 : 0);
    text.pop_back();
    text += '.';
    text += static_cast<char>('0' + millis / 100);
    text += static_cast<char>('0' + millis / 10 % 10);
    text += static_cast<char>('0' + millis % 10);
    return text + "Z";
}

std::string cotText(std::string_view raw) {
    const std::string utf8 = isValidUtf8(raw) ? std::string(raw) : cp1252ToUtf8(raw);
    const std::string_view text = utf8;
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

std::string cotNumber(double value, int decimals) {
    if (!std::isfinite(value)) value = kCotUnknown;
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value + 0.0, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("9999999.0");
}

std::string cotXml(const CotEvent& e) {
    const std::string time = cotTime(e.timeMs);
    const CotPoint& p = e.point;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<event version=\"2.0\" uid=\"" +
           cotText(e.uid) + "\" type=\"" + cotText(e.type) + "\" how=\"" + cotText(e.how) + "\" time=\"" + time +
           "\" start=\"" + time + "\" stale=\"" + cotTime(e.staleMs) + "\"><point lat=\"" + cotNumber(p.latDeg, 7) +
           "\" lon=\"" + cotNumber(p.lonDeg, 7) + "\" hae=\"" + cotNumber(p.haeM, 1) + "\" ce=\"" + cotNumber(p.ceM, 1) +
           "\" le=\"" + cotNumber(p.leM, 1) + "\"/><detail>" + e.detail + "</detail></event>";
}

CotEvent cotDeleteEvent(std::string_view uid, std::string_view type, int64_t nowMs) {
    CotEvent e;
    e.uid = std::string(uid) + ".delete";
    e.type = "t-x-d-d";
    e.how = "h-g-i-g-o";
    e.timeMs = nowMs;
    e.staleMs = nowMs + kDeleteStaleMs;
    e.detail = "<link uid=\"" + cotText(uid) + "\" type=\"" + cotText(type) + "\" relation=\"none\"/><__forcedelete/>";
    return e;
}

}  // namespace bearfix
