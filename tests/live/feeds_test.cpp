// The bearing feeds' readers: what a datagram or a receiver's line becomes,
// by hand-worked cases.
#include <gtest/gtest.h>

#include <cmath>

#include "live/kraken_csv.h"
#include "live/udp_bearing.h"

namespace bearfix {
namespace {

constexpr double kEps = 1e-9;

// The bearing, position and station a case of either reader expects.
template <class Case>
void expectBearing(const Bearing& b, const Case& c) {
    EXPECT_NEAR(b.bearingDeg, c.bearing, kEps) << c.name;
    EXPECT_NEAR(b.position.lat * kRadToDeg, c.lat, kEps) << c.name;
    EXPECT_NEAR(b.position.lon * kRadToDeg, c.lon, kEps) << c.name;
    if (*c.station) {
        EXPECT_EQ(b.station, c.station) << c.name;
    }
}

GpsFix carAt(double lat, double lon, double course) {
    GpsFix f;
    f.mode = GpsMode::Fix3D;
    f.latDeg = lat;
    f.lonDeg = lon;
    f.courseDeg = course;
    f.speedKmh = 40;
    return f;
}

struct DatagramCase {
    const char* name;
    std::string json;
    bool withGps;
    FeedVerdict verdict;
    double bearing = 0, lat = 0, lon = 0;
    const char* station = "";
};

TEST(UdpBearing, ReadsTheDatagramsAsTheFormatSays) {
    const GpsFix car = carAt(52.0, 8.5, 350.0);
    const DatagramCase cases[] = {
        {"absolute", R"({"type": "BEARING", "bearing": 123.4, "bearing_type": "absolute", "latitude": 50.1,
            "longitude": 8.6, "confidence": 80, "source": "car-2"})",
         false, FeedVerdict::Accepted, 123.4, 50.1, 8.6, "car-2"},
        {"absolute is the default", R"({"type":"BEARING","bearing":-90,"latitude":-33.5,"longitude":151.25})", false,
         FeedVerdict::Accepted, 270, -33.5, 151.25, "udp"},
        {"a whole turn off", R"({"type":"BEARING","bearing":360,"latitude":1,"longitude":2})", false,
         FeedVerdict::Accepted, 0, 1, 2, "udp"},
        // 350 + 30 = 380 = 20 degrees, from where the car is.
        {"relative adds the course", R"({"type":"BEARING","bearing":30,"bearing_type":"relative","source":"roof"})",
         true, FeedVerdict::Accepted, 20, 52.0, 8.5, "roof"},
        {"relative ignores a sent position",
         R"({"type":"BEARING","bearing":-10,"bearing_type":"relative","latitude":1,"longitude":1})", true,
         FeedVerdict::Accepted, 340, 52.0, 8.5, "udp"},
        {"relative without a fix", R"({"type":"BEARING","bearing":30,"bearing_type":"relative"})", false,
         FeedVerdict::Ignored},
        {"no position takes the GPS", R"({"type":"BEARING","bearing":45})", true, FeedVerdict::Accepted, 45, 52.0,
         8.5, "udp"},
        {"0/0 takes the GPS", R"({"type":"BEARING","bearing":45,"latitude":0,"longitude":0})", true,
         FeedVerdict::Accepted, 45, 52.0, 8.5, "udp"},
        {"0/0 without a fix", R"({"type":"BEARING","bearing":45,"latitude":0,"longitude":0})", false,
         FeedVerdict::Skipped},
        {"no position, no fix", R"({"type":"BEARING","bearing":45})", false, FeedVerdict::Skipped},
        {"other type", R"({"type":"STATUS","bearing":45})", false, FeedVerdict::Ignored},
        {"type is case-sensitive", R"({"type":"bearing","bearing":45,"latitude":1,"longitude":1})", false,
         FeedVerdict::Ignored},
        {"no type", R"({"bearing":45,"latitude":1,"longitude":1})", false, FeedVerdict::Skipped},
        {"bearing beyond a turn", R"({"type":"BEARING","bearing":360.5,"latitude":1,"longitude":1})", false,
         FeedVerdict::Skipped},
        {"bearing as text", R"({"type":"BEARING","bearing":"45","latitude":1,"longitude":1})", false,
         FeedVerdict::Skipped},
        {"latitude beyond the pole", R"({"type":"BEARING","bearing":45,"latitude":90.0001,"longitude":1})", false,
         FeedVerdict::Skipped},
        {"longitude alone", R"({"type":"BEARING","bearing":45,"longitude":1})", true, FeedVerdict::Skipped},
        {"confidence beyond 100", R"({"type":"BEARING","bearing":45,"latitude":1,"longitude":1,"confidence":101})",
         false, FeedVerdict::Skipped},
        {"unknown bearing type", R"({"type":"BEARING","bearing":45,"bearing_type":"magnetic","latitude":1,
            "longitude":1})",
         false, FeedVerdict::Skipped},
        {"control character in the source",
         R"({"type":"BEARING","bearing":45,"latitude":1,"longitude":1,"source":"a\u0007b"})", false,
         FeedVerdict::Skipped},
        {"source too long", R"({"type":"BEARING","bearing":45,"latitude":1,"longitude":1,"source":")" +
                                std::string(64, 'x') + "\"}",
         false, FeedVerdict::Skipped},
        {"source of 63 characters",
         R"({"type":"BEARING","bearing":45,"latitude":1,"longitude":1,"source":")" + std::string(63, 'x') + "\"}",
         false, FeedVerdict::Accepted, 45, 1, 1},
        {"not JSON", "BEARING 45", false, FeedVerdict::Skipped},
        {"too large", std::string(kMaxDatagramBytes + 1, ' '), false, FeedVerdict::Skipped},
    };
    for (const DatagramCase& c : cases) {
        FeedContext context;
        context.own = c.withGps ? &car : nullptr;
        context.toleranceDeg = 3.5;
        context.nowUtc = 1716022800;
        const FeedItem item = parseBearingDatagram(c.json, context);
        ASSERT_EQ(item.verdict, c.verdict) << c.name << ": " << item.why;
        if (c.verdict != FeedVerdict::Accepted) {
            EXPECT_FALSE(item.why.empty()) << c.name;
            continue;
        }
        const Bearing& b = item.bearing;
        expectBearing(b, c);
        EXPECT_EQ(b.toleranceDeg, 3.5) << c.name;
        EXPECT_EQ(b.utc, 1716022800) << c.name;
        EXPECT_EQ(b.source, BearingSource::Udp) << c.name;
        // A relative bearing keeps the course that made it absolute.
        const bool relative = c.json.find("relative") != std::string::npos;
        EXPECT_EQ(b.reference, relative ? BearingReference::Relative : BearingReference::True) << c.name;
        EXPECT_EQ(b.correctionDeg, relative ? 350.0 : 0.0) << c.name;
    }
}

TEST(UdpBearing, SourceNamesAreTakenFromUtf8) {
    FeedContext context;
    const FeedItem item =
        parseBearingDatagram(R"({"type":"BEARING","bearing":1,"latitude":1,"longitude":1,"source":" K\u00f6ln "})",
                             context);
    ASSERT_EQ(item.verdict, FeedVerdict::Accepted) << item.why;
    EXPECT_EQ(item.bearing.station, "K\xF6ln");  // Windows-1252, blanks at the ends dropped
}

// A line of the receiver's page: the fields as the format lists them, then
// a spectrum of three values.
std::string line(const std::string& time, const std::string& bearing, const std::string& station,
                 const std::string& lat, const std::string& lon, const std::string& gps = "GPS") {
    return time + "," + bearing + ",9.5,-42.1,433920000,UCA,120," + station + "," + lat + "," + lon + ",0,0," + gps +
           ",R,R,R,R,0.1,0.5,0.2";
}

TEST(ReceiverCsv, ReadsTheFieldsOfALine) {
    const GpsFix car = carAt(52.0, 8.5, 0);
    struct Case {
        const char* name;
        std::string text;
        bool mirrored, withGps;
        bool accepted;
        double bearing = 0, lat = 0, lon = 0;
        const char* station = "";
    } const cases[] = {
        {"plain", line("1716022801234", "123.4", "KRK-1", "50.1", "8.6"), false, false, true, 123.4, 50.1, 8.6,
         "KRK-1"},
        {"mirrored", line("1716022801234", "123.4", "KRK-1", "50.1", "8.6"), true, false, true, 236.6, 50.1, 8.6},
        {"mirrored 0", line("1716022801234", "0", "KRK-1", "50.1", "8.6"), true, false, true, 0, 50.1, 8.6},
        {"360 is 0", line("1716022801234", "360", "KRK-1", "50.1", "8.6"), false, false, true, 0, 50.1, 8.6},
        {"0/0 takes the GPS", line("1716022801234", "10", "KRK-1", "0", "0.0"), false, true, true, 10, 52.0, 8.5},
        {"0/0 without a fix", line("1716022801234", "10", "KRK-1", "0", "0"), false, false, false},
        {"no station", line("1716022801234", "10", " ", "1", "1"), false, false, true, 10, 1, 1, "receiver"},
        {"exactly 17 fields", "1716022801234,10,9,1,1,UCA,1,st,1,2,0,0,GPS,,,,", false, false, true, 10, 1, 2, "st"},
        {"16 fields (torn)", "1716022801234,10,9,1,1,UCA,1,st,1,2,0,0,GPS,,,", false, false, false},
        {"no GPS in field 12 (torn)", line("1716022801234", "10", "st", "1", "1", "GP"), false, false, false},
        {"time with a fraction", line("1716022801.5", "10", "st", "1", "1"), false, false, false},
        {"negative bearing", line("1716022801234", "-1", "st", "1", "1"), false, false, false},
        {"bearing not a number", line("1716022801234", "1O", "st", "1", "1"), false, false, false},
        {"bearing nan", line("1716022801234", "nan", "st", "1", "1"), false, false, false},
        {"bearing infinite", line("1716022801234", "1e999", "st", "1", "1"), false, false, false},
        {"latitude beyond", line("1716022801234", "10", "st", "-91", "1"), false, false, false},
        {"longitude beyond", line("1716022801234", "10", "st", "1", "180.5"), false, false, false},
        {"time beyond 9999", line("253402300800000", "10", "st", "1", "1"), false, false, false},
    };
    for (const Case& c : cases) {
        FeedContext context;
        context.own = c.withGps ? &car : nullptr;
        context.toleranceDeg = 2;
        int64_t ms = 0;
        const FeedItem item = parseReceiverLine(c.text, c.mirrored, context, &ms);
        ASSERT_EQ(item.verdict == FeedVerdict::Accepted, c.accepted) << c.name << ": " << item.why;
        if (!c.accepted) {
            EXPECT_EQ(item.verdict, FeedVerdict::Skipped) << c.name;
            continue;
        }
        const Bearing& b = item.bearing;
        expectBearing(b, c);
        EXPECT_EQ(b.source, BearingSource::Receiver) << c.name;
        EXPECT_EQ(b.toleranceDeg, 2) << c.name;
        EXPECT_EQ(ms, 1716022801234) << c.name;
        EXPECT_EQ(b.utc, 1716022801) << c.name;  // 2024-05-18 09:00:01 UTC, the milliseconds dropped
    }
}

TEST(ReceiverCsv, APageReadAgainGivesOnlyWhatIsNew) {
    ReceiverFeed feed;
    ReceiverCounts counts;
    FeedContext context;
    const std::string a = line("1000", "10", "ch1", "50", "8"), b = line("1000", "20", "ch2", "50", "8");
    const std::string torn = line("2000", "30", "ch1", "50", "8").substr(0, 40);
    std::string problem;
    std::vector<Bearing> got = feed.read(a + "\r\n" + b + "\n\n" + torn, false, context, counts, &problem);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].station, "ch1");
    EXPECT_EQ(got[1].station, "ch2");
    EXPECT_EQ(counts.accepted, 2u);
    EXPECT_EQ(counts.skipped, 1u);
    EXPECT_EQ(problem, "line 4: fewer than 17 fields (torn)");

    // The same time and station again is the same bearing, whatever its value.
    const std::string a2 = line("1000", "11", "ch1", "50", "8"), c = line("2000", "30", "ch1", "50", "8");
    got = feed.read(a2 + "\n" + c + "\n" + c + "\n", false, context, counts);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bearingDeg, 30);
    EXPECT_EQ(counts.accepted, 3u);
    EXPECT_EQ(counts.repeated, 2u);

    feed.forget();
    EXPECT_EQ(feed.read(a, false, context, counts).size(), 1u);
}

TEST(ReceiverCsv, KeepsToItsLimits) {
    ReceiverFeed feed;
    ReceiverCounts counts;
    FeedContext context;
    std::string problem;
    EXPECT_TRUE(feed.read(std::string(ReceiverFeed::kMaxBodyBytes + 1, '\n'), false, context, counts, &problem).empty());
    EXPECT_EQ(counts.skipped, 1u);
    EXPECT_EQ(problem, "the page is larger than 1 MiB");
    // A line longer than 64 KiB (a spectrum gone wild) is skipped, the next one read.
    const std::string longLine = line("5", "1", "a", "1", "1") + std::string(ReceiverFeed::kMaxLineBytes, '0');
    EXPECT_EQ(feed.read(longLine + "\n" + line("6", "1", "a", "1", "1"), false, context, counts).size(), 1u);
    EXPECT_EQ(counts.skipped, 2u);
    // Only the last 4096 times are remembered: the oldest comes back as new.
    std::string page;
    for (int t = 0; t <= static_cast<int>(ReceiverFeed::kRemembered); ++t)
        page += line(std::to_string(100000 + t), "1", "a", "1", "1") + "\n";
    feed.forget();
    EXPECT_EQ(feed.read(page, false, context, counts).size(), ReceiverFeed::kRemembered + 1);
    EXPECT_EQ(feed.read(line("100000", "1", "a", "1", "1"), false, context, counts).size(), 1u);
    EXPECT_EQ(feed.read(line(std::to_string(100000 + ReceiverFeed::kRemembered), "1", "a", "1", "1"), false, context,
                        counts)
                  .size(),
              0u);
}

}  // namespace
}  // namespace bearfix
