// A stored tile as a picture for the map.
#pragma once

#include <QImage>
#include <string>

namespace bearfix {

inline constexpr int kTilePixels = 256;
inline constexpr int kMaxTilePicture = 1024;  // pixels either way; larger pictures are refused

// PNG or JPEG bytes as a 256 x 256 premultiplied ARGB picture (other sizes
// are scaled to it). False, with `reason`, for anything else.
bool decodeTile(const std::string& bytes, QImage& image, std::string* reason);

}  // namespace bearfix
