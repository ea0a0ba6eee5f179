// A settings file of any content up to the size the program reads: read,
// written back and read again gives the same settings. Any bytes stored as
// a file name come back as they were.
#include <cstdlib>
#include <string>

#include "session/settings.h"
#include "fuzz_input.h"

namespace {

bool same(const bearfix::SessionSettings& a, const bearfix::SessionSettings& b) {
    return a.pos1 == b.pos1 && a.pos2 == b.pos2 && a.brg1x == b.brg1x && a.brg2x == b.brg2x &&
           a.brg1Tol == b.brg1Tol && a.brg1Amb == b.brg1Amb && a.minElev == b.minElev &&
           a.topoColorPalette == b.topoColorPalette && a.bounds.left == b.bounds.left &&
           a.bounds.height == b.bounds.height && a.centerHow == b.centerHow && a.centerAt == b.centerAt &&
           a.rangeKm == b.rangeKm && a.showCities == b.showCities && a.useSrtm3 == b.useSrtm3 &&
           a.gtopoDir == b.gtopoDir && a.srtmDir == b.srtmDir && a.track.posFormat == b.track.posFormat &&
           a.track.trackLineColour == b.track.trackLineColour && a.track.trackOptions == b.track.trackOptions &&
           a.track.lastFileName == b.track.lastFileName && a.track.lastFileType == b.track.lastFileType &&
           a.live.gpsServer == b.live.gpsServer && a.live.followGps == b.live.followGps &&
           a.live.udpPort == b.live.udpPort && a.live.receiverUrl == b.live.receiverUrl &&
           a.live.receiverInterval == b.live.receiverInterval && a.live.receiverMirrored == b.live.receiverMirrored &&
           a.live.feedTolerance == b.live.feedTolerance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    if (size > IniFile::kMaxFileSize) return 0;  // refused before it is parsed
    IniFile file;
    file.parse(fuzz::text(data, size));
    SessionSettings first = defaultSettings();
    readSettings(file, first);
    writeSettings(file, first, true);
    IniFile again;
    again.parse(file.text());
    SessionSettings second = defaultSettings();
    readSettings(again, second);
    if (!same(first, second)) std::abort();

    const std::string bytes = fuzz::text(data, size), name = bytes.substr(0, bytes.find('\0'));
    file.setPath("TrackDisplay", "LastFileName", bytes);
    again.parse(file.text());
    if (again.getPath("TrackDisplay", "LastFileName", {}) != name) std::abort();
    return 0;
}
