// The APRS reader's limits and the small parts around it, by hand-worked
// cases; the passcodes from aprslib's tests, the server lines in aprsc's
// formats.
#include <gtest/gtest.h>

#include "aprs/aprs_frequency.h"
#include "aprs/aprs_is.h"
#include "aprs/aprs_report.h"
#include "aprs/aprs_writer.h"

namespace bearfix {
namespace {

const std::string kHead = "N0CALL>APRS:";

TEST(AprsReader, RefusesJunkWithAReason) {
    const struct {
        std::string line;
        AprsVerdict verdict;
        const char* why;
    } cases[] = {
        {kHead + "=4903.50N/07201.75W\\088/036/270/729" + std::string(480, 'x'), AprsVerdict::Refused, "longer than 512"},
        {"N0CALL>APRS:=4903.50N/07201.75W-\n", AprsVerdict::Position, ""},  // a line end is dropped
        {"N0CALL>APRS:=4903.50N/07201.75W-\rx", AprsVerdict::Refused, "CR or LF inside"},
        {"N0CALL APRS:=4903.50N/07201.75W-", AprsVerdict::Refused, "no \"SOURCE>DESTINATION:\""},
        {"N0CALL-123>APRS:!4903.50N/07201.75W-", AprsVerdict::Refused, "source \"N0CALL-123\" is no callsign"},
        {"N0CALL>APRS,A,B,C,D,E,F,G,H,I,J,K:!4903.50N/07201.75W-", AprsVerdict::Refused, "more than 10 path"},
        {"N0CALL>APRS,WIDE1-1**:!4903.50N/07201.75W-", AprsVerdict::Refused, "path element"},
        {kHead, AprsVerdict::Refused, "empty information"},
        {kHead + "=9103.50N/07201.75W\\088/036/270/729", AprsVerdict::Refused, "latitude \"9103.50N\""},
        {kHead + "=4960.00N/07201.75W-", AprsVerdict::Refused, "latitude"},
        {kHead + "=4903.50N/18001.75W-", AprsVerdict::Refused, "longitude \"18001.75W\""},
        {kHead + "=49 3.50N/07201.75W-", AprsVerdict::Refused, "blank before a digit"},
        {kHead + "=4903.50N|07201.75W-", AprsVerdict::Refused, "symbol table"},
        {kHead + "=4903.50N/07201.75W", AprsVerdict::Refused, "shorter than 19"},
        {kHead + "@322345z4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Refused, "timestamp \"322345z\""},
        {kHead + "@236045h4903.50N/07201.75W-", AprsVerdict::Refused, "timestamp"},
        {kHead + "=4903.50N/07201.75W\\088/036/000/729", AprsVerdict::Refused, "bearing 000 is outside 001..360"},
        {kHead + "=4903.50N/07201.75W\\088/036/361/729", AprsVerdict::Refused, "bearing 361"},
        {kHead + "=4903.50N/07201.75W\\400/036/270/729", AprsVerdict::Refused, "course 400"},
        {kHead + "=4903.50N/07201.75W\\088/036/270/720", AprsVerdict::Ignored, "Q = 0"},
        {kHead + "=4903.50N/07201.75W\\088/036/27a/729", AprsVerdict::Position, "without /BRG/NRQ"},
        {kHead + "=4903.50N/07201.75W>088/036/270/729", AprsVerdict::Position, "symbol />"},
        {kHead + "=4903.50N/07201.75W\\DFS2x60", AprsVerdict::Refused, "not DFSshgd"},
        {kHead + "=/{{{{!!!!>7P[", AprsVerdict::Refused, "beyond the pole"},
        {kHead + "=/5L!!<*e7>\x7f" "P[", AprsVerdict::Refused, "beyond base 91"},
        {kHead + ";         *092345z4903.50N/07201.75W-", AprsVerdict::Refused, "no name"},
        {kHead + ";FOX\x01     *092345z4903.50N/07201.75W-", AprsVerdict::Refused, "not printable"},
        {kHead + ")AB!4903.50N/07201.75W-", AprsVerdict::Refused, "3 to 9"},
        {kHead + "}A>B:}C>D:}E>F:=4903.50N/07201.75W-", AprsVerdict::Refused, "nested too deeply"},
        {kHead + "}junk", AprsVerdict::Refused, "third-party traffic: no"},
        {kHead + ">status text", AprsVerdict::Ignored, "data type '>'"},
        {kHead + ":N0CALL   :hello", AprsVerdict::Ignored, "data type ':'"},
        {kHead + "X1J TNC header !4903.50N/07201.75W\\088/036/270/729", AprsVerdict::Bearing, ""},
    };
    for (const auto& c : cases) {
        const AprsDecoded d = decodeAprsLine(c.line);
        EXPECT_EQ(d.verdict, c.verdict) << c.line << ": " << d.why;
        EXPECT_NE(d.why.find(c.why), std::string::npos) << c.line << ": " << d.why;
    }
}

// APRS101 p.30: Q 1..9 are beams of < 240, 120, 64, 32, 16, 8, 4, 2, 1
// degrees; the tolerance is half of that. Written back, the tolerance gives
// the same Q; a little wider one the row below.
TEST(AprsReader, QualityIsHalfTheBeamWidthBothWays) {
    const double beam[] = {240, 120, 64, 32, 16, 8, 4, 2, 1};
    for (int q = 1; q <= 9; ++q) {
        const AprsDecoded d = decodeAprsLine(kHead + "=4903.50N/07201.75W\\088/036/270/72" + std::to_string(q));
        ASSERT_EQ(d.verdict, AprsVerdict::Bearing);
        EXPECT_EQ(d.report.bearing.toleranceDeg(), beam[q - 1] / 2) << q;
        EXPECT_EQ(aprsQuality(beam[q - 1] / 2), q);
        EXPECT_EQ(aprsQuality(beam[q - 1] / 2 + 0.01), q - 1);
    }
    const Bearing b = aprsBearing(decodeAprsLine(kHead + ";FOX      *092345z4903.50N/07201.75W\\000/000/360/729").report, 7);
    EXPECT_EQ(b.station, "FOX");
    EXPECT_EQ(b.bearingDeg, 0.0);
    EXPECT_EQ(b.source, BearingSource::Aprs);
    EXPECT_EQ(b.utc, 7);
    EXPECT_STREQ(bearingSourceName(BearingSource::Aprs), "aprs");
}

// APRS 1.2 draft ch. 19: the first 10 bytes of the comment; letters for the
// bands above 999.999 MHz ("A96.000MHz would be 1296 MHz").
TEST(AprsReader, FrequencyInTheComment) {
    const struct {
        const char* comment;
        double mhz;  // 0: none
    } cases[] = {{"146.520MHz", 146.52}, {"/146.520MHz", 146.52}, {" 146.52 MHz x", 146.52}, {"146.520mhz", 146.52},
                 {"A96.000MHz", 1296}, {"J68.000MHz", 10368}, {"146.520MH", 0}, {"P46.520MHz", 0}, {"//146.520MHz", 0},
                 {"146,520MHz", 0}};
    for (const auto& c : cases) EXPECT_EQ(commentFrequency(c.comment).value_or(0), c.mhz) << c.comment;
    EXPECT_EQ(formatFrequency(1296.0), "A96.000MHz");
    EXPECT_EQ(formatFrequency(24048.0), "M48.000MHz");
    EXPECT_EQ(formatFrequency(1500.0), std::nullopt);
    EXPECT_EQ(nameFrequency("146.52abc"), 146.52);
}

TEST(AprsReader, RepeatsWithinThirtySecondsAreTakenOnce) {
    AprsRepeats repeats;
    Bearing a = aprsBearing(decodeAprsLine(kHead + "=4903.50N/07201.75W\\088/036/270/729").report, {});
    Bearing moved = a, other = a;
    moved.position.lat += 1e-6;
    other.station = "N1CALL";
    EXPECT_FALSE(repeats.repeated(a, 100));
    EXPECT_TRUE(repeats.repeated(a, 105));       // a digipeater's copy
    EXPECT_FALSE(repeats.repeated(moved, 110));  // another position
    EXPECT_FALSE(repeats.repeated(other, 111));  // another station
    EXPECT_TRUE(repeats.repeated(a, 129));
    EXPECT_FALSE(repeats.repeated(a, 130));      // sent again after 30 s: a new report
}

// aprslib's tests/test_passcode.py; aprsc's login line and answers.
TEST(AprsIs, PasscodeLoginAndServerLines) {
    const std::pair<const char*, int> pairs[] = {{"N0CALL", 13023}, {"TESTCALL", 31742}, {"testcall", 31742},
                                                 {"TESTCALL-12", 31742}, {"SUCHCALL", 27890}, {"MUCHSIGN", 27128},
                                                 {"WOW", 29613}};
    for (const auto& [call, code] : pairs) EXPECT_EQ(aprsPasscode(call), code) << call;
    std::string line, why;
    ASSERT_TRUE(aprsIsLogin("N0CALL", 13023, "0.1.0", 49.06, -72.03, 50, line, why)) << why;
    EXPECT_EQ(line, "user N0CALL pass 13023 vers Bearfix 0.1.0 filter r/49.0600/-72.0300/50\r\n");
    ASSERT_TRUE(aprsIsLogin("N0CALL-9", -1, "0.1.0", {}, {}, {}, line, why)) << why;
    EXPECT_EQ(line, "user N0CALL-9 pass -1 vers Bearfix 0.1.0\r\n");
    EXPECT_FALSE(aprsIsLogin("N0CALL", 13024, "0.1.0", {}, {}, {}, line, why));
    EXPECT_EQ(why, "the passcode 13024 is not that of N0CALL");
    EXPECT_FALSE(aprsIsLogin("N0CALL", -1, "0.1.0", 91.0, 0.0, 50, line, why));
    EXPECT_FALSE(aprsIsLogin("N0 CALL", -1, "0.1.0", {}, {}, {}, line, why));
    const std::pair<const char*, AprsIsLineKind> lines[] = {
        {"# aprsc 2.1.21-gbfc2090\r\n", AprsIsLineKind::Comment},
        {"# logresp N0CALL verified, server T2TEST\r\n", AprsIsLineKind::Verified},
        {"# logresp N0CALL unverified, server T2TEST", AprsIsLineKind::Unverified},
        {"# Invalid login string, too few arguments", AprsIsLineKind::Refused},
        {"# aprsc 2.1.21-gbfc2090 1 Mar 2024 15:11:20 GMT T2TEST 127.0.0.1:14580", AprsIsLineKind::Comment},
        {"W1AW>APRS,TCPIP*,qAC,T2TEST:=4903.50N/07201.75W\\088/036/270/729\r\n", AprsIsLineKind::Packet}};
    for (const auto& [text, kind] : lines) EXPECT_EQ(classifyAprsIsLine(text), kind) << text;
}

}  // namespace
}  // namespace bearfix
