#include "tools/fix_bearings.h"

#include <charconv>
#include <cstdio>

#include "cities/cities.h"
#include "fix/bearing_log.h"
#include "fix/multi_fix.h"
#include "support/cp1252.h"
#include "support/number_format.h"
#include "tools/cli_text.h"
#include "tools/magnetic_cli.h"

namespace bearfix {

namespace {


// A bearing that is not plainly true.
bool corrected(const Bearing& b) { return b.reference != BearingReference::True || b.correctionDeg != 0.0; }

std::string jsonEllipse(const ConfidenceEllipse& e) {
    return "{\"semi_major_km\": " + jsonNumber(e.semiMajorKm) + ", \"semi_minor_km\": " + jsonNumber(e.semiMinorKm) +
           ", \"orientation_deg\": " + jsonNumber(e.orientationDeg) + "}";
}

std::string json(const std::vector<Bearing>& bearings, const FixResult& r) {
    const bool found = r.status == FixStatus::Found;
    std::string out = "{\"used\": " + std::to_string(r.used);
    if (found) {
        out += ", \"fix\": {\"lat\": " + jsonNumber(r.x.lat * kRadToDeg) + ", \"lon\": " + jsonNumber(r.x.lon * kRadToDeg) +
               "}, \"ellipse50\": " + jsonEllipse(r.ellipse50) + ", \"ellipse95\": " + jsonEllipse(r.ellipse95) +
               ", \"scale\": " + jsonNumber(r.scale);
    } else {
        out += ", \"fix\": null, \"reason\": " + jsonString(fixStatusReason(r.status)) +
               ", \"ellipse50\": null, \"ellipse95\": null, \"scale\": null";
    }
    out += ", \"bearings\": [";
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const BearingFit& fit = r.fits[i];
        out += i == 0 ? "{" : ", {";
        out += "\"station\": " + jsonString(bearings[i].station) + ", \"residual_deg\": ";
        out += found ? jsonNumber(fit.residualDeg) : "null";
        out += ", \"outlier\": ";
        out += fit.outlier ? "true" : "false";
        if (corrected(bearings[i])) {
            out += std::string(", \"ref\": \"") + bearingReferenceName(bearings[i].reference) +
                   "\", \"correction_deg\": " + jsonNumber(bearings[i].correctionDeg);
        }
        out += "}";
    }
    return out + "]}\n";
}

// The window's texts: Windows-1252.
std::string text(const std::vector<Bearing>& bearings, const FixResult& r, bool robust) {
    std::string out = "Fix (" + std::to_string(r.used) + (r.used == 1 ? " bearing" : " bearings") +
                      (robust ? ", robust): " : "): ");
    if (r.status != FixStatus::Found) return out + "none, " + fixStatusReason(r.status) + "\n";
    out += format_position(r.x, PosFormat::Dms) + "\n";
    out += "Near: " + describe_near_city(r.x.lon, r.x.lat) + "\n";
    out += "50 %: " + formatEllipse(r.ellipse50) + "\n";
    const std::string scaled = formatScale(r.scale);
    out += "95 %: " + formatEllipse(r.ellipse95) + (scaled.empty() ? "" : ", " + scaled) + "\n";
    out += "Residuals:\n";
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const BearingFit& fit = r.fits[i];
        out += "  " + bearings[i].station + ": ";
        if (!bearings[i].enabled) out += "(not used) ";
        out += formatPicture(fit.residualDeg, "##0.0") + "\xB0";
        if (fit.outlier) out += " outlier";
        if (corrected(bearings[i])) {
            out += std::string(" (") + bearingReferenceName(bearings[i].reference) + " " +
                   (bearings[i].correctionDeg < 0.0 ? "" : "+") + formatPicture(bearings[i].correctionDeg, "##0.0") + "\xB0)";
        }
        out += "\n";
    }
    return out;
}

}  // namespace

std::string fixBearingsJson(const std::vector<Bearing>& bearings, const FixResult& r, const std::string& more) {
    std::string out = json(bearings, r);
    return out.insert(out.size() - 2, more);  // before the closing "}\n"
}

std::string fixBearingsText(const std::vector<Bearing>& bearings, const FixResult& r, bool robust) {
    return text(bearings, r, robust);
}

int runFixBearings(std::vector<std::string> args, bool json) {
    const bool robust = std::erase(args, std::string("--robust")) > 0;
    double year = yearNow();
    if (!takeYear(args, year) || args.size() != 2 || args[0] != "--bearings") return 2;
    const std::string& path = args[1];
    std::vector<Bearing> bearings;
    std::string errors;
    switch (loadBearingCsv(path, bearings, errors, {}, fileDeclinations(year))) {
        case CsvLoad::Missing:
            std::fprintf(stderr, "bearfix-cli: %s: no such file\n", path.c_str());
            return 1;
        case CsvLoad::Bad:
            printErrorLines(path, errors);
            return 1;
        case CsvLoad::Read: break;
    }
    const FixResult r = solveFix(bearings, {.robust = robust});
    const std::string out = json ? bearfix::json(bearings, r) : cp1252ToUtf8(text(bearings, r, robust));
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace bearfix
