// PNG files of 32-bit pixels, written quickly: maps are large flat areas, so
// each row is stored as differences to the pixel on its left (zero over a
// flat area) and compressed as runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bearfix {

// The PNG (8-bit RGB) of `height` rows of `width` pixels 0xAARRGGBB, alpha
// ignored; row y starts at pixels + y * stride (stride in pixels). Empty when
// the size is out of range.
std::string encodePng(const uint32_t* pixels, int width, int height, std::ptrdiff_t stride);

// Writes encodePng's bytes to `path`; false, and `reason` says why, when it
// cannot.
bool writePngFile(const std::string& path, const uint32_t* pixels, int width, int height, std::ptrdiff_t stride,
                  std::string* reason);

}  // namespace bearfix
