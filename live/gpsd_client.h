// The own position from gpsd, read with libgps in watch mode (JSON). The
// reading loop blocks: the window runs it on a thread of its own, the
// command line on its main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "live/gps_fix.h"

namespace bearfix {

struct GpsdServer {
    std::string host = "localhost";
    std::string port = "2947";
    // "localhost:2947", "[::1]:2947"
    std::string text() const;
};

// "gpsd HOST:PORT", "HOST:PORT", "HOST" (port 2947), "[IPv6]:PORT" or
// "[IPv6]"; nothing for "off", an empty text and anything else (a port
// outside 1..65535, blanks or control characters in the host, more than 255
// characters).
std::optional<GpsdServer> parseGpsdServer(std::string_view text);

// What the window shows and logs, one line per change of it.
enum class GpsState { Off, NotReachable, Connected, NoFix, Fix2D, Fix3D };

// "GPS: connected to localhost:2947", "GPS: no fix", "GPS: 2D fix",
// "GPS: 3D fix", "GPS: gpsd not reachable", "GPS: off".
std::string gpsStateText(GpsState state, const GpsdServer& server);

// The state after a fix of `mode` arrived on a connection.
GpsState stateOfFix(GpsMode mode);

struct GpsdHandlers {
    // gpsd answered.
    std::function<void()> connected;
    // The connection failed or was lost; `why` says how ("Connection refused").
    std::function<void(const std::string& why)> notReachable;
    // Every position report (TPV), with satellites and HDOP of the last
    // sky report, after sanitisedFix.
    std::function<void(const GpsFix& fix)> fix;
};

struct GpsdOptions {
    std::chrono::milliseconds connectTimeout{3000};  // and for gpsd's first answer
    std::chrono::milliseconds retryDelay{3000};
    bool retry = true;  // false: return when the first connection fails or ends
};

enum class GpsdEnd { Stopped, NotReachable, Lost };

// Connects, watches and hands what comes to `handlers` until `stop` is set
// (checked at least every 200 ms). Without `retry` it returns NotReachable or
// Lost when the connection fails or ends; with it, it tries again after
// `retryDelay`.
GpsdEnd runGpsdClient(const GpsdServer& server, const std::atomic<bool>& stop, const GpsdHandlers& handlers,
                      const GpsdOptions& options = {});

}  // namespace bearfix
