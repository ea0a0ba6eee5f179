// KML and GPX files of any content, read by both readers. The scan that
// guards the XML library must see at least the nesting the library builds.
// GPX files read by one thread, by two and by two parsers store the same.
#include <bit>
#include <string>

#include "fuzz_input.h"
#include "support/cp1252.h"
#include "tracks/gpx_reader.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "tracks/xml_scan.h"
#include "xml_library_depth.h"

namespace {

// The store's records, every field.
std::string stored() {
    std::string out;
    for (const bearfix::TrackPoint& r : bearfix::trackStore()) {
        for (const double v : {double(r.type), double(r.lat), double(r.lon), double(r.valid), double(r.colour),
                               double(r.yearSince2000), double(r.month), double(r.day), double(r.hour),
                               double(r.minute), double(r.second), double(r.timeValid), double(r.dateValid)})
            out += std::to_string(v) + ' ';
        out += std::to_string(std::bit_cast<uint64_t>(r.altitude)) + ' ' + std::string(r.name, sizeof r.name) + '\n';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    fuzz::MemoryFile file(data, size);
    importKml(file.path());
    importGpx(file.path());
    MapView view;
    forEachTrackBatch(view, [](const MapView&, const MapPoint*, int) {});
    clearTracks();

    const GpxImport one = readGpxFile(file.path(), "fuzz", GpxThreads::kOne);
    const std::string byOne = stored();
    clearTracks();
    const GpxImport two = readGpxFile(file.path(), "fuzz", GpxThreads::kTwo);
    fuzz::check(two.points == one.points && two.skipped == one.skipped && two.error == one.error && stored() == byOne);
    clearTracks();
    const GpxImport cut = readGpxFile(file.path(), "fuzz", GpxThreads::kSplit);
    fuzz::check(cut.points == one.points && cut.skipped == one.skipped && cut.error == one.error && stored() == byOne);
    clearTracks();

    // The text as the readers hand it to the library.
    std::string text = fuzz::text(data, size);
    if (text.find('\0') != std::string::npos) return 0;
    if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
    if (!xmlRefusal(text.c_str()))
        fuzz::check(fuzz::xmlLibraryDepth(text).first <= measureXml(text.c_str(), kMaxXmlDepth).depth);
    return 0;
}
