// bearfix-cli: the window's computations on the command line.
//
//   bearfix-cli fix POS_A BRG_A POS_B BRG_B [--tol-a T] [--tol-b T] [--ambi-a] [--ambi-b]
//                   [--magnetic | --magnetic-a | --magnetic-b] [--date D | --year Y] [--json]
//   bearfix-cli fix --bearings FILE [--json] [--robust] [--date D | --year Y]
//   bearfix-cli fix --bearings FILE --density OUT.tif [...] (tools/search_cli.h)
//   bearfix-cli viewshed POSITION [...] --out OUT.tif
//   bearfix-cli next --bearings FILE --from POSITION [...]
//   bearfix-cli describe POS
//   bearfix-cli render OUT.png [--width W] [--height H] [--config FILE] [--bearings FILE]
//   bearfix-cli tracks FILE...
//   bearfix-cli export OUT.{kml,gpx,geojson,csv} [--config FILE] [--bearings FILE] [--tracks FILE...]
//   bearfix-cli send [--socket PATH] [--code CODE] [TEXT | --stdin]
//   bearfix-cli gps [--server HOST:PORT] [--count N] [--json]
//   bearfix-cli declination POS [--date YYYY-MM-DD | --year Y] [--height-km H] [--json]
//   bearfix-cli calibrate --bearings FILE --station NAME --known POS [--json]
//   bearfix-cli aprs decode | report --call CALL --position POS --bearing B --tolerance T ...
//
// Arguments and output are UTF-8; numbers use '.' whatever the locale.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cerrno>
#include <QImage>
#include <clocale>
#include <cstdlib>

#include "session/bearing_rows.h"
#include "session/data_files.h"
#include "remote/remote_mailbox.h"
#include "remote/remote_socket.h"
#include "session/results.h"
#include "session/saved_tracks.h"
#include "session/settings.h"
#include "cities/cities.h"
#include "fix/bearing_log.h"
#include "geo/position_patterns.h"
#include "map/bearing_log_overlay.h"
#include "map/elevation.h"
#include "map/map_composer.h"
#include "support/message_log.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "support/cp1252.h"
#include "support/number_format.h"
#include "support/png_file.h"
#include "tools/cli_text.h"
#include "tools/export_cli.h"
#include "tools/fix_bearings.h"
#include "tools/gps_cli.h"
#include "tools/magnetic_cli.h"
#include "tools/aprs_cli.h"
#include "tools/search_cli.h"

namespace {

using bearfix::cp1252ToUtf8;
using bearfix::jsonNumber;
using bearfix::jsonString;

constexpr const char* kUsage =
    "usage: bearfix-cli fix POS_A BRG_A POS_B BRG_B [--tol-a T] [--tol-b T] [--ambi-a] [--ambi-b]\n"
    "                       [--magnetic | --magnetic-a | --magnetic-b] [--date D | --year Y] [--json]\n"
    "       bearfix-cli fix --bearings FILE [--json] [--robust] [--date D | --year Y]\n"
    "       bearfix-cli fix --bearings FILE --density OUT.tif [--outlines OUT.{kml,geojson}]\n"
    "                       [--robust] [--ambiguous STATION]... [--hidden-weight W\n"
    "                       [--config FILE]] [--date D | --year Y] [--json]\n"
    "       bearfix-cli viewshed POS [--height M] [--target-height M] [--radius KM]\n"
    "                            --out OUT.tif [--config FILE]\n"
    "       bearfix-cli next --bearings FILE --from POS [--radius KM] [--robust]\n"
    "                        [--ambiguous STATION]... [--terrain [--config FILE]]\n"
    "                        [--date D | --year Y] [--json]\n"
    "       bearfix-cli describe POS\n"
    "       bearfix-cli render OUT.png [--width W] [--height H] [--config FILE]\n"
    "                              [--bearings FILE]\n"
    "       bearfix-cli tracks FILE...\n"
    "       bearfix-cli export OUT.{kml,gpx,geojson,csv} [--config FILE] [--bearings FILE]\n"
    "                          [--tracks FILE...]\n"
    "       bearfix-cli send [--socket PATH] [--code CODE] [TEXT | --stdin]\n"
    "       bearfix-cli gps [--server HOST:PORT] [--count N] [--json]\n"
    "       bearfix-cli declination POS [--date YYYY-MM-DD | --year Y] [--height-km H] [--json]\n"
    "       bearfix-cli calibrate --bearings FILE --station NAME --known POS [--json]\n"
    "       bearfix-cli aprs decode\n"
    "       bearfix-cli aprs report --call CALL --position POS --bearing B --tolerance T\n"
    "                               [--freq MHZ] [--comment TEXT] [--range-mi MILES]\n"
    "  fix: the bearings between the observers, their distance and where their\n"
    "  bearings cross, as the Bearfix window shows them; with the tolerances T\n"
    "  (degrees, default 1) the area where the sectors overlap, and with the\n"
    "  180 degree ambiguity of A and/or B where the back bearings cross.\n"
    "  --magnetic: the bearings are a compass's; the declination of the World\n"
    "  Magnetic Model at each observer (on the date D or in the decimal year Y,\n"
    "  default today) makes them true (--magnetic-a, --magnetic-b: one of them).\n"
    "  fix --bearings: the best fix of any number of bearings, its 50 % and 95 %\n"
    "  ellipses (grown when the bearings scatter more than their tolerances say:\n"
    "  \"scale\") and the residual of each bearing, an outlier when it misses the\n"
    "  fix of the others by more than 3 sigma. FILE is CSV, one bearing per\n"
    "  line: station,lat,lon,bearing,tolerance[,time[,source[,enabled[,ref[,correction]]]]]\n"
    "  (decimal degrees; a quoted station may hold commas, \"\" for a quote; #\n"
    "  starts a comment). ref is true, magnetic or relative; a magnetic bearing\n"
    "  without its correction gets the model's declination at its time (without\n"
    "  one: D or Y, default today). --robust lets bearings far off count less.\n"
    "  fix --density: also where the transmitter can be: the probability per\n"
    "  km\u00B2 on a grid of latitude and longitude as a GeoTIFF, the 50 % and 95 %\n"
    "  regions of highest probability (area, parts; their outlines with --json\n"
    "  and as KML or GeoJSON with --outlines). --ambiguous: the station's\n"
    "  bearings may be back bearings (* for all). --hidden-weight W (0..1):\n"
    "  the probability where a station cannot see, times W (terrain from the\n"
    "  settings file, default: your bearfix.ini).\n"
    "  viewshed: where a target TARGET-HEIGHT m above the ground (default 1.5)\n"
    "  is in sight of an antenna M m above the ground at POS (default 2), out\n"
    "  to KM (default and at most 50), with refraction (k = 4/3): 1 seen, 0\n"
    "  not, as a GeoTIFF on the elevation grid of the settings' terrain.\n"
    "  next: the point within KM (default 5) of POS from which one more bearing\n"
    "  would shrink the 95 % region most; --terrain: only points that see the\n"
    "  map's centre.\n"
    "  describe: the position relative to the nearest built-in place (an empty\n"
    "  line when none lies within 900 km); \"not a position\" on standard error\n"
    "  and exit status 2 for a text that is none.\n"
    "  render: the map as the window draws it for the observers, bearings and\n"
    "  map settings of a settings file (default: your bearfix.ini), as PNG.\n"
    "  Run it where map_data/ is. Draws the saved tracks (tracks.journal beside\n"
    "  the settings file), the remembered track file when the settings say to\n"
    "  reload it at start, and the bearing log (default: bearings.csv beside\n"
    "  the settings file).\n"
    "  tracks: what importing the files would store, and the messages.\n"
    "  export: observers, X, the search area, the sectors, the bearing log with\n"
    "  its fix and the tracks to a file for Google Earth (.kml), a GPS (.gpx) or\n"
    "  a GIS (.geojson), or the bearing log as CSV (.csv); the observers from\n"
    "  the settings file (default: your bearfix.ini), the bearing log and the\n"
    "  tracks saved beside it unless --bearings or --tracks name others.\n"
    "  send: a message to the running Bearfix (e.g. 'set brg1x=123.5' or\n"
    "  'track addpoint lat=52.1 lon=8.5'); prints the reply. --stdin sends each\n"
    "  line of the input as a message. CODE is decimal or 0x-hex (default 0).\n"
    "  Exit status 1 when a message was refused (the reason on standard error,\n"
    "  e.g. a 'bearing add' with an unknown key) or could not be delivered.\n"
    "  gps: N fixes (default 1, 0 for no end) from gpsd (default localhost:2947),\n"
    "  one a line; exit status 1 when gpsd cannot be reached within 5 s.\n"
    "  declination: the declination (east positive), inclination and horizontal\n"
    "  intensity of the World Magnetic Model 2025 at POS, H km above the WGS84\n"
    "  ellipsoid (default 0), on the date D or in the decimal year Y (default\n"
    "  today); exit status 1 where and when the model is not valid.\n"
    "  calibrate: a station's offset (circular mean of its bearings less the\n"
    "  true course to the transmitter at POS), their spread and number, from a\n"
    "  bearing file as fix --bearings reads it.\n"
    "  aprs decode: APRS monitor lines (CALL>DEST,PATH:payload) on standard input,\n"
    "  each DF report as a JSON line (station, lat, lon, bearing, tolerance, hits,\n"
    "  range_mi, freq_mhz; dfs for omni-DF reports); why other lines give none on\n"
    "  standard error. aprs report: the DF report Bearfix would send to APRS-IS\n"
    "  (tolerance T in degrees, +-; the range of the line in miles, default 16).\n"
    "  Positions as in the window, e.g. \"N52\u00B008'26\\\" E008\u00B028'57\\\"\", \"n52.14 e8.48\",\n"
    "  \"52.14, 8.48\", \"52.14N 8.48E\" or the locator \"JO42fd\"; --json gives the observers\n"
    "  as read (\"a\", \"b\": degrees, null for no position);\n"
    "  bearings in degrees, whole turns taken off (-355 is 5, 765 is 45).\n";


// The value after `option` (removed from args with it), or `fallback`.
std::string takeOption(std::vector<std::string>& args, const std::string& option, const std::string& fallback) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == option) {
            std::string value = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            return value;
        }
    }
    return fallback;
}

// {"area_km2": .., "size_km": .., "polygon": [[lat, lon], ...]}, "unbounded" or null.
std::string searchAreaJson(const bearfix::SearchArea& area) {
    if (area.kind == bearfix::SearchArea::kUnbounded) return "\"unbounded\"";
    if (area.kind != bearfix::SearchArea::kBounded) return "null";
    std::string out = "{\"area_km2\":" + jsonNumber(area.area_km2) + ",\"size_km\":" + jsonNumber(area.size_km) + ",\"polygon\":[";
    for (std::size_t i = 0; i < area.polygon.size(); ++i) {
        out += std::string(i ? "," : "") + "[" + jsonNumber(area.polygon[i].lat * bearfix::kRadToDeg) + "," +
               jsonNumber(area.polygon[i].lon * bearfix::kRadToDeg) + "]";
    }
    return out + "]}";
}

int runFix(std::vector<std::string> args, bool json) {
    const bearfix::SessionSettings defaults = bearfix::defaultSettings();
    bearfix::ObserverTexts in;
    in.tol1 = bearfix::utf8ToCp1252(takeOption(args, "--tol-a", bearfix::cp1252ToUtf8(defaults.brg1Tol)));
    in.tol2 = bearfix::utf8ToCp1252(takeOption(args, "--tol-b", bearfix::cp1252ToUtf8(defaults.brg2Tol)));
    in.ambiguity1 = std::erase(args, std::string("--ambi-a")) > 0;
    in.ambiguity2 = std::erase(args, std::string("--ambi-b")) > 0;
    const bool magnetic = std::erase(args, std::string("--magnetic")) > 0;
    const bool magnetic1 = std::erase(args, std::string("--magnetic-a")) > 0 || magnetic;
    const bool magnetic2 = std::erase(args, std::string("--magnetic-b")) > 0 || magnetic;
    double year = bearfix::yearNow();
    if (!bearfix::takeYear(args, year) || args.size() != 4) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    in.pos1 = bearfix::position_text_from_utf8(args[0]);
    in.brg1x = bearfix::utf8ToCp1252(args[1]);
    in.pos2 = bearfix::position_text_from_utf8(args[2]);
    in.brg2x = bearfix::utf8ToCp1252(args[3]);
    // A compass bearing is made true by the declination at its observer.
    std::string declinations, declinationsJson;
    for (const auto& [wanted, position, reference, correction, letter] :
         {std::tuple(magnetic1, &args[0], &in.reference1, &in.correction1, 'A'),
          std::tuple(magnetic2, &args[2], &in.reference2, &in.correction2, 'B')}) {
        if (!wanted) continue;
        std::string why;
        const std::optional<double> d = bearfix::declinationAt(*position, year, why);
        if (!d) {
            std::fprintf(stderr, "bearfix-cli: no declination at %c: %s\n", letter, why.c_str());
            return 1;
        }
        *reference = bearfix::BearingReference::Magnetic;
        *correction = *d;
        declinations += std::string("Declination ") + letter + ": " + bearfix::formatPicture(std::fabs(*d), "0.00") +
                        "\xB0" + (*d < 0.0 ? " W" : " E") + (why.empty() ? "" : ", but " + why) + "\n";
        declinationsJson += std::string(",\"declination_") + static_cast<char>(letter - 'A' + 'a') + "_deg\":" + jsonNumber(*d);
    }
    const bearfix::Results r = bearfix::computeResults(in);

    if (!json) {
        std::printf("Brg A->B: %s\n", cp1252ToUtf8(r.bearingAB).c_str());
        std::printf("Brg B->A: %s\n", cp1252ToUtf8(r.bearingBA).c_str());
        std::printf("Distance A-B: %s\n", cp1252ToUtf8(r.distanceAB).c_str());
        std::printf("Location X: %s\n", cp1252ToUtf8(r.locationX).c_str());
        std::printf("Info A: %s\n", cp1252ToUtf8(r.infoA).c_str());
        std::printf("Info B: %s\n", cp1252ToUtf8(r.infoB).c_str());
        std::printf("Info X: %s\n", cp1252ToUtf8(r.locationInfo).c_str());
        std::printf("A-X: %s\n", cp1252ToUtf8(r.distanceAX).c_str());
        std::printf("B-X: %s\n", cp1252ToUtf8(r.distanceBX).c_str());
        std::printf("Crossing angle: %s\n", cp1252ToUtf8(r.crossingAngleText).c_str());
        std::printf("Search area: %s\n", cp1252ToUtf8(r.searchArea).c_str());
        if (!r.warning.empty()) std::printf("Warning: %s\n", cp1252ToUtf8(r.warning).c_str());
        for (const std::string& line : r.alternativeLines) std::printf("%s\n", cp1252ToUtf8(line).c_str());
        std::fputs(cp1252ToUtf8(declinations).c_str(), stdout);
        return 0;
    }
    const double deg = bearfix::kRadToDeg;
    std::string out = "{";
    out += "\"brgAB\":" + jsonString(r.bearingAB);
    out += ",\"brgBA\":" + jsonString(r.bearingBA);
    out += ",\"distanceAB\":" + jsonString(r.distanceAB);
    out += ",\"locationX\":" + jsonString(r.locationX);
    out += ",\"infoA\":" + jsonString(r.infoA);
    out += ",\"infoB\":" + jsonString(r.infoB);
    out += ",\"infoX\":" + jsonString(r.locationInfo);
    // The observers as read, or null for a text that is no position.
    const auto observer = [deg](bool valid, bearfix::GeoPosition p) {
        return valid ? "{\"lat\":" + jsonNumber(p.lat * deg) + ",\"lon\":" + jsonNumber(p.lon * deg) + "}" : std::string("null");
    };
    out += ",\"a\":" + observer(r.validA, r.observerA) + ",\"b\":" + observer(r.validB, r.observerB);
    if (r.computed) {
        if (r.validA && r.validB) {  // nothing is computed from what is not a position
            out += ",\"courseAB\":" + jsonNumber(r.fix.course_ab * deg);
            out += ",\"courseBA\":" + jsonNumber(r.fix.course_ba * deg);
            out += ",\"distanceKm\":" + jsonNumber(r.fix.dist_ab * bearfix::kEarthRadiusKm);
        }
        out += ",\"status\":" + std::to_string(r.fix.status);
        const bool found = r.fix.status == 0;
        if (found) {
            out += ",\"x\":{\"lat\":" + jsonNumber(r.fix.x.lat * deg) + ",\"lon\":" + jsonNumber(r.fix.x.lon * deg) + "}";
            out += ",\"distanceAXKm\":" + jsonNumber(r.fix.dist_ax * bearfix::kEarthRadiusKm);
            out += ",\"distanceBXKm\":" + jsonNumber(r.fix.dist_bx * bearfix::kEarthRadiusKm);
        } else {
            out += ",\"x\":null";
        }
        out += ",\"dist_ax_km\":" + (found ? jsonNumber(r.fix.dist_ax * bearfix::kEarthRadiusKm) : "null");
        out += ",\"dist_bx_km\":" + (found ? jsonNumber(r.fix.dist_bx * bearfix::kEarthRadiusKm) : "null");
        out += ",\"crossing_angle_deg\":" + (found ? jsonNumber(r.crossingAngle * deg) : "null");
        out += ",\"shallow_crossing\":" + std::string(found ? (r.warning.empty() ? "false" : "true") : "null");
        out += ",\"search_area\":" + searchAreaJson(r.area);
        out += ",\"alternatives\":[";
        for (std::size_t i = 0; i < r.alternatives.size(); ++i) {
            const bearfix::BackBearingCrossing& c = r.alternatives[i];
            out += std::string(i ? "," : "") + "{\"combination\":\"" + c.combination + "\",\"lat\":" +
                   jsonNumber(c.x.lat * deg) + ",\"lon\":" + jsonNumber(c.x.lon * deg) + "}";
        }
        out += "]";
    }
    out += declinationsJson + "}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

int runDescribe(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    bearfix::GeoPosition p;
    if (!bearfix::read_position(bearfix::position_text_from_utf8(args[0]), p)) {
        std::fputs("not a position\n", stderr);
        return 2;
    }
    std::printf("%s\n", cp1252ToUtf8(bearfix::describe_near_city(p.lon, p.lat)).c_str());
    return 0;
}

// Qt warns on every start without a login session's runtime directory (cron,
// ssh, containers); a picture needs none, and a script's output stays clean.
QtMessageHandler qtMessages = nullptr;
void withoutRuntimeDirectoryWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set")) return;
    if (qtMessages) {
        qtMessages(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
}

int runRender(std::vector<std::string> args) {
    const int width = std::atoi(takeOption(args, "--width", "1000").c_str());
    const int height = std::atoi(takeOption(args, "--height", "700").c_str());
    const std::string config = takeOption(args, "--config", bearfix::settingsFilePath());
    const std::string bearings = takeOption(args, "--bearings", config.substr(0, config.rfind('/') + 1) + "bearings.csv");
    if (args.size() != 1 || width < 10 || height < 10 || width > 20000 || height > 20000) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bearfix-cli";
    static char* argv[] = {name, nullptr};
    qtMessages = qInstallMessageHandler(withoutRuntimeDirectoryWarning);
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // the application took the user's locale

    bearfix::SessionSettings session = bearfix::defaultSettings();
    bearfix::IniFile file;
    if (std::string reason; file.load(config, &reason) == bearfix::IniFile::Load::Unreadable)
        std::fprintf(stderr, "bearfix-cli: cannot read %s: %s; drawn with the default settings\n", config.c_str(),
                     reason.c_str());
    bearfix::readSettings(file, session);
    const bearfix::Results r =
        bearfix::computeResults({session.pos1, session.pos2, session.brg1x, session.brg2x, session.brg1Tol,
                                 session.brg2Tol, session.brg1Amb, session.brg2Amb});
    const bearfix::MapSettings settings = bearfix::mapSettingsFor(session, r.locationX);
    bearfix::elevation().setSource(session.useSrtm3 == 0 ? bearfix::kGtopo30 : bearfix::kSrtm);
    bearfix::elevation().setDirectories(session.gtopoDir, session.srtmDir);

    bearfix::GeoPosition centre, read;
    if (bearfix::read_position(session.centerAt, read)) centre = read;
    bearfix::MapComposer composer;
    composer.setTrackSource(bearfix::forEachTrackBatch, bearfix::trackChanges);
    composer.setMapDataDirectory(bearfix::findDataFile("map_data"));
    bearfix::setMessageSink([](bearfix::MessageLevel level, const std::string& text) {
        if (level == bearfix::MessageLevel::Error) std::fprintf(stderr, "%s\n", cp1252ToUtf8(text).c_str());
    });
    // The saved tracks, and the remembered track file, as the window starts.
    bearfix::loadSavedTracks(bearfix::trackJournalPath(config), session.track);
    // The bearing log as the window draws it: after the observer rows.
    bearfix::BearingRows rows;
    bearfix::setSessionObserverRows(rows, session);
    rows.robust = session.robustFix;
    std::vector<bearfix::Bearing> log;
    std::string errors;
    if (bearfix::loadBearingCsv(bearings, log, errors) == bearfix::CsvLoad::Bad)
        std::fprintf(stderr, "bearfix-cli: %s: %s\n", bearings.c_str(), cp1252ToUtf8(errors).c_str());
    rows.rows.insert(rows.rows.end(), log.begin(), log.end());
    rows.lastMinutes = bearfix::countedMinutes(session.lastMinutesOnly, session.lastMinutes);
    bearfix::refit(rows);
    composer.setBearingLayer([&rows](QPainter& painter, const bearfix::MapView& view, bool overMarkers) {
        if (!bearfix::logShowsOnMap(rows)) return false;
        if (overMarkers) {
            bearfix::drawBestFix(painter, view, rows.fix);
        } else {
            bearfix::drawBearingLines(painter, view, rows.log(), rows.notBeforeUtc);
        }
        return true;
    });
    QImage picture(width, height, QImage::Format_RGB32);
    composer.drawBaseMap(picture, settings, centre);
    composer.drawOverlayOnce(picture, settings, r.observerA, r.observerB);
    // Our own PNG writer: about two and a half times as fast as Qt's at
    // zlib level 2, the files a few per cent larger.
    if (picture.format() != QImage::Format_RGB32) picture = picture.convertToFormat(QImage::Format_RGB32);
    std::string reason;
    if (!bearfix::writePngFile(args[0], reinterpret_cast<const uint32_t*>(picture.constBits()), picture.width(),
                               picture.height(), picture.bytesPerLine() / 4, &reason)) {
        std::fprintf(stderr, "bearfix-cli: cannot write %s: %s\n", args[0].c_str(), reason.c_str());
        return 1;
    }
    return 0;
}

std::string degrees(int32_t units) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", units / double(bearfix::kUnitsPerDegree));
    return text;
}

int runTracks(const std::vector<std::string>& files) {
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    bearfix::setMessageSink([](bearfix::MessageLevel, const std::string& text) {
        std::printf("%s\n", cp1252ToUtf8(text).c_str());
    });
    bool all = true;
    for (const std::string& file : files) all = bearfix::loadTrackFileReporting(file, 0) && all;

    // One line per segment: its name, its points, the first and the last.
    struct Segment {
        std::string name;
        int points = 0;
        const bearfix::TrackPoint* first = nullptr;
        const bearfix::TrackPoint* last = nullptr;
    };
    std::vector<Segment> segments;
    for (const bearfix::TrackPoint& r : bearfix::trackStore()) {
        if (r.type == bearfix::kTrackSegment) {
            segments.push_back({r.name});
        } else if (r.type == bearfix::kTrackPoint && r.valid) {
            if (segments.empty()) segments.push_back({});
            Segment& s = segments.back();
            ++s.points;
            if (!s.first) s.first = &r;
            s.last = &r;
        }
    }
    for (const Segment& s : segments) {
        std::printf("segment \"%s\": %d points", cp1252ToUtf8(s.name).c_str(), s.points);
        for (const bearfix::TrackPoint* p : {s.first, s.last}) {
            if (!p) continue;
            std::printf(", %s %s", degrees(p->lat).c_str(), degrees(p->lon).c_str());
            if (p->dateValid) {
                std::printf(" %04d-%02d-%02d %02d:%02d:%02d", 2000 + p->yearSince2000, p->month, p->day, p->hour,
                            p->minute, p->second);
            }
        }
        std::printf("\n");
    }
    return all ? 0 : 1;
}

// Sends one frame and waits for its reply.
bool sendFrame(int fd, uint32_t code, const std::string& bytes, uint32_t* reply) {
    std::string frame(8, '\0');
    const auto length = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<char>(code >> (8 * i));
        frame[static_cast<std::size_t>(4 + i)] = static_cast<char>(length >> (8 * i));
    }
    frame += bytes;
    for (std::size_t done = 0; done < frame.size();) {
        const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    unsigned char answer[4];
    for (std::size_t got = 0; got < 4;) {
        const ssize_t n = ::read(fd, answer + got, 4 - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    *reply = answer[0] | answer[1] << 8 | answer[2] << 16 | static_cast<uint32_t>(answer[3]) << 24;
    return true;
}

bool isQuery(uint32_t code) {
    const auto b2 = static_cast<char>(code >> 16);
    return (code & 0xFF) == 0 && (b2 == 'l' || b2 == 'v');
}

int runSend(std::vector<std::string> args, bool fromStdin) {
    const std::string path = takeOption(args, "--socket", bearfix::remoteSocketPath());
    const std::string codeText = takeOption(args, "--code", "0");
    char* end = nullptr;
    const unsigned long code = std::strtoul(codeText.c_str(), &end, 0);
    if (*end != '\0' || code > 0xFFFFFFFFul || args.size() > (fromStdin ? 0u : 1u)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "bearfix-cli: cannot use the socket %s\n", path.c_str());
        return 1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ECONNREFUSED) {
            std::fprintf(stderr, "bearfix-cli: Bearfix does not listen on %s\n", path.c_str());
        } else {
            std::fprintf(stderr, "bearfix-cli: cannot connect to %s: %s\n", path.c_str(), std::strerror(error));
        }
        ::close(fd);
        return 1;
    }
    // Anybody may have made the socket (in /tmp, say): commands go only to
    // a listener of this user.
    long owner;
    if (!bearfix::servedBy(fd, ::geteuid(), &owner)) {
        std::fprintf(stderr, "bearfix-cli: %s is not served by you but by user %ld; nothing sent\n", path.c_str(),
                     owner);
        ::close(fd);
        return 1;
    }
    // A full mailbox empties at the window's next timer tick: try again for
    // a while before giving the message up.
    enum Outcome { kDelivered, kRefused, kLost };
    auto send = [&](const std::string& text) {
        const std::string bytes = bearfix::utf8ToCp1252(text);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        uint32_t reply;
        for (;;) {
            if (!sendFrame(fd, static_cast<uint32_t>(code), bytes, &reply)) {
                std::fprintf(stderr, "bearfix-cli: no reply from %s\n", path.c_str());
                return kLost;
            }
            if (reply != bearfix::kReplyFull || isQuery(static_cast<uint32_t>(code)) ||
                std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::printf("0x%08X\n", reply);
        std::fflush(stdout);
        if (reply == bearfix::kReplyTooLong) {
            std::fprintf(stderr, "bearfix-cli: longer than 1024 bytes, not delivered: %s\n", text.c_str());
            return kRefused;
        }
        if (reply == bearfix::kReplyRefused) {
            // The same check as the mailbox's: its reason, said here.
            std::string why = bearfix::refusedCommand(bytes);
            if (why.empty()) why = "Bearfix cannot run it";
            std::fprintf(stderr, "bearfix-cli: refused, %s: %s\n", cp1252ToUtf8(why).c_str(), text.c_str());
            return kRefused;
        }
        if (reply == bearfix::kReplyFull && !isQuery(static_cast<uint32_t>(code))) {
            std::fprintf(stderr, "bearfix-cli: Bearfix's mailbox stayed full for 2 s, not delivered: %s\n",
                         text.c_str());
            return kLost;
        }
        return kDelivered;
    };
    Outcome worst = kDelivered;
    const auto note = [&worst](Outcome o) {
        worst = std::max(worst, o);
        return o != kLost;
    };
    if (fromStdin) {
        std::string line;
        bool going = true;
        for (int c; going && (c = std::getchar()) != EOF;) {
            if (c != '\n') {
                line += static_cast<char>(c);
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            going = note(send(line));
            line.clear();
        }
        if (going && !line.empty()) note(send(line));
    } else {
        note(send(args.empty() ? std::string() : args[0]));
    }
    ::close(fd);
    return worst == kDelivered ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    signal(SIGXFSZ, SIG_IGN);  // a write beyond a file-size limit fails and is reported
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    bool json = false;
    std::erase_if(args, [&json](const std::string& a) { return a == "--json" ? (json = true) : false; });
    if (command == "fix" && std::find(args.begin(), args.end(), "--density") != args.end()) {
        const int status = bearfix::runFixDensity(args, json);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "viewshed" || command == "next") {
        const int status = command == "next" ? bearfix::runNext(args, json) : bearfix::runViewshed(args);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "fix" && std::find(args.begin(), args.end(), "--bearings") != args.end()) {
        const int status = bearfix::runFixBearings(args, json);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "fix") return runFix(args, json);
    if (command == "describe") return runDescribe(args);
    if (command == "render") return runRender(args);
    if (command == "tracks") return runTracks(args);
    if (command == "export") {
        const int status = bearfix::runExport(args);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "gps") {
        const int status = bearfix::runGps(args, json);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "declination") return bearfix::runDeclination(args, json, kUsage);
    if (command == "calibrate") return bearfix::runCalibrate(args, json, kUsage);
    if (command == "aprs") {
        const int status = bearfix::runAprs(args);
        if (status == 2) std::fputs(kUsage, stderr);
        return status;
    }
    if (command == "send") {
        const bool fromStdin = std::erase(args, std::string("--stdin")) > 0;
        return runSend(args, fromStdin);
    }
    std::fprintf(stderr, "bearfix-cli: unknown command \"%s\"\n%s", command.c_str(), kUsage);
    return 2;
}
