// Elevations for the map: one fixed grid of 2000 x 1000 samples, filled from
// the GTOPO30 tiles or the SRTM tiles the user keeps on disk for the box the
// map shows, decimated so that the grid never grows.
//
// Tiles are headerless big-endian int16 rows from north to south. GTOPO30:
// 33 tiles "W180N90.DEM" ... "E120S60.DEM" of 30" samples. SRTM: one file per
// 1 x 1 degree cell, "N50E008.hgt", 1201 x 1201 samples of 3" (SRTM3) or
// 3601 x 3601 of 1" (SRTM1), told apart by their size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bearfix {

inline constexpr int16_t kElevationOcean = -9999;      // as GTOPO30 stores the sea
inline constexpr int16_t kElevationNotLoaded = -9998;  // no tile supplied the sample
inline constexpr int16_t kElevationVoid = -32768;      // SRTM's hole in the data

enum ElevationSource : int { kGtopo30 = 0, kSrtm = 1 };

// (tile file name, percent 0..99) while a tile loads; the window shows it.
using ElevationProgressHook = std::function<void(const std::string& file, int percent)>;
// Asked once per grid row while loading; true aborts the load (Escape).
using ElevationAbortPoll = std::function<bool()>;

class ElevationCache {
public:
    static constexpr int32_t kColumns = 2000;
    static constexpr int32_t kRows = 1000;

    // The data set and its directories. Switching the source reloads at the
    // next request.
    void setSource(int source);
    int source() const { return source_; }
    void setDirectories(std::string gtopo30, std::string srtm);
    const std::string& gtopoDirectory() const { return gtopoDir_; }
    const std::string& srtmDirectory() const { return srtmDir_; }
    void forceReload() { forceReload_ = true; }
    void setProgressHook(ElevationProgressHook hook) { progress_ = std::move(hook); }
    void setAbortPoll(ElevationAbortPoll poll) { abortPoll_ = std::move(poll); }

    // Makes the grid cover at least this box (degrees) where data exists.
    // Returns at once when the grid already covers it finely enough.
    void ensureCoverage(double south, double north, double west, double east);

    // Grid cell of a position (degrees); false outside the grid.
    bool positionOf(double lat, double lon, int* column, int* row) const;
    // The same position as a fraction of the grid: cell (column, row) holds
    // column <= x < column + 1 and row <= y < row + 1.
    bool gridPoint(double lat, double lon, double* x, double* y) const;
    bool sampleAt(int column, int row, int16_t* sample) const;
    // The sample at a position; false and kElevationNotLoaded outside the grid.
    bool elevationAt(double lat, double lon, int* metres) const;

    // The grid, row by row from the north; empty before the first request.
    const int16_t* data() const { return samples_.empty() ? nullptr : samples_.data(); }

    // Samples stored by the last ensureCoverage.
    long loadedSamples() const { return loadedSamples_; }

    double south = 0, north = 0, west = 0, east = 0;  // edges of the grid, degrees
    int32_t columns = 0, rows = 0;
    double sampleSpacing = 0;  // ground distance between samples, metres

private:
    struct Tile {
        std::string name;
        double west, north, width, height;  // degrees
        int32_t rows, columns;
    };
    void loadTile(const Tile& tile, const std::string& directory);
    // The file of `name` in `directory`: as written, else in lower, else in upper case.
    static std::string findFile(const std::string& directory, const std::string& name);

    int source_ = kSrtm;
    std::string gtopoDir_, srtmDir_;
    bool forceReload_ = false;
    bool aborted_ = false;
    long loadedSamples_ = 0;
    std::vector<int16_t> samples_;  // row 0 at the north edge
    std::vector<uint8_t> rowBuffer_;
    ElevationProgressHook progress_;
    ElevationAbortPoll abortPoll_;
};

// The program's one grid.
ElevationCache& elevation();

// The elevation in metres at a position in degrees, from the program's grid.
inline bool elevationAt(double latDeg, double lonDeg, int* metres) {
    return elevation().elevationAt(latDeg, lonDeg, metres);
}

}  // namespace bearfix
