// The real SRTM3 tile committed under tests/data (57-58 N, 11-12 E),
// unpacked for a test. See tests/data/README.md.
#pragma once

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace bearfix::testing {

inline constexpr double kRealTileSouth = 57.0, kRealTileWest = 11.0;

// Writes N57E011.hgt into `directory`; returns its path, or "" on failure.
inline std::string unpackRealTile(const std::filesystem::path& directory) {
    const std::string packed = std::string(BEARFIX_SOURCE_DIR) + "/tests/data/N57E011.hgt.gz";
    const std::string path = (directory / "N57E011.hgt").string();
    gzFile in = gzopen(packed.c_str(), "rb");
    if (!in) return {};
    std::ofstream out(path, std::ios::binary);
    char buffer[65536];
    long total = 0;
    for (int n; (n = gzread(in, buffer, sizeof buffer)) > 0; total += n) out.write(buffer, n);
    gzclose(in);
    return out && total == 2L * 1201 * 1201 ? path : std::string();
}

}  // namespace bearfix::testing
