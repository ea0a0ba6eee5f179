#include "tracks/gpx_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "track_reader_test.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

class GpxReader : public testing::TrackReaderTest {
protected:
    static std::string gpx(const std::string& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\">" + body + "</gpx>\n";
    }
};

// Names as a reader that keeps an element's first text node takes them,
// wherever in the track they stand.
TEST_F(GpxReader, NamesOfTracksAndRoutes) {
    const std::string point = "<trkpt lat=\"1\" lon=\"2\"/>";
    const struct {
        const char* what;
        std::string body;
        const char* stored;
    } cases[] = {
        {"after the segments", "<trk><trkseg>" + point + "</trkseg><trkseg/><name>Late</name></trk>",
         "#Late|1 2|#Late"},
        {"blanks condensed", "<trk><name>\n  Fox \t\r\n hunt  </name><trkseg>" + point + "</trkseg></trk>",
         "#Fox hunt|1 2"},
        {"the first name element only", "<trk><name/><name>Second</name><trkseg>" + point + "</trkseg></trk>",
         "#walk|1 2"},
        {"a comment before the text", "<trk><name> <!-- c -->Hidden</name><trkseg>" + point + "</trkseg></trk>",
         "#walk|1 2"},
        {"text up to the first markup", "<trk><name>Fox<!-- c --> hunt</name><trkseg>" + point + "</trkseg></trk>",
         "#Fox|1 2"},
        {"CDATA as it is", "<trk><name>  <![CDATA[ a  &b ]]></name><trkseg>" + point + "</trkseg></trk>",
         "# a  &b |1 2"},
        {"entities and UTF-8", "<trk><name>M\xC3\xBCnster &amp; more</name><trkseg>" + point + "</trkseg></trk>",
         "#M\xFCnster & more|1 2"},
        {"a route's name after its points",
         "<rte><rtept lat=\"3\" lon=\"4\"/><name>Back</name></rte><rte><rtept lat=\"5\" lon=\"6\"/></rte>",
         "#Back|3 4|#walk|5 6"},
        {"nested deeper: no name of the track", "<trk><extensions><name>X</name></extensions><trkseg>" + point +
                                                    "</trkseg></trk>",
         "#walk|1 2"},
    };
    for (const auto& c : cases) {
        clearTracks();
        EXPECT_TRUE(loadTrackFile(dir.write("walk.gpx", gpx(c.body)), 0)) << c.what;
        EXPECT_EQ(track(), c.stored) << c.what;
    }
}

// Names of long runs of characters between blanks of every kind are
// condensed as a simple split and join condenses them.
TEST_F(GpxReader, LongNamesCondensed) {
    std::mt19937 random(7);
    const std::string point = "<trkpt lat=\"1\" lon=\"2\"/>";
    std::string body, expected;
    for (int track = 0; track < 400; ++track) {
        std::string name, condensed, word;
        const auto flush = [&] {
            if (!word.empty()) condensed += (condensed.empty() ? "" : " ") + word;
            word.clear();
        };
        for (int length = static_cast<int>(random() % 40); length > 0; --length) {
            const char c = random() % 6 == 0 ? " \t\n\r"[random() % 4] : static_cast<char>('a' + random() % 26);
            name += c;
            if (c <= ' ') {
                flush();
            } else {
                word += c;
            }
        }
        flush();
        body += "<trk><name>" + name + "</name><trkseg>" + point + "</trkseg></trk>";
        expected += (expected.empty() ? "#" : "|#") + (condensed.empty() ? "walk" : condensed.substr(0, 23)) + "|1 2";
    }
    EXPECT_TRUE(loadTrackFile(dir.write("walk.gpx", gpx(body)), 0));
    EXPECT_EQ(track(), expected);
}

// Coordinates are whole finite numbers within range; other points are left
// out and counted. Elevation and time are read from the first of each.
TEST_F(GpxReader, PointsAndTheirCoordinates) {
    const std::string path = dir.write("p.gpx", gpx(R"(<trk><trkseg>
        <trkpt lat=" +52.5 " lon="-8.25"><ele> +12.5 </ele><ele>99</ele><time>2020-02-29T23:59:59-01:30</time></trkpt>
        <trkpt lat="52.5x" lon="8"/>
        <trkpt lat="90.5" lon="8"/>
        <trkpt lat="-90" lon="180"><ele>7 m</ele></trkpt>
        <trkpt lat="1e2" lon="8"/>
        <trkpt lat="nan" lon="8"/>
        <trkpt lon="8"/>
        <trkpt lat="10" lon="-180.000001"/>
        <trkpt lat="1)" + std::string(400, '0') + R"(" lon="1"/>
      </trkseg></trk>)"));
    log.clear();
    ASSERT_TRUE(loadTrackFile(path, 0));
    EXPECT_EQ(track(), "#p|52.5 -8.25|-90 180");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Debug: skipped 7 points with invalid coordinates");
    const TrackPoint* first = trackRecordAt(1);
    EXPECT_EQ(first->altitude, 12.5);
    EXPECT_EQ(trackRecordAt(2)->altitude, 0) << "an elevation is a number and nothing more";
    // 2020-02-29 23:59:59 at -01:30 is 2020-03-01 01:29:59 UTC.
    EXPECT_EQ(first->yearSince2000, 20);
    EXPECT_EQ(first->month, 3);
    EXPECT_EQ(first->day, 1);
    EXPECT_EQ(first->hour, 1);
    EXPECT_EQ(first->minute, 29);
    EXPECT_EQ(first->second, 59);
}

// A file that is no readable GPX leaves the store as it was, however far
// the reading got.
TEST_F(GpxReader, UnreadableFilesStoreNothing) {
    std::string points;
    for (int i = 0; i < 20000; ++i) points += "<trkpt lat=\"1\" lon=\"2\"/>";
    std::string deep;
    for (int i = 0; i < kMaxGpxDepth; ++i) deep += "<e>";
    const struct {
        const char* what;
        std::string content;
        const char* error;  // the start of the reason
    } cases[] = {
        {"broken at the end", gpx("<trk><trkseg>" + points + "</trkseg></trk>") + "<", "unclosed token"},
        {"a mismatched tag", gpx("<trk><trkseg>" + points + "</trk>"), "mismatched tag at line 2"},
        {"a zero byte far in", gpx("<trk><trkseg>" + points + "</trkseg></trk>" + std::string(1, '\0')),
         "The file holds binary data, not XML"},
        {"nested too deeply", gpx("<trk><trkseg>" + points + "</trkseg></trk>" + deep), "elements nested too deeply"},
        {"empty", "", "no element found"},
    };
    beginTrackSegment("kept", -1);
    for (const auto& c : cases) {
        log.clear();
        const std::string path = dir.write("bad.gpx", c.content);
        EXPECT_FALSE(loadTrackFileReporting(path, 0)) << c.what;
        EXPECT_EQ(track(), "#kept") << c.what;
        ASSERT_FALSE(log.empty());
        EXPECT_TRUE(log.back().starts_with("Error loading \"" + path + "\": " + c.error)) << c.what << ": " << log.back();
    }
    std::string shallow;
    for (int i = 0; i < kMaxGpxDepth - 1; ++i) shallow += "<e>";
    for (int i = 0; i < kMaxGpxDepth - 1; ++i) shallow += "</e>";
    EXPECT_TRUE(loadTrackFile(dir.write("ok.gpx", gpx("<trk><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk>" + shallow)), 0))
        << "nesting up to the limit is read";
}

// A file that is not UTF-8 is read as Windows-1252 from its first byte on,
// even where it looked like UTF-8.
TEST_F(GpxReader, FilesThatAreNotUtf8AreWindows1252) {
    ASSERT_TRUE(loadTrackFile(dir.write("w.gpx", gpx("<trk><name>M\xC3\xBCnster</name><trkseg><trkpt lat=\"1\" lon=\"2\"/>"
                                                     "</trkseg></trk><rte><name>K\xF6ln \x80</name><rtept lat=\"3\" "
                                                     "lon=\"4\"/></rte>")),
                              0));
    EXPECT_EQ(track(), "#M\xC3\xBCnster|1 2|#K\xF6ln \x80|3 4");
}

// Times as the general rule reads them (isoTime, then the calendar of its
// seconds), including those that roll over into the next minute, day, month
// or year, fall outside the years a record holds, or carry a fraction, an
// offset or more digits.
TEST_F(GpxReader, TimesAsTheGeneralRuleReadsThem) {
    std::mt19937 random(7);
    auto pick = [&random](std::initializer_list<const char*> list) { return list.begin()[random() % list.size()]; };
    std::vector<std::string> times;
    std::string body = "<trk><trkseg>";
    for (int i = 0; i < 4000; ++i) {
        std::string t = std::string(pick({"1999", "2000", "2020", "2021", "2100", "2255", "2256", "+2021", "02021"})) + "-" +
                        pick({"00", "01", "02", "04", "12", "13", "1"}) + "-" + pick({"00", "01", "28", "29", "30", "31", "32"}) +
                        "T" + pick({"00", "09", "23", "24"}) + ":" + pick({"00", "59", "60"}) + ":" +
                        pick({"00", "07", "59", "60", "7"}) + pick({"Z", "", "Z", ".5Z", ".999999999Z", "+01:00", "-00:30", "5", "x", " Z"});
        times.push_back(t);
        body += "<trkpt lat=\"1\" lon=\"2\"><time>" + t + "</time></trkpt>\n";
    }
    ASSERT_TRUE(loadTrackFile(dir.write("t.gpx", gpx(body + "</trkseg></trk>")), 0));
    ASSERT_EQ(trackRecordCount(), 1 + static_cast<int>(times.size()));
    for (std::size_t i = 0; i < times.size(); ++i) {
        TrackPoint expected;
        initTrackPoint(expected);
        const double seconds = isoTime(times[i].c_str());
        if (!std::isnan(seconds)) setTrackPointTime(expected, seconds);
        const TrackPoint* read = trackRecordAt(static_cast<int32_t>(i) + 1);
        const auto fields = [](const TrackPoint& p) {
            return std::vector<int>{p.yearSince2000, p.month, p.day, p.hour, p.minute, p.second, p.hundredths,
                                    p.timeValid, p.dateValid};
        };
        ASSERT_EQ(fields(*read), fields(expected)) << times[i];
    }
}

// 5 MiB of tracks and routes: names before and after their points,
// bad coordinates, texts split by comments and CDATA. Counts what a reader
// must store: points, skipped points and the names of the segments in order.
struct BigGpx {
    std::string text;
    int points = 0, skipped = 0;
    std::vector<std::string> segments;
};

BigGpx bigGpx() {
    static const char* const kTexts[] = {
        "<ele>12.5</ele><time>2021-06-01T10:00:00Z</time>",
        "<ele><![CDATA[ 7.25 ]]></ele><time>2021-06-01T10:00:00.5+02:00</time>",
        "<ele> 3<!-- split -->4</ele><time>2021-06-01T<!-- split -->10:00:00Z</time>",
        "<time>  2022-02-02T02:02:02Z </time><ele>-5</ele><ele>99</ele>",
        "<extensions><ele>1</ele></extensions>",
    };
    BigGpx gpx;
    std::string& out = gpx.text;
    out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\">\n";
    for (int t = 0; out.size() < (5u << 20); ++t) {
        const bool route = t % 3 == 2;
        const std::string name = (t % 2 == 0 ? "Track " : "Late ") + std::to_string(t);
        out += route ? "<rte>" : "<trk>";
        if (t % 2 == 0) out += "<name>" + name + "</name>";
        for (int s = 0; s < (route ? 1 : 2); ++s) {
            gpx.segments.push_back(name);
            if (!route) out += "<trkseg>";
            for (int i = 0; i < 400; ++i) {
                const int k = t * 1000 + s * 400 + i;
                const bool bad = k % 17 == 0 || k % 19 == 0;
                (bad ? gpx.skipped : gpx.points) += 1;
                char point[200];
                std::snprintf(point, sizeof point, "<%s lat=\"%s%.6f\" lon=\"%.5f%s\">%s</%s>\n",
                              route ? "rtept" : "trkpt", k % 17 == 0 ? "9" : "", 50 + k % 1000 * 1e-3,
                              8 + k % 777 * 1e-4, k % 19 == 0 ? "x" : "", kTexts[k % 5], route ? "rtept" : "trkpt");
                out += point;
            }
            if (!route) out += "</trkseg>";
        }
        if (t % 2 == 1) out += "<name>" + name + "</name>";
        out += route ? "</rte>\n" : "</trk>\n";
    }
    out += "</gpx>\n";
    return gpx;
}

// Every field of every record, to compare two readings.
std::string storeDump() {
    std::ostringstream out;
    for (const TrackPoint& r : trackStore()) {
        out << int(r.type) << ' ' << r.name << ' ' << r.colour << ' ' << r.lat << ' ' << r.lon << ' ' << r.altitude
            << ' ' << int(r.valid) << ' ' << int(r.yearSince2000) << '-' << int(r.month) << '-' << int(r.day) << ' '
            << int(r.hour) << ':' << int(r.minute) << ':' << int(r.second) << ' ' << int(r.timeValid)
            << int(r.dateValid) << '\n';
    }
    return out.str();
}

// Large files are read by two threads, with the same result as one thread
// gives, whether the file is read to its end or stops early or late.
TEST_F(GpxReader, TwoThreadsReadAsOne) {
    const BigGpx big = bigGpx();
    const std::string& good = big.text;
    const std::size_t tail = good.rfind("<rtept", good.size() - 100);  // before one of the last points
    std::string deep;
    for (int i = 0; i <= kMaxGpxDepth; ++i) deep += "<e>";
    const std::string fifo = (dir.path() / "fifo.gpx").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* what;
        std::string path;
        const char* error;  // the start of the reason; empty when read
    } cases[] = {
        {"read to the end", dir.write("good.gpx", good), ""},
        {"broken near the end", dir.write("late.gpx", good.substr(0, tail) + "</gpx>"), "mismatched tag"},
        {"broken at once", dir.write("early.gpx", "<gpx></trk>" + good), "mismatched tag at line 1"},
        {"nested too deeply near the end", dir.write("deep.gpx", good.substr(0, tail) + deep), "elements nested too deeply"},
        {"a zero byte near the end", dir.write("zero.gpx", good.substr(0, tail) + '\0' + good.substr(tail)),
         "The file holds binary data"},
        {"not UTF-8 near the end",
         dir.write("w.gpx", good.substr(0, good.size() - 7) + "<rte><name>K\xF6ln</name><rtept lat=\"1\" lon=\"2\"/></rte></gpx>"),
         ""},
        {"unreadable from the start", "/proc/self/mem", "Input/output error"},
        {"a pipe", fifo, "Failed to open file"},
    };
    beginTrackSegment("kept", -1);
    const std::string kept = storeDump();
    for (const auto& c : cases) {
        std::vector<std::string> readings;
        std::vector<GpxImport> results;
        for (GpxThreads threads : {GpxThreads::kOne, GpxThreads::kTwo, GpxThreads::kBySize, GpxThreads::kSplit}) {
            results.push_back(readGpxFile(c.path, "file", threads));
            readings.push_back(storeDump());
            trackStore().truncate(1);
        }
        const GpxImport& one = results[0];
        EXPECT_TRUE(one.error.starts_with(c.error) && one.error.empty() == (*c.error == '\0')) << c.what << ": " << one.error;
        if (*c.error) {
            EXPECT_EQ(readings[0], kept) << c.what;
        }
        for (std::size_t i = 1; i < results.size(); ++i) {
            EXPECT_EQ(results[i].error, one.error) << c.what;
            EXPECT_EQ(results[i].points, one.points) << c.what;
            EXPECT_EQ(results[i].skipped, one.skipped) << c.what;
            EXPECT_TRUE(readings[i] == readings[0]) << c.what << ", way " << i;
        }
        EXPECT_EQ(results[3].split, c.path == cases[0].path) << c.what;
    }
    // What the well-formed file holds, counted as it was written.
    const GpxImport read = readGpxFile(cases[0].path, "file", GpxThreads::kTwo);
    EXPECT_EQ(read.points, big.points);
    EXPECT_EQ(read.skipped, big.skipped);
    std::vector<std::string> segments{"kept"};
    segments.insert(segments.end(), big.segments.begin(), big.segments.end());
    std::vector<std::string> stored;
    for (const TrackPoint& r : trackStore()) {
        if (r.type == kTrackSegment) stored.push_back(r.name);
    }
    EXPECT_EQ(stored, segments);
}

// Points of a segment or route, each different, on lines of their own.
std::string points(const char* tag, int count, int from) {
    std::string out;
    for (int i = from; i < from + count; ++i) {
        out += "<" + std::string(tag) + " lat=\"" + std::to_string(10 + i % 70) + ".25\" lon=\"" + std::to_string(i % 170) +
               "\"><ele>" + std::to_string(i) + "</ele><time>2021-06-01T10:00:" + std::to_string(10 + i % 50) + "Z</time></" +
               tag + ">\n";
    }
    return out;
}

// A file cut by two parsers reads as one parser reads it, wherever the cut
// lands; it is only taken where it falls between the points of a segment
// or route, outside comments, CDATA, instructions and tags, without a DTD.
TEST_F(GpxReader, CutFilesReadAsOne) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string track = "<gpx>\n<trk><name>Fox</name><trkseg>\n" + points("trkpt", 20, 0);
    const std::string after = points("trkpt", 300, 100) + "</trkseg></trk>\n</gpx>\n";
    const std::string odd = "<trkpt lat=\"1\" lon=\"2\"/>";
    // A second segment whose attribute ends the comment, CDATA or
    // instruction that the first segment's end stands in.
    const auto second = [](const char* note) {
        return points("trkpt", 300, 100) + "</trkseg><trkseg note=\"" + note + "\">" + points("trkpt", 5, 400) +
               "</trkseg></trk>\n</gpx>\n";
    };
    const struct {
        const char* what;
        std::string start, rest;  // the file's middle is where the rest starts
        bool split;
        const char* error;  // the start of the reason; empty when read
    } cases[] = {
        {"between points", head + track, after, true, ""},
        {"in a comment", head + track, "<!-- " + odd + second("-->"), false, ""},
        {"in CDATA", head + track, "<![CDATA[" + odd + second("]]>"), false, ""},
        {"in an instruction", head + track, "<?pi " + odd + second("?>"), false, ""},
        {"in an attribute value", head + track, "<extensions note=\"" + odd + "\"/>" + after, false, "not well-formed"},
        {"a DTD's attribute default",
         head + "<!DOCTYPE gpx [<!ATTLIST trkpt lat CDATA \"7\">]>" + track,
         "<trkpt lon=\"2\"/>" + after, false, ""},
        {"a DTD's entity", head + "<!DOCTYPE gpx [<!ENTITY one \"1\">]>" + track,
         "<trkpt lat=\"&one;\" lon=\"2\"/>" + after, false, ""},
        {"several segments and tracks, a name after them", head + "<gpx>\n<trk><trkseg>\n" + points("trkpt", 20, 0),
         points("trkpt", 200, 20) + "</trkseg><trkseg>" + points("trkpt", 50, 220) + "</trkseg>\n<name>Late</name></trk>" +
             "<trk><trkseg>" + points("trkpt", 50, 270) + "</trkseg></trk></gpx>",
         true, ""},
        {"a route", head + "<gpx>\n<rte><name>Way</name>\n" + points("rtept", 20, 0),
         points("rtept", 300, 20) + "</rte>\n<rte>" + points("rtept", 5, 320) + "</rte></gpx>", true, ""},
        {"a route's second name after the cut", head + "<gpx>\n<rte><name>Way</name>\n" + points("rtept", 20, 0),
         points("rtept", 300, 20) + "<name>Second</name></rte></gpx>", false, ""},
        {"an error after the segment", head + track,
         points("trkpt", 300, 100) + "</trkseg></trk>\n<trk>\n</trkseg>\n</gpx>\n", false,  // read again to tell it
         "mismatched tag at line 326"},
        {"an error within the segment", head + track,
         points("trkpt", 300, 100) + "<ele>\n</trkpt></trkseg></trk>\n</gpx>\n", false, "mismatched tag at line 325"},
        {"in a track outside its segments", head + "<gpx>\n<trk><trkseg>" + points("trkpt", 20, 0) + "</trkseg>",
         "<extensions>" + points("trkpt", 300, 20) + "</extensions></trk>\n</gpx>\n", false, ""},
        {"in a segment outside a track", head + "<gpx>\n<trk><trkseg>" + points("trkpt", 20, 0) + "</trkseg></trk>" +
                                             "<extensions><trkseg>\n",
         points("trkpt", 300, 20) + "</trkseg></extensions>\n</gpx>\n", false, ""},
        {"no point near the middle", head + track,
         "</trkseg></trk><wpt lat=\"1\" lon=\"2\">" + std::string(80 << 10, ' ') + "</wpt><trk><trkseg>" +
             points("trkpt", 300, 100) + "</trkseg></trk>\n</gpx>\n",
         false, ""},
    };
    for (const auto& c : cases) {
        // A comment of blanks before the rest puts the middle where the rest starts.
        const std::size_t filler =
            c.rest.size() > c.start.size() + 7 ? c.rest.size() - c.start.size() - 7 : 0;
        const std::string text = c.start + "<!--" + std::string(filler, ' ') + "-->" + c.rest;
        ASSERT_EQ(text.size() / 2, text.size() - c.rest.size()) << c.what;
        const std::string path = dir.write("cut.gpx", text);
        const GpxImport one = readGpxFile(path, "file", GpxThreads::kOne);
        const std::string byOne = storeDump();
        clearTracks();
        const GpxImport cut = readGpxFile(path, "file", GpxThreads::kSplit);
        EXPECT_TRUE(one.error.starts_with(c.error) && one.error.empty() == (*c.error == '\0')) << c.what << ": " << one.error;
        EXPECT_TRUE(one.points >= 20 || *c.error) << c.what;
        EXPECT_EQ(cut.error, one.error) << c.what;
        EXPECT_EQ(cut.points, one.points) << c.what;
        EXPECT_EQ(cut.skipped, one.skipped) << c.what;
        EXPECT_TRUE(storeDump() == byOne) << c.what;
        EXPECT_EQ(cut.split, c.split) << c.what;
        clearTracks();
    }
}

// Numbers read as std::from_chars reads them, bit for bit and to the same
// end: random decimals of every length, signs, points and trailing text.
TEST(GpxNumbers, AsTheStandardLibraryReadsThem) {
    std::mt19937 random(1);
    const std::string alphabet = "0123456789";
    for (int trial = 0; trial < 200000; ++trial) {
        std::string text;
        if (random() % 4 == 0) text += '-';
        const int whole = static_cast<int>(random() % 12), fraction = static_cast<int>(random() % 14);
        for (int i = 0; i < whole; ++i) text += alphabet[random() % 10];
        if (random() % 3 != 0) text += '.';
        for (int i = 0; i < fraction; ++i) text += alphabet[random() % 10];
        text += std::string(".e- x").substr(random() % 5, 1);
        const char *mine = text.data(), *theirs = text.data();
        double a = -1, b = -1;
        const bool read = scanDecimal(mine, text.data() + text.size(), &a);
        const auto [end, ec] = std::from_chars(theirs, text.data() + text.size(), b, std::chars_format::fixed);
        ASSERT_EQ(read, ec == std::errc()) << text;
        if (!read) continue;
        ASSERT_EQ(mine, end) << text;
        ASSERT_EQ(std::bit_cast<uint64_t>(a), std::bit_cast<uint64_t>(b)) << text;
    }
}

}  // namespace
}  // namespace bearfix
