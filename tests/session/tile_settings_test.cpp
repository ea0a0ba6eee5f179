// The tile and label settings in the settings file: an old file gains the
// keys only once they are used, and then keeps them.
#include <gtest/gtest.h>

#include "session/settings.h"

namespace bearfix {
namespace {

const char* const kKeys[] = {"TilesPath", "ShowTiles", "TilesOpacity", "HideOverlappingLabels"};

TEST(TileSettings, AnOldFileGainsTheKeysOnlyOnceUsed) {
    IniFile file;
    file.parse("[MAP]\nRange_km=40\n");
    SessionSettings s = defaultSettings();
    readSettings(file, s);
    EXPECT_EQ(s.tilesPath, "");
    EXPECT_FALSE(s.showTiles);
    EXPECT_EQ(s.tilesOpacity, 100);
    EXPECT_TRUE(s.hideOverlappingLabels);
    writeSettings(file, s, false);
    for (const char* key : kKeys) EXPECT_EQ(file.text().find(key), std::string::npos) << key;

    // A file name in bytes that are no UTF-8 comes back byte for byte.
    s.tilesPath = "/media/karten/gel\xE4nde.mbtiles";
    s.showTiles = true;
    s.tilesOpacity = 40;
    s.hideOverlappingLabels = false;
    writeSettings(file, s, false);
    const std::string text = file.text();
    EXPECT_NE(text.find("\nTilesPath=/media/karten/gel%E4nde.mbtiles\nShowTiles=1\nTilesOpacity=40\n"
                        "HideOverlappingLabels=0\n"),
              std::string::npos)
        << text;
    SessionSettings back = defaultSettings();
    readSettings(file, back);
    const MapSettings m = mapSettingsFor(back, "");
    EXPECT_EQ(m.tilesPath, s.tilesPath);
    EXPECT_TRUE(m.showTiles);
    EXPECT_EQ(m.tilesOpacity, 40);
    EXPECT_FALSE(m.hideOverlappingLabels);

    // Back at the defaults, the keys stay and say so.
    writeSettings(file, defaultSettings(), false);
    EXPECT_NE(file.text().find("\nTilesPath=\nShowTiles=0\nTilesOpacity=100\nHideOverlappingLabels=1\n"),
              std::string::npos);
}

TEST(TileSettings, OpacityIsAPercentage) {
    // (stored, read)
    const std::pair<const char*, int> cases[] = {{"55", 55}, {"250", 100}, {"-5", 0}, {"0", 0}, {"half", 100}};
    for (const auto& [stored, read] : cases) {
        IniFile file;
        file.parse(std::string("[MAP]\nTilesOpacity=") + stored + "\n");
        SessionSettings s = defaultSettings();
        readSettings(file, s);
        EXPECT_EQ(s.tilesOpacity, read) << stored;
    }
}

}  // namespace
}  // namespace bearfix
