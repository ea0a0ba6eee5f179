// KISS frames and AX.25 UI frames: hand-built frames (their bytes laid out
// in the KISS paper's and AX.25 2.2's terms) read as decode_aprs reads
// them, and the frames Bearfix builds read back by decode_aprs.
#include <gtest/gtest.h>

#include <cstdio>

#include "aprs/kiss.h"
#include "direwolf.h"

namespace bearfix {
namespace {

using namespace std::string_literals;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::string hex(std::string_view data) {
    std::string out;
    char b[4];
    for (char c : data) {
        std::snprintf(b, sizeof b, "%02x ", static_cast<unsigned char>(c));
        out += b;
    }
    return out.substr(0, out.size() - 1);
}

// N0CALL-9>APRS,WIDE1-1 UI, "=4903.50N/07201.75W\088/036/270/729".
const std::string kAx25 = bytes({0x82, 0xa0, 0xa4, 0xa6, 0x40, 0x40, 0xe0, 0x9c, 0x60, 0x86, 0x82, 0x98, 0x98, 0x72, 0xae,
                                 0x92, 0x88, 0x8a, 0x62, 0x40, 0x63, 0x03, 0xf0}) +
                          "=4903.50N/07201.75W\\088/036/270/729";

TEST(Kiss, FramesInPiecesOfAnySize) {
    const std::string stream = "\xc0\x00"s + kAx25 + "\xc0";
    EXPECT_EQ(direwolfDecode(hex(stream)).tnc2, "N0CALL-9>APRS,WIDE1-1:=4903.50N/07201.75W\\088/036/270/729");
    for (std::size_t piece : {std::size_t(1), std::size_t(7), stream.size()}) {
        KissDeframer k;
        std::vector<KissFrame> frames;
        for (std::size_t at = 0; at < stream.size(); at += piece)
            for (KissFrame& f : k.feed(std::string_view(stream).substr(at, piece))) frames.push_back(f);
        ASSERT_EQ(frames.size(), 1u) << piece;
        Tnc2Packet p;
        std::string why;
        ASSERT_TRUE(ax25ToTnc2(frames[0].data, p, why)) << why;
        EXPECT_EQ(formatTnc2(p), "N0CALL-9>APRS,WIDE1-1:=4903.50N/07201.75W\\088/036/270/729");
    }
    // The escapes of the KISS paper; junk, a bad escape, other commands and
    // a frame too long are passed over with a reason, the stream goes on.
    KissDeframer k;
    std::string problem;
    const std::string escaped = "\xc0\x10"s + kAx25 + "\xdb\xdc\xdb\xdd\xc0";
    const std::string junk = "\xc0\x00x\xdb\x41y\xc0\xc0\x01\x20\xc0"s + std::string(2000, 'z') + "\xc0";
    std::vector<KissFrame> frames = k.feed(escaped + junk + escaped, &problem);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].port, 1);
    EXPECT_EQ(frames[0].data, kAx25 + "\xc0\xdb");
    EXPECT_EQ(k.dropped(), 2u);
    EXPECT_EQ(problem, "a frame longer than 1024 bytes");
    k.feed("\xc0\x00\xdb\x41\xc0"s, &problem);
    EXPECT_EQ(problem, "a FESC followed by 0x41, not TFEND or TFESC");
}

// What Bearfix sends to a TNC: decode_aprs reads it back as the same line,
// the repeated digipeater marked, bytes that need KISS escapes included.
TEST(Kiss, DecodeAprsReadsTheFramesBearfixBuilds) {
    const char* lines[] = {"N0CALL-9>APZBFX,WIDE1-1,WIDE2-1:=4903.50N/07201.75W\\000/000/270/729 146.520MHz",
                           "DL1ABC-15>APZBFX,DB0XY*,WIDE2-1:=5100.00N/00900.00E\\000/000/360/892",
                           "N0CALL>APZBFX:;FOX      *010000z1220.74S/04540.73E."};
    for (const char* line : lines) {
        Tnc2Packet p;
        std::string why, ax25;
        ASSERT_TRUE(parseTnc2(line, p, why)) << why;
        ASSERT_TRUE(tnc2ToAx25(p, ax25, why)) << why;
        EXPECT_EQ(direwolfDecode(hex(kissFrame(ax25))).tnc2, line);
        Tnc2Packet back;
        ASSERT_TRUE(ax25ToTnc2(ax25, back, why)) << why;
        EXPECT_EQ(formatTnc2(back), line);
    }
    Tnc2Packet p{"N0CALL", "APRS", {}, "=4903.50N/07201.75W-\xc0\xdb"};
    std::string ax25, why;
    ASSERT_TRUE(tnc2ToAx25(p, ax25, why));
    EXPECT_EQ(direwolfDecode(hex(kissFrame(ax25))).tnc2, "N0CALL>APRS:=4903.50N/07201.75W-<0xc0><0xdb>");
    for (const char* bad : {"N0CALL-16>APRS:x", "n0call>APRS:x", "TOOLONGC>APRS:x", "A>B,1,2,3,4,5,6,7,8,9:x"}) {
        ASSERT_TRUE(parseTnc2(bad, p, why)) << bad;
        EXPECT_FALSE(tnc2ToAx25(p, ax25, why)) << bad;
    }
}

std::string tooManyDigipeaters() {
    std::string frame = kAx25.substr(0, 14);
    for (int i = 0; i < 9; ++i) frame += kAx25.substr(14, 6) + "\x62";
    return frame + kAx25.substr(14);
}

TEST(Kiss, RefusesFramesThatAreNoAprs) {
    const struct {
        std::string frame;
        const char* why;
    } cases[] = {
        {kAx25.substr(0, 10), "ends inside its addresses"},
        {kAx25.substr(0, 22), "no control and PID"},
        {kAx25.substr(0, 21) + "\x13\xcf" + "x", "not an APRS frame (control 0x13, PID 0xcf)"},
        {kAx25.substr(0, 23), "an information field that is empty"},
        {kAx25 + std::string(300, 'x'), "longer than 256"},
        {kAx25 + "\r\nx", "holds a NUL, CR or LF"},
        {bytes({0x82, 0xa0, 0xa4, 0xa6, 0x40, 0x41}) + kAx25.substr(6), "address 1 is no callsign"},
        {bytes({0x82, 0xa0, 0x40, 0xa6, 0x40, 0x40}) + kAx25.substr(6), "address 1 is no callsign"},
        {tooManyDigipeaters(), "more than 8 digipeaters"},
    };
    for (const auto& c : cases) {
        Tnc2Packet p;
        std::string why;
        EXPECT_FALSE(ax25ToTnc2(c.frame, p, why)) << c.why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    Tnc2Packet p;
    std::string why;
    EXPECT_TRUE(ax25ToTnc2(kAx25 + "\r", p, why)) << why;  // a CR at the end is common and dropped
}

}  // namespace
}  // namespace bearfix
