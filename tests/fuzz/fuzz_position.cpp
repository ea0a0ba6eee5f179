// Position texts as users type or paste them.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "session/results.h"
#include "fuzz_input.h"
#include "geo/position.h"
#include "geo/position_patterns.h"

namespace {

using bearfix::GeoPosition;

bool withinRange(GeoPosition p) {
    return std::fabs(p.lat) <= 90 * bearfix::kDegToRad && std::fabs(p.lon) <= 180 * bearfix::kDegToRad;
}

// The patterns beside scan_position: a text it reads with both components
// (with º ’ ´ ” as ° ' ' ") keeps that position; whatever else is read is a
// position on the earth, and its display forms read back into the same
// square.
void checkPatterns(const std::string& input) {
    using namespace bearfix;
    std::string signsMapped = input;
    for (char& c : signsMapped) c = c == '\xBA' ? '\xB0' : c == '\x92' || c == '\xB4' ? '\'' : c == '\x94' ? '"' : c;
    GeoPosition original, read, pattern;
    const bool both = scan_position(signsMapped, original) == 2;
    const bool isPosition = read_position(input, read);
    if (both && !(isPosition && read.lat == original.lat && read.lon == original.lon)) std::abort();
    if (isPosition && !both && !withinRange(read)) std::abort();
    if (match_position_pattern(input, pattern) && !withinRange(pattern)) std::abort();
    GeoPosition fromUtf8;
    read_position(position_text_from_utf8(input), fromUtf8);
    if (!isPosition || !withinRange(read)) return;
    if (decimal_degrees_text(read).size() != 20) std::abort();
    const std::string locator = maidenhead_locator(read, 10);
    GeoPosition centre;
    if (locator.size() != 10 || !maidenhead_centre(locator, centre) || maidenhead_locator(centre, 10) != locator)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    if (size > 4096) return 0;  // a field's worth; longer texts add nothing
    const std::string input = fuzz::text(data, size);
    checkPatterns(input);
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
    if (r.computed && r.fix.status == 0 && (!r.validA || !std::isfinite(r.fix.x.lat) || !std::isfinite(r.fix.x.lon)))
        std::abort();
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
