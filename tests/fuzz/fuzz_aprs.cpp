// Monitor lines of any content: a report comes out only with every field in
// range, anything else with a reason; a DF report read is written again and
// reads back as the same bearing.
#include <cmath>
#include <string_view>

#include "aprs/aprs_report.h"
#include "aprs/aprs_writer.h"
#include "fuzz_input.h"

namespace {

using namespace bearfix;

void checkLine(std::string_view line) {
    const AprsDecoded d = decodeAprsLine(line);
    if (d.verdict == AprsVerdict::Refused || d.verdict == AprsVerdict::Ignored) {
        fuzz::check(!d.why.empty());
        return;
    }
    const AprsReport& r = d.report;
    std::string why;
    fuzz::check(std::fabs(r.latDeg) <= 90 && std::fabs(r.lonDeg) <= 180 && isStationName(r.station(), why) &&
                !r.station().empty());
    fuzz::check(!r.courseDeg || (*r.courseDeg >= 0 && *r.courseDeg <= 360));
    fuzz::check(!r.freqMhz || (std::isfinite(*r.freqMhz) && *r.freqMhz >= 0 && *r.freqMhz < 25000));
    if (d.verdict == AprsVerdict::Omni) {
        const OmniDf& o = r.omni;
        fuzz::check(o.strength >= 0 && o.strength <= 9 && o.heightCode >= 0 && o.heightCode <= 11 && o.gainDb >= 0 &&
                    o.gainDb <= 9 && o.directivity >= 0 && o.directivity <= 8);
    }
    if (d.verdict != AprsVerdict::Bearing) return;
    const DfBearing& b = r.bearing;
    fuzz::check(b.bearingDeg >= 1 && b.bearingDeg <= 360 && b.hits >= 1 && b.hits <= 9 && b.rangeCode >= 0 &&
                b.rangeCode <= 9 && b.quality >= 1 && b.quality <= 9);
    const Bearing bearing = aprsBearing(r, 0);
    fuzz::check(bearing.bearingDeg >= 0 && bearing.bearingDeg < 360 && bearing.toleranceDeg >= 0.5 &&
                bearing.toleranceDeg <= 120);
    OwnDfReport own;
    own.latDeg = r.latDeg;
    own.lonDeg = r.lonDeg;
    own.bearingDeg = b.bearingDeg;
    own.toleranceDeg = b.toleranceDeg();
    own.hits = b.hits;
    own.rangeMi = b.rangeMi();
    std::string info;
    fuzz::check(dfReportInfo(own, info, why));
    const AprsDecoded back = decodeAprsLine("N0CALL>APRS:" + info);
    fuzz::check(back.verdict == AprsVerdict::Bearing && back.report.bearing.bearingDeg == b.bearingDeg &&
                back.report.bearing.quality == b.quality && back.report.bearing.rangeCode == b.rangeCode &&
                std::fabs(back.report.latDeg - r.latDeg) < 1e-4 && std::fabs(back.report.lonDeg - r.lonDeg) < 1e-4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = bearfix::fuzz::text(data, size);
    checkLine(text);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        checkLine(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
