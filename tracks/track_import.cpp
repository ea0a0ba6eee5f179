#include "tracks/track_import.h"

#include <tinyxml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

#include "support/buffered_file.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "support/text_scanner.h"
#include "tracks/gpx_reader.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

std::string& xmlError() {
    static std::string error;
    return error;
}

// Why the current import failed, when it was not a parse error.
std::string& failureReason() {
    static std::string reason;
    return reason;
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The file name without its directory ('\' or '/'), cut at its first '.'.
std::string trackNameOf(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) slash = path.rfind('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1, 255);
    return name.substr(0, name.find('.'));
}

// Text from the XML library (UTF-8 unless the file said otherwise) as the
// program's Windows-1252.
std::string fromXml(const char* text) {
    if (!text) return {};
    return isValidUtf8(text) ? utf8ToCp1252(text) : std::string(text);
}

// The XML library reads past the end of its buffer on a UTF-8 sequence cut
// short, and loops on some invalid bytes; it only ever gets well-formed UTF-8
// (a file that is not UTF-8 is taken as Windows-1252) and never binary data.
bool loadXml(TiXmlDocument& doc, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        xmlError() = "Failed to open file";
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find('\0') != std::string::npos) {
        xmlError() = "The file holds binary data, not XML";
        return false;
    }
    if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (!doc.Error()) return true;
    xmlError() = std::string(doc.ErrorDesc() ? doc.ErrorDesc() : "unreadable XML").substr(0, 255);
    return false;
}

int readLineStrings(const std::string& name, const TiXmlElement* lineString) {
    int count = 0;
    for (const TiXmlElement* e = lineString; e; e = e->NextSiblingElement()) {
        const TiXmlNode* coordinates = e->FirstChild("coordinates");
        const TiXmlElement* element = coordinates ? coordinates->ToElement() : nullptr;
        const char* text = element ? element->GetText() : nullptr;
        if (!text) continue;
        beginTrackSegment(name.c_str(), -1);
        parseKmlCoordinates(text);
        ++count;
    }
    return count;
}

// A placemark without a name of its own carries the name of the one before.
int readPlacemarks(const TiXmlNode* placemark) {
    std::string name = "Unknown";
    int count = 0;
    for (const TiXmlNode* node = placemark; node; node = node->NextSibling()) {
        const TiXmlElement* lineString = node->FirstChildElement("LineString");
        if (!lineString) continue;
        if (const TiXmlElement* nameElement = node->FirstChildElement("name")) {
            if (const char* text = nameElement->GetText()) name = fromXml(text);
        }
        count += readLineStrings(name, lineString);
    }
    return count;
}

}  // namespace

const std::string& lastXmlError() { return xmlError(); }

// ---- KML -----------------------------------------------------------------------

double parseKmlNumber(const char*& c) {
    while (*c == ' ') ++c;
    bool negative = false;
    if (*c == '-') {
        negative = true;
        ++c;
    }
    const char* start = c;
    while (*c >= '0' && *c <= '9') ++c;
    if (*c == '.') {
        ++c;
        while (*c >= '0' && *c <= '9') ++c;
    }
    double value = 0.0;
    if (std::from_chars(start, c, value, std::chars_format::fixed).ec == std::errc::result_out_of_range) {
        // Too large for a double is infinite, too small (zeros after the point) 0.
        const char* nonZero = std::find_if(start, c, [](char d) { return d >= '1' && d <= '9'; });
        value = nonZero < std::find(start, c, '.') ? HUGE_VAL : 0.0;
    }
    if (*c == 'e' || *c == 'E') {
        ++c;
        bool negativeExponent = false;
        if (*c == '-' || *c == '+') negativeExponent = *c++ == '-';
        int exponent = 0;
        while (*c >= '0' && *c <= '9') exponent = std::min(exponent * 10 + (*c++ - '0'), 1000);
        if (exponent <= 30) value *= std::pow(10.0, negativeExponent ? -exponent : exponent);
    }
    return negative ? -value : value;
}

bool expectKmlChar(const char*& c, char expected) {
    if (expected != ' ')
        while (*c == ' ') ++c;
    if (*c != expected) return false;
    ++c;
    return true;
}

int parseKmlCoordinates(const char* text) {
    int count = 0;
    bool ok = true;
    const char* c = text;
    while (ok && *c != '\0') {
        TrackPoint point;
        initTrackPoint(point);
        const double lon = parseKmlNumber(c);
        ok = expectKmlChar(c, ',');
        const double lat = parseKmlNumber(c);
        ok = ok && expectKmlChar(c, ',');
        point.altitude = parseKmlNumber(c);
        point.lon = degreesToUnits(lon);
        point.lat = degreesToUnits(lat);
        // A number too large for a double makes the tuple no point.
        if (ok && std::isfinite(lon) && std::isfinite(lat) && std::isfinite(point.altitude)) {
            point.valid = 1;
            count += appendTrackRecord(point) ? 1 : 0;
        }
        ok = ok && expectKmlChar(c, ' ');
    }
    return count;
}

bool importKml(const std::string& path) {
    TiXmlDocument doc(path.c_str());
    if (!loadXml(doc, path)) return false;
    TiXmlHandle document = TiXmlHandle(&doc).FirstChild("kml").FirstChild("Document");
    int count = readPlacemarks(document.FirstChild("Placemark").ToNode());
    for (const TiXmlNode* folder = document.FirstChild("Folder").ToNode(); folder; folder = folder->NextSibling())
        count += readPlacemarks(folder->FirstChild("Placemark"));
    if (count == 0) failureReason() = "no track points found";
    return count > 0;
}

bool importGpx(const std::string& path) {
    const GpxImport read = readGpxFile(path, trackNameOf(path));
    if (!read.error.empty()) {
        xmlError() = read.error.substr(0, 255);
        return false;
    }
    if (read.skipped > 0)
        logMessage(MessageLevel::Debug, "Debug: skipped %d points with invalid coordinates", read.skipped);
    if (read.points == 0) failureReason() = "no track points found";
    return read.points > 0;
}

// ---- auxiliary track files ---------------------------------------------------------

bool importAux(const std::string& path) {
    auto file = std::make_unique<BufferedFile>();
    if (!file->open(path)) {
        failureReason() = "cannot open the file";
        return false;
    }
    beginTrackSegment(trackNameOf(path).c_str(), -1);
    static const char kExtras[] = "sr=\0rf=\0";
    char line[256];
    int count = 0;
    while (file->readLine(line, 255) >= 0) {
        if (line[0] < '0' || line[0] > '9') continue;  // headers, comments, empty lines
        TrackPoint point;
        initTrackPoint(point);
        const char* c = line;
        point.sample = parseInt(c, 11, 10, 0);
        bool ok = skipBlanks(c) > 0;
        setTrackPointTime(point, parseDouble(c, 0));
        ok = ok && skipBlanks(c) > 0;
        const double lat = parseDouble(c, 0);
        ok = ok && skipBlanks(c) > 0;
        const double lon = parseDouble(c, 0);
        ok = ok && skipBlanks(c) > 0;
        point.altitude = parseDouble(c, 0);
        ok = ok && skipBlanks(c) > 0;
        point.speedKmh = parseDouble(c, 0);
        // A number too large for a double makes the line no point.
        if (!ok || !std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(point.altitude) ||
            !std::isfinite(point.speedKmh))
            continue;
        point.lat = degreesToUnits(lat);
        point.lon = degreesToUnits(lon);
        while (skipBlanks(c) > 0 && matchKeyword(c, kExtras) >= 0) parseDouble(c, 0);
        point.valid = 1;
        count += appendTrackRecord(point) ? 1 : 0;
    }
    file->close();
    if (count == 0) failureReason() = "no track points found";
    return count > 0;
}

bool importCsv(const std::string&) {
    logMessage(MessageLevel::Error, "Oops.. the import of CSV files isn't implemented yet.");
    failureReason() = "CSV files cannot be read";
    return false;
}

bool importNmea(const std::string&) {
    logMessage(MessageLevel::Error, "Oops.. the import of NMEA files isn't implemented yet.");
    failureReason() = "NMEA files cannot be read";
    return false;
}

// ---- dispatch ------------------------------------------------------------------------

bool loadTrackFile(const std::string& path, int type) {
    xmlError().clear();
    failureReason() = "unknown kind of track file";
    std::error_code ec;
    const auto kind = std::filesystem::status(path, ec).type();
    if (kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::not_found) {
        failureReason() = "not a file";  // a directory, or a device or pipe that might never end
        type = -1;
    }
    // The extension of the file name, not of a directory on the way.
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    bool ok = false;
    if (type >= 0 && dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = lowerCase(path.substr(dot));
        if (extension == ".kml" || extension == ".xml") type = kTrackKml;
        if (extension == ".gpx") type = kTrackGpx;
        if (extension == ".csv") type = kTrackCsv;
        if (type == kTrackByExtension && extension == ".nma") type = kTrackNmea;
        if (type == kTrackByExtension && extension == ".aux") type = kTrackAux;
        switch (type) {
            case kTrackKml: ok = importKml(path); break;
            case kTrackNmea: ok = importNmea(path); break;
            case kTrackCsv: ok = importCsv(path); break;
            case kTrackAux: ok = importAux(path); break;
            case kTrackGpx: ok = importGpx(path); break;
            default: break;
        }
    }
    if (ok) {
        logMessage(MessageLevel::Debug, "Debug: Loaded %ld points into GPS track buffer",
                   static_cast<long>(trackRecordCount()));
    } else {
        logMessage(MessageLevel::Error, "Error: Couldn't load anything from %s .", fileNameText(path).c_str());
    }
    return ok;
}

bool loadTrackFileReporting(const std::string& path, int type) {
    if (loadTrackFile(path, type)) return true;
    const std::string& reason = xmlError().empty() ? failureReason() : xmlError();
    logMessage(MessageLevel::Error, "Error loading \"%s\": %s", fileNameText(path).c_str(), reason.c_str());
    return false;
}

}  // namespace bearfix
