// A .pnt map file of any content.
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "fuzz_input.h"
#include "map/vector_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    fuzz::MemoryFile file(data, size);
    MapView view;
    long points = 0;
    loadVectorFile(file.path(), view, [&points](const MapView&, const MapPoint* batch, int count) {
        if (count == kItemEnd) return;
        if (count < 1 || count > kSegmentBuffer || !batch) std::abort();
        for (int i = 0; i < count; ++i) {
            // Any int16 of arc-minutes, in range or not, is a finite angle.
            if (!(std::fabs(batch[i].lat) <= 9.6f) || !(std::fabs(batch[i].lon) <= 9.6f)) std::abort();
        }
        points += count;
    });
    if (points > static_cast<long>(size / 6) * 2 + 1) std::abort();

    // Left out by a filter: only whole segments, offered with sane bounds;
    // kept by one, the same points.
    for (const bool keep : {false, true}) {
        long filtered = 0;
        loadVectorFile(
            file.path(), view,
            [&filtered](const MapView&, const MapPoint* batch, int count) {
                if (count > 0 && batch) filtered += count;
            },
            [keep](const SegmentBounds& b) {
                if (!(b.south <= b.north && b.west <= b.east)) std::abort();
                if (!(std::fabs(b.south) <= 9.6 && std::fabs(b.north) <= 9.6)) std::abort();
                return keep;
            });
        if (keep ? filtered != points : filtered > points) std::abort();
    }
    return 0;
}
