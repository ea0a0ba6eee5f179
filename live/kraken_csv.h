// The CSV page of a DF receiver in the style of the "Kraken" app
// (DOA_value.html), read each time it is fetched. One line per channel:
//    0 time (ms since 1970), 1 bearing (degrees), 2 confidence, 3 power,
//    4 frequency (Hz), 5 antenna arrangement, 6 latency, 7 station id,
//    8 latitude, 9 longitude, 10 and 11 heading, 12 the literal "GPS",
//    13..16 reserved, then the spectrum.
// The receiver rewrites the page in place, so a fetch may catch a line half
// written: a line with fewer than 17 fields or without "GPS" in field 12 is
// skipped and counted as torn, and one whose numbers are out of range is
// skipped and counted. The
// position 0/0 means the receiver has none: the GPS position is taken, and
// without a fix the line is skipped. The same time and station again is the
// same bearing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "live/feed_item.h"

namespace bearfix {

struct ReceiverCounts {
    uint64_t accepted = 0;
    uint64_t skipped = 0;   // torn lines included
    uint64_t torn = 0;      // caught half written
    uint64_t repeated = 0;  // seen at an earlier fetch
};

// One line, without its line end. `timeMs` is field 0.
FeedItem parseReceiverLine(std::string_view line, bool mirrored, const FeedContext& context, int64_t* timeMs);

class ReceiverFeed {
public:
    static constexpr std::size_t kMaxBodyBytes = 1 << 20;
    static constexpr std::size_t kMaxLineBytes = 65536;
    static constexpr std::size_t kRemembered = 4096;  // (time, station) pairs kept to know repeats

    // The bearings of a page not seen before, in the page's order. `problem`
    // gets the reason of the first skipped line that is not torn ("line 3: ...").
    std::vector<Bearing> read(std::string_view body, bool mirrored, const FeedContext& context,
                              ReceiverCounts& counts, std::string* problem = nullptr);
    void forget();

private:
    bool seenBefore(int64_t timeMs, const std::string& station);

    std::deque<std::pair<int64_t, std::string>> order_;
    std::set<std::pair<int64_t, std::string>> seen_;
};

}  // namespace bearfix
