// A settings file of any content: read, written back and read again gives
// the same settings.
#include <cstdlib>

#include "app/settings.h"
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
           a.track.lastFileName == b.track.lastFileName && a.track.lastFileType == b.track.lastFileType;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
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
    return 0;
}
