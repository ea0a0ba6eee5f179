#include "tools/magnetic_cli.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "fix/bearing_log.h"
#include "fix/declination.h"
#include "fix/station_calibration.h"
#include "geo/position_patterns.h"
#include "magnetic/world_magnetic_model.h"
#include "session/data_files.h"
#include "support/cp1252.h"
#include "support/number_format.h"
#include "tools/cli_text.h"

namespace bearfix {

namespace {

// The model beside the map data, loaded at the first call.
const WorldMagneticModel* model(std::string& why) {
    static std::string reason;
    static const std::unique_ptr<WorldMagneticModel> loaded =
        WorldMagneticModel::load(findDataFile("map_data/magnetic"), reason);
    if (!loaded) why = reason;
    return loaded.get();
}

bool number(const std::string& text, double& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(value);
}

bool position(const std::string& utf8, GeoPosition& p) { return read_position(position_text_from_utf8(utf8), p); }

std::string orNull(double value) { return std::isfinite(value) ? jsonNumber(value) : "null"; }

// Windows-1252 lines.
std::string fieldText(const WorldMagneticModel& wmm, const MagneticField& f, double year) {
    std::string out;
    if (std::isfinite(f.declinationDeg)) {
        out += "Declination: " + formatPicture(std::fabs(f.declinationDeg), "0.00") + "\xB0" +
               (f.declinationDeg < 0.0 ? " W" : " E") + " (\xB1 " + formatPicture(f.declinationSigmaDeg, "0.00") +
               "\xB0)\n";
        out += "Inclination: " + formatPicture(f.inclinationDeg, "0.00") + "\xB0\n";
        out += "Horizontal intensity: " + formatPicture(f.horizontalNt, "0") + " nT\n";
    } else {
        out += "Declination: none\n";
    }
    out += "Model: " + wmm.name() + ", " + formatPicture(year, "0.00");
    if (f.status == FieldStatus::Valid) return out + ", valid\n";
    return out + (f.valid() ? ", valid, but " : ", not valid: ") + f.reason + "\n";
}

}  // namespace

bool takeYear(std::vector<std::string>& args, double& year) {
    int given = 0;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] != "--date" && args[i] != "--year") {
            ++i;
            continue;
        }
        if (i + 1 >= args.size() || ++given > 1) return false;
        const std::string& value = args[i + 1];
        if (args[i] == "--date") {
            const std::optional<double> y = decimalYearOfDate(value);
            if (!y) return false;
            year = *y;
        } else if (!number(value, year) || year < 1.0 || year >= 10000.0) {
            return false;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    return true;
}

double yearNow() { return decimalYear(static_cast<int64_t>(std::time(nullptr))); }

std::optional<double> declinationAt(const std::string& positionUtf8, double year, std::string& why) {
    GeoPosition p;
    if (!position(positionUtf8, p)) {
        why = "not a position";
        return std::nullopt;
    }
    const WorldMagneticModel* wmm = model(why);
    if (!wmm) return std::nullopt;
    const MagneticField f = wmm->at(p.lat * kRadToDeg, p.lon * kRadToDeg, 0.0, year);
    why = f.reason;  // a caution goes with the number
    if (!f.valid()) return std::nullopt;
    return f.declinationDeg;
}

DeclinationSource fileDeclinations(double yearUntimed) {
    return [yearUntimed](const Bearing& b, std::string& why) -> std::optional<double> {
        const WorldMagneticModel* wmm = model(why);
        return wmm ? modelDeclination(*wmm, yearUntimed)(b, why) : std::nullopt;
    };
}

int runDeclination(std::vector<std::string> args, bool json, const char* usage) {
    double year = yearNow(), heightKm = 0.0;
    bool good = takeYear(args, year);
    for (std::size_t i = 0; good && i + 1 < args.size(); ++i) {
        if (args[i] != "--height-km") continue;
        good = number(args[i + 1], heightKm);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
    }
    if (!good || args.size() != 1 || args[0].starts_with("--")) {
        std::fputs(usage, stderr);
        return 2;
    }
    GeoPosition p;
    if (!position(args[0], p)) {
        std::fputs("not a position\n", stderr);
        return 2;
    }
    std::string why;
    const WorldMagneticModel* wmm = model(why);
    if (!wmm) {
        std::fprintf(stderr, "bearfix-cli: %s\n", why.c_str());
        return 1;
    }
    const MagneticField f = wmm->at(p.lat * kRadToDeg, p.lon * kRadToDeg, heightKm, year);
    if (json) {
        std::string out = "{\"declination_deg\": " + orNull(f.declinationDeg) +
                          ", \"inclination_deg\": " + orNull(f.inclinationDeg) + ", \"h_nt\": " + orNull(f.horizontalNt) +
                          ", \"valid\": " + (f.valid() ? "true" : "false") +
                          ", \"reason\": " + (f.reason.empty() ? "null" : jsonString(f.reason)) +
                          ", \"declination_sigma_deg\": " + orNull(f.declinationSigmaDeg) + ", \"year\": " +
                          jsonNumber(year) + ", \"model\": " + jsonString(wmm->name()) + "}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::fputs(cp1252ToUtf8(fieldText(*wmm, f, year)).c_str(), stdout);
    }
    return f.valid() ? 0 : 1;
}

int runCalibrate(std::vector<std::string> args, bool json, const char* usage) {
    std::string path, station, knownText;
    bool good = args.size() % 2 == 0, hasStation = false;
    for (std::size_t i = 0; good && i < args.size(); i += 2) {
        if (args[i] == "--bearings") {
            path = args[i + 1];
        } else if (args[i] == "--station") {
            station = utf8ToCp1252(args[i + 1]);
            hasStation = true;
        } else if (args[i] == "--known") {
            knownText = args[i + 1];
        } else {
            good = false;
        }
    }
    if (!good || path.empty() || !hasStation || knownText.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    GeoPosition known;
    if (!position(knownText, known)) {
        std::fputs("not a position\n", stderr);
        return 2;
    }
    std::vector<Bearing> bearings;
    std::string errors;
    switch (loadBearingCsv(path, bearings, errors, {}, fileDeclinations(yearNow()))) {
        case CsvLoad::Missing:
            std::fprintf(stderr, "bearfix-cli: %s: no such file\n", path.c_str());
            return 1;
        case CsvLoad::Bad:
            printErrorLines(path, errors);
            return 1;
        case CsvLoad::Read: break;
    }
    const StationCalibration c = calibrateStation(bearings, station, known);
    const bool done = c.status == CalibrationStatus::Done;
    if (json) {
        std::string out = "{\"station\": " + jsonString(station) + ", \"count\": " + std::to_string(c.count);
        out += ", \"offset_deg\": " + (done ? jsonNumber(c.offsetDeg) : "null");
        out += ", \"spread_deg\": " + (done ? jsonNumber(c.spreadDeg) : "null");
        out += ", \"tolerance_deg\": " + (c.count > 0 ? jsonNumber(c.statedToleranceDeg) : "null");
        out += ", \"needed_tolerance_deg\": " + (done && c.neededToleranceDeg > 0.0 ? jsonNumber(c.neededToleranceDeg) : "null");
        out += ", \"reason\": " + (done ? "null" : jsonString(calibrationStatusReason(c.status))) + "}\n";
        std::fputs(out.c_str(), stdout);
        return done ? 0 : 1;
    }
    std::string out = "Station: " + station + "\nBearings: " + std::to_string(c.count) + "\n";
    if (!done) {
        out += std::string("Offset: none, ") + calibrationStatusReason(c.status) + "\n";
    } else {
        out += "Offset: " + formatPicture(c.offsetDeg, "0.0") + "\xB0 (bearing less true course)\n";
        out += "Spread: " + formatPicture(c.spreadDeg, "0.0") + "\xB0\n";
        out += "Tolerance: " + formatPicture(c.statedToleranceDeg, "0.0") + "\xB0";
        out += c.neededToleranceDeg > 0.0
                   ? " stated, too small for the spread: " + formatPicture(std::ceil(c.neededToleranceDeg * 10.0) / 10.0, "0.0") +
                         "\xB0 needed\n"
                   : " stated, enough for the spread\n";
    }
    std::fputs(cp1252ToUtf8(out).c_str(), stdout);
    return done ? 0 : 1;
}

}  // namespace bearfix
