#include "search/geotiff_file.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "support/whole_file.h"

namespace bearfix {

namespace {

constexpr uint64_t kMaxBytes = 1ull << 30;

enum Type : uint16_t { kShort = 3, kLong = 4, kDouble = 12 };

class Writer {
public:
    void u16(uint16_t v) {
        out_.push_back(static_cast<char>(v & 0xFF));
        out_.push_back(static_cast<char>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v & 0xFFFF));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void f64(double v) {
        const auto bits = std::bit_cast<uint64_t>(v);
        u32(static_cast<uint32_t>(bits));
        u32(static_cast<uint32_t>(bits >> 32));
    }
    std::string& bytes() { return out_; }

private:
    std::string out_;
};

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;  // the value itself, or the offset of the values
};

}  // namespace

std::string encodeGeoTiff(const GeoRaster& r) {
    if (r.columns <= 0 || r.rows <= 0 || (!r.floats && !r.bytes)) return {};
    const uint64_t sampleBytes = r.floats ? 4 : 1;
    const uint64_t imageBytes = static_cast<uint64_t>(r.columns) * static_cast<uint64_t>(r.rows) * sampleBytes;
    if (imageBytes > kMaxBytes) return {};

    // Header, the pixels, then the values too long for an entry, then the
    // directory.
    Writer w;
    w.bytes() = "II";
    w.u16(42);
    w.u32(0);  // the directory's offset, set below
    if (r.floats) {
        for (uint64_t i = 0; i < imageBytes / 4; ++i) w.u32(std::bit_cast<uint32_t>(r.floats[i]));
    } else {
        w.bytes().append(reinterpret_cast<const char*>(r.bytes), imageBytes);
    }
    if (w.bytes().size() % 2) w.bytes().push_back('\0');
    const auto scaleAt = static_cast<uint32_t>(w.bytes().size());
    for (double v : {r.pixelLonDeg, r.pixelLatDeg, 0.0}) w.f64(v);
    const auto tieAt = static_cast<uint32_t>(w.bytes().size());
    for (double v : {0.0, 0.0, 0.0, r.west, r.north, 0.0}) w.f64(v);
    // GeoKeys: version 1.1.0, three keys: geographic, pixels as areas, WGS 84.
    const uint16_t keys[] = {1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 1, 2048, 0, 1, 4326};
    const auto keysAt = static_cast<uint32_t>(w.bytes().size());
    for (uint16_t k : keys) w.u16(k);

    const Entry entries[] = {
        {256, kLong, 1, static_cast<uint32_t>(r.columns)},
        {257, kLong, 1, static_cast<uint32_t>(r.rows)},
        {258, kShort, 1, static_cast<uint32_t>(sampleBytes * 8)},
        {259, kShort, 1, 1},  // no compression
        {262, kShort, 1, 1},  // black is zero
        {273, kLong, 1, 8},   // the strip's offset
        {277, kShort, 1, 1},
        {278, kLong, 1, static_cast<uint32_t>(r.rows)},
        {279, kLong, 1, static_cast<uint32_t>(imageBytes)},
        {284, kShort, 1, 1},                     // one plane
        {339, kShort, 1, r.floats ? 3u : 1u},    // IEEE float or unsigned
        {33550, kDouble, 3, scaleAt},            // ModelPixelScale
        {33922, kDouble, 6, tieAt},              // ModelTiepoint
        {34735, kShort, sizeof keys / 2, keysAt},  // GeoKeyDirectory
    };
    const auto directoryAt = static_cast<uint32_t>(w.bytes().size());
    w.u16(static_cast<uint16_t>(std::size(entries)));
    for (const Entry& e : entries) {
        w.u16(e.tag);
        w.u16(e.type);
        w.u32(e.count);
        if (e.type == kShort && e.count == 1) {
            w.u16(static_cast<uint16_t>(e.value));
            w.u16(0);
        } else {
            w.u32(e.value);
        }
    }
    w.u32(0);  // no further directory
    std::string& out = w.bytes();
    for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(4 + i)] = static_cast<char>((directoryAt >> (8 * i)) & 0xFF);
    return out;
}

bool writeGeoTiff(const std::string& path, const GeoRaster& raster, std::string* reason) {
    const std::string bytes = encodeGeoTiff(raster);
    if (bytes.empty()) {
        if (reason) *reason = "nothing to write";
        return false;
    }
    if (!replaceFileAtomically(path, bytes)) {
        if (reason) *reason = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace bearfix
