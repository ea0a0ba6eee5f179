#include "tools/aprs_cli.h"

#include <cstdio>
#include <string_view>

#include "aprs/aprs_is.h"
#include "aprs/aprs_report.h"
#include "aprs/aprs_writer.h"
#include "geo/position_patterns.h"
#include "live/feed_item.h"
#include "tools/cli_text.h"

namespace bearfix {

namespace {

// One line of a DF report: the fields of the list, null where the
// report has none.
std::string reportJson(const AprsDecoded& d) {
    const AprsReport& r = d.report;
    std::string out = "{\"station\": " + jsonString(r.station()) + ", \"lat\": " + jsonNumber(r.latDeg) +
                      ", \"lon\": " + jsonNumber(r.lonDeg);
    if (d.verdict == AprsVerdict::Bearing) {
        const DfBearing& b = r.bearing;
        out += ", \"bearing\": " + std::to_string(b.bearingDeg % 360) + ", \"tolerance\": " + jsonNumber(b.toleranceDeg()) +
               ", \"hits\": " + std::to_string(b.hits) + ", \"range_mi\": " + jsonNumber(b.rangeMi());
    } else {
        const OmniDf& o = r.omni;
        out += ", \"dfs\": {\"strength\": " + std::to_string(o.strength) + ", \"height_ft\": " + jsonNumber(o.heightFt()) +
               ", \"gain_db\": " + std::to_string(o.gainDb) + ", \"directivity_deg\": " +
               (o.directivity ? std::to_string(45 * o.directivity) : "null") + "}";
    }
    out += ", \"freq_mhz\": " + (r.freqMhz ? jsonNumber(*r.freqMhz) : "null") + "}";
    return out;
}

int decode() {
    // A line is kept up to kMaxAprsLineBytes and a CR; longer ones are read
    // to their end and refused.
    std::string line;
    long number = 0;
    bool more = true;
    while (more) {
        line.clear();
        bool tooLong = false;
        int c;
        while ((c = std::getc(stdin)) != EOF && c != '\n') {
            if (line.size() <= kMaxAprsLineBytes) line += static_cast<char>(c);
            else tooLong = true;
        }
        more = c != EOF;
        if (!more && line.empty() && !tooLong) break;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (tooLong || line.size() > kMaxAprsLineBytes) {
            std::fprintf(stderr, "bearfix-cli: line %ld: the line is longer than %zu bytes\n", number, kMaxAprsLineBytes);
            continue;
        }
        if (line.empty() || line[0] == '#') continue;  // APRS-IS's comments, and blank lines
        const AprsDecoded d = decodeAprsLine(line);
        if (d.verdict == AprsVerdict::Bearing || d.verdict == AprsVerdict::Omni) {
            std::printf("%s\n", reportJson(d).c_str());
        } else {
            std::fprintf(stderr, "bearfix-cli: line %ld: %s%s\n", number,
                         d.verdict == AprsVerdict::Refused ? "" : "no DF report: ", d.why.c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}

int report(const std::vector<std::string>& args) {
    std::string call, position, bearing, tolerance, freq, comment, range;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return 2;
        const std::string& option = args[i];
        std::string* into = option == "--call"        ? &call
                            : option == "--position"  ? &position
                            : option == "--bearing"   ? &bearing
                            : option == "--tolerance" ? &tolerance
                            : option == "--freq"      ? &freq
                            : option == "--comment"   ? &comment
                            : option == "--range-mi"  ? &range
                                                      : nullptr;
        if (!into) return 2;
        *into = args[i + 1];
    }
    if (call.empty() || position.empty() || bearing.empty() || tolerance.empty()) return 2;
    OwnDfReport r;
    GeoPosition p;
    double value = 0;
    if (!isLoginCall(call)) {
        std::fprintf(stderr, "bearfix-cli: \"%s\" is no callsign\n", call.c_str());
        return 1;
    }
    if (!read_position(position_text_from_utf8(position), p)) {
        std::fprintf(stderr, "bearfix-cli: \"%s\" is no position\n", position.c_str());
        return 1;
    }
    r.latDeg = p.lat * kRadToDeg;
    r.lonDeg = p.lon * kRadToDeg;
    if (!feedNumber(bearing, r.bearingDeg) || !feedNumber(tolerance, r.toleranceDeg) ||
        (!freq.empty() && !feedNumber(freq, value)) || (!range.empty() && !feedNumber(range, r.rangeMi))) {
        std::fputs("bearfix-cli: the bearing, tolerance, frequency and range are numbers\n", stderr);
        return 1;
    }
    if (!freq.empty()) r.freqMhz = value;
    r.bearingDeg = normalisedBearing(r.bearingDeg);
    r.comment = comment;
    std::string info, why;
    if (!dfReportInfo(r, info, why)) {
        std::fprintf(stderr, "bearfix-cli: %s\n", why.c_str());
        return 1;
    }
    std::printf("%s\n", formatTnc2(ownPacket(call, "TCPIP*", info)).c_str());
    return 0;
}

}  // namespace

int runAprs(std::vector<std::string> args) {
    if (args.empty()) return 2;
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "decode" && args.empty()) return decode();
    if (command == "report") return report(args);
    return 2;
}

}  // namespace bearfix
