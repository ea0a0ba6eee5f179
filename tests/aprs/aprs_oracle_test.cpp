// Bearfix's APRS packets against direwolf's decode_aprs: the positions,
// symbols, courses, speeds and frequencies both read, and every packet
// Bearfix writes. decode_aprs does not print BRG/NRQ or DFS; those are
// checked against the APRS Protocol Reference 1.0.1's own examples and its
// Q table (p. 30), worked by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "aprs/aprs_position.h"
#include "aprs/aprs_report.h"
#include "aprs/aprs_writer.h"
#include "direwolf.h"

namespace bearfix {
namespace {

using testing::direwolfDecode;

constexpr double kMinute = 1.0 / 60;
constexpr double kKnotMph = 1.150779;  // 1852 m / 1609.344 m

struct PacketCase {
    const char* line;
    AprsVerdict verdict;
    int bearing = 0, hits = 0;  // BRG, N
    double rangeMi = 0, tolerance = 0, freq = 0;  // 2^R; half Q's beam width; 0: none
    const char* oracle = nullptr;  // what decode_aprs reads instead (it does not open third-party traffic)
};

// APRS101's examples (page given), with a header added, and packets built
// by hand in the forms it gives; the blanks of position ambiguity typed as
// blanks.
const PacketCase kPackets[] = {
    // p.34: bearing 270, N 7, R 2 (4 miles), Q 9 (< 1 degree).
    {"N0CALL>APRS:=4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},
    {"N0CALL>APRS:=4903.50N/07201.75W\\000/036/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},
    {"N0CALL>APRS:@092345z4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},  // p.35
    {"N0CALL>APRS:/092345z4903.50N/07201.75W\\000/000/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},
    // Q 6: < 8 degrees; R 4: 16 miles; the frequency with and without '/'.
    {"N0CALL>APRS:=4903.50N/07201.75W\\000/000/045/846/146.520MHz Fox hunt", AprsVerdict::Bearing, 45, 8, 16, 4, 146.52},
    {"N0CALL>APRS:=4903.50N/07201.75W\\000/000/045/846146.520MHz", AprsVerdict::Bearing, 45, 8, 16, 4, 146.52},
    {"N0CALL>APRS:!4903.50N/07201.75W\\.../.../315/359", AprsVerdict::Bearing, 315, 3, 32, 0.5},
    {"N0CALL>APRS:=4903.50N/07201.75W\\000/000/090/000", AprsVerdict::Ignored},  // N = 0
    {"N0CALL>APRS:;FOX-1    *092345z4903.50N/07201.75W\\000/000/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},
    {"N0CALL>APRS:;146.520MH*092345z4903.50N/07201.75W\\000/000/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5, 146.52},
    {"N0CALL>APRS:}W1AW>APRS,TCPIP,N0CALL*:=4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5,
     0, "W1AW>APRS,TCPIP,N0CALL*:=4903.50N/07201.75W\\088/036/270/729"},
    {"W1AW>APRS,TCPIP*,qAC,T2TEST:=4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Bearing, 270, 7, 4, 0.5},
    // DFS (p.30, p.33): omni reports, no bearing.
    {"N0CALL>APRS:=4903.50N/07201.75W\\DFS2360/146.520MHz", AprsVerdict::Omni, 0, 0, 0, 0, 146.52},
    {"N0CALL>APRS:/234517h4903.50N/07201.75W>DFS2360", AprsVerdict::Omni},
    {"N0CALL>APRS:!4903.50N/07201.75W\\DFS0360", AprsVerdict::Omni},
    // Positions without DF data (p.32-33, 41, 58-59).
    {"N0CALL>APRS:!4903.50N/07201.75W-Test 001234", AprsVerdict::Position},
    {"N0CALL>APRS:!4903.50N/07201.75W-Test /A=001234", AprsVerdict::Position},
    {"N0CALL>APRS:!49  .  N/072  .  W-", AprsVerdict::Position},
    {"N0CALL>APRS:!4903.  N/07201.75W-", AprsVerdict::Position},
    {"N0CALL>APRS:/092345z4903.50N/07201.75W>Test1234", AprsVerdict::Position},
    {"N0CALL>APRS:@092345/4903.50N/07201.75W>Test1234", AprsVerdict::Position},
    {"N0CALL>APRS:@234517h4903.50N/07201.75W>PHG5132", AprsVerdict::Position},
    {"N0CALL>APRS:@092345z4903.50N/07201.75W>RNG0050", AprsVerdict::Position},
    {"N0CALL>APRS:=/5L!!<*e7>7P[", AprsVerdict::Position},
    {"N0CALL>APRS:=/5L!!<*e7\\7P[", AprsVerdict::Position},  // compressed: no BRG/NRQ
    {"N0CALL>APRS:=/5L!!<*e7> sTComment", AprsVerdict::Position},
    {"N0CALL>APRS:=/5L!!<*e7>{?!", AprsVerdict::Position},
    {"N0CALL>APRS:=/5L!!<*e7OS]S", AprsVerdict::Position},
    {"N0CALL>APRS:@092345z/5L!!<*e7>{?!", AprsVerdict::Position},
    {"N0CALL>APRS:;LEADER   *092345z4903.50N/07201.75W>088/036", AprsVerdict::Position},
    {"N0CALL>APRS:;LEADER   *092345z/5L!!<*e7>7P[", AprsVerdict::Position},
    {"N0CALL>APRS:;LEADER   _092345z4903.50N/07201.75W>088/036", AprsVerdict::Ignored},
    {"N0CALL>APRS:)AID #2!4903.50N/07201.75WA", AprsVerdict::Position},
    // direwolf's examples: Mic-E, and a broken latitude (man page).
    {"W1STJ-3>T2UR4X,WA1PLE-4,WIDE1*,WIDE2-1:`c@&l#.-/`\"5,}146.685MHz T100 -060 146.520 Simplex or Voice Alert_%",
     AprsVerdict::Ignored},
    {"K0YTH-10>APNU3B,NULL:!4601.5NS09255.52W#PHG6360/W2,MNn 444.575", AprsVerdict::Refused},
};

TEST(AprsOracle, BearfixReadsWhatDecodeAprsReads) {
    for (const PacketCase& c : kPackets) {
        const AprsDecoded d = decodeAprsLine(c.line);
        const AprsReport& r = d.report;
        EXPECT_EQ(d.verdict, c.verdict) << c.line << ": " << d.why;
        if (d.verdict == AprsVerdict::Bearing) {
            EXPECT_EQ(r.bearing.bearingDeg, c.bearing) << c.line;
            EXPECT_EQ(r.bearing.hits, c.hits) << c.line;
            EXPECT_EQ(r.bearing.rangeMi(), c.rangeMi) << c.line;
            EXPECT_EQ(r.bearing.toleranceDeg(), c.tolerance) << c.line;
        }
        if (c.verdict == AprsVerdict::Ignored || c.verdict == AprsVerdict::Refused) continue;
        const testing::DirewolfReading dw = direwolfDecode(c.oracle ? c.oracle : c.line);
        ASSERT_TRUE(dw.lat && dw.lon) << c.line << "\n" << dw.text;
        // decode_aprs prints 4 decimals of minutes and reads the longitude's
        // digits as sent where the latitude's ambiguity makes them blank.
        const double slack = 0.00006 * kMinute + r.ambiguityNmi * kMinute;
        EXPECT_NEAR(r.latDeg, *dw.lat, 0.00006 * kMinute) << c.line;
        EXPECT_NEAR(r.lonDeg, *dw.lon, slack) << c.line;
        EXPECT_EQ(r.symbolTable == '/' && r.symbolCode == '\\', dw.dfSymbol) << c.line;
        EXPECT_EQ(r.courseDeg, dw.course) << c.line;
        EXPECT_EQ(r.speedKn ? std::optional<int>(std::lround(*r.speedKn * kKnotMph)) : std::nullopt, dw.mph) << c.line;
        EXPECT_EQ(r.freqMhz, dw.mhz) << c.line;
        if (c.freq) {
            EXPECT_EQ(r.freqMhz, c.freq) << c.line;
        }
        EXPECT_EQ(r.name, dw.object) << c.line;
    }
}

// APRS101's compressed examples (p.39-41) worked by hand: "/5L!!<*e7" is
// 49 30' N, 72 45' W; "7P" course 22 * 4 = 88 and 1.08^47 - 1 = 36.2 knots;
// "{?" 2 * 1.08^30 = 20.1 miles; "S]" with a GGA fix 1.002^4610 = 10004 ft.
TEST(AprsOracle, CompressedFieldsAsWorkedInTheProtocolDocument) {
    const struct {
        const char* field;
        std::optional<int> course;
        double speed, range, altitude;  // 0: none
    } cases[] = {{"/5L!!<*e7>7P[", 88, 36.2, 0, 0}, {"/5L!!<*e7>{?!", {}, 0, 20.1, 0}, {"/5L!!<*e7OS]S", {}, 0, 0, 10004}};
    for (const auto& c : cases) {
        AprsPositionField f;
        std::string why;
        ASSERT_TRUE(readAprsPosition(c.field, f, why)) << why;
        EXPECT_NEAR(f.latDeg, 49.5, 1e-5);
        EXPECT_NEAR(f.lonDeg, -72.75, 1e-5);
        EXPECT_EQ(f.courseDeg, c.course) << c.field;
        EXPECT_NEAR(f.speedKn.value_or(0), c.speed, 0.05) << c.field;
        EXPECT_NEAR(f.rangeMi.value_or(0), c.range, 0.05) << c.field;
        EXPECT_NEAR(f.altitudeFt.value_or(0), c.altitude, 1) << c.field;
    }
}

struct WrittenCase {
    OwnDfReport report;
    const char* info;  // the exact text where APRS101 gives it; "" otherwise
};

// Every packet Bearfix writes reads in decode_aprs as written. The first two
// are APRS101's p.34 examples, written byte for byte; the fourth is worked
// by hand: 359.6 rounds to BRG 360, +-60 degrees is a beam of 120 (Q 2),
// 300 miles need R 9 (512), 50.999999 N rounds to 51 00.00.
TEST(AprsOracle, DecodeAprsReadsEveryPacketBearfixWrites) {
    const double lat = 49 + 3.5 * kMinute, lon = -(72 + 1.75 * kMinute);
    const WrittenCase cases[] = {
        {{lat, lon, 270, 0.5, 88, 36, 7, 4, {}, ""}, "=4903.50N/07201.75W\\088/036/270/729"},
        {{lat, lon, 270, 0.5, {}, 36, 7, 4, {}, ""}, "=4903.50N/07201.75W\\000/036/270/729"},
        {{-33.8688, 151.2093, 0.4, 3, {}, {}, 9, 16, 146.52, "Fox hunt"}, ""},
        {{50.999999, 8.9999999, 359.6, 60, {}, {}, 8, 300, 432.1, ""}, "=5100.00N/00900.00E\\000/000/360/892 432.100MHz"},
        {{-0.001, -179.999, 123.4, 120, 360, 5, 9, 1, 1296.2, "A-1"}, ""},
        {{89.99, 0, 1, 0.1, {}, {}, 9, 512, {}, ""}, ""},
    };
    for (const WrittenCase& c : cases) {
        std::string info, why;
        ASSERT_TRUE(dfReportInfo(c.report, info, why)) << why;
        if (*c.info) {
            EXPECT_EQ(info, c.info);
        }
        const std::string line = formatTnc2(ownPacket("N0CALL-9", "WIDE1-1", info));
        const testing::DirewolfReading dw = direwolfDecode(line);
        ASSERT_TRUE(dw.lat && dw.lon) << line << "\n" << dw.text;
        EXPECT_NEAR(*dw.lat, c.report.latDeg, 0.005 * kMinute + 1e-9) << line;
        EXPECT_NEAR(*dw.lon, c.report.lonDeg, 0.005 * kMinute + 1e-9) << line;
        EXPECT_TRUE(dw.dfSymbol) << line;
        EXPECT_EQ(dw.course, c.report.courseDeg.value_or(0)) << line;
        EXPECT_EQ(dw.mph, std::lround(c.report.speedKn.value_or(0) * kKnotMph)) << line;
        if (c.report.freqMhz) {
            EXPECT_NEAR(dw.mhz.value_or(0), *c.report.freqMhz, 1e-9) << line;
        }
        EXPECT_EQ(dw.text.find("rror"), std::string::npos) << dw.text;
    }
    std::string info, why;
    ASSERT_TRUE(fixObjectInfo("FOX", -12.3456, 45.6789, 1262304000, "95%: 2.3 km", false, info, why)) << why;
    const testing::DirewolfReading fox = direwolfDecode(formatTnc2(ownPacket("N0CALL", "WIDE1-1", info)));
    EXPECT_EQ(fox.object, "FOX") << fox.text;
    EXPECT_NEAR(fox.lat.value_or(0), -12.3456, 0.005 * kMinute);
    EXPECT_NEAR(fox.lon.value_or(0), 45.6789, 0.005 * kMinute);
    ASSERT_TRUE(fixObjectInfo("FOX", -12.3456, 45.6789, 1262304000, "", true, info, why)) << why;
    EXPECT_NE(direwolfDecode("N0CALL>APRS:" + info).text.find("Killed Object, \"FOX\""), std::string::npos);
}

}  // namespace
}  // namespace bearfix
