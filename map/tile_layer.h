// The user's offline tiles under the map's lines: Web Mercator tiles
// reprojected into the view (the cylindric map row by row, exactly; the
// azimuthal one through the terrain's pixel grid), at the zoom level whose
// pixels come closest to the view's, a missing tile filled from a lower
// level scaled up. North and south of 85.05 degrees there are no tiles.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map/map_view.h"
#include "map/tile_cache.h"
#include "map/tile_source.h"

namespace bearfix {

class TileLayer {
public:
    TileLayer();
    ~TileLayer();
    TileLayer(const TileLayer&) = delete;
    TileLayer& operator=(const TileLayer&) = delete;

    // Off (the default): a drawing reads every tile it needs before it
    // returns. On: worker threads read and decode them; a drawing shows what
    // the cache holds and `arrived` says when more came in.
    void setAsynchronous(bool on) { asynchronous_ = on; }
    void setCacheLimitMb(std::size_t megabytes) { cache_.setLimitMb(megabytes); }

    // Draws the tiles of `path` (an MBTiles file or a {z}/{x}/{y} directory)
    // over `bitmap` with `opacity` 0..100 percent. A path is opened when it
    // is first drawn from; when it cannot be read one error line says so and
    // the map has no tiles until another path is given or the file changes.
    // An empty path or no opacity draws nothing and stops the reading.
    void draw(QImage& bitmap, const MapView& view, const std::string& path, int opacity);

    // Tiles came in since the last drawing.
    bool arrived() const;
    // The zoom level of the last drawing, -1 when it drew no tiles.
    int zoom() const { return zoom_; }
    // Tiles asked for by the last drawing and not yet delivered.
    bool loading() const;

private:
    struct Loader;
    struct Offsets;
    struct Grid;
    void openSource(const std::string& path);
    void takeArrivals();
    void load(const std::vector<TileKey>& keys);
    bool tooManyTiles(const Grid& grid) const;
    // The picture for each tile of the grid, from the cache or a lower level;
    // the keys still to be read go to `wanted`.
    void pictures(Grid& grid, std::vector<TileKey>& wanted);
    void render(QImage& bitmap, const Grid& grid, int opacity) const;
    static void placeAzimuthal(const MapView& view, int z, Offsets& store);

    TileCache cache_;
    std::unique_ptr<Loader> loader_;
    std::unique_ptr<Offsets> offsets_;
    std::shared_ptr<TileSource> source_;
    std::string path_;
    std::string stamp_;  // the file's time and size when it was opened
    bool asynchronous_ = false;
    bool broken_ = false;
    bool badTileSaid_ = false;
    int zoom_ = -1;
};

}  // namespace bearfix
