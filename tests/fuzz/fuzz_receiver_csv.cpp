// A receiver page of any content, read twice: what is read holds valid
// values, every line is counted once, and the second read finds nothing new.
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "fuzz_input.h"
#include "live/kraken_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    const std::string text = fuzz::text(data, size);
    GpsFix car;
    car.mode = GpsMode::Fix2D;
    car.latDeg = 10;
    car.lonDeg = -170;
    for (bool mirrored : {false, true}) {
        ReceiverFeed feed;
        ReceiverCounts counts;
        FeedContext context;
        context.own = mirrored ? &car : nullptr;
        std::string problem;
        const std::vector<Bearing> first = feed.read(text, mirrored, context, counts, &problem);
        bearfix::fuzz::check(counts.accepted == first.size());
        bearfix::fuzz::check(counts.torn <= counts.skipped && (counts.skipped == counts.torn || !problem.empty()));
        std::size_t lines = text.empty() ? 0 : 1;
        for (char c : text) lines += c == '\n';
        bearfix::fuzz::check(counts.accepted + counts.skipped + counts.repeated <= std::max<std::size_t>(lines, 1));
        for (const Bearing& b : first) {
            bearfix::fuzz::check(b.bearingDeg >= 0 && b.bearingDeg < 360);
            bearfix::fuzz::check(std::fabs(b.position.lat) <= std::numbers::pi / 2 + 1e-15 &&
                  std::fabs(b.position.lon) <= std::numbers::pi + 1e-15);
            bearfix::fuzz::check(!b.station.empty() && b.station.size() <= kMaxStationName);
            for (char c : b.station) bearfix::fuzz::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
            bearfix::fuzz::check(b.utc && *b.utc >= 0 && *b.utc <= kMaxUtcSeconds && b.source == BearingSource::Receiver);
        }
        if (first.size() <= ReceiverFeed::kRemembered) bearfix::fuzz::check(feed.read(text, mirrored, context, counts).empty());
    }
    return 0;
}
