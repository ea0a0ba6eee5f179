#include "support/png_file.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bearfix {

namespace {

void put32(std::string& out, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    out.append(bytes, 4);
}

void chunk(std::string& out, const char type[4], const unsigned char* data, std::size_t size) {
    put32(out, static_cast<uint32_t>(size));
    const std::size_t start = out.size();
    out.append(type, 4);
    out.append(reinterpret_cast<const char*>(data), size);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(out.data() + start), static_cast<uInt>(size + 4)));
    put32(out, crc);
}

}  // namespace

std::string encodePng(const uint32_t* pixels, int width, int height, std::ptrdiff_t stride) {
    if (width < 1 || height < 1 || width > (1 << 24) || height > (1 << 24)) return {};
    std::string out("\x89PNG\r\n\x1a\n", 8);
    unsigned char header[13];
    const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    const unsigned char size[8] = {static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
                                   static_cast<unsigned char>(w >> 8),  static_cast<unsigned char>(w),
                                   static_cast<unsigned char>(h >> 24), static_cast<unsigned char>(h >> 16),
                                   static_cast<unsigned char>(h >> 8),  static_cast<unsigned char>(h)};
    std::memcpy(header, size, 8);
    header[8] = 8;   // bits per sample
    header[9] = 2;   // RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering
    header[12] = 0;  // not interlaced
    chunk(out, "IHDR", header, sizeof header);

    z_stream z{};
    // Runs only (distance 1): a flat area's differences are zero bytes.
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return {};
    const std::size_t rowBytes = 1 + 3 * static_cast<std::size_t>(width);
    std::vector<unsigned char> row(rowBytes);
    std::vector<unsigned char> compressed(1 << 18);
    z.next_out = compressed.data();
    z.avail_out = static_cast<uInt>(compressed.size());
    auto flushOut = [&] {
        chunk(out, "IDAT", compressed.data(), compressed.size() - z.avail_out);
        z.next_out = compressed.data();
        z.avail_out = static_cast<uInt>(compressed.size());
    };
    bool failed = false;
    for (int y = 0; y < height && !failed; ++y) {
        const uint32_t* p = pixels + y * stride;
        unsigned char* r = row.data();
        *r++ = 1;  // filter "Sub": each byte less the one a pixel to its left
        unsigned pr = 0, pg = 0, pb = 0;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = p[x];
            const unsigned cr = (v >> 16) & 0xFF, cg = (v >> 8) & 0xFF, cb = v & 0xFF;
            r[0] = static_cast<unsigned char>(cr - pr);
            r[1] = static_cast<unsigned char>(cg - pg);
            r[2] = static_cast<unsigned char>(cb - pb);
            r += 3;
            pr = cr, pg = cg, pb = cb;
        }
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(rowBytes);
        while (z.avail_in > 0) {
            if (deflate(&z, Z_NO_FLUSH) != Z_OK) {
                failed = true;
                break;
            }
            if (z.avail_out == 0) flushOut();
        }
    }
    for (int status = Z_OK; !failed && status != Z_STREAM_END;) {
        status = deflate(&z, Z_FINISH);
        if (status != Z_OK && status != Z_STREAM_END) failed = true;
        if (z.avail_out == 0 || status == Z_STREAM_END) flushOut();
    }
    deflateEnd(&z);
    if (failed) return {};
    chunk(out, "IEND", nullptr, 0);
    return out;
}

bool writePngFile(const std::string& path, const uint32_t* pixels, int width, int height, std::ptrdiff_t stride,
                  std::string* reason) {
    const std::string bytes = encodePng(pixels, width, height, stride);
    if (bytes.empty()) {
        if (reason) *reason = "cannot encode the picture";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (reason) *reason = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int error = errno;
    if (std::fclose(f) != 0 || !written) {
        if (reason) *reason = std::strerror(written ? errno : error);
        return false;
    }
    return true;
}

}  // namespace bearfix
