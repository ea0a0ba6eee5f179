#include "tracks/track_import.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

class TrackImport : public ::testing::Test {
protected:
    void SetUp() override {
        clearTracks();
        setMessageSink([this](MessageLevel, const std::string& text) { log.push_back(text); });
    }
    void TearDown() override {
        setMessageSink({});
        clearTracks();
    }
    // The store as "#segment|lat lon|...", valid points only, in degrees to 1e-5.
    static std::string track() {
        std::ostringstream out;
        for (int32_t i = 0; const TrackPoint* r = trackRecordAt(i); ++i) {
            if (r->type == kTrackSegment) out << (i ? "|#" : "#") << r->name;
            if (r->type == kTrackPoint && r->valid)
                out << '|' << std::round(r->lat / 3.6) / 1e5 << ' ' << std::round(r->lon / 3.6) / 1e5;
        }
        return out.str();
    }
    static std::string kml(const std::string& body) {
        return "<?xml version=\"1.0\"?><kml><Document>" + body + "</Document></kml>";
    }

    testing::TempDir dir;
    std::vector<std::string> log;
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
    const std::pair<std::string, std::string> cases[] = {
        {"8.5,52.1,100 8.6,52.2,110", "|52.1 8.5|52.2 8.6"},
        {"8.5,52.1,100  8.6,52.2,110", "|52.1 8.5|52.2 8.6"},
        {"8.5,52.1 8.6,52.2", ""},  // a coordinates text counts even without points
        {"1.5e1,2E-1,0", "|0.2 15"},
        {"1e31,2,0", "|2 1"},  // an exponent of 31 leaves the number unscaled
        {"-8.5 , 52.1 ,1 8,x,1 9,9,9", "|52.1 -8.5"},
        // A number too large for a double is no coordinate; the next tuple is read.
        {"8.5,52.1,1 1" + std::string(400, '0') + ",52.2,1 8.6,52.3,1", "|52.1 8.5|52.3 8.6"},
    };
    for (const auto& [coordinates, points] : cases) {
        clearTracks();
        EXPECT_TRUE(loadTrackFile(dir.write("c.kml", kml("<Placemark><LineString><coordinates>\n   " +
                                                          coordinates + "\n  </coordinates></LineString></Placemark>")),
                                  0));
        EXPECT_EQ(track(), "#Unknown" + points) << coordinates;
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
    EXPECT_EQ(log.back(), "Debug: Loaded 8 points into GPS track buffer");
}

TEST_F(TrackImport, AuxiliaryFiles) {
    ASSERT_TRUE(loadTrackFile(dir.write("run.1.aux", "Wavemill aux file\n"
                                                     "100 1262304000 52.5 13.25 40 0\n"
                                                     "101 1262304001 52.6 13.35 41\n"  // no speed: skipped
                                                     " 102 1262304002 52.7 13.45 42 1\n"
                                                     "#103 1262304003 52.8 13.55 43 1\n"
                                                     "105 1262304005 53.0 13.75 45 5.5 sr=48000 rf=1 \n"
                                                     "106\t1262304006\t53.1\t13.85\t46\t6\tfoo=1\n"
                                                     "107 1262304007 53.2 1" + std::string(400, '0') + " 47 7\n"),
                              0));
    EXPECT_EQ(track(), "#run|52.5 13.25|53 13.75|53.1 13.85") << "a number too large for a double: no point";
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

}  // namespace
}  // namespace bearfix
