// Position texts as users type or paste them.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/results.h"
#include "fuzz_input.h"
#include "geo/position.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    const std::string input = fuzz::text(data, size);
    GeoPosition p;
    const int count = scan_position(input, p);
    if (count < 0 || count > 2 || !std::isfinite(p.lat) || !std::isfinite(p.lon)) std::abort();
    if (format_position(p, PosFormat::Dms).size() != 22 || format_position(p, PosFormat::DmsTenths).size() != 26)
        std::abort();
    // The window's results from the text as observer A and as a bearing: no
    // infinity or NaN reaches a number shown, and X exists only from a position.
    const Results r = computeResults({input, "N50 E9", input, "315"});
    for (const std::string* t : {&r.locationX, &r.distanceAB, &r.bearingAB, &r.bearingBA})
        if (t->find("nan") != std::string::npos || t->find("inf") != std::string::npos) std::abort();
    if (r.computed && r.validA &&
        !(std::isfinite(r.fix.dist_ab) && std::isfinite(r.fix.course_ab) && std::isfinite(r.fix.course_ba)))
        std::abort();
    if (r.fix.status == 0 && (!r.validA || !std::isfinite(r.fix.x.lat) || !std::isfinite(r.fix.x.lon))) std::abort();
    // The text as both tolerances (and a position): the search area is a
    // number of km or "unbounded", never infinity or NaN.
    const Results t = computeResults({"N50 E8", input, "45", "315", input, input, true, true});
    std::vector<const std::string*> shown = {&t.searchArea, &t.crossingAngleText, &t.distanceAX, &t.distanceBX};
    for (const std::string& line : t.alternativeLines) shown.push_back(&line);
    for (const std::string* text : shown)
        if (text->find("nan") != std::string::npos || text->find("inf") != std::string::npos) std::abort();
    if (!(t.area.area_km2 >= 0 && t.area.size_km >= 0 && std::isfinite(t.area.area_km2) && std::isfinite(t.area.size_km)))
        std::abort();
    for (GeoPosition corner : t.area.polygon)
        if (!std::isfinite(corner.lat) || !std::isfinite(corner.lon)) std::abort();
    std::size_t index = 0;
    for (int i = 0; i < 8 && index < input.size(); ++i) {
        const std::size_t before = index;
        scan_angle(input, &index);
        if (index == before) ++index;
        scan_decimal(input, &index);
        if (index > input.size()) std::abort();
    }
    return 0;
}
