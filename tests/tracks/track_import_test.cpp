#include "tracks/track_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

using testing::TempDir;

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

    // The stored points as (lat, lon) degrees and the segment names, in order.
    std::vector<std::pair<double, double>> points() const {
        std::vector<std::pair<double, double>> result;
        for (int32_t i = 0; const TrackPoint* r = trackRecordAt(i); ++i)
            if (r->type == kTrackPoint && r->valid) result.emplace_back(r->lat / 360000.0, r->lon / 360000.0);
        return result;
    }
    std::vector<std::string> segments() const {
        std::vector<std::string> result;
        for (int32_t i = 0; const TrackPoint* r = trackRecordAt(i); ++i)
            if (r->type == kTrackSegment) result.emplace_back(r->name);
        return result;
    }
    std::string kml(const std::string& body) const {
        return "<?xml version=\"1.0\"?><kml><Document>" + body + "</Document></kml>";
    }

    TempDir dir;
    std::vector<std::string> log;
};

TEST_F(TrackImport, DispatchByTypeAndExtension) {
    const std::string kmlText = kml("<Placemark><LineString><coordinates>8.5,52.1,100</coordinates></LineString></Placemark>");
    const std::string auxText = "1 1262304000 52.5 13.25 40 0\n";
    struct Case {
        const char* file;
        std::string content;
        int type;
        bool ok;
    };
    const Case cases[] = {
        {"track.KML", kmlText, 0, true},  {"notes.txt", kmlText, 1, true},  {"notes.txt", kmlText, 0, false},
        {"data.nma", auxText, 4, true},   {"data.nma", auxText, 0, false},  {"walk.aux", auxText, 0, true},
        {"walk.aux", auxText, 1, false},  // ".aux" decides only for type 0: read as KML it fails
        {"noextension", auxText, 4, false},
    };
    for (const Case& c : cases) {
        clearTracks();
        log.clear();
        const std::string path = dir.write(c.file, c.content);
        EXPECT_EQ(loadTrackFile(path, c.type), c.ok) << c.file << " as " << c.type;
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind(c.ok ? "Debug: Loaded " : "Error: Couldn't load anything from ", 0), 0u)
            << log.back();
    }
    log.clear();
    EXPECT_FALSE(loadTrackFile(dir.write("t.csv", "1,2"), 4));
    EXPECT_EQ(log.front(), "Oops.. the import of CSV files isn't implemented yet.");
    log.clear();
    EXPECT_FALSE(loadTrackFile(dir.write("t.nma", "$GPGGA"), 0));
    EXPECT_EQ(log.front(), "Oops.. the import of NMEA files isn't implemented yet.");
}

TEST_F(TrackImport, KmlCoordinates) {
    struct Case {
        const char* coordinates;
        std::vector<std::pair<double, double>> points;
    };
    const Case cases[] = {
        {"8.5,52.1,100 8.6,52.2,110", {{52.1, 8.5}, {52.2, 8.6}}},
        {"8.5,52.1,100  8.6,52.2,110", {{52.1, 8.5}, {52.2, 8.6}}},
        {"8.5,52.1 8.6,52.2", {}},
        {"1.5e1,2E-1,0", {{0.2, 15}}},
        {"1e31,2,0", {{2, 1}}},  // an exponent of 31 leaves the number unscaled
        {"-8.5 , 52.1 ,1 8,x,1 9,9,9", {{52.1, -8.5}}},
    };
    for (const Case& c : cases) {
        clearTracks();
        const std::string path = dir.write(
            "c.kml", kml(std::string("<Placemark><LineString><coordinates>\n   ") + c.coordinates +
                         "\n  </coordinates></LineString></Placemark>"));
        EXPECT_TRUE(loadTrackFile(path, 0)) << c.coordinates << ": a coordinates text counts even without points";
        auto got = points();
        ASSERT_EQ(got.size(), c.points.size()) << c.coordinates;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].first, c.points[i].first, 1e-5) << c.coordinates;
            EXPECT_NEAR(got[i].second, c.points[i].second, 1e-5) << c.coordinates;
        }
        EXPECT_EQ(segments().size(), 1u);
    }
}

TEST_F(TrackImport, KmlPlacemarksAndFolders) {
    const std::string line = "<LineString><coordinates>1,2,3</coordinates></LineString>";
    const std::string path = dir.write(
        "f.kml", kml("<Folder><Placemark><name>A</name>" + line + "</Placemark><Placemark>" + line +
                     "</Placemark></Folder><Folder><Placemark><name/>" + line + "</Placemark></Folder>" +
                     "<Placemark><name>Direct \xC3\xBC</name>" + line + "</Placemark>"));
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(segments(), (std::vector<std::string>{"Direct \xFC", "A", "A", "Unknown"}))
        << "direct placemarks first, a nameless one carries the name before it";
    EXPECT_EQ(log.back(), "Debug: Loaded 8 points into GPS track buffer");
}

TEST_F(TrackImport, MalformedXmlIsReported) {
    const std::string path = dir.write("bad.kml", "<kml><Document><Placemark>");
    EXPECT_FALSE(loadTrackFileReporting(path, 0));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Error: Couldn't load anything from " + path + " .");
    EXPECT_EQ(log[1].rfind("Error loading \"" + path + "\": ", 0), 0u);
    EXPECT_FALSE(lastXmlError().empty());
    EXPECT_NE(log[1].find(lastXmlError()), std::string::npos);

    // The next failure has nothing to do with XML and says so.
    log.clear();
    EXPECT_FALSE(loadTrackFileReporting(dir.write("empty.aux", "# nothing\n"), 0));
    EXPECT_TRUE(lastXmlError().empty());
    EXPECT_EQ(log[1], "Error loading \"" + dir.path().string() + "/empty.aux\": no track points found");
    EXPECT_EQ(segments(), std::vector<std::string>{"empty"}) << "the header stays";
}

TEST_F(TrackImport, AuxiliaryFiles) {
    const std::string path = dir.write("run.1.aux",
                                       "Wavemill aux file\n"
                                       "100 1262304000 52.5 13.25 40 0\n"
                                       "101 1262304001 52.6 13.35 41\n"          // no speed: skipped
                                       " 102 1262304002 52.7 13.45 42 1\n"       // starts with a blank
                                       "#103 1262304003 52.8 13.55 43 1\n"
                                       "x104 1262304004 52.9 13.65 44 1\n"
                                       "105 1262304005 53.0 13.75 45 5.5 sr=48000 rf=1 \n"
                                       "106\t1262304006\t53.1\t13.85\t46\t6\tfoo=1\n");
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(segments(), std::vector<std::string>{"run"});
    const auto got = points();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], std::make_pair(52.5, 13.25));
    EXPECT_EQ(got[2], std::make_pair(53.1, 13.85));
    const TrackPoint* first = trackRecordAt(1);
    EXPECT_EQ(first->sample, 100);
    EXPECT_EQ(first->altitude, 40);
    EXPECT_EQ(first->yearSince2000, 10);
    EXPECT_EQ(first->month, 1);
    EXPECT_EQ(first->hour, 0);
    EXPECT_EQ(trackRecordAt(2)->speedKmh, 5.5);

    // Ten points into an empty store: eleven records with the header.
    clearTracks();
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += std::to_string(i) + " 0 1 2 3 4\n";
    ASSERT_TRUE(loadTrackFile(dir.write("ten.aux", ten), 4));
    EXPECT_EQ(log.back(), "Debug: Loaded 11 points into GPS track buffer");
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
    EXPECT_EQ(segments(), (std::vector<std::string>{"Fox hunt", "Fox hunt", "morning", "Way back"}));
    EXPECT_EQ(points().size(), 5u) << "a point without a latitude is left out";
    const TrackPoint* second = trackRecordAt(2);
    EXPECT_EQ(second->altitude, 102);
    EXPECT_EQ(second->hour, 6) << "times are stored in UTC";
    EXPECT_EQ(second->second, 5);
    EXPECT_EQ(second->day, 1);
    for (int record : {4, 6}) EXPECT_FALSE(trackRecordAt(record)->timeValid) << "a time out of range is no time";
    EXPECT_NEAR(points()[2].first, -33.9, 1e-5);
    EXPECT_NEAR(points()[2].second, 151.2, 1e-5);
}

}  // namespace
}  // namespace bearfix
