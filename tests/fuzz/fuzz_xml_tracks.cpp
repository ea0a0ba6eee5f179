// KML and GPX files of any content, read by both readers. The scan that
// guards the XML library must see at least the nesting the library builds.
#include <string>

#include "fuzz_input.h"
#include "support/cp1252.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "tracks/xml_scan.h"
#include "xml_library_depth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    fuzz::MemoryFile file(data, size);
    importKml(file.path());
    importGpx(file.path());
    MapView view;
    forEachTrackBatch(view, [](const MapView&, const MapPoint*, int) {});
    clearTracks();

    // The text as the readers hand it to the library.
    std::string text = fuzz::text(data, size);
    if (text.find('\0') != std::string::npos) return 0;
    if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
    if (!xmlRefusal(text.c_str()))
        fuzz::check(fuzz::xmlLibraryDepth(text).first <= measureXml(text.c_str(), kMaxXmlDepth).depth);
    return 0;
}
