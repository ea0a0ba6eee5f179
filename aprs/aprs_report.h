// What Bearfix reads of APRS: position reports, objects and items, and of
// them above all the DF reports (APRS Protocol Reference 1.0.1, ch. 7-8, 11):
//   =4903.50N/07201.75W\088/036/270/729 146.520MHz comment
// the DF symbol "/\", then CSE/SPD (course, speed; 000 course: a fixed
// station) and /BRG/NRQ: the bearing (true, 001..360), N the hits (0: the
// report is useless, 9: manual), R the range (the line is 2^R miles long),
// Q the beam width (0: useless). Omni-DF reports "DFSshgd" carry a signal
// strength instead of a bearing. A frequency "FFF.FFFMHz" (or "FFF.FF MHz")
// may open the comment (APRS 1.2 draft, ch. 19), after an optional '/' or
// blank; an object named like "146.52xyz" is a frequency too.
// Every position format is read: uncompressed or compressed, with or without
// a timestamp ("!", "=", "/", "@"), objects (";"), items (")"), third-party
// traffic ("}", the original sender taken). Compressed positions carry no
// BRG/NRQ and no DFS; Mic-E carries neither either and is passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "aprs/tnc2.h"
#include "fix/bearing.h"

namespace bearfix {

enum class AprsVerdict {
    Bearing,   // a DF report with its bearing
    Omni,      // an omni-DF report: a signal strength, no bearing
    Position,  // a position without DF data
    Ignored,   // no position (a message, status, Mic-E ...), a killed object,
               // or a DF report marked useless (N or Q = 0)
    Refused,   // broken or out of range
};

struct DfBearing {
    int bearingDeg = 360;  // BRG, degrees true, 1..360
    int hits = 9;          // N, 1..9
    int rangeCode = 0;     // R, 0..9
    int quality = 9;       // Q, 1..9
    // 2^R miles: how far the bearing's line is drawn.
    double rangeMi() const { return static_cast<double>(1 << rangeCode); }
    // The bound of Q's row of the table: 240, 120, 64, 32, 16, 8, 4, 2, 1 degrees.
    double beamWidthDeg() const;
    // Half the beam width: the bearing is good to +- this.
    double toleranceDeg() const { return beamWidthDeg() / 2.0; }
};

struct OmniDf {
    int strength = 0;     // s: S-points 0..9; 0: not heard there
    int heightCode = 0;   // h: 10 * 2^h feet above the average terrain
    int gainDb = 0;       // g
    int directivity = 0;  // d: 0 omni, 1..8 the antenna's best direction 45..360 degrees
    double heightFt() const { return 10.0 * static_cast<double>(1 << heightCode); }
};

struct AprsReport {
    std::string source;         // the sender's callsign; of third-party traffic the original sender
    std::string name;           // an object's or item's name, trailing blanks dropped; empty for a position
    double latDeg = 0.0, lonDeg = 0.0;
    double ambiguityNmi = 0.0;  // 0, or 0.1, 1, 10, 60 nautical miles
    char symbolTable = '/', symbolCode = ' ';
    bool compressed = false;
    std::optional<int> courseDeg;   // 0..360; with the DF symbol 0 means a fixed station
    std::optional<double> speedKn;
    std::optional<double> freqMhz;
    DfBearing bearing;  // for AprsVerdict::Bearing
    OmniDf omni;        // for AprsVerdict::Omni
    // The object's or item's name, or the sender's callsign.
    const std::string& station() const { return name.empty() ? source : name; }
};

struct AprsDecoded {
    AprsVerdict verdict = AprsVerdict::Refused;
    AprsReport report;  // for Bearing, Omni and Position
    std::string why;    // for Position (why no DF data), Ignored and Refused
};

AprsDecoded decodeAprs(const Tnc2Packet& packet);
// One monitor line (parseTnc2, then decodeAprs).
AprsDecoded decodeAprsLine(std::string_view line);

// The bearing of a DF report for the log: the station as the report names
// it, BRG 360 as 0, the tolerance half the beam width, source aprs.
Bearing aprsBearing(const AprsReport& report, std::optional<int64_t> utc);

// Digipeaters and several gateways pass a report on more than once within
// seconds; the same station with the same bearing from the same position
// within kWindowSeconds of the one taken is a repeat.
class AprsRepeats {
public:
    static constexpr int64_t kWindowSeconds = 30;
    static constexpr std::size_t kRemembered = 1024;

    // True for a repeat; otherwise false, and the bearing is remembered.
    bool repeated(const Bearing& bearing, int64_t nowSeconds);

private:
    struct Taken {
        std::string station;
        double bearingDeg, lat, lon;
        int64_t at;
    };
    std::deque<Taken> taken_;
};

}  // namespace bearfix
