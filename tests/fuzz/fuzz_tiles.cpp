// An MBTiles database of any content, read as the map reads it, and the
// tiles it gives (or the input itself) decoded as pictures.
#include <QImage>
#include <cstdlib>

#include "fuzz_input.h"
#include "map/tile_image.h"
#include "map/tile_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    if (size > (4u << 20)) return 0;
    const std::string bytes = fuzz::text(data, size);
    auto checkPicture = [](const std::string& tile) {
        QImage picture;
        std::string reason;
        if (decodeTile(tile, picture, &reason)) {
            if (picture.size() != QSize(kTilePixels, kTilePixels) ||
                picture.format() != QImage::Format_ARGB32_Premultiplied)
                std::abort();
        } else if (reason.empty()) {
            std::abort();  // a refusal says why
        }
    };
    checkPicture(bytes);

    std::string reason;
    auto source = TileSource::openMbtilesImage(bytes, &reason);
    if (!source) {
        if (reason.empty()) std::abort();
        return 0;
    }
    if (source->minZoom() < 0 || source->minZoom() > source->maxZoom() || source->maxZoom() > kMaxTileZoom)
        std::abort();
    std::vector<TileKey> keys = source->someTiles(8);
    keys.push_back({source->minZoom(), 0, 0});
    keys.push_back({-1, 0, 0});
    keys.push_back({3, 8, 0});  // beyond the level's columns
    for (const TileKey& key : keys) {
        std::string tile;
        reason.clear();
        switch (source->read(key, tile, &reason)) {
            case TileRead::Found:
                if (tile.empty() || tile.size() > kMaxTileBytes) std::abort();
                checkPicture(tile);
                break;
            case TileRead::Missing:
                if (!tile.empty()) std::abort();
                break;
            case TileRead::BadTile:
            case TileRead::Broken:
                if (reason.empty()) std::abort();
                break;
        }
    }
    return 0;
}
