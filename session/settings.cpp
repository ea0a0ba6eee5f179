#include "session/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/cp1252.h"
#include "support/text_scanner.h"

namespace bearfix {

namespace {

constexpr const char* kSession = "PREV_SESSION";
constexpr const char* kMap = "MAP";
constexpr const char* kGui = "GUI";
constexpr const char* kTrack = "TrackDisplay";
constexpr const char* kBearingLog = "BearingLog";

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string homeDirectory() { return environmentOr("HOME", "."); }

bool readFlag(const IniFile& f, const char* section, const char* key, bool current) {
    return f.getInt(section, key, current ? 1 : 0) != 0;
}

void readText(const IniFile& f, const char* section, const char* key, std::string& value) {
    value = f.getString(section, key, value);
}

void readInt(const IniFile& f, const char* section, const char* key, int32_t& value) {
    value = f.getInt(section, key, value);
}

void readCoordinate(const IniFile& f, const char* key, int32_t& value, int32_t low) {
    value = std::clamp(f.getInt(kSession, key, value), low, WindowBounds::kLimit);
}

// What a file without "Brg1Given" means: the user gave any bearing but the
// example's (a file of the old program holds the example after a first run).
bool givenWithoutKey(const std::string& bearing, const std::string& example) { return bearing != example; }

void readGiven(const IniFile& f, const char* key, const std::string& bearing, const std::string& example,
               bool& given) {
    given = f.has(kSession, key) ? f.getInt(kSession, key, 0) != 0 : givenWithoutKey(bearing, example);
}

void writeGiven(IniFile& f, const char* key, const std::string& bearing, const std::string& example, bool given) {
    if (given != givenWithoutKey(bearing, example) || f.has(kSession, key)) f.setInt(kSession, key, given ? 1 : 0);
}

void readDirectory(const IniFile& f, const char* key, std::string& field, std::string& directory) {
    field = f.getPath(kMap, key, directory);
    if (!field.empty()) directory = truncateUtf8(field, kMaxDirectory);
}

}  // namespace

SessionSettings defaultSettings() {
    SessionSettings s;
    std::string data = environmentOr("XDG_DATA_HOME", homeDirectory() + "/.local/share") + "/bearfix/";
    s.gtopoDir = s.gtopoDirField = data + "gtopo30";
    s.srtmDir = s.srtmDirField = data + "srtm";
    return s;
}

std::string settingsFilePath() {
    return environmentOr("XDG_CONFIG_HOME", homeDirectory() + "/.config") + "/bearfix/bearfix.ini";
}

void readSettings(const IniFile& f, SessionSettings& s) {
    readText(f, kSession, "Pos1", s.pos1);
    readText(f, kSession, "Pos2", s.pos2);
    readText(f, kSession, "Brg1X", s.brg1x);
    readText(f, kSession, "Brg2X", s.brg2x);
    readText(f, kSession, "Brg1Tol", s.brg1Tol);
    s.brg1Amb = readFlag(f, kSession, "Brg1Amb", s.brg1Amb);
    readText(f, kSession, "Brg2Tol", s.brg2Tol);
    s.brg2Amb = readFlag(f, kSession, "Brg2Amb", s.brg2Amb);
    const SessionSettings example;
    readGiven(f, "Brg1Given", s.brg1x, example.brg1x, s.brg1Given);
    readGiven(f, "Brg2Given", s.brg2x, example.brg2x, s.brg2Given);
    readText(f, kSession, "MinElev", s.minElev);
    readText(f, kSession, "MaxElev", s.maxElev);
    s.gradientShading = readFlag(f, kSession, "GradientShading", s.gradientShading);
    readText(f, kSession, "VerticalExaggeration", s.verticalExaggeration);
    readText(f, kSession, "TopoMapSunAzimuth", s.sunAzimuth);
    readText(f, kSession, "TopoMapSunElevation", s.sunElevation);
    readInt(f, kSession, "TopoColorPalette", s.topoColorPalette);
    s.boundsStored = f.has(kSession, "Left") && f.has(kSession, "Top");
    s.sizeStored = f.has(kSession, "Width") && f.has(kSession, "Height");
    s.maximised = readFlag(f, kSession, "Maximized", s.maximised);
    readCoordinate(f, "Left", s.bounds.left, -WindowBounds::kLimit);
    readCoordinate(f, "Top", s.bounds.top, -WindowBounds::kLimit);
    readCoordinate(f, "Width", s.bounds.width, 0);
    readCoordinate(f, "Height", s.bounds.height, 0);

    readInt(f, kMap, "Projection", s.projection);
    readInt(f, kMap, "CenterHow", s.centerHow);
    readText(f, kMap, "CenterAt", s.centerAt);
    readText(f, kMap, "Range_km", s.rangeKm);
    s.showTopo = readFlag(f, kMap, "ShowTopo", s.showTopo);
    s.showCoasts = readFlag(f, kMap, "ShowCoasts", s.showCoasts);
    s.showBorders = readFlag(f, kMap, "ShowBorders", s.showBorders);
    s.showRivers = readFlag(f, kMap, "ShowRivers", s.showRivers);
    s.showTransmitters = readFlag(f, kMap, "ShowTransmitters", s.showTransmitters);
    s.showLargeCities = readFlag(f, kMap, "ShowLargeCities", s.showLargeCities);
    s.showRuler = readFlag(f, kMap, "ShowRuler", s.showRuler);
    readInt(f, kMap, "ShowCities", s.showCities);
    readInt(f, kMap, "ShowGrids", s.showGrids);
    readInt(f, kMap, "UseSRTM3", s.useSrtm3);
    readDirectory(f, "GTOPO30_dir", s.gtopoDirField, s.gtopoDir);
    readDirectory(f, "SRTM3_dir", s.srtmDirField, s.srtmDir);
    s.tilesPath = truncateUtf8(f.getPath(kMap, "TilesPath", s.tilesPath), kMaxDirectory);
    s.showTiles = readFlag(f, kMap, "ShowTiles", s.showTiles);
    s.tilesOpacity = std::clamp(f.getInt(kMap, "TilesOpacity", s.tilesOpacity), 0, 100);
    s.hideOverlappingLabels = readFlag(f, kMap, "HideOverlappingLabels", s.hideOverlappingLabels);
    s.mapFollowsGps = readFlag(f, kMap, "FollowGps", s.mapFollowsGps);

    TrackSettings& t = s.track;
    readInt(f, kGui, "GeoPosFormat", t.posFormat);
    t.trackLineColour = static_cast<uint32_t>(f.getInt(kTrack, "BackgndColor", static_cast<int32_t>(t.trackLineColour)));
    t.trackLabelColour =
        static_cast<uint32_t>(f.getInt(kTrack, "LabelTextColor", static_cast<int32_t>(t.trackLabelColour)));
    readInt(f, kTrack, "LineWidth", t.trackLineWidth);
    readInt(f, kTrack, "ColorPalette", t.colorPalette);
    readInt(f, kTrack, "Options", t.trackOptions);
    t.lastFileName = truncateUtf8(f.getPath(kTrack, "LastFileName", {}), TrackSettings::kMaxFileName);
    t.lastFileType = f.getInt(kTrack, "LastFileType", 0);
    s.exportFolder = truncateUtf8(f.getPath(kGui, "ExportFolder", s.exportFolder), kMaxDirectory);
    s.lastMinutesOnly = readFlag(f, kBearingLog, "LastMinutesOnly", s.lastMinutesOnly);
    readText(f, kBearingLog, "LastMinutes", s.lastMinutes);
    readLiveSettings(f, s.live);
    readBridgeSettings(f, s.bridges);
    s.robustFix = readFlag(f, kBearingLog, "RobustFix", s.robustFix);
}

void writeSettings(IniFile& f, const SessionSettings& s, bool writeBounds) {
    auto flag = [](bool b) { return b ? 1 : 0; };
    f.setString(kSession, "Pos1", s.pos1);
    f.setString(kSession, "Pos2", s.pos2);
    f.setString(kSession, "Brg1X", s.brg1x);
    f.setString(kSession, "Brg2X", s.brg2x);
    f.setString(kSession, "Brg1Tol", s.brg1Tol);
    f.setInt(kSession, "Brg1Amb", flag(s.brg1Amb));
    f.setString(kSession, "Brg2Tol", s.brg2Tol);
    f.setInt(kSession, "Brg2Amb", flag(s.brg2Amb));
    const SessionSettings example;
    writeGiven(f, "Brg1Given", s.brg1x, example.brg1x, s.brg1Given);
    writeGiven(f, "Brg2Given", s.brg2x, example.brg2x, s.brg2Given);
    f.setString(kSession, "MinElev", s.minElev);
    f.setString(kSession, "MaxElev", s.maxElev);
    f.setInt(kSession, "GradientShading", flag(s.gradientShading));
    f.setString(kSession, "VerticalExaggeration", s.verticalExaggeration);
    f.setString(kSession, "TopoMapSunAzimuth", s.sunAzimuth);
    f.setString(kSession, "TopoMapSunElevation", s.sunElevation);
    f.setInt(kSession, "TopoColorPalette", s.topoColorPalette);
    if (writeBounds) {
        f.setInt(kSession, "Left", s.bounds.left);
        f.setInt(kSession, "Top", s.bounds.top);
        f.setInt(kSession, "Width", s.bounds.width);
        f.setInt(kSession, "Height", s.bounds.height);
    }
    // A file that never saw a maximised window stays as the old program wrote it.
    if (s.maximised || f.has(kSession, "Maximized")) f.setInt(kSession, "Maximized", flag(s.maximised));

    f.setInt(kMap, "Projection", s.projection);
    f.setInt(kMap, "CenterHow", s.centerHow);
    f.setString(kMap, "CenterAt", s.centerAt);
    f.setString(kMap, "Range_km", s.rangeKm);
    f.setInt(kMap, "ShowTopo", flag(s.showTopo));
    f.setInt(kMap, "ShowCoasts", flag(s.showCoasts));
    f.setInt(kMap, "ShowBorders", flag(s.showBorders));
    f.setInt(kMap, "ShowRivers", flag(s.showRivers));
    f.setInt(kMap, "ShowTransmitters", flag(s.showTransmitters));
    f.setInt(kMap, "ShowLargeCities", flag(s.showLargeCities));
    f.setInt(kMap, "ShowRuler", flag(s.showRuler));
    f.setInt(kMap, "ShowCities", s.showCities);
    f.setInt(kMap, "ShowGrids", s.showGrids);
    f.setInt(kMap, "UseSRTM3", s.useSrtm3);
    f.setPath(kMap, "GTOPO30_dir", s.gtopoDir);
    f.setPath(kMap, "SRTM3_dir", s.srtmDir);
    // Like "Maximized": an old file gains these keys only once they are used.
    if (!s.tilesPath.empty() || f.has(kMap, "TilesPath")) f.setPath(kMap, "TilesPath", s.tilesPath);
    if (s.showTiles || f.has(kMap, "ShowTiles")) f.setInt(kMap, "ShowTiles", flag(s.showTiles));
    if (s.tilesOpacity != 100 || f.has(kMap, "TilesOpacity")) f.setInt(kMap, "TilesOpacity", s.tilesOpacity);
    if (!s.hideOverlappingLabels || f.has(kMap, "HideOverlappingLabels"))
        f.setInt(kMap, "HideOverlappingLabels", flag(s.hideOverlappingLabels));
    if (s.mapFollowsGps || f.has(kMap, "FollowGps")) f.setInt(kMap, "FollowGps", flag(s.mapFollowsGps));

    const TrackSettings& t = s.track;
    f.setInt(kGui, "GeoPosFormat", t.posFormat);
    f.setInt(kTrack, "BackgndColor", static_cast<int32_t>(t.trackLineColour));
    f.setInt(kTrack, "LabelTextColor", static_cast<int32_t>(t.trackLabelColour));
    f.setInt(kTrack, "LineWidth", t.trackLineWidth);
    f.setInt(kTrack, "ColorPalette", t.colorPalette);
    f.setInt(kTrack, "Options", t.trackOptions);
    f.setPath(kTrack, "LastFileName", t.lastFileName);
    f.setInt(kTrack, "LastFileType", t.lastFileType);
    if (!s.exportFolder.empty() || f.has(kGui, "ExportFolder")) f.setPath(kGui, "ExportFolder", s.exportFolder);
    if (s.lastMinutesOnly || f.has(kBearingLog, "LastMinutesOnly"))
        f.setInt(kBearingLog, "LastMinutesOnly", flag(s.lastMinutesOnly));
    if (s.lastMinutes != SessionSettings{}.lastMinutes || f.has(kBearingLog, "LastMinutes"))
        f.setString(kBearingLog, "LastMinutes", s.lastMinutes);
    writeLiveSettings(f, s.live);
    writeBridgeSettings(f, s.bridges);
    if (s.robustFix != SessionSettings{}.robustFix || f.has(kBearingLog, "RobustFix"))
        f.setInt(kBearingLog, "RobustFix", flag(s.robustFix));
}

double countedMinutes(bool only, std::string_view typed) {
    typed = trimBlanks(typed);
    double minutes = 0.0;
    const auto [end, ec] = std::from_chars(typed.data(), typed.data() + typed.size(), minutes);
    const bool number = !typed.empty() && ec == std::errc() && end == typed.data() + typed.size();
    return only && number && std::isfinite(minutes) && minutes > 0.0 ? minutes : 0.0;
}

MapSettings mapSettingsFor(const SessionSettings& s, const std::string& locationX) {
    MapSettings m;
    m.projection = s.projection;
    m.centerHow = s.centerHow;
    m.rangeKm = s.rangeKm;
    m.showCoasts = s.showCoasts;
    m.showBorders = s.showBorders;
    m.showRivers = s.showRivers;
    m.showTransmitters = s.showTransmitters;
    m.largeCitiesOnly = s.showLargeCities;
    m.showTopo = s.showTopo;
    m.showRuler = s.showRuler;
    m.cityMode = s.showCities;
    m.gridMode = s.showGrids;
    m.hideOverlappingLabels = s.hideOverlappingLabels;
    m.tilesPath = s.tilesPath;
    m.showTiles = s.showTiles;
    m.tilesOpacity = s.tilesOpacity;
    m.minElev = s.minElev;
    m.maxElev = s.maxElev;
    m.shading = s.gradientShading;
    m.verticalExaggeration = s.verticalExaggeration;
    m.sunAzimuth = s.sunAzimuth;
    m.sunElevation = s.sunElevation;
    m.palette = s.topoColorPalette;
    m.pos1 = s.pos1;
    m.pos2 = s.pos2;
    m.locationX = locationX;
    m.brg1x = s.brg1x;
    m.brg2x = s.brg2x;
    m.brg1Tol = s.brg1Tol;
    m.brg2Tol = s.brg2Tol;
    m.ambiguity1 = s.brg1Amb;
    m.ambiguity2 = s.brg2Amb;
    m.trackLineColour = s.track.trackLineColour;
    m.trackLabelColour = s.track.trackLabelColour;
    m.trackLineWidth = s.track.trackLineWidth;
    return m;
}

}  // namespace bearfix
