// The settings of the live inputs: the gpsd server, whether observer A
// follows the GPS and the GPS track is recorded, and the bearing feeds. Kept
// in the sections "GPS" and "BearingFeeds" of the settings file; a key is
// written only when it differs from its default or the file has it already,
// so that a file of the old program is saved as it was.
#pragma once

#include <cstdint>
#include <string>

#include "session/ini_file.h"

namespace bearfix {

struct LiveSettings {
    // The text of the "Port:" field: "gpsd localhost:2947", "off", ...
    std::string gpsServer = defaultGpsServer();
    bool followGps = false;
    bool recordTrack = false;

    bool udpOn = false;
    int32_t udpPort = 55672;
    bool udpAllInterfaces = false;  // else 127.0.0.1 only
    bool receiverOn = false;
    std::string receiverUrl = "http://127.0.0.1:8081/DOA_value.html";
    std::string receiverInterval = "1";  // seconds, as typed
    bool receiverMirrored = false;       // the receiver writes 360 - bearing
    std::string feedTolerance = "5";     // degrees, +-, given to every fed bearing
    // Or, for a bearing that carries a confidence, a tolerance from it: the
    // straight line between these at confidence 0 and 100 (degrees, as typed).
    bool toleranceFromConfidence = false;
    std::string toleranceAtZero = "15";
    std::string toleranceAtHundred = "3";

    // "gpsd localhost:2947", or $BEARFIX_GPSD when set (a server, or "off"
    // to keep a sandboxed run off the user's gpsd).
    static std::string defaultGpsServer();
};

void readLiveSettings(const IniFile& file, LiveSettings& s);
void writeLiveSettings(IniFile& file, const LiveSettings& s);

}  // namespace bearfix
