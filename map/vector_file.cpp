#include "map/vector_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <numbers>
#include <vector>

#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr int kRecordSize = 6;
constexpr int kChunkRecords = 1024;
constexpr double kArcMinute = std::numbers::pi / 10800.0;
// The world's coastlines take a few megabytes; larger files are refused
// rather than read for minutes, and their counts stay within an int.
constexpr off_t kMaxFileBytes = off_t{256} << 20;
static_assert(kMaxFileBytes / kRecordSize < INT32_MAX);

int16_t int16At(const unsigned char* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool loadVectorFile(const std::string& path, MapView& view, const PointSink& sink, const SegmentFilter& mayShow) {
    view.item_label[0] = '\0';
    int fd;
    do {
        // Not blocking on a pipe in a file's place; only a regular file is read.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        logMessage(MessageLevel::Error, "Error: Could not open file \"%s\".", fileNameText(path).c_str());
        return false;
    }
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        logMessage(MessageLevel::Error, "Error: \"%s\" is too large for a map file (%lld bytes, at most 256 MB).",
                   fileNameText(path).c_str(), static_cast<long long>(st.st_size));
        return false;
    }

    // Points wait as read until their batch is sent, and a segment left out
    // is never converted.
    struct RawPoint {
        int16_t lat, lon;
    };
    static thread_local std::vector<RawPoint> raw(kSegmentBuffer);  // reused by every file
    static thread_local std::vector<MapPoint> buffer(kSegmentBuffer);
    auto radians = [](int16_t arcMinutes) { return static_cast<float>(arcMinutes * kArcMinute); };
    int fill = 0;
    int32_t firstIndex = 0;  // of raw[0] within its segment
    bool continued = false;  // the segment was sent in part already
    int16_t south = 0, north = 0, west = 0, east = 0;
    auto send = [&] {
        for (int i = 0; i < fill; ++i)
            buffer[static_cast<size_t>(i)] = {radians(raw[static_cast<size_t>(i)].lat),
                                              radians(raw[static_cast<size_t>(i)].lon), 0.0f, firstIndex + i};
        sink(view, buffer.data(), fill);
    };
    auto endSegment = [&] {
        if (fill > 0 &&
            (continued || !mayShow || mayShow({radians(south), radians(north), radians(west), radians(east)})))
            send();
        fill = 0;
        firstIndex = 0;
        continued = false;
    };
    int inSegment = 0;  // points of the current segment so far
    long points = 0;
    int segments = 0, longest = 0;

    unsigned char chunk[kChunkRecords * kRecordSize];
    int carried = 0;  // bytes of a record split across two reads
    for (off_t total = 0; total < kMaxFileBytes;) {  // a file growing while it is read ends at the limit
        ssize_t n = ::read(fd, chunk + carried, sizeof chunk - static_cast<size_t>(carried));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += n;
        const int available = carried + static_cast<int>(n);
        const int records = available / kRecordSize;
        for (int r = 0; r < records; ++r) {
            const unsigned char* rec = chunk + r * kRecordSize;
            if (int16At(rec) >= 1000) {
                endSegment();
                inSegment = 0;
                ++segments;
            } else if (fill == kSegmentBuffer) {
                // A segment longer than the buffer goes on in the next batch,
                // joined to this one by its last point.
                send();
                raw[0] = raw[kSegmentBuffer - 1];
                firstIndex += kSegmentBuffer - 1;
                fill = 1;
                continued = true;
            }
            const RawPoint p{int16At(rec + 2), int16At(rec + 4)};
            if (fill == 0 || p.lat < south) south = p.lat;
            if (fill == 0 || p.lat > north) north = p.lat;
            if (fill == 0 || p.lon < west) west = p.lon;
            if (fill == 0 || p.lon > east) east = p.lon;
            raw[static_cast<size_t>(fill++)] = p;
            ++inSegment;
            ++points;
            if (inSegment > longest) longest = inSegment;
        }
        carried = available - records * kRecordSize;
        for (int i = 0; i < carried; ++i) chunk[i] = chunk[records * kRecordSize + i];
    }
    ::close(fd);
    endSegment();
    sink(view, nullptr, kItemEnd);
    logMessage(MessageLevel::Debug, "Debug: \"%s\" contains %ld points, %d segments, max %d points/segment.",
               fileNameText(path).c_str(), points, segments, longest);
    return true;
}

}  // namespace bearfix
