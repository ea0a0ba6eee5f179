// KML and GPX files of any content, read by both readers.
#include "fuzz_input.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    fuzz::MemoryFile file(data, size);
    importKml(file.path());
    importGpx(file.path());
    MapView view;
    forEachTrackBatch(view, [](const MapView&, const MapPoint*, int) {});
    clearTracks();
    return 0;
}
