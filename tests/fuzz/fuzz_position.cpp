// Position texts as users type or paste them.
#include <cmath>
#include <cstdlib>

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
