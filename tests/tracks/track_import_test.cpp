#include "tracks/track_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "track_reader_test.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

class TrackImport : public testing::TrackReaderTest {
protected:
    static std::string kml(const std::string& body) {
        return "<?xml version=\"1.0\"?><kml><Document>" + body + "</Document></kml>";
    }
};

TEST_F(TrackImport, WhatIsReadAndWhyNot) {
    const std::string k = kml("<Placemark><LineString><coordinates>8,52,1</coordinates></LineString></Placemark>");
    const std::string aux = "1 1262304000 52.5 13.25 40 0\n";
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 37 % 256);
    const struct {
        const char* file;  // nullptr: the directory itself
        const std::string& content;
        int type;
        const char* reason;  // nullptr: read; "": the XML library's own words
        const char* first = nullptr;
    } cases[] = {
        {"track.KML", k, 0, nullptr},
        {"notes.txt", k, 1, nullptr},
        {"notes.txt", k, 0, "unknown kind of track file"},
        {"data.nma", aux, 4, nullptr},
        {"data.nma", aux, 0, "NMEA files cannot be read", "Oops.. the import of NMEA files isn't implemented yet."},
        {"walk.aux", aux, 0, nullptr},
        {"walk.aux", aux, 1, ""},  // ".aux" decides only for type 0
        {"noextension", aux, 4, "unknown kind of track file"},
        {"t.csv", aux, 4, "CSV files cannot be read", "Oops.. the import of CSV files isn't implemented yet."},
        {"bad.kml", "<kml><Document><Placemark>", 0, ""},
        {"empty.aux", "# nothing\n", 0, "no track points found"},  // no XML error left from before
        {"photo.kml", binary, 0, "The file holds binary data, not XML"},
        {"photo.aux", binary, 0, "no track points found"},
        {nullptr, aux, 1, "not a file"},
    };
    for (const auto& c : cases) {
        log.clear();
        const std::string path = c.file ? dir.write(c.file, c.content) : dir.path().string() + "/";
        EXPECT_EQ(loadTrackFileReporting(path, c.type), !c.reason) << path << " as " << c.type;
        if (!c.reason) {
            EXPECT_TRUE(log.size() == 1 && log[0].starts_with("Debug: Loaded ")) << path << " as " << c.type;
            continue;
        }
        EXPECT_TRUE(*c.reason || !lastXmlError().empty()) << path << ": the XML library says why";
        std::vector<std::string> want{"Error: Couldn't load anything from " + path + " .",
                                      "Error loading \"" + path + "\": " + (*c.reason ? c.reason : lastXmlError())};
        if (c.first) want.insert(want.begin(), c.first);
        EXPECT_EQ(log, want) << " as " << c.type;
    }
    EXPECT_EQ(track(), "#Unknown|52 8|#Unknown|52 8|#data|52.5 13.25|#walk|52.5 13.25|#empty|#photo")
        << "a failed auxiliary file leaves its header";
}

TEST_F(TrackImport, KmlCoordinates) {
    const std::string huge = "1" + std::string(400, '0'), tiny = "0." + std::string(400, '0') + "1";  // beyond any double
    const struct {
        std::string coordinates;
        const char* points;  // nullptr: nothing stored, the import fails
        int skipped = 0;
    } cases[] = {
        {"8.5,52.1,100 8.6,52.2,110", "|52.1 8.5|52.2 8.6"},
        {"8.5,52.1,100  8.6,52.2,110", "|52.1 8.5|52.2 8.6"},
        {"8.5,52.1 8.6,52.2", "|52.1 8.5|52.2 8.6"},  // no altitudes
        {"8.5,52.1 8.6,52.2,7 8.7,52.3", "|52.1 8.5|52.2 8.6|52.3 8.7"},
        {"1.5e1,2E-1,0", "|0.2 15"},
        {"1e31,2,0", "|2 1"},  // an exponent of 31 leaves the number unscaled
        {"-8.5 , 52.1 ,1 8,x,1 9,9,9", "|52.1 -8.5"},
        {"8.5,52.1 x 9,9", "|52.1 8.5"},
        {"8,90,0 -180,-90 180,0 8,90.001 180.5,0 -181,1 8,-95,0 9,9", "|90 8|-90 -180|0 180|9 9", 4},
        {"9e1,9e1 " + huge + ",1 1," + huge + " " + tiny + ",1 -" + huge + ",5", "|90 90|1 0", 3},
        {"400,0 0,-400", nullptr, 2},
        {"x", nullptr},
    };
    for (const auto& c : cases) {
        clearTracks();
        log.clear();
        const std::string path = dir.write("c.kml", kml("<Placemark><LineString><coordinates>\n   " + c.coordinates +
                                                         "\n  </coordinates></LineString></Placemark>"));
        EXPECT_EQ(loadTrackFile(path, 0), c.points != nullptr) << c.coordinates;
        const std::string stored = track();
        EXPECT_EQ(stored, std::string("#Unknown") + (c.points ? c.points : "")) << c.coordinates;
        std::vector<std::string> want;
        if (c.skipped) want.push_back("Debug: skipped " + std::to_string(c.skipped) + " points with invalid coordinates");
        const auto points = std::count(stored.begin(), stored.end(), '|');
        want.push_back(c.points ? "Debug: Loaded " + std::to_string(points) + " points into GPS track buffer"
                                : "Error: Couldn't load anything from " + path + " .");
        EXPECT_EQ(log, want) << c.coordinates;
    }
}

TEST_F(TrackImport, KmlPlacemarksAndFolders) {
    const std::string line = "<LineString><coordinates>1,2,3</coordinates></LineString>";
    const std::string path = dir.write(
        "f.kml", kml("<Folder><Placemark><name>A</name>" + line + "</Placemark><Placemark>" + line +
                     "</Placemark></Folder><Folder><Placemark><name/>" + line + "</Placemark></Folder>" +
                     "<Placemark><name>Direct \xC3\xBC</name>" + line + "</Placemark>"));
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(track(), "#Direct \xFC|2 1|#A|2 1|#A|2 1|#Unknown|2 1")
        << "direct placemarks first, a nameless one carries the name before it";
    EXPECT_EQ(log.back(), "Debug: Loaded 4 points into GPS track buffer") << "points, not records";
}

TEST_F(TrackImport, AuxiliaryFiles) {
    ASSERT_TRUE(loadTrackFile(dir.write("run.1.aux", "Wavemill aux file\n"
                                                     "100 1262304000 52.5 13.25 40 0\n"
                                                     "101 1262304001 52.6 13.35 41\n"  // no speed: skipped
                                                     " 102 1262304002 52.7 13.45 42 1\n"
                                                     "#103 1262304003 52.8 13.55 43 1\n"
                                                     "105 1262304005 53.0 13.75 45 5.5 sr=48000 rf=1 \n"
                                                     "106\t1262304006\t53.1\t13.85\t46\t6\tfoo=1\n"
                                                     "107 1262304007 53.2 1" + std::string(400, '0') + " 47 7\n"
                                                     "108 1262304008 95.0 13.95 48 8\n"),
                              0));
    EXPECT_EQ(track(), "#run|52.5 13.25|53 13.75|53.1 13.85") << "no point off the globe or beyond a double";
    // Line 107 is longer than a line is read, so it is no point at all; line 108 is off the globe.
    EXPECT_EQ(log.end()[-2], "Debug: skipped 1 points with invalid coordinates");
    const TrackPoint* first = trackRecordAt(1);
    EXPECT_EQ(first->sample, 100);
    EXPECT_EQ(first->altitude, 40);
    EXPECT_EQ(first->yearSince2000, 10);
    EXPECT_EQ(trackRecordAt(2)->speedKmh, 5.5);
}

TEST_F(TrackImport, Gpx) {
    const std::string path = dir.write("morning.gpx", R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="GPS app" xmlns="http://www.topografix.com/GPX/1/1">
  <metadata><name>export</name></metadata>
  <trk>
    <name>Fox hunt</name>
    <trkseg>
      <trkpt lat="52.1000" lon="8.5000"><ele>101.5</ele><time>2021-06-01T06:00:00Z</time></trkpt>
      <trkpt lat="52.1010" lon="8.5010"><ele>102</ele><time>2021-06-01T08:00:05.5+02:00</time></trkpt>
    </trkseg>
    <trkseg>
      <trkpt lat="-33.9" lon="151.2"><time>2021-13-01T00:00:00Z</time></trkpt>
    </trkseg>
  </trk>
  <trk><trkseg><trkpt lat="1" lon="2"><time>1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000-01-01T00:00:00Z</time></trkpt><trkpt lon="3"/></trkseg></trk>
  <rte><name>Way back</name><rtept lat="52.2" lon="8.6"/></rte>
</gpx>)");
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(track(), "#Fox hunt|52.1 8.5|52.101 8.501|#Fox hunt|-33.9 151.2|#morning|1 2|#Way back|52.2 8.6")
        << "a point without a latitude is left out";
    const TrackPoint* second = trackRecordAt(2);
    EXPECT_EQ(second->altitude, 102);
    EXPECT_EQ(second->hour, 6) << "times are stored in UTC";
    EXPECT_EQ(second->second, 5);
    for (int record : {4, 6}) EXPECT_FALSE(trackRecordAt(record)->timeValid) << "a time out of range is no time";
}

TEST_F(TrackImport, GpxCoordinatesAreWholeFiniteNumbersOnTheGlobe) {
    const struct {
        const char* lat;
        const char* lon;
        const char* stored;  // nullptr: skipped
    } cases[] = {
        {"52.5", "13.25", "52.5 13.25"},
        {" 52.5\t", "+13.25", "52.5 13.25"},
        {"-90", "-180", "-90 -180"},
        {"90.0", "180", "90 180"},
        {"inf", "8", nullptr},
        {"-inf", "8", nullptr},
        {"nan", "8", nullptr},
        {"52", "infinity", nullptr},
        {"1e5", "8", nullptr},
        {"5.2e1", "8", nullptr},
        {"52abc", "8", nullptr},
        {"52,5", "8", nullptr},
        {"0x10", "8", nullptr},
        {"+-5", "8", nullptr},
        {"", "8", nullptr},
        {"400", "8", nullptr},
        {"52", "800", nullptr},
        {"90.000001", "8", nullptr},
        {"52", "-180.0001", nullptr},
    };
    std::string points, want = "#walk";
    int skipped = 1;  // the point without a latitude
    for (const auto& c : cases) {
        points += std::string("<trkpt lat=\"") + c.lat + "\" lon=\"" + c.lon + "\"><ele>7</ele></trkpt>\n";
        if (c.stored) want += std::string("|") + c.stored;
        skipped += c.stored ? 0 : 1;
    }
    const std::string path = dir.write("walk.gpx", "<gpx><trk><trkseg>" + points + "<trkpt lon=\"3\"/></trkseg></trk></gpx>");
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(track(), want);
    EXPECT_EQ(log, (std::vector<std::string>{"Debug: skipped " + std::to_string(skipped) + " points with invalid coordinates",
                                             "Debug: Loaded 4 points into GPS track buffer"}));
}

TEST_F(TrackImport, NamesFromFileNamesAreWindows1252Text) {
    std::string thirtyUmlauts;  // 30 x U+00F6, two bytes each in UTF-8
    for (int i = 0; i < 30; ++i) thirtyUmlauts += "\xC3\xB6";
    const struct {
        std::string file, track, logged;
    } cases[] = {
        {"K\xC3\xB6ln", "K\xF6ln", "K\xF6ln"},                  // UTF-8, shown as the file system has it
        {"\xC5\x81\xC3\xB3" "d\xC5\xBA", "?\xF3" "d?", "?\xF3" "d?"},     // L and z with strokes are not in the code page
        {"\xE2\x82\xAC 5", "\x80 5", "\x80 5"},                // the euro sign is
        {"J\xF6rg", "J\xF6rg", "J\xF6rg"},                      // not UTF-8: the bytes as they are
        {thirtyUmlauts, std::string(23, '\xF6'), std::string(30, '\xF6')},  // 23 characters, not 23 bytes
    };
    const std::string directory = dir.path().string() + "/";
    for (const auto& c : cases) {
        clearTracks();
        log.clear();
        ASSERT_TRUE(loadTrackFile(dir.write(c.file + ".aux", "1 1262304000 52.5 13.25 40 0\n"), 0)) << c.file;
        ASSERT_NE(trackRecordAt(0), nullptr);
        EXPECT_EQ(std::string(trackRecordAt(0)->name), c.track);
        EXPECT_FALSE(loadTrackFile(dir.write(c.file + ".kml", "<kml/>"), 0));
        EXPECT_EQ(log.back(), "Error: Couldn't load anything from " + directory + c.logged + ".kml .");
    }
}

}  // namespace
}  // namespace bearfix
