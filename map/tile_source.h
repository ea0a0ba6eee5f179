// The user's offline map tiles: an MBTiles file (SQLite, a "tiles" table
// with TMS rows) or a directory of "{z}/{x}/{y}.png" files, both in the Web
// Mercator tiling of web maps. Gives the stored bytes of a tile; decoding is
// the drawing's business.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bearfix {

// A tile in web maps' numbering: column x from 180 W, row y from the north.
struct TileKey {
    int32_t z = 0;
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const TileKey&) const = default;
};

inline constexpr int32_t kMaxTileZoom = 24;
inline constexpr std::size_t kMaxTileBytes = 1 << 20;  // a stored tile larger than this is refused

enum class TileRead {
    Found,    // `bytes` holds the tile
    Missing,  // the source has no such tile
    BadTile,  // this tile cannot be read (too large, unreadable file); others may be fine
    Broken,   // the source as a whole fails (corrupt database); nothing more should be asked of it
};

class TileSource {
public:
    virtual ~TileSource() = default;

    // A directory opens as an XYZ tree, anything else as an MBTiles file,
    // read-only. Null, with `reason`, when it cannot be used.
    static std::unique_ptr<TileSource> open(const std::string& path, std::string* reason);
    // An MBTiles database held in `bytes`, which must outlive the source.
    static std::unique_ptr<TileSource> openMbtilesImage(std::string_view bytes, std::string* reason);

    int32_t minZoom() const { return minZoom_; }
    int32_t maxZoom() const { return maxZoom_; }

    // May be called from several threads at once. `reason` says why for
    // BadTile and Broken.
    virtual TileRead read(const TileKey& key, std::string& bytes, std::string* reason) = 0;

    // Up to `limit` keys of stored tiles, for a first look at a source.
    virtual std::vector<TileKey> someTiles(int limit) = 0;

protected:
    int32_t minZoom_ = 0;
    int32_t maxZoom_ = 0;
};

}  // namespace bearfix
