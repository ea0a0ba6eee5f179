#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace bearfix {
namespace {

TEST(Settings, FirstRunDefaults) {
    setenv("XDG_DATA_HOME", "/data", 1);
    setenv("XDG_CONFIG_HOME", "/config", 1);
    SessionSettings s = defaultSettings();
    IniFile empty;
    readSettings(empty, s);
    EXPECT_EQ(s.pos1, "N52\xB0" "08'26\" E008\xB0" "28'57\"");
    EXPECT_EQ(s.brg2x, "288");
    EXPECT_EQ(s.centerHow, 1);
    EXPECT_EQ(s.showCities, 2);
    EXPECT_EQ(s.useSrtm3, 1);
    EXPECT_EQ(s.gtopoDir, "/data/bearfix/gtopo30");
    EXPECT_EQ(s.srtmDirField, "/data/bearfix/srtm");
    EXPECT_EQ(s.track.trackLabelColour, 49280u);
    EXPECT_EQ(s.track.trackLineColour, 192u);
    EXPECT_FALSE(s.boundsStored);
    EXPECT_EQ(settingsFilePath(), "/config/bearfix/bearfix.ini");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

TEST(Settings, RoundTripKeepsEveryValue) {
    SessionSettings s = defaultSettings();
    s.pos1 = "N52\xB0" "08'26\" E008\xB0" "28'57\"";  // ends in '"'
    s.pos2 = "  \"quoted\"  ";
    s.brg1x = "";
    s.brg2x = "12,5";
    s.brg1Amb = true;
    s.gradientShading = false;
    s.topoColorPalette = 1;
    s.bounds = {-20, 30, 800, 600};
    s.centerHow = 9;  // outside the list: kept as it is
    s.showCities = -1;
    s.useSrtm3 = 0;
    s.gtopoDir = "/home/u/gtopo";
    s.track.posFormat = 7;
    s.track.trackLineColour = 0x00FF00FF;
    s.track.trackOptions = 0x13;
    s.track.lastFileName = "/tmp/walk \xC3\xBC.kml";  // file names keep their UTF-8
    s.track.lastFileType = 4;

    IniFile file;
    writeSettings(file, s, true);
    IniFile reread;
    reread.parse(file.text());
    SessionSettings back = defaultSettings();
    readSettings(reread, back);

    EXPECT_EQ(back.pos1, s.pos1);
    EXPECT_EQ(back.pos2, "\"quoted\"") << "only the blanks around a value are dropped";
    EXPECT_EQ(back.brg1x, "");
    EXPECT_EQ(back.brg2x, "12,5");
    EXPECT_TRUE(back.brg1Amb);
    EXPECT_FALSE(back.gradientShading);
    EXPECT_EQ(back.topoColorPalette, 1);
    EXPECT_TRUE(back.boundsStored);
    EXPECT_EQ(back.bounds.left, -20);
    EXPECT_EQ(back.bounds.height, 600);
    EXPECT_EQ(back.centerHow, 9);
    EXPECT_EQ(back.showCities, -1);
    EXPECT_EQ(back.useSrtm3, 0);
    EXPECT_EQ(back.gtopoDir, "/home/u/gtopo");
    EXPECT_EQ(back.track.posFormat, 7);
    EXPECT_EQ(back.track.trackLineColour, 0x00FF00FFu);
    EXPECT_EQ(back.track.trackOptions, 0x13);
    EXPECT_EQ(back.track.lastFileName, s.track.lastFileName);
    EXPECT_EQ(back.track.lastFileType, 4);
}

TEST(Settings, WindowBoundsAndDirectories) {
    IniFile file;
    file.parse("[PREV_SESSION]\nLeft=10\nTop=20\nWidth=700\nHeight=500\n[MAP]\nGTOPO30_dir=\nSRTM3_dir=" +
               std::string(300, 'd') + "\n");
    SessionSettings s = defaultSettings();
    const std::string defaultGtopo = s.gtopoDir;
    readSettings(file, s);
    EXPECT_EQ(s.gtopoDirField, "") << "the field shows what the file holds";
    EXPECT_EQ(s.gtopoDir, defaultGtopo) << "an empty directory is not taken over";
    EXPECT_EQ(s.srtmDir.size(), 254u);

    // Maximised: the bounds of the last normal close stay in the file.
    s.bounds = {0, 0, 1920, 1080};
    writeSettings(file, s, false);
    SessionSettings back = defaultSettings();
    IniFile reread;
    reread.parse(file.text());
    readSettings(reread, back);
    EXPECT_EQ(back.bounds.left, 10);
    EXPECT_EQ(back.bounds.width, 700);
    EXPECT_EQ(back.gtopoDir, defaultGtopo) << "written from the directory in use";
}

}  // namespace
}  // namespace bearfix
