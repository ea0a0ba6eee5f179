// bearfix-cli export, read back by an independent reader: GDAL's ogrinfo.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <regex>
#include <set>
#include <sstream>

#include "temp_dir.h"
#include "tracks/track_journal.h"

namespace bearfix::testing {
namespace {

struct Outcome {
    int status;
    std::string output;  // stdout and stderr
};

Outcome run(const std::string& command) {
    Outcome r{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string q(const std::string& text) { return "'" + text + "'"; }

std::string cli(const std::string& arguments) { return std::string(BEARFIX_CLI) + " " + arguments; }

// A feature as ogrinfo prints it: its layer, fields (names in lower case) and WKT.
struct Feature {
    std::string layer;
    std::map<std::string, std::string> fields;
    std::string wkt;
    std::string operator[](const std::string& key) const {
        auto it = fields.find(key);
        return it == fields.end() ? "" : it->second;
    }
};

// (std::regex recurses per character: no use on lines of a thousand points.)
std::vector<Feature> readAll(const std::string& file) {
    const Outcome r = run("ogrinfo -ro -al -q " + q(file));
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<Feature> features;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("OGRFeature(", 0) == 0) {
            features.push_back({line.substr(11, line.rfind("):") - 11), {}, {}});
            continue;
        }
        if (features.empty() || line.rfind("  ", 0) != 0) continue;
        const std::size_t type = line.find(" ("), equals = line.find(") = ");
        if (line.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == 2 && line.find('(') != std::string::npos &&
            (line.rfind("  POINT", 0) == 0 || line.rfind("  LINESTRING", 0) == 0 || line.rfind("  POLYGON", 0) == 0 ||
             line.rfind("  MULTI", 0) == 0)) {
            features.back().wkt = line.substr(2);
        } else if (type != std::string::npos && equals != std::string::npos && type < equals) {
            std::string key = line.substr(2, type - 2);
            for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            features.back().fields[key] = line.substr(equals + 4);
        }
    }
    return features;
}

const Feature* named(const std::vector<Feature>& features, const std::string& name, const std::string& layer = "") {
    for (const Feature& f : features)
        if (f["name"] == name && (layer.empty() || f.layer == layer)) return &f;
    return nullptr;
}

// The innermost coordinate lists of a WKT: a point, a line, each ring.
std::vector<std::vector<std::array<double, 3>>> paths(const std::string& wkt) {
    std::vector<std::vector<std::array<double, 3>>> out;
    for (std::size_t open = wkt.find('('); open != std::string::npos; open = wkt.find('(', open + 1)) {
        if (wkt[open + 1] == '(') continue;
        std::istringstream list(wkt.substr(open + 1, wkt.find(')', open) - open - 1));
        out.emplace_back();
        for (std::string tuple; std::getline(list, tuple, ',');) {
            std::array<double, 3> p{NAN, NAN, NAN};
            std::istringstream(tuple) >> p[0] >> p[1] >> p[2];
            out.back().push_back(p);
        }
    }
    return out;
}

std::map<std::string, int> layerCounts(const std::string& file) {
    const Outcome r = run("ogrinfo -ro -so -al " + q(file));
    std::map<std::string, int> counts;
    std::smatch m;
    std::string layer;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, std::regex("^Layer name: (.*)$"))) layer = m[1];
        if (std::regex_match(line, m, std::regex("^Feature Count: (\\d+)$"))) counts[layer] = std::stoi(m[1]);
    }
    return counts;
}

// Features of every layer whose geometry GEOS finds invalid.
int invalidShapes(const std::string& file) {
    int bad = 0;
    for (const auto& [layer, count] : layerCounts(file)) {
        const Outcome r = run("ogrinfo -ro -q " + q(file) + " -dialect SQLite -sql " +
                              q("SELECT COUNT(*) AS bad FROM \"" + layer + "\" WHERE NOT ST_IsValid(geometry)"));
        std::smatch m;
        if (!std::regex_search(r.output, m, std::regex("bad \\(Integer\\) = (\\d+)"))) return -1;
        bad += std::stoi(m[1]);
    }
    return bad;
}

// Twice the signed area in the plane of longitude and latitude.
double shoelace(const std::vector<std::array<double, 3>>& ring) {
    double sum = 0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) sum += ring[i][0] * ring[i + 1][1] - ring[i + 1][0] * ring[i][1];
    return sum;
}

struct TrackPoint {
    double lon, lat, ele;
    const char* time;
};

class ExportGdal : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (dir.path() / name).string(); }

    // A session, a bearing log and a GPX track file, written to the directory.
    void scenario(const std::string& ini, const std::string& bearings, const std::vector<TrackPoint>& track) {
        dir.write("session.ini", "[PREV_SESSION]\n" + ini);
        dir.write("log.csv", "station,lat,lon,bearing,tolerance,time\n" + bearings);
        std::ostringstream gpx;
        gpx.precision(17);
        gpx << "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\">\n<trk><name>Walk &amp; run</name><trkseg>\n";
        for (const TrackPoint& p : track) {
            if (p.time == nullptr) gpx << "</trkseg></trk>\n<trk><name>Quiet</name><trkseg>\n";
            gpx << "<trkpt lat=\"" << p.lat << "\" lon=\"" << p.lon << "\">";
            if (!std::isnan(p.ele)) gpx << "<ele>" << p.ele << "</ele>";
            if (p.time && *p.time) gpx << "<time>" << p.time << "</time>";
            gpx << "</trkpt>\n";
        }
        dir.write("track.gpx", gpx.str() + "</trkseg></trk>\n</gpx>\n");
        tracks = track.empty() ? "" : " --tracks " + q(path("track.gpx"));
    }
    Outcome exportTo(const std::string& name) {
        return run(cli("export " + q(path(name)) + " --config " + q(path("session.ini")) + " --bearings " +
                       q(path("log.csv")) + tracks));
    }

    std::string tracks;
    TempDir dir;
};

// The hand-worked crossing: from (0, 0) at 30 degrees and from (0, 60 E) at
// 330 degrees the lines meet on the meridian 30 E where
// tan(lat) = sin(30) tan(60).
const double kLatX = std::atan(0.5 * std::sqrt(3.0)) * 180 / std::numbers::pi;

// Points on the grid of 1/64 degree, which the track store holds exactly.
const std::vector<TrackPoint> kTrack = {{8.015625, 47.375, 412.5, "2024-05-01T10:00:00Z"},
                                        {8.03125, 47.390625, 415, "2024-05-01T10:00:30Z"},
                                        {8.046875, 47.40625, 418.25, "2024-05-01T10:01:00Z"},
                                        {8.0625, 47.5, NAN, nullptr},  // a second track from here
                                        {8.078125, 47.515625, NAN, ""}};

TEST_F(ExportGdal, EveryFormatReadsBackWhereEverythingIs) {
    scenario("Pos1=N0 E0\nBrg1X=30\nBrg1Tol=2\nPos2=N0 E60\nBrg2X=330\nBrg2Tol=1\n",
             "\"Car \"\"1\"\" & <Z\xC3\xBCrich>\",47,8,45,2,2024-05-01T10:00:00Z\nS2,47,9,315,3\nS3,48,8.5,180,2\n",
             kTrack);
    const Outcome fix = run(cli("fix --bearings " + q(path("log.csv")) + " --json"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(fix.output, m, std::regex(R"("fix": \{"lat": ([-0-9.e]+), "lon": ([-0-9.e]+)\})")))
        << fix.output;
    const double fixLat = std::stod(m[1]), fixLon = std::stod(m[2]);

    struct Format {
        const char* file;
        std::map<std::string, int> layers;
        const char *waypoints, *tracks;  // where the points and the tracks are
    };
    const Format formats[] = {
        {"out.kml",
         {{"Observers", 2},
          {"Crossings", 1},
          {"Search area", 1},
          {"Sectors", 2},
          {"Bearing log", 3},
          {"Fix of the bearing log", 3},
          {"Tracks", 2}},
         "",
         "Tracks"},
        {"out.gpx",
         {{"waypoints", 4}, {"routes", 0}, {"tracks", 2}, {"route_points", 0}, {"track_points", 5}},
         "waypoints",
         "tracks"},
        {"out.geojson", {{"out", 14}}, "", "out"},
    };
    for (const Format& format : formats) {
        SCOPED_TRACE(format.file);
        const Outcome r = exportTo(format.file);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(layerCounts(path(format.file)), format.layers);
        EXPECT_EQ(invalidShapes(path(format.file)), 0);
        const std::vector<Feature> all = readAll(path(format.file));
        for (auto [name, lon, lat] :
             {std::tuple{"A", 0.0, 0.0}, {"B", 60.0, 0.0}, {"X", 30.0, kLatX}, {"Fix", fixLon, fixLat}}) {
            const Feature* f = named(all, name, format.waypoints);
            ASSERT_TRUE(f) << name;
            const auto p = paths(f->wkt);
            ASSERT_EQ(p.size(), 1u) << f->wkt;
            EXPECT_NEAR(p[0][0][0], lon, 1e-7) << name;
            EXPECT_NEAR(p[0][0][1], lat, 1e-7) << name;
        }
        // Both tracks, point by point, with elevations where the file had them.
        const Feature* walk = named(all, "Walk & run", format.tracks);
        const Feature* quiet = named(all, "Quiet", format.tracks);
        ASSERT_TRUE(walk && quiet);
        std::vector<std::array<double, 3>> points = paths(walk->wkt).at(0);
        const auto second = paths(quiet->wkt).at(0);
        points.insert(points.end(), second.begin(), second.end());
        if (std::string(format.file) == "out.gpx") {  // GPX's elevations are on its track points
            points.clear();
            for (const Feature& f : all) {
                if (f.layer != "track_points") continue;
                points.push_back(paths(f.wkt).at(0).at(0));
                points.back()[2] = f["ele"].empty() ? NAN : std::stod(f["ele"]);
            }
        }
        ASSERT_EQ(points.size(), kTrack.size());
        for (std::size_t i = 0; i < kTrack.size(); ++i) {
            EXPECT_NEAR(points[i][0], kTrack[i].lon, 1e-7) << i;
            EXPECT_NEAR(points[i][1], kTrack[i].lat, 1e-7) << i;
            if (!std::isnan(kTrack[i].ele)) {
                EXPECT_NEAR(points[i][2], kTrack[i].ele, 1e-9) << i;
            }
        }
        if (std::string(format.file) != "out.gpx") {
            EXPECT_TRUE(named(all, "Car \"1\" & <Z\xC3\xBCrich>"));  // escaped and UTF-8
            EXPECT_TRUE(named(all, "Sector A") && named(all, "95 % ellipse") && named(all, "Search area"));
        } else {  // each point with its time
            int timed = 0;
            for (const Feature& f : all) {
                if (f.layer != "track_points" || f["time"].empty()) continue;
                EXPECT_EQ(f["time"], std::regex_replace(kTrack[timed].time, std::regex("(....)-(..)-(..)T(.*)Z"),
                                                        "$1/$2/$3 $4+00"));
                ++timed;
            }
            EXPECT_EQ(timed, 3);
        }
    }
}

// Near the antimeridian every shape is cut into pieces within -180..180, each
// valid and counter-clockwise; a back bearing's crossing goes out as a point.
TEST_F(ExportGdal, ShapesAcrossTheAntimeridianAreCutIntoValidPieces) {
    scenario(
        "Pos1=S17 E179\nBrg1X=90\nBrg1Tol=3\nPos2=S16 W179.5\nBrg2X=200\nBrg2Tol=3\nBrg2Amb=1\n",
        "S1,-17.5,179,60,2\nS2,-17.5,-179,300,2\nS3,-16,180,180,2\n",
        {{179.984375, -17.015625, 5, "2024-05-01T10:00:00Z"}, {-179.984375, -17.03125, 6, "2024-05-01T10:00:01Z"}});
    for (const char* file : {"am.kml", "am.geojson"}) {
        SCOPED_TRACE(file);
        const Outcome r = exportTo(file);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(invalidShapes(path(file)), 0);
        int multi = 0, rings = 0;
        for (const Feature& f : readAll(path(file))) {
            multi += f.wkt.rfind("MULTI", 0) == 0;
            for (const auto& path : paths(f.wkt)) {
                for (const auto& p : path) EXPECT_LE(std::fabs(p[0]), 180.0) << f["name"];
                if (f.wkt.find("POLYGON") == std::string::npos) continue;
                EXPECT_GT(shoelace(path), 0) << f["name"] << " turns clockwise";
                ++rings;
            }
        }
        EXPECT_GE(multi, 4);  // sectors, area, ellipses, lines
        EXPECT_GE(rings, 8);
    }
    const std::vector<Feature> kml = readAll(path("am.kml"));
    EXPECT_TRUE(named(kml, "Sector B+180", "Sectors"));
}

// The log written as CSV and read back by 'fix --bearings' gives the same fix.
TEST_F(ExportGdal, CsvExportGivesTheSameFix) {
    scenario("", "\"North, hill\",51,8.5,180,2\nA,50,8,45,2,2010-01-01T00:00:00Z\nB,50,9,315,3\n", {});
    ASSERT_EQ(exportTo("log-out.csv").status, 0);
    const Outcome before = run(cli("fix --bearings " + q(path("log.csv")) + " --json"));
    const Outcome after = run(cli("fix --bearings " + q(path("log-out.csv")) + " --json"));
    EXPECT_EQ(before.status, 0);
    EXPECT_EQ(after.output, before.output);
}

// From the saved session alone (the settings, the bearing log and the track
// journal beside them): tracks whose points came interleaved come out whole,
// each track and each station in its own colour, as GDAL reads them back.
// The station colours by hand: FNV-1a of "Car 2" is 3 modulo 12, of "Car 3"
// 4 (Python); the palette's entries 3 and 4 are #17BECF and #E377C2. GPX's
// Garmin colour is the nearest of its 16: (192, 0, 0) is Red (63 away, DarkRed
// 64); (0, 128, 255) is DarkCyan (127 away, Blue 128).
TEST_F(ExportGdal, TracksAndStationsKeepTheirColours) {
    dir.write("session.ini", "[PREV_SESSION]\nPos1=N50 E8\nBrg1X=45\nPos2=N50 E9\nBrg2X=\n");
    dir.write("bearings.csv", "Car 2,50.2,8.2,100,2\nCar 3,50.1,8.9,300,2\nCar 2,50.3,8.3,110,2\n");
    TrackBuffer store;
    const int32_t gps = store.beginSegment("GPS", -1, TrackOrigin::Gps);
    const int32_t car = store.beginSegment("Car 2", 0x00FF8000, TrackOrigin::Remote);
    for (int i = 0; i < 6; ++i) {
        bearfix::TrackPoint p;
        initTrackPoint(p);
        p.lat = (50 * 64 + i) * (kUnitsPerDegree / 64);
        p.lon = 8 * kUnitsPerDegree;
        p.valid = 1;
        store.appendToSegment(i % 2 ? car : gps, p);
    }
    TrackJournalEncoder journal;
    std::string bytes = TrackJournalEncoder::header();
    journal.encode(store, 0, store.recordCount(), {}, bytes);
    dir.write("tracks.journal", bytes);
    const auto exported = [&](const std::string& name) {
        const Outcome r = run(cli("export " + q(path(name)) + " --config " + q(path("session.ini"))));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
        return path(name);
    };
    const std::string kml = exported("c.kml");
    std::map<std::string, std::set<std::string>> styles;  // "layer/name": the styles GDAL resolves
    const Outcome resolved = run("ogrinfo --config LIBKML_RESOLVE_STYLE YES -ro -al -q " + q(kml));
    std::istringstream lines(resolved.output);
    std::string layer, name;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("OGRFeature(", 0) == 0) layer = line.substr(11, line.rfind("):") - 11);
        if (line.rfind("  Name (String) = ", 0) == 0) name = line.substr(18);
        if (line.rfind("  Style = ", 0) == 0) styles[layer + "/" + name].insert(line.substr(10));
    }
    using Styles = std::set<std::string>;
    EXPECT_EQ(styles["Tracks/GPS"], Styles{"PEN(c:#C00000FF,w:3.000000px)"});
    EXPECT_EQ(styles["Tracks/Car 2"], Styles{"PEN(c:#0080FFFF,w:3.000000px)"});
    EXPECT_EQ(styles["Bearing log/Car 2"], Styles{"PEN(c:#17BECFFF,w:2.000000px)"}) << "both of them";
    EXPECT_EQ(styles["Bearing log/Car 3"], Styles{"PEN(c:#E377C2FF,w:2.000000px)"});
    EXPECT_FALSE(named(readAll(kml), "Sector B")) << "an empty bearing: no sector";
    std::ifstream in(kml);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::set<std::string> ids;
    for (std::size_t at = text.find("<Style id=\""); at != std::string::npos; at = text.find("<Style id=\"", at + 1))
        EXPECT_TRUE(ids.insert(text.substr(at, text.find('"', at + 11) - at)).second) << "twice: " << text.substr(at, 40);

    int tracks = 0;
    for (const Feature& f : readAll(exported("c.geojson"))) {  // whole, in the simplestyle's colour
        if (f["kind"] != "track") continue;
        EXPECT_EQ(paths(f.wkt).at(0).size(), 3u) << f.wkt;
        ++tracks;
        EXPECT_EQ(f["stroke"], f["name"] == "GPS" ? "#c00000" : "#0080ff");
    }
    EXPECT_EQ(tracks, 2);
    const Outcome gpx = run("ogrinfo -ro -al -q -oo USE_EXTENSIONS=YES " + q(exported("c.gpx")) + " tracks");
    EXPECT_NE(gpx.output.find("name (String) = GPS\n  gpxx_TrackExtension (String) = "
                              "<gpxx:DisplayColor>Red</gpxx:DisplayColor>"),
              std::string::npos)
        << gpx.output;
    EXPECT_NE(gpx.output.find("name (String) = Car 2\n  gpxx_TrackExtension (String) = "
                              "<gpxx:DisplayColor>DarkCyan</gpxx:DisplayColor>"),
              std::string::npos)
        << gpx.output;
}

// Before the first Quit there are no settings: the window's example
// observers are left out, and an export without any bearing says so.
TEST_F(ExportGdal, NoSettingsNoBearingsSaysSo) {
    const std::string config = (dir.path() / "config").string();
    const Outcome r = run("XDG_CONFIG_HOME=" + q(config) + " " + cli("export " + q(path("empty.geojson"))));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("warning: no settings yet (" + config + "/bearfix/bearfix.ini): the observers are left out"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("warning: no bearings: the observers have none and the bearing log " + config +
                            "/bearfix/bearings.csv is empty"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(layerCounts(path("empty.geojson")), (std::map<std::string, int>{{"empty", 0}}));
}

// Nothing is written on a failure, an existing file stays as it was, and the
// message names the file.
TEST_F(ExportGdal, FailuresNameTheFileAndKeepTheOldOne) {
    scenario("Pos1=N50 E8\nBrg1X=45\nPos2=N50 E9\nBrg2X=315\n", "A,50,8,45,2\n", kTrack);
    ASSERT_EQ(exportTo("good.kml").status, 0);
    std::ifstream in(path("good.kml"), std::ios::binary);
    const std::string good{std::istreambuf_iterator<char>(in), {}};
    {
        FileSizeLimit limit(good.size() / 2);  // the CLI inherits it, SIGXFSZ ignored
        const Outcome r = exportTo("good.kml");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("cannot write " + path("good.kml")), std::string::npos) << r.output;
    }
    std::ifstream again(path("good.kml"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), good);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);  // no temporary left

    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    const std::string ini = " --config " + q(path("session.ini"));
    const Case cases[] = {
        {"export " + q(path("no/such/dir/x.kml")) + ini, 1, "cannot write " + path("no/such/dir/x.kml")},
        {"export " + q(path("x.txt")) + ini, 2, path("x.txt") + ": name the file .kml, .gpx, .geojson or .csv"},
        {"export " + q(path("x.kml")) + ini + " --bearings " + q(path("none.csv")), 1,
         path("none.csv") + ": no such file"},
        {"export " + q(path("x.kml")) + " --config " + q(path("none.ini")), 1, path("none.ini") + ": no such file"},
        {"export " + q(path("x.kml")) + ini + " --tracks " + q(path("session.ini")), 1, path("session.ini")},
        {"export " + q(path("x.kml")) + ini + " --bearings", 2, "usage"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(cli(c.arguments));
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
    EXPECT_FALSE(std::filesystem::exists(path("x.kml")));
}

}  // namespace
}  // namespace bearfix::testing
