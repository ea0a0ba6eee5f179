#include "session/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <tuple>

namespace bearfix {
namespace {

TEST(Settings, FirstRunDefaults) {
    setenv("XDG_DATA_HOME", "/data", 1);
    setenv("XDG_CONFIG_HOME", "/config", 1);
    SessionSettings s = defaultSettings();
    readSettings(IniFile{}, s);
    EXPECT_EQ(s.pos1, "N52\xB0" "08'26\" E008\xB0" "28'57\"");
    EXPECT_EQ(s.brg2x, "288");
    EXPECT_EQ(s.centerHow, 1);
    EXPECT_EQ(s.showCities, 2);
    EXPECT_EQ(s.useSrtm3, 1);
    EXPECT_EQ(s.gtopoDir, "/data/bearfix/gtopo30");
    EXPECT_EQ(s.srtmDirField, "/data/bearfix/srtm");
    EXPECT_EQ(s.track.trackLineColour, 192u);
    EXPECT_FALSE(s.boundsStored || s.sizeStored || s.maximised);
    EXPECT_EQ(settingsFilePath(), "/config/bearfix/bearfix.ini");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

TEST(Settings, ReadAndWrittenBackUnchanged) {
    // Every value differs from its default, so that one not read shows in the file written back.
    const std::string text =
        "[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'26\" E008\xC2\xB0" "28'57\"\nPos2=\"quoted\"\nBrg1X=\nBrg2X=12,5\n"
        "Brg1Tol=2\nBrg1Amb=1\nBrg2Tol=3\nBrg2Amb=1\nMinElev=-5\nMaxElev=900\nGradientShading=0\n"
        "VerticalExaggeration=1.5\nTopoMapSunAzimuth=90\nTopoMapSunElevation=30\nTopoColorPalette=1\n"
        "Left=-20\nTop=30\nWidth=800\nHeight=600\n\n"
        "[MAP]\nProjection=2\nCenterHow=9\nCenterAt=S33\xC2\xB0" "52'00\" E151\xC2\xB0" "12'00\"\nRange_km=250\n"
        "ShowTopo=0\nShowCoasts=0\nShowBorders=0\nShowRivers=0\nShowTransmitters=0\nShowLargeCities=1\n"
        "ShowRuler=1\nShowCities=-1\nShowGrids=3\nUseSRTM3=0\nGTOPO30_dir=/home/u/gtopo\nSRTM3_dir=/home/u/srtm\n\n"
        "[GUI]\nGeoPosFormat=7\n\n"
        "[TrackDisplay]\nBackgndColor=16711935\nLabelTextColor=11259375\nLineWidth=5\nColorPalette=6\n"
        "Options=19\nLastFileName=/tmp/walk \xC3\xBC.kml\nLastFileType=4\n";
    IniFile file;
    file.parse(text);
    SessionSettings s = defaultSettings();
    readSettings(file, s);
    EXPECT_TRUE(s.boundsStored);
    EXPECT_EQ(s.pos1, "N52\xB0" "08'26\" E008\xB0" "28'57\"") << "texts in Windows-1252, ending in '\"'";
    EXPECT_EQ(s.track.lastFileName, "/tmp/walk \xC3\xBC.kml") << "file names keep their UTF-8";
    IniFile written;
    writeSettings(written, s, true);
    EXPECT_EQ(written.text(), text);
}

TEST(Settings, WindowBoundsAndDirectories) {
    IniFile file;
    file.parse("[PREV_SESSION]\nLeft=10\nTop=20\nWidth=700\nHeight=500\n[MAP]\nGTOPO30_dir=\nSRTM3_dir=" +
               std::string(5000, 'd') + "\n");
    SessionSettings s = defaultSettings();
    const std::string defaultGtopo = s.gtopoDir;
    readSettings(file, s);
    EXPECT_EQ(s.gtopoDirField, "") << "the field shows what the file holds";
    EXPECT_EQ(s.gtopoDir, defaultGtopo) << "an empty directory is not taken over";
    EXPECT_EQ(s.srtmDir.size(), static_cast<std::size_t>(PATH_MAX - 1)) << "as long as a path Linux opens";

    // Maximised: the bounds of the last normal close stay in the file.
    s.bounds = {0, 0, 1920, 1080};
    writeSettings(file, s, false);
    EXPECT_NE(file.text().find("Left=10\nTop=20\nWidth=700\nHeight=500\n"), std::string::npos);
    EXPECT_NE(file.text().find("GTOPO30_dir=" + defaultGtopo + "\n"), std::string::npos)
        << "written from the directory in use";
    EXPECT_EQ(file.text().find("Maximized"), std::string::npos) << "an old file stays as it was";
    s.maximised = true;
    writeSettings(file, s, false);
    SessionSettings back = defaultSettings();
    readSettings(file, back);
    EXPECT_TRUE(back.maximised && back.sizeStored);
    s.maximised = false;
    writeSettings(file, s, true);
    EXPECT_NE(file.text().find("\nMaximized=0\n"), std::string::npos) << "once written, it follows the window";
}

TEST(Settings, WindowBoundsAreHeldWithinReach) {
    // (stored, read); 2^20 is the limit, far beyond any screen and far below overflow.
    const std::pair<const char*, WindowBounds> cases[] = {
        {"Left=2147483647\nTop=-2147483648\nWidth=2147483647\nHeight=-5", {1048576, -1048576, 1048576, 0}},
        {"Left=-20\nTop=30\nWidth=800\nHeight=600", {-20, 30, 800, 600}},
        {"Left=0x7FFFFFFF\nTop=1048577\nWidth=0xFFFFFFFF\nHeight=0", {1048576, 1048576, 0, 0}},
    };
    for (const auto& [stored, read] : cases) {
        IniFile file;
        file.parse(std::string("[PREV_SESSION]\n") + stored + "\n");
        SessionSettings s = defaultSettings();
        readSettings(file, s);
        EXPECT_EQ(std::tie(s.bounds.left, s.bounds.top, s.bounds.width, s.bounds.height),
                  std::tie(read.left, read.top, read.width, read.height))
            << stored;
    }
}

TEST(Settings, TheTrackFileNameIsKeptUpToThePathLimit) {
    const std::string longest = "/" + std::string(4094, 'd'), tooLong = longest + "/x.kml";
    for (const std::string& name : {longest, tooLong}) {
        IniFile file;
        file.parse("[TrackDisplay]\nLastFileName=" + name + "\n");
        SessionSettings s = defaultSettings();
        readSettings(file, s);
        EXPECT_EQ(s.track.lastFileName, longest) << name.size() << " bytes";
    }
}

// A bearing given by the user, and the robust fix, are kept; a file
// without the keys (the old program's, or a first run's) means: a bearing
// given unless it is the example's, and robust. A key is written only where
// it says something else, or the file has it.
TEST(Settings, TheBearingsGivenAndTheRobustFixAreKept) {
    const struct {
        const char* file;
        bool given1, given2, robust;
        const char* written;  // what the keys say when written back from the values changed
    } cases[] = {
        {"", false, false, true, "Brg1Given=1\n"},  // the first run; then the example's 260 typed
        {"[PREV_SESSION]\nBrg1X=123\nBrg2X=288.0\n", true, true, true, "Brg1Given=0\n"},  // gone into the log
        {"[PREV_SESSION]\nBrg1X=\nBrg1Given=0\nBrg2Given=1\n[BearingLog]\nRobustFix=0\n", false, true, false,
         "Brg1Given=1\n"},
    };
    for (const auto& c : cases) {
        IniFile file;
        file.parse(c.file);
        SessionSettings s = defaultSettings();
        readSettings(file, s);
        EXPECT_EQ(std::tie(s.brg1Given, s.brg2Given, s.robustFix), std::tie(c.given1, c.given2, c.robust)) << c.file;
        writeSettings(file, s, false);
        const bool keyed = std::string(c.file).find("Given") != std::string::npos;
        EXPECT_EQ(file.text().find("Given") != std::string::npos, keyed) << "only what the file had";
        s.brg1Given = !s.brg1Given;
        s.robustFix = !s.robustFix;
        writeSettings(file, s, false);
        EXPECT_NE(file.text().find(c.written), std::string::npos) << file.text();
        EXPECT_NE(file.text().find(c.robust ? "RobustFix=0\n" : "RobustFix=1\n"), std::string::npos);
    }
}

TEST(Settings, AWindowsFileOpensAndSavesAsBefore) {
    // Windows-1252 throughout, with CR LF, as the Windows program wrote it.
    IniFile file;
    file.parse("[PREV_SESSION]\r\nPos1=N52\xB0" "08'26\" E008\xB0" "28'57\"\r\nBrg1X=12\r\n[MAP]\r\n"
               "GTOPO30_dir=c:\\gtopo30\r\n[Other]\r\nNote=K\xF6ln\r\n");
    SessionSettings s = defaultSettings();
    readSettings(file, s);
    EXPECT_EQ(s.pos1, "N52\xB0" "08'26\" E008\xB0" "28'57\"");
    EXPECT_EQ(s.gtopoDir, "c:\\gtopo30");
    writeSettings(file, s, false);
    const std::string text = file.text();
    EXPECT_EQ(text.substr(0, text.find("Pos2")), "[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'26\" E008\xC2\xB0" "28'57\"\nBrg1X=12\n");
    EXPECT_NE(text.find("GTOPO30_dir=c:\\gtopo30\n"), std::string::npos);
    EXPECT_NE(text.find("[Other]\nNote=K\xF6ln\n"), std::string::npos) << "not the program's: as it was";
}

// The hunt's keys are new: written only once set, and then kept.
TEST(Settings, TheHuntsKeysAreWrittenOnlyOnceSet) {
    SessionSettings s = defaultSettings();
    IniFile file;
    writeSettings(file, s, false);
    for (const char* key : {"FollowGps", "ExportFolder", "[BearingLog]", "ToleranceFromConfidence"})
        EXPECT_EQ(file.text().find(key), std::string::npos) << key;
    const std::string keys[] = {"FollowGps=1\n", "ExportFolder=/home/u/hunt \xC3\xBC\n",
                                "[BearingLog]\nLastMinutesOnly=1\nLastMinutes=12.5\n",
                                "ToleranceFromConfidence=1\nToleranceAtConfidence0=20\nToleranceAtConfidence100=2\n"};
    file.parse("[MAP]\n" + keys[0] + "[GUI]\n" + keys[1] + keys[2] + "[BearingFeeds]\n" + keys[3]);
    readSettings(file, s);
    IniFile written;
    writeSettings(written, s, false);
    for (const std::string& key : keys) EXPECT_NE(written.text().find(key), std::string::npos) << key;
    EXPECT_EQ(countedMinutes(s.lastMinutesOnly, s.lastMinutes) + countedMinutes(true, "5 min"), 12.5);
}

}  // namespace
}  // namespace bearfix
