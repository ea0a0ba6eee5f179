#include "live/kraken_csv.h"

#include <charconv>

#include "support/text_scanner.h"

namespace bearfix {

namespace {

constexpr std::size_t kFields = 17;  // fixed fields before the spectrum
constexpr int64_t kMaxTimeMs = kMaxUtcSeconds * 1000 + 999;

FeedItem skipped(std::string why, bool torn = false) {
    FeedItem item;
    item.verdict = FeedVerdict::Skipped;
    item.why = std::move(why);
    item.torn = torn;
    return item;
}

}  // namespace

FeedItem parseReceiverLine(std::string_view line, bool mirrored, const FeedContext& context, int64_t* timeMs) {
    std::string_view f[kFields];
    std::size_t n = 0;
    for (std::size_t from = 0; n < kFields;) {
        const std::size_t comma = line.find(',', from);
        f[n++] = line.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    if (n < kFields) return skipped("fewer than 17 fields (torn)", true);
    if (trimBlanks(f[12]) != "GPS") return skipped("no \"GPS\" in field 12 (torn)", true);

    const std::string_view timeText = trimBlanks(f[0]);
    int64_t ms = -1;
    const auto [end, ec] = std::from_chars(timeText.data(), timeText.data() + timeText.size(), ms);
    if (timeText.empty() || ec != std::errc() || end != timeText.data() + timeText.size() || ms < 0 ||
        ms > kMaxTimeMs)
        return skipped("the time is not milliseconds since 1970");
    double bearing, confidence, lat, lon;
    if (!feedNumber(f[1], bearing) || bearing < 0 || bearing > 360) return skipped("the bearing is not in 0..360");
    if (!feedNumber(f[2], confidence) || confidence < 0) return skipped("the confidence is not a number of 0 or more");
    if (!feedNumber(f[8], lat) || !feedNumber(f[9], lon) || std::fabs(lat) > 90 || std::fabs(lon) > 180)
        return skipped("the position is not a latitude and longitude");

    FeedItem item;
    Bearing& b = item.bearing;
    std::string why;
    if (!feedStationName(f[7], b.station, why)) return skipped(why);
    if (b.station.empty()) b.station = "receiver";
    if (lat != 0 || lon != 0) {
        b.position = {lon * kDegToRad, lat * kDegToRad};
    } else if (context.own && context.own->hasPosition()) {
        b.position = context.own->position();
    } else {
        return skipped("no position (0/0) and no GPS fix");
    }
    b.bearingDeg = normalisedBearing(mirrored ? 360.0 - bearing : bearing);
    b.toleranceDeg = toleranceFor(context, confidence);
    b.utc = ms / 1000;
    b.source = BearingSource::Receiver;
    item.verdict = FeedVerdict::Accepted;
    if (timeMs) *timeMs = ms;
    return item;
}

std::vector<Bearing> ReceiverFeed::read(std::string_view body, bool mirrored, const FeedContext& context,
                                        ReceiverCounts& counts, std::string* problem) {
    std::vector<Bearing> out;
    auto note = [&](std::size_t line, const std::string& why) {
        ++counts.skipped;
        if (problem && problem->empty()) *problem = "line " + std::to_string(line) + ": " + why;
    };
    if (body.size() > kMaxBodyBytes) {
        ++counts.skipped;
        if (problem && problem->empty()) *problem = "the page is larger than 1 MiB";
        return out;
    }
    std::size_t number = 0;
    for (std::size_t from = 0; from < body.size();) {
        std::size_t eol = body.find('\n', from);
        if (eol == std::string_view::npos) eol = body.size();
        std::string_view line = body.substr(from, eol - from);
        from = eol + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (trimBlanks(line).empty()) continue;
        if (line.size() > kMaxLineBytes) {
            note(number, "longer than 64 KiB");
            continue;
        }
        int64_t ms = 0;
        FeedItem item = parseReceiverLine(line, mirrored, context, &ms);
        if (item.torn) {
            ++counts.skipped;
            ++counts.torn;
        } else if (item.verdict != FeedVerdict::Accepted) {
            note(number, item.why);
        } else if (seenBefore(ms, item.bearing.station)) {
            ++counts.repeated;
        } else {
            ++counts.accepted;
            out.push_back(std::move(item.bearing));
        }
    }
    return out;
}

bool ReceiverFeed::seenBefore(int64_t timeMs, const std::string& station) {
    auto key = std::make_pair(timeMs, station);
    if (seen_.count(key)) return true;
    if (order_.size() >= kRemembered) {
        seen_.erase(order_.front());
        order_.pop_front();
    }
    seen_.insert(key);
    order_.push_back(std::move(key));
    return false;
}

void ReceiverFeed::forget() {
    order_.clear();
    seen_.clear();
}

}  // namespace bearfix
