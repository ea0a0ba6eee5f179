#include "tools/gps_cli.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "live/gpsd_client.h"
#include "support/cp1252.h"

namespace bearfix {

namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(5);

}  // namespace

int runGps(std::vector<std::string> args, bool json) {
    std::string serverText = "localhost:2947";
    long count = 1;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return 2;
        const std::string& value = args[i + 1];
        if (args[i] == "--server") {
            serverText = value;
        } else if (args[i] == "--count") {
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
            if (ec != std::errc() || end != value.data() + value.size() || count < 0) return 2;
        } else {
            return 2;
        }
    }
    const std::optional<GpsdServer> server = parseGpsdServer(serverText);
    if (!server) {
        std::fprintf(stderr, "bearfix-cli: \"%s\" is no gpsd server (HOST:PORT)\n", serverText.c_str());
        return 2;
    }
    std::atomic<bool> stop{false};
    long printed = 0;
    std::optional<int64_t> lastTime;
    GpsdHandlers handlers;
    std::string why;
    handlers.notReachable = [&why](const std::string& reason) { why = reason; };
    handlers.fix = [&](const GpsFix& fix) {
        if (!fix.hasPosition() || (fix.utc && fix.utc == lastTime)) return;  // one line a fix
        lastTime = fix.utc;
        const std::string line = json ? gpsFixJson(fix) : cp1252ToUtf8(gpsFixLine(fix));
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        if (++printed == count) stop = true;
    };
    GpsdOptions options;
    options.connectTimeout = kConnectTimeout;
    options.retry = false;
    switch (runGpsdClient(*server, stop, handlers, options)) {
        case GpsdEnd::Stopped: return 0;
        case GpsdEnd::NotReachable:
            std::fprintf(stderr, "bearfix-cli: gpsd not reachable at %s within 5 s: %s\n", server->text().c_str(),
                         why.c_str());
            return 1;
        case GpsdEnd::Lost:
            std::fprintf(stderr, "bearfix-cli: gpsd at %s ended the connection after %ld fixes\n",
                         server->text().c_str(), printed);
            return 1;
    }
    return 1;
}

}  // namespace bearfix
