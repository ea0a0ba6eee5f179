#include "session/live_settings.h"

#include <cstdlib>

namespace bearfix {

namespace {

constexpr const char* kGps = "GPS";
constexpr const char* kFeeds = "BearingFeeds";

}  // namespace

std::string LiveSettings::defaultGpsServer() {
    const char* server = std::getenv("BEARFIX_GPSD");
    return server && *server ? (std::string(server) == "off" ? "off" : "gpsd " + std::string(server))
                             : "gpsd localhost:2947";
}

void readLiveSettings(const IniFile& f, LiveSettings& s) {
    auto flag = [&f](const char* section, const char* key, bool& value) {
        value = f.getInt(section, key, value ? 1 : 0) != 0;
    };
    s.gpsServer = f.getString(kGps, "Server", s.gpsServer);
    flag(kGps, "ObserverAFollows", s.followGps);
    flag(kGps, "RecordTrack", s.recordTrack);
    flag(kFeeds, "UDP", s.udpOn);
    s.udpPort = f.getInt(kFeeds, "UDPPort", s.udpPort);
    flag(kFeeds, "UDPAllInterfaces", s.udpAllInterfaces);
    flag(kFeeds, "Receiver", s.receiverOn);
    s.receiverUrl = f.getString(kFeeds, "ReceiverURL", s.receiverUrl);
    s.receiverInterval = f.getString(kFeeds, "ReceiverInterval", s.receiverInterval);
    flag(kFeeds, "ReceiverMirrored", s.receiverMirrored);
    s.feedTolerance = f.getString(kFeeds, "Tolerance", s.feedTolerance);
    flag(kFeeds, "ToleranceFromConfidence", s.toleranceFromConfidence);
    s.toleranceAtZero = f.getString(kFeeds, "ToleranceAtConfidence0", s.toleranceAtZero);
    s.toleranceAtHundred = f.getString(kFeeds, "ToleranceAtConfidence100", s.toleranceAtHundred);
}

void writeLiveSettings(IniFile& f, const LiveSettings& s) {
    const LiveSettings d;
    auto text = [&f](const char* section, const char* key, const std::string& value, const std::string& dflt) {
        if (value != dflt || f.has(section, key)) f.setString(section, key, value);
    };
    auto number = [&f](const char* section, const char* key, int32_t value, int32_t dflt) {
        if (value != dflt || f.has(section, key)) f.setInt(section, key, value);
    };
    auto flag = [&number](const char* section, const char* key, bool value, bool dflt) {
        number(section, key, value ? 1 : 0, dflt ? 1 : 0);
    };
    text(kGps, "Server", s.gpsServer, d.gpsServer);
    flag(kGps, "ObserverAFollows", s.followGps, d.followGps);
    flag(kGps, "RecordTrack", s.recordTrack, d.recordTrack);
    flag(kFeeds, "UDP", s.udpOn, d.udpOn);
    number(kFeeds, "UDPPort", s.udpPort, d.udpPort);
    flag(kFeeds, "UDPAllInterfaces", s.udpAllInterfaces, d.udpAllInterfaces);
    flag(kFeeds, "Receiver", s.receiverOn, d.receiverOn);
    text(kFeeds, "ReceiverURL", s.receiverUrl, d.receiverUrl);
    text(kFeeds, "ReceiverInterval", s.receiverInterval, d.receiverInterval);
    flag(kFeeds, "ReceiverMirrored", s.receiverMirrored, d.receiverMirrored);
    text(kFeeds, "Tolerance", s.feedTolerance, d.feedTolerance);
    flag(kFeeds, "ToleranceFromConfidence", s.toleranceFromConfidence, d.toleranceFromConfidence);
    text(kFeeds, "ToleranceAtConfidence0", s.toleranceAtZero, d.toleranceAtZero);
    text(kFeeds, "ToleranceAtConfidence100", s.toleranceAtHundred, d.toleranceAtHundred);
}

}  // namespace bearfix
