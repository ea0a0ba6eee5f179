#include "tools/search_cli.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "fix/bearing_log.h"
#include "geo/great_circle.h"
#include "geo/position_patterns.h"
#include "export/export_writers.h"
#include "export/region_features.h"
#include "map/elevation.h"
#include "search/geotiff_file.h"
#include "search/hdr_region.h"
#include "search/next_position.h"
#include "search/posterior.h"
#include "search/viewshed.h"
#include "session/settings.h"
#include "support/cp1252.h"
#include "support/number_format.h"
#include "tools/cli_text.h"
#include "tools/fix_bearings.h"
#include "tools/magnetic_cli.h"

namespace bearfix {

namespace {

static_assert(kTerrainSea == kElevationOcean && kTerrainNoData == kElevationNotLoaded);

constexpr double kKmPerDegree = kEarthRadiusKm * 0.017453292519943295;
constexpr std::size_t kMaxStationViewsheds = 16;
constexpr uint32_t kRegion50Colour = 0x000000C0, kRegion95Colour = 0x000080FF;  // red, orange (0x00BBGGRR)

// The value after `option` (both removed), nothing when absent; false in
// *ok when the option has no value.
std::optional<std::string> take(std::vector<std::string>& args, const std::string& option, bool* ok) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != option) continue;
        if (i + 1 >= args.size()) {
            *ok = false;
            return std::nullopt;
        }
        std::string value = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        return value;
    }
    return std::nullopt;
}

bool flag(std::vector<std::string>& args, const std::string& option) { return std::erase(args, option) > 0; }

// A number in [low, high], or nothing.
std::optional<double> number(const std::optional<std::string>& text, double fallback, double low, double high) {
    if (!text) return fallback;
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !(v >= low && v <= high)) return std::nullopt;
    return v;
}

std::optional<GeoPosition> position(const std::string& text) {
    GeoPosition p;
    if (!read_position(position_text_from_utf8(text), p)) return std::nullopt;
    return p;
}

// The bearing file as fix --bearings reads it: magnetic bearings without a
// correction get the model's declination (at `year` when untimed).
bool loadBearings(const std::string& path, double year, std::vector<Bearing>& bearings) {
    std::string errors;
    switch (loadBearingCsv(path, bearings, errors, {}, fileDeclinations(year))) {
        case CsvLoad::Read: return true;
        case CsvLoad::Missing: std::fprintf(stderr, "bearfix-cli: %s: no such file\n", path.c_str()); return false;
        case CsvLoad::Bad: printErrorLines(path, errors); return false;
    }
    return false;
}

// The options of the map: --robust and each --ambiguous STATION (any
// station's bearings; "*" for all).
DensityOptions densityOptions(std::vector<std::string>& args, const std::vector<Bearing>& bearings, bool* ok) {
    DensityOptions options;
    options.robust = flag(args, "--robust");
    options.ambiguous.assign(bearings.size(), false);
    while (const auto name = take(args, "--ambiguous", ok)) {
        const std::string station = utf8ToCp1252(*name);
        bool any = false;
        for (std::size_t i = 0; i < bearings.size(); ++i) {
            if (*name == "*" || bearings[i].station == station) options.ambiguous[i] = any = true;
        }
        if (!any) std::fprintf(stderr, "bearfix-cli: no bearing of a station \"%s\"\n", name->c_str());
    }
    return options;
}

// The settings file's terrain data set and directories (the window's
// defaults when no file is named and yours does not exist).
bool readTerrainSettings(const std::optional<std::string>& config, SessionSettings& session) {
    session = defaultSettings();
    IniFile file;
    const std::string path = config ? *config : settingsFilePath();
    std::string reason;
    switch (file.load(path, &reason)) {
        case IniFile::Load::Read: break;
        case IniFile::Load::Missing:
            if (!config) break;
            std::fprintf(stderr, "bearfix-cli: %s: no such file\n", path.c_str());
            return false;
        case IniFile::Load::Unreadable:
            std::fprintf(stderr, "bearfix-cli: cannot read %s: %s\n", path.c_str(), reason.c_str());
            return false;
    }
    readSettings(file, session);
    return true;
}

// The elevation grid round a place, as the viewshed reads it; false when no
// tile covers the place. The samples are taken where the cache's grid puts
// them (west + column * step); its loader rounds a tile's first column
// towards zero, so those of a tile east of the grid's west edge come from
// one grid step further east (map/elevation.cpp).
bool terrainAround(ElevationCache& cache, const SessionSettings& s, GeoPosition centre, double radiusKm,
                   TerrainGrid* terrain) {
    cache.setSource(s.useSrtm3 == 0 ? kGtopo30 : kSrtm);
    cache.setDirectories(s.gtopoDir, s.srtmDir);
    const double lat = centre.lat * kRadToDeg, lon = centre.lon * kRadToDeg;
    const double dLat = radiusKm / kKmPerDegree, dLon = radiusKm / (kKmPerDegree * std::max(std::cos(centre.lat), 0.01));
    cache.ensureCoverage(lat - dLat, lat + dLat, lon - dLon, lon + dLon);
    int metres = 0;
    if (!cache.data() || !cache.elevationAt(lat, lon, &metres) || metres == kElevationNotLoaded) return false;
    *terrain = {cache.data(), cache.columns, cache.rows, cache.west, cache.north,
                (cache.east - cache.west) / cache.columns, (cache.north - cache.south) / cache.rows};
    return true;
}

std::string terrainDirectory(const SessionSettings& s) { return s.useSrtm3 == 0 ? s.gtopoDir : s.srtmDir; }

// {"area_km2": .., "parts": .., "polygons": [[[lat, lon], ...], ...]}
std::string regionJson(const HdrRegion& region) {
    std::string out = "{\"area_km2\": " + jsonNumber(region.areaKm2) + ", \"parts\": " + std::to_string(region.parts) +
                      ", \"polygons\": [";
    for (std::size_t i = 0; i < region.polygons.size(); ++i) {
        out += i ? ", [" : "[";
        const auto& ring = region.polygons[i];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            out += (k ? ", [" : "[") + jsonNumber(ring[k].lat * kRadToDeg) + ", " + jsonNumber(ring[k].lon * kRadToDeg) + "]";
        }
        out += "]";
    }
    return out + "]}";
}

bool isTiff(const std::string& path) {
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "tif" || ext == "tiff";
}

// The viewsheds of the first stations of the used bearings (distinct
// places), each out to 50 km.
std::vector<Viewshed> stationViewsheds(const std::vector<Bearing>& bearings, const SessionSettings& s) {
    std::vector<Viewshed> views;
    ElevationCache cache;
    for (const Bearing& b : bearings) {
        if (!b.enabled || views.size() >= kMaxStationViewsheds) continue;
        bool seen = false;
        for (const Viewshed& v : views) {
            double dist;
            gc_distance_course(v.station.lon, v.station.lat, b.position.lon, b.position.lat, &dist, nullptr);
            seen = seen || dist * kEarthRadiusKm < 0.05;
        }
        TerrainGrid terrain;
        if (seen) continue;
        if (!terrainAround(cache, s, b.position, kMaxViewshedRadiusKm, &terrain)) {
            std::fprintf(stderr, "bearfix-cli: no elevation data at station \"%s\"; its view is not weighed\n",
                         cp1252ToUtf8(b.station).c_str());
            continue;
        }
        views.push_back(computeViewshed(terrain, b.position, {.radiusKm = kMaxViewshedRadiusKm}));
    }
    return views;
}

}  // namespace

int runFixDensity(std::vector<std::string> args, bool json) {
    bool ok = true;
    const auto path = take(args, "--bearings", &ok);
    const auto out = take(args, "--density", &ok);
    const auto outlines = take(args, "--outlines", &ok);
    const auto config = take(args, "--config", &ok);
    const auto weight = number(take(args, "--hidden-weight", &ok), 1.0, 0.0, 1.0);
    const bool robust = std::find(args.begin(), args.end(), "--robust") != args.end();
    double year = yearNow();
    std::vector<Bearing> bearings;
    if (!path || !out || !weight || !takeYear(args, year)) return 2;
    if (!isTiff(*out)) {
        std::fprintf(stderr, "bearfix-cli: %s: name the density file .tif (GeoTIFF)\n", out->c_str());
        return 2;
    }
    ExportFormat format = ExportFormat::Kml;
    if (outlines) {
        const std::optional<ExportFormat> named = exportFormatFor(*outlines);
        if (named != ExportFormat::Kml && named != ExportFormat::GeoJson) {
            std::fprintf(stderr, "bearfix-cli: %s: name the outline file .kml or .geojson\n", outlines->c_str());
            return 2;
        }
        format = *named;
    }
    if (!loadBearings(*path, year, bearings)) return 1;
    DensityOptions options = densityOptions(args, bearings, &ok);
    if (!ok || !args.empty()) return 2;

    std::vector<Viewshed> views;
    SessionSettings session;
    if (*weight < 1.0) {
        if (!readTerrainSettings(config, session)) return 1;
        views = stationViewsheds(bearings, session);
        options.viewsheds = views;
        options.hiddenWeight = *weight;
    }
    const Posterior p = computePosterior(bearings, options);
    const HdrRegion h50 = highestDensityRegion(p.grid, 0.5), h95 = highestDensityRegion(p.grid, 0.95);
    if (p.grid.empty()) {
        const std::string more = ", \"hdr50\": null, \"hdr95\": null";
        std::fputs(json ? fixBearingsJson(bearings, p.fix, more).c_str()
                        : cp1252ToUtf8(fixBearingsText(bearings, p.fix, robust)).c_str(),
                   stdout);
        std::fprintf(stderr, "bearfix-cli: no probability map: %s\n", fixStatusReason(p.status));
        return 1;
    }
    std::string reason;
    const GeoRaster raster{p.grid.columns,    p.grid.rows,       p.grid.west, p.grid.north,
                           p.grid.cellLonDeg, p.grid.cellLatDeg, p.grid.density.data(), nullptr};
    if (!writeGeoTiff(*out, raster, &reason)) {
        std::fprintf(stderr, "bearfix-cli: cannot write %s: %s\n", out->c_str(), reason.c_str());
        return 1;
    }
    if (outlines) {
        ExportModel model;
        appendRegionFeatures(model, h50, kRegion50Colour);
        appendRegionFeatures(model, h95, kRegion95Colour);
        if (!writeExportFile(*outlines, format, model, reason)) {
            std::fprintf(stderr, "bearfix-cli: %s\n", reason.c_str());
            return 1;
        }
    }
    if (json) {
        std::fputs(fixBearingsJson(bearings, p.fix, ", \"hdr50\": " + regionJson(h50) + ", \"hdr95\": " + regionJson(h95)).c_str(),
                   stdout);
    } else {
        std::string text = fixBearingsText(bearings, p.fix, robust);
        text += "50 % region: " + formatRegion(h50) + "\n";
        text += "95 % region: " + formatRegion(h95) + "\n";
        std::fputs(cp1252ToUtf8(text).c_str(), stdout);
    }
    return 0;
}

int runViewshed(std::vector<std::string> args) {
    bool ok = true;
    const auto out = take(args, "--out", &ok);
    const auto config = take(args, "--config", &ok);
    const auto height = number(take(args, "--height", &ok), kDefaultAntennaHeightM, -100.0, 10000.0);
    const auto target = number(take(args, "--target-height", &ok), kDefaultTargetHeightM, -100.0, 10000.0);
    const auto radius = number(take(args, "--radius", &ok), kMaxViewshedRadiusKm, 0.01, kMaxViewshedRadiusKm);
    if (!ok || !out || !height || !target || !radius || args.size() != 1) return 2;
    const auto station = position(args[0]);
    if (!station) {
        std::fprintf(stderr, "bearfix-cli: \"%s\" is not a position\n", args[0].c_str());
        return 2;
    }
    if (!isTiff(*out)) {
        std::fprintf(stderr, "bearfix-cli: %s: name the file .tif (GeoTIFF)\n", out->c_str());
        return 2;
    }
    SessionSettings session;
    if (!readTerrainSettings(config, session)) return 1;
    ElevationCache cache;
    TerrainGrid terrain;
    if (!terrainAround(cache, session, *station, *radius, &terrain)) {
        std::fprintf(stderr, "bearfix-cli: no elevation data at %s in %s\n", args[0].c_str(),
                     terrainDirectory(session).c_str());
        return 1;
    }
    const Viewshed v =
        computeViewshed(terrain, *station, {.antennaHeightM = *height, .targetHeightM = *target, .radiusKm = *radius});
    if (v.empty()) {
        std::fprintf(stderr, "bearfix-cli: no viewshed at %s\n", args[0].c_str());
        return 1;
    }
    // The samples stand at the pixels' centres.
    const GeoRaster raster{v.columns,    v.rows,       v.west - v.stepLonDeg / 2, v.north + v.stepLatDeg / 2,
                           v.stepLonDeg, v.stepLatDeg, nullptr,                   v.visible.data()};
    std::string reason;
    if (!writeGeoTiff(*out, raster, &reason)) {
        std::fprintf(stderr, "bearfix-cli: cannot write %s: %s\n", out->c_str(), reason.c_str());
        return 1;
    }
    return 0;
}

int runNext(std::vector<std::string> args, bool json) {
    bool ok = true;
    const auto path = take(args, "--bearings", &ok);
    const auto fromText = take(args, "--from", &ok);
    const auto config = take(args, "--config", &ok);
    const auto radius = number(take(args, "--radius", &ok), kDefaultDriveRadiusKm, 0.0, 1000.0);
    const bool terrainOn = flag(args, "--terrain");
    double year = yearNow();
    if (!ok || !path || !fromText || !radius || !takeYear(args, year)) return 2;
    const auto from = position(*fromText);
    if (!from) {
        std::fprintf(stderr, "bearfix-cli: \"%s\" is not a position\n", fromText->c_str());
        return 2;
    }
    std::vector<Bearing> bearings;
    if (!loadBearings(*path, year, bearings)) return 1;
    const DensityOptions options = densityOptions(args, bearings, &ok);
    if (!ok || !args.empty()) return 2;

    const Posterior p = computePosterior(bearings, options);
    if (p.grid.empty()) {
        std::fprintf(stderr, "bearfix-cli: no probability map: %s\n", fixStatusReason(p.status));
        if (json) std::fputs("{\"next\": null}\n", stdout);
        return 1;
    }
    const HdrRegion h95 = highestDensityRegion(p.grid, 0.95);
    NextOptions next{.driveRadiusKm = *radius};
    Viewshed centreView;
    if (terrainOn) {
        SessionSettings session;
        if (!readTerrainSettings(config, session)) return 1;
        double dist;
        gc_distance_course(p.mean.lon, p.mean.lat, from->lon, from->lat, &dist, nullptr);
        const double reach = std::min(kMaxViewshedRadiusKm, dist * kEarthRadiusKm + *radius);
        ElevationCache cache;
        TerrainGrid terrain;
        if (terrainAround(cache, session, p.mean, reach, &terrain)) {
            // From the transmitter's height to the antenna's: the same sight lines.
            centreView = computeViewshed(
                terrain, p.mean,
                {.antennaHeightM = kDefaultTargetHeightM, .targetHeightM = kDefaultAntennaHeightM, .radiusKm = reach});
            next.centreView = &centreView;
        } else {
            std::fprintf(stderr, "bearfix-cli: no elevation data at the map's centre in %s; terrain left out\n",
                         terrainDirectory(session).c_str());
        }
    }
    const NextSuggestion s = suggestNextPosition(p, h95, bearings, *from, next);
    if (!s.found) {
        std::fprintf(stderr, "bearfix-cli: no point within %g km sees the map's centre\n", *radius);
        if (json) std::fputs("{\"next\": null}\n", stdout);
        return 1;
    }
    if (json) {
        std::printf("{\"next\": {\"lat\": %s, \"lon\": %s, \"distance_km\": %s, \"course_deg\": %s}, "
                    "\"area95_km2\": %s, \"expected_area95_km2\": %s}\n",
                    jsonNumber(s.point.lat * kRadToDeg).c_str(), jsonNumber(s.point.lon * kRadToDeg).c_str(),
                    jsonNumber(s.distanceKm).c_str(), jsonNumber(s.courseDeg).c_str(), jsonNumber(s.currentAreaKm2).c_str(),
                    jsonNumber(s.expectedAreaKm2).c_str());
    } else {
        HdrRegion after;
        after.areaKm2 = s.expectedAreaKm2;
        const std::string text = "Next: " + format_position(s.point, PosFormat::Dms) + ", " +
                                 formatPicture(s.distanceKm, "##0.0") + " km at " + formatPicture(s.courseDeg, "##0") +
                                 "\xB0\n95 % region: " + formatRegion(h95) + " now, about " +
                                 formatRegion(after) + " after a bearing there\n";
        std::fputs(cp1252ToUtf8(text).c_str(), stdout);
    }
    return 0;
}

}  // namespace bearfix
