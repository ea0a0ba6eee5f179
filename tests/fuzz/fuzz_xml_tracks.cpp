// KML and GPX files of any content, read by both readers. The scan that
// guards the XML library must see at least the nesting the library builds.
#include <tinyxml.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "support/cp1252.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "tracks/xml_scan.h"

namespace {

// The deepest nesting of elements the library builds from `text`.
int libraryDepth(std::string text) {
    text.append(4, '\0');
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> open{{&doc, 0}};
    while (!open.empty()) {
        auto [node, depth] = open.back();
        open.pop_back();
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) {
            if (!child->ToElement()) continue;
            deepest = std::max(deepest, depth + 1);
            open.emplace_back(child, depth + 1);
        }
    }
    return deepest;
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

    // The text as the readers hand it to the library.
    std::string text = fuzz::text(data, size);
    if (text.find('\0') != std::string::npos) return 0;
    if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
    if (!xmlRefusal(text.c_str()) && libraryDepth(text) > measureXml(text.c_str(), kMaxXmlDepth).depth) std::abort();
    return 0;
}
