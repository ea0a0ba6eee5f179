#include "live/feed_item.h"

#include <algorithm>
#include <charconv>

#include "support/cp1252.h"
#include "support/text_scanner.h"

namespace bearfix {

bool feedStationName(std::string_view bytes, std::string& out, std::string& why) {
    bytes = trimBlanks(bytes);
    std::string name = isValidUtf8(bytes) ? utf8ToCp1252(bytes) : std::string(bytes);
    if (!isStationName(name, why)) return false;
    out = std::move(name);
    return true;
}

double toleranceFor(const FeedContext& c, std::optional<double> confidence) {
    double t = c.toleranceDeg;
    if (c.scale.fromConfidence && confidence && std::isfinite(*confidence)) {
        const double share = std::clamp(*confidence, 0.0, 100.0) / 100.0;
        t = c.scale.atZero + (c.scale.atHundred - c.scale.atZero) * share;
    }
    return std::isfinite(t) ? std::clamp(t, kMinToleranceDeg, 180.0) : 180.0;
}

uint64_t ThrottledCount::due(uint64_t total, int64_t nowMs) {
    if (total <= said_ || (saidAt_ && nowMs - *saidAt_ < periodMs_)) return 0;
    const uint64_t fresh = total - said_;
    said_ = total;
    saidAt_ = nowMs;
    return fresh;
}

bool feedNumber(std::string_view text, double& out) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || text.front() == 'i' || text.front() == 'I' || text.front() == 'n' ||
        text.front() == 'N')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

}  // namespace bearfix
