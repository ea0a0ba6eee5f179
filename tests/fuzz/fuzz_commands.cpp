// Remote command texts through the mailbox into the track store, the
// bearing log and the window.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "remote/remote_mailbox.h"
#include "fix/bearing_command.h"
#include "fuzz_input.h"
#include "tracks/track_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    const std::string input = fuzz::text(data, size);
    runSetCommand(input.c_str());
    runTrackCommand(input.c_str());
    // A bearing that is added holds only values it may hold.
    const auto valid = [](const Bearing& b) {
        return std::fabs(b.position.lat) <= 1.5707963267948967 && std::fabs(b.position.lon) <= 3.1415926535897933 &&
               b.bearingDeg >= 0.0 && b.bearingDeg < 360.0 && b.toleranceDeg >= 0.0 && b.toleranceDeg <= 180.0 &&
               b.station.size() <= kMaxStationName && (!b.utc || (*b.utc >= 0 && *b.utc <= kMaxUtcSeconds));
    };
    if (const auto b = parseBearingAdd(input.c_str()); b && !valid(*b)) std::abort();
    // A token goes into the environment: printable ASCII without blanks.
    const auto validToken = [](const std::string& t) {
        return t.size() < 1024 && std::all_of(t.begin(), t.end(), [](char c) { return c > ' ' && c < 0x7F; });
    };
    RemoteMailbox mailbox;
    resetMailbox(mailbox);
    for (const char* prefix :
         {"track ", "TRACK addpoint ", "set ", "track segment ", "bearing add ", "bearing ", "window "}) {
        const std::string message = prefix + input;
        postToMailbox(mailbox, 1, 0, static_cast<int32_t>(std::min<std::size_t>(message.size(), 1024)), message.data());
    }
    int added = 0;
    processRemoteCommands(
        mailbox,
        [](int field, const std::string& value) {
            if ((field != 1 && field != 2) || value.size() > 1023) std::abort();
        },
        [&](Bearing b) {
            if (!valid(b) || b.source != BearingSource::Remote) std::abort();
            ++added;
        },
        [&](const std::string& token) {
            if (!validToken(token)) std::abort();
        });
    if (added > 2) std::abort();  // at most one bearing per command
    if (trackRecordCount() > 10) std::abort();  // at most one record per command
    clearTracks();
    return 0;
}
