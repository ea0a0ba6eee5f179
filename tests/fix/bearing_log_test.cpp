#include "fix/bearing_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace bearfix {
namespace {

struct Expected {
    std::string station;
    double lat, lon, bearing, tolerance;
    int64_t utc = -1;  // -1: none
    BearingSource source = BearingSource::Typed;
    bool enabled = true;
};

void expectBearing(const Bearing& b, const Expected& e, const std::string& context) {
    EXPECT_EQ(b.station, e.station) << context;
    EXPECT_NEAR(b.position.lat / kDegToRad, e.lat, 1e-12) << context;
    EXPECT_NEAR(b.position.lon / kDegToRad, e.lon, 1e-12) << context;
    EXPECT_EQ(b.bearingDeg, e.bearing) << context;
    EXPECT_EQ(b.toleranceDeg, e.tolerance) << context;
    EXPECT_EQ(b.utc.value_or(-1), e.utc) << context;
    EXPECT_EQ(b.source, e.source) << context;
    EXPECT_EQ(b.enabled, e.enabled) << context;
}

TEST(BearingCsv, GoodLines) {
    const struct {
        std::string line;
        Expected bearing;
    } cases[] = {
        {"A,50.1,8.6,123.4,3", {"A", 50.1, 8.6, 123.4, 3}},
        {" \"Car, 2\" , -33.5 , 151.25 , -5 , 0.5 , 2010-01-01T00:00:00Z",
         {"Car, 2", -33.5, 151.25, 355, 0.5, 1262304000}},
        {"\"Say \"\"hi\"\" # 2\",0,0,720.5,1,1262304000,remote,0",
         {"Say \"hi\" # 2", 0, 0, 0.5, 1, 1262304000, BearingSource::Remote, false}},
        {"B,+1,-.5,3.,0, # a comment after an empty time", {"B", 1, -0.5, 3, 0}},
        {"B,90,-180,360,180,2000-02-29 23:59:59,udp,1", {"B", 90, -180, 0, 180, 951868799, BearingSource::Udp}},
        {"K\xC3\xB6ln,1,2,3,4,,receiver,", {"K\xF6ln", 1, 2, 3, 4, -1, BearingSource::Receiver}},  // UTF-8
        {"K\xF6ln,1,2,3,4,0", {"K\xF6ln", 1, 2, 3, 4, 0}},  // not UTF-8: Windows-1252
        {",1,2,3,4", {"", 1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        std::vector<Bearing> out;
        std::string errors;
        ASSERT_TRUE(parseBearingCsv(c.line, out, errors)) << c.line << ": " << errors;
        ASSERT_EQ(out.size(), 1u) << c.line;
        expectBearing(out[0], c.bearing, c.line);
    }
}

TEST(BearingCsv, BadLinesAreNamed) {
    const struct {
        std::string line;
        std::string message;  // for line 3
    } cases[] = {
        {"A,95,8,1,1", "latitude \"95\" is not a number in -90..90"},
        {"A,50,181,1,1", "longitude \"181\" is not a number in -180..180"},
        {"A,50,8,1e2,1", "bearing \"1e2\" is not a number"},
        {"A,50,8,inf,1", "bearing \"inf\" is not a number"},
        {"A,50,8,1,-1", "tolerance \"-1\" is not a number in 0..180"},
        {"A,50,8,1,181", "tolerance \"181\" is not a number in 0..180"},
        {"A,50,8,1,1,yesterday", "time \"yesterday\" is neither"},
        {"A,50,8,1,1,2010-02-29T00:00:00Z", "time \"2010-02-29T00:00:00Z\" is neither"},
        {"A,50,8,1,1,2010-01-01T24:00:00", "time"},
        {"A,50,8,1,1,,radio", "source \"radio\" is not typed, remote, udp or receiver"},
        {"A,50,8,1,1,,typed,yes", "enabled \"yes\" is not 1 or 0"},
        {"A,50,8", "3 fields; a bearing is station,lat,lon,bearing,tolerance[,time]"},
        {"A,50,8,1,1,,typed,1,true,0,x", "more than 10 fields"},
        {"A,50,8,1,1,,typed,1,north", "ref \"north\" is not true, magnetic or relative"},
        {"A,50,8,1,1,,typed,1,M,400", "correction \"400\" is not a number in -360..360"},
        {"A,50,8,1,1,,typed,1,relative", "a relative bearing without the heading in its correction field"},
        {"A,50,8,1,1,,typed,1,magnetic", "no declination for a magnetic bearing: no magnetic model"},
        {"\"A,50,8,1,1", "a quote is not closed"},
        {"\"A\"x,50,8,1,1", "text after a closing quote"},
        {"A\"B,50,8,1,1", "a quote inside a field"},
        {"A\x01,50,8,1,1", "a control character in the station name"},
        {std::string(64, 'n') + ",50,8,1,1", "the station name is longer than 63 characters"},
        {"A,50.1.2,8,1,1", "latitude \"50.1.2\""},
        {"A,lat,8,1,1", "latitude \"lat\""},  // a header only as the first line
        {"A," + std::string(40, '7') + ",8,1,1", "latitude \"777777777777777777777777...\""},
        {"A,50,8,1,1," + std::string(1014, ' '), "longer than 1024 characters"},
    };
    for (const auto& c : cases) {
        std::vector<Bearing> out(1);
        std::string errors;
        const std::string text = "# hunt\r\nA,50,8,1,1\r\n" + c.line + "\r\n\r\nB,50,9,2,2\n";
        EXPECT_FALSE(parseBearingCsv(text, out, errors)) << c.line;
        EXPECT_EQ(errors.rfind("line 3: " + c.message, 0), 0u) << c.line << " gave: " << errors;
        EXPECT_EQ(errors.find('\n'), std::string::npos) << errors;
        EXPECT_EQ(out.size(), 1u) << "nothing read from a bad file";
    }
}

TEST(BearingCsv, HeaderCommentsAndCaps) {
    std::vector<Bearing> out;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv("\xEF\xBB\xBF# exported\n\n  station, lat ,lon,bearing,tolerance\n"
                                "A,1,2,3,4 # first\r\nB,5,6,7,8",
                                out, errors))
        << errors;
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].station, "B");
    // A first line with a digit in its second field is data, and bad.
    EXPECT_FALSE(parseBearingCsv("A,5O.1,8,1,1\n", out, errors));
    EXPECT_EQ(errors, "line 1: latitude \"5O.1\" is not a number in -90..90");

    CsvLimits limits;
    limits.maxBearings = 3;
    std::string four;
    for (int i = 0; i < 4; ++i) four += "S,1,2,3,4\n";
    EXPECT_FALSE(parseBearingCsv(four, out, errors, limits));
    EXPECT_EQ(errors, "line 4: more than 3 bearings");
    limits.maxFileBytes = 20;
    EXPECT_FALSE(parseBearingCsv(four, out, errors, limits));
    EXPECT_EQ(errors, "larger than 20 bytes");

    // Ten bad lines are named, the rest counted.
    std::string bad;
    for (int i = 0; i < 13; ++i) bad += "S,100,2,3,4\n";
    EXPECT_FALSE(parseBearingCsv(bad, out, errors));
    EXPECT_EQ(errors.substr(errors.rfind('\n') + 1), "and 3 more bad lines");
    EXPECT_NE(errors.find("line 10: latitude"), std::string::npos);
    EXPECT_EQ(errors.find("line 11:"), std::string::npos);
}

TEST(BearingCsv, WrittenAndReadBack) {
    std::vector<Bearing> log(4);
    log[0].station = "Car \"2\", north";
    log[0].position = {8.6 * kDegToRad, 50.1 * kDegToRad};
    log[0].bearingDeg = 123.4;
    log[0].toleranceDeg = 3;
    log[0].utc = 1262304000;
    log[0].source = BearingSource::Remote;
    log[1].station = " K\xF6ln #1";
    log[1].position = {-179.9999999999 * kDegToRad, -89.123456789 * kDegToRad};
    log[1].bearingDeg = 359.99999999999;  // rounds to a whole turn
    log[1].enabled = false;
    log[2].station = "";
    log[2].position = {200.0 * kDegToRad, 0.0};  // east of the date line
    log[3].station = "tab\there";
    const std::string text = formatBearingCsv(log);
    EXPECT_NE(text.find("\"Car \"\"2\"\", north\",50.1,8.6,123.4,3,2010-01-01T00:00:00Z,remote,1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\" K\xC3\xB6ln #1\",-89.123456789,-179.9999999999,0,1,,typed,0\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n,0,-160,0,1,,typed,1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ntab?here,"), std::string::npos) << "a line cannot hold a TAB in a name";

    testing::TempDir dir;
    const std::string path = (dir.path() / "bearings.csv").string();
    ASSERT_TRUE(saveBearingCsv(path, log));
    std::vector<Bearing> back;
    std::string errors;
    ASSERT_EQ(loadBearingCsv(path, back, errors), CsvLoad::Read) << errors;
    ASSERT_EQ(back.size(), 4u);
    expectBearing(back[0], {"Car \"2\", north", 50.1, 8.6, 123.4, 3, 1262304000, BearingSource::Remote}, "0");
    expectBearing(back[1], {" K\xF6ln #1", -89.123456789, -179.9999999999, 0, 1, -1, BearingSource::Typed, false},
                  "1");
    EXPECT_EQ(formatBearingCsv(back), text) << "written again, the same text";

    EXPECT_EQ(loadBearingCsv((dir.path() / "none.csv").string(), back, errors), CsvLoad::Missing);
    EXPECT_EQ(loadBearingCsv(dir.path().string(), back, errors), CsvLoad::Bad);
    EXPECT_EQ(errors, "not a regular file");
    EXPECT_EQ(back.size(), 4u);
}

// Magnetic, relative and calibrated bearings: the true bearing is the one
// as taken plus its correction, and it survives a file.
TEST(BearingCsv, ReferencesReadBackAsTheSameTrueBearings) {
    const struct {
        std::string fields;  // after "S,50,8,"
        BearingReference reference;
        double correction, trueBearing;  // by hand
    } cases[] = {
        {"120,2,,typed,1,magnetic,3.7", BearingReference::Magnetic, 3.7, 123.7},
        {"358,2,,typed,1,M,4", BearingReference::Magnetic, 4, 2},
        {"30,2,,udp,1,relative,250", BearingReference::Relative, 250, 280},
        {"10,2,,typed,1,true,-7.5", BearingReference::True, -7.5, 2.5},  // a calibrated station
        {"120,2,2026-07-02T00:00:00Z,typed,1,magnetic", BearingReference::Magnetic, 13, 133},  // the model's
        {"120,2,,typed,1,T,", BearingReference::True, 0, 120},
    };
    std::string file;
    for (const auto& c : cases) file += "S,50,8," + c.fields + "\n";
    const DeclinationSource thirteen = [](const Bearing& b, std::string&) {
        EXPECT_EQ(b.utc, parseUtc("2026-07-02T00:00:00Z"));  // asked with the bearing's time
        return std::optional(13.0);
    };
    std::vector<Bearing> read, back;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(file, read, errors, {}, thirteen)) << errors;
    const std::string text = formatBearingCsv(read);
    ASSERT_TRUE(parseBearingCsv(text, back, errors)) << errors << "\n" << text;
    ASSERT_EQ(back.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (const Bearing& b : {read[i], back[i]}) {
            EXPECT_EQ(b.reference, cases[i].reference) << cases[i].fields;
            EXPECT_NEAR(b.correctionDeg, cases[i].correction, 1e-12) << cases[i].fields;
            EXPECT_NEAR(b.bearingDeg, cases[i].trueBearing, 1e-9) << cases[i].fields;
        }
    }
    EXPECT_EQ(formatBearingCsv(back), text);
    EXPECT_NE(text.find("\nS,50,8,120,2,2026-07-02T00:00:00Z,typed,1,magnetic,13\n"), std::string::npos) << text;
    // Plainly true bearings keep their eight fields, and a file of them its old header.
    EXPECT_TRUE(text.starts_with("station,lat,lon,bearing,tolerance,time,source,enabled,ref,correction\n")) << text;
    EXPECT_TRUE(text.ends_with("\nS,50,8,120,2,,typed,1\n")) << text;
    EXPECT_EQ(formatBearingCsv(std::span(back).last(1)),
              "station,lat,lon,bearing,tolerance,time,source,enabled\nS,50,8,120,2,,typed,1\n");
}

TEST(BearingLog, AppendStopsAtTheCap) {
    BearingLog log;
    log.entries.resize(BearingLog::kMaxEntries - 1);
    EXPECT_TRUE(appendBearing(log, Bearing{}));
    EXPECT_FALSE(appendBearing(log, Bearing{}));
    EXPECT_EQ(log.entries.size(), BearingLog::kMaxEntries);
}

TEST(BearingTime, TextsAndSeconds) {
    // Seconds from `date -u -d ... +%s`.
    const struct {
        const char* text;
        int64_t seconds;  // -1: refused
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},          {"2010-01-01T00:00:00Z", 1262304000},
        {"2000-02-29T12:34:56Z", 951827696},  {"9999-12-31T23:59:59Z", 253402300799},
        {"2024-12-31 23:59:59", 1735689599},  {"1262304000", 1262304000},
        {"1969-12-31T23:59:59Z", -1},         {"2001-02-29T00:00:00Z", -1},
        {"2010-01-01T00:00:60Z", -1},         {"2010-1-01T00:00:00Z", -1},
        {"2010-01-01T00:00:00+01", -1},       {"-5", -1},
        {"253402300800", -1},                 {"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseUtc(c.text).value_or(-1), c.seconds) << c.text;
        if (c.seconds >= 0 && c.text[4] == '-' && c.text[10] == 'T') {
            EXPECT_EQ(formatUtc(c.seconds), c.text);
        }
    }
}

}  // namespace
}  // namespace bearfix
