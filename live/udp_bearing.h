// Bearings of DF receivers as UDP datagrams, one JSON object each:
//   {"type": "BEARING", "bearing": 123.4, "bearing_type": "absolute",
//    "latitude": 50.1, "longitude": 8.6, "confidence": 80, "source": "car-2"}
// "bearing" (degrees, -360..360) is required; "bearing_type" is "absolute"
// (the default) or "relative" (to the course over ground: the bearing adds
// the GPS course and takes the GPS position); "latitude" and "longitude"
// (degrees) go together, and without them, or at 0/0, the GPS position is
// taken; "confidence" (0..100) is checked, not used; "source" names the
// station (default "udp"). Other members are passed over; objects of
// another "type" are ignored.
#pragma once

#include <cstddef>
#include <string_view>

#include "live/feed_item.h"

namespace bearfix {

inline constexpr std::size_t kMaxDatagramBytes = 65536;
inline constexpr int kDefaultUdpPort = 55672;

FeedItem parseBearingDatagram(std::string_view bytes, const FeedContext& context);

}  // namespace bearfix
