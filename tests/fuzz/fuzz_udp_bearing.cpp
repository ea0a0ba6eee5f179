// A datagram of any content, with and without a GPS fix: a bearing comes
// out only with valid values, anything else with a reason; the JSON reader
// keeps to tight limits as well.
#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>

#include "fuzz_input.h"
#include "live/json_object.h"
#include "live/udp_bearing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    const std::string text = fuzz::text(data, size);
    GpsFix car;
    car.mode = GpsMode::Fix3D;
    car.latDeg = -89.9;
    car.lonDeg = 179.9;
    car.courseDeg = 359.9;
    const GpsFix* const owns[] = {nullptr, &car};
    for (const GpsFix* own : owns) {
        FeedContext context;
        context.own = own;
        context.nowUtc = 1716022800;
        const FeedItem item = parseBearingDatagram(text, context);
        if (item.verdict != FeedVerdict::Accepted) {
            bearfix::fuzz::check(!item.why.empty());
            continue;
        }
        const Bearing& b = item.bearing;
        bearfix::fuzz::check(b.bearingDeg >= 0 && b.bearingDeg < 360);
        bearfix::fuzz::check(std::fabs(b.position.lat) <= std::numbers::pi / 2 + 1e-15 && std::fabs(b.position.lon) <= std::numbers::pi + 1e-15);
        bearfix::fuzz::check(!b.station.empty() && b.station.size() <= kMaxStationName);
        for (char c : b.station) bearfix::fuzz::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        bearfix::fuzz::check(b.source == BearingSource::Udp && b.utc == 1716022800);
    }
    std::map<std::string, JsonValue> members;
    std::string why;
    if (parseJsonObject(text, members, why, {.maxBytes = 4096, .maxDepth = 2, .maxMembers = 4})) {
        bearfix::fuzz::check(members.size() <= 4 && why.empty());
        for (const auto& [name, value] : members) bearfix::fuzz::check(value.kind != JsonValue::Kind::Number || std::isfinite(value.number));
    } else {
        bearfix::fuzz::check(members.empty() && !why.empty());
    }
    return 0;
}
