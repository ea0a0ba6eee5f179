// The packets Bearfix sends: its own bearings as DF reports
//   =DDMM.hhN/DDDMM.hhW\CSE/SPD/BRG/NRQ FFF.FFFMHz comment
// and the fix as an object named by the user
//   ;FOX      *DDHHMMzDDMM.hhN/DDDMM.hhW.comment
// (APRS Protocol Reference 1.0.1, ch. 7, 8 and 11; the frequency as the APRS
// 1.2 draft's ch. 19 writes it). Each reads back with decodeAprs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "aprs/tnc2.h"

namespace bearfix {

// Not a registered tocall: APZ is the prefix for experimental software.
inline constexpr const char* kAprsDestination = "APZBFX";
inline constexpr std::size_t kMaxDfComment = 28;      // after /BRG/NRQ, the frequency included
inline constexpr std::size_t kMaxObjectComment = 43;

struct OwnDfReport {
    double latDeg = 0.0, lonDeg = 0.0;
    double bearingDeg = 0.0;      // true; written as 001..360
    double toleranceDeg = 1.0;    // +-; Q from the beam width, twice this
    std::optional<int> courseDeg; // of a moving station (1..360); none: "000/000", a fixed station
    std::optional<double> speedKn;
    int hits = 9;                 // N: 9 a manual report, 8 every sample had a hit
    double rangeMi = 16.0;        // R: the smallest with 2^R at least this, at most 9 (512 miles)
    std::optional<double> freqMhz;
    std::string comment;          // printable ASCII but | and ~
};

// Q of a tolerance: the best row of the table whose beam width is at least
// twice the tolerance (+-0.5 degrees is Q 9, +-1 Q 8, +-60 Q 2, +-120 Q 1);
// 0 beyond +-120.
int aprsQuality(double toleranceDeg);
// R of a range in miles: the smallest R with 2^R >= miles, 0..9.
int aprsRangeCode(double miles);

// "4903.50N" and "07201.75W": hundredths of a minute, rounded.
std::string aprsLatitude(double latDeg);
std::string aprsLongitude(double lonDeg);

// The information field of a DF report; false with `why` for a position or
// tolerance out of range or a comment that does not fit.
bool dfReportInfo(const OwnDfReport& report, std::string& info, std::string& why);

// The information field of an object at the fix: name 1..9 printable ASCII
// bytes, time (seconds since 1970) as DDHHMMz, the symbol table and code
// ("/." the red X by default); killed: the object is taken off the maps.
bool fixObjectInfo(std::string_view name, double latDeg, double lonDeg, int64_t utc, std::string_view comment,
                   bool killed, std::string& info, std::string& why, char symbolTable = '/', char symbolCode = '.');

// Own packets to send: from `call` to kAprsDestination over `path`
// ("TCPIP*" to APRS-IS, "WIDE1-1,WIDE2-1" on the air).
Tnc2Packet ownPacket(std::string_view call, std::string_view path, std::string info);

}  // namespace bearfix
