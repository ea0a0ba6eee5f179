// The session kept between runs in "bearfix.ini": observers, map settings,
// display options, elevation directories and the track settings. Read once at
// start-up, written once at close.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/ini_file.h"
#include "session/bridge_settings.h"
#include "session/live_settings.h"
#include "map/map_settings.h"
#include "tracks/track_settings.h"

namespace bearfix {

// The longest elevation directory kept: as long a path as Linux opens.
inline constexpr std::size_t kMaxDirectory = TrackSettings::kMaxFileName;

struct WindowBounds {
    // Read values are held within +-kLimit, so that no sum of them overflows.
    static constexpr int32_t kLimit = 1 << 20;
    int32_t left = 379;
    int32_t top = 114;
    int32_t width = 541;  // the window without the window manager's frame
    int32_t height = 406;
};

// Everything the settings file holds. Texts are Windows-1252 and stay exactly
// as the user left them. List indexes are kept as read; the window selects
// nothing for an index outside its list.
struct SessionSettings {
    // "PREV_SESSION"
    std::string pos1 = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
    std::string pos2 = "N49\xB0" "27'00\" E011\xB0" "00'00\"";
    std::string brg1x = "260";
    std::string brg2x = "288";
    std::string brg1Tol = "1";
    bool brg1Amb = false;
    std::string brg2Tol = "1";
    bool brg2Amb = false;
    // The user gave the observer's bearing (typed, sent or picked): only then
    // it joins the bearing log's fix, never the first run's example. Kept as
    // "Brg1Given" once it differs from what a file without the key means: a
    // bearing other than the example's.
    bool brg1Given = false;
    bool brg2Given = false;
    std::string minElev = "0";
    std::string maxElev = "2000";
    bool gradientShading = true;
    std::string verticalExaggeration = "3";
    std::string sunAzimuth = "180";
    std::string sunElevation = "60";
    int32_t topoColorPalette = 0;
    WindowBounds bounds;
    bool boundsStored = false;  // the file held the window's position
    bool sizeStored = false;    // and its size; without, the window takes two thirds of the screen
    bool maximised = false;     // "Maximized", which files of the old program lack

    // "MAP"
    int32_t projection = 0;
    int32_t centerHow = 1;
    std::string centerAt = "N51\xB0" "19'40\" E007\xB0" "14'05\"";
    std::string rangeKm = "600";
    bool showTopo = true;
    bool showCoasts = true;
    bool showBorders = true;
    bool showRivers = true;
    bool showTransmitters = true;
    bool showLargeCities = false;
    bool showRuler = false;
    int32_t showCities = 2;
    int32_t showGrids = 0;
    int32_t useSrtm3 = 1;
    // Directories and file names are kept in the file system's bytes.
    std::string gtopoDir;       // the directories in use
    std::string srtmDir;
    std::string gtopoDirField;  // what the directory fields show
    std::string srtmDirField;
    // Keys that files of the old program lack; written once they differ from these.
    std::string tilesPath;
    bool showTiles = false;
    int32_t tilesOpacity = 100;  // percent, 0..100
    bool hideOverlappingLabels = true;
    bool mapFollowsGps = false;  // "Follow GPS"

    // "GUI" and "TrackDisplay"
    TrackSettings track;
    // "BearingLog": only the bearings of the last minutes count in the fix
    // (the minutes as typed). New keys, written once they differ from these.
    bool lastMinutesOnly = false;
    std::string lastMinutes = "30";
    // The folder of the last export (the file system's bytes); empty before
    // the first. A new key, written once it is set.
    std::string exportFolder;

    // "GPS" and "BearingFeeds"
    LiveSettings live;

    // "APRS" and "CoT"
    BridgeSettings bridges;

    // "BearingLog": the fix with bearings far off counting less; written
    // once it differs from this default or the file has it.
    bool robustFix = true;
};

// The settings as a first run has them; the elevation directories default to
// $XDG_DATA_HOME/bearfix/gtopo30 and .../srtm (~/.local/share when unset).
SessionSettings defaultSettings();

// "$XDG_CONFIG_HOME/bearfix/bearfix.ini", ~/.config when unset.
std::string settingsFilePath();

// Reads every key with the current value of `s` as its default.
void readSettings(const IniFile& file, SessionSettings& s);

// Writes every key in order. The window bounds only when `writeBounds` (the
// window is neither maximised nor minimised); the file keeps the old ones.
void writeSettings(IniFile& file, const SessionSettings& s, bool writeBounds);

// The minutes of "only the last N min" (BearingRows::lastMinutes): 0, all
// bearings count, when it is off or `typed` is no number of minutes above 0.
double countedMinutes(bool only, std::string_view typed);

// What the map drawing reads from a session; `locationX` is the text of the
// intersection field, which the settings file does not keep.
MapSettings mapSettingsFor(const SessionSettings& s, const std::string& locationX);

}  // namespace bearfix
