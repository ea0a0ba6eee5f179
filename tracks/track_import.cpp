#include "tracks/track_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "support/buffered_file.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "support/text_scanner.h"
#include "tracks/gpx_reader.h"
#include "tracks/track_store.h"
#include "tracks/xml_scan.h"

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

// Points the current import stored, and points it left out for their coordinates.
long storedPoints = 0;
long skippedPoints = 0;

bool storePoint(TrackPoint& point) {
    point.valid = 1;
    if (!appendTrackRecord(point)) return false;
    ++storedPoints;
    return true;
}

// A position no track can have is left out and counted.
bool validPosition(double lat, double lon) {
    if (std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90.0 && std::fabs(lon) <= 180.0) return true;
    ++skippedPoints;
    return false;
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The file name without its directory ('\' or '/'), cut at its first '.',
// as text: the file system's UTF-8 in Windows-1252, other bytes as they are.
std::string trackNameOf(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) slash = path.rfind('/');
    const std::string name = fileNameText(path.substr(slash == std::string::npos ? 0 : slash + 1));
    return name.substr(0, std::min<std::size_t>(name.find('.'), 255));
}

// Text from the XML library (well-formed UTF-8, see loadXml) as the program's
// Windows-1252.
std::string fromXml(const char* text) { return text ? utf8ToCp1252(text) : std::string(); }

// Larger track files are refused rather than read into the library's tree.
constexpr off_t kMaxXmlFileBytes = off_t{256} << 20;
// NULs after the text for the XML library (see loadXml), room for which is
// taken with the file's: added later, they would copy the whole text.
constexpr std::size_t kXmlPadding = 4;

// The whole file, unless it cannot be read or is too large.
bool readXmlFile(const std::string& path, std::string* text) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        xmlError() = "Failed to open file";
        if (fd >= 0) ::close(fd);
        return false;
    }
    bool small = st.st_size <= kMaxXmlFileBytes;
    if (small) text->reserve(static_cast<std::size_t>(st.st_size) + kXmlPadding);
    char chunk[65536];
    while (small) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            xmlError() = std::string("Failed to read file: ") + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text->append(chunk, static_cast<std::size_t>(n));
        small = static_cast<off_t>(text->size()) <= kMaxXmlFileBytes;  // it may grow while it is read
    }
    ::close(fd);
    if (!small) {
        *text = std::string();
        xmlError() = "the file is larger than 256 MB, too large for a track file";
    }
    return small;
}

// The XML library reads past the end of its buffer on a UTF-8 sequence cut
// short, and loops on some invalid bytes; it only ever gets well-formed UTF-8
// (a file that is not UTF-8 is taken as Windows-1252) and never binary data.
// It parses recursively and keeps every node: the text is measured first.
bool loadXml(TiXmlDocument& doc, const std::string& path) {
    std::string text;
    if (!readXmlFile(path, &text)) return false;
    if (text.find('\0') != std::string::npos) {
        xmlError() = "The file holds binary data, not XML";
        return false;
    }
    if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
    if (const char* refusal = xmlRefusal(text.c_str())) {
        xmlError() = refusal;
        return false;
    }
    // At an unclosed comment, CDATA section or quoted value the library steps
    // past the terminating NUL; more NULs keep it inside the buffer.
    text.append(kXmlPadding, '\0');
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
    const DecimalDigits d = scanDecimalDigits(c);
    double value = 0.0;
    // One exact division where the digits allow it, correctly rounded.
    if (!exactDecimal(d.whole, d.digits, d.fraction, &value) &&
        std::from_chars(start, c, value, std::chars_format::fixed).ec == std::errc::result_out_of_range) {
        // Beyond a double: infinite when the whole part has a digit other
        // than 0, else too small to tell from 0.
        const bool large = std::find_if(start, c, [](char d) { return d >= '1' && d <= '9'; }) < std::find(start, c, '.');
        value = large ? HUGE_VAL : 0.0;
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
        // The altitude may be left out: "lon,lat lon,lat".
        const char* afterLat = c;
        if (ok && expectKmlChar(c, ',')) {
            point.altitude = parseKmlNumber(c);
            if (!std::isfinite(point.altitude)) point.altitude = 0;
        } else {
            c = afterLat;
            ok = ok && (*c == ' ' || *c == '\0');
        }
        if (ok && validPosition(lat, lon)) {
            point.lat = degreesToUnits(lat);
            point.lon = degreesToUnits(lon);
            count += storePoint(point) ? 1 : 0;
        }
        ok = ok && expectKmlChar(c, ' ');
    }
    return count;
}

bool importKml(const std::string& path) {
    TiXmlDocument doc(path.c_str());
    if (!loadXml(doc, path)) return false;
    TiXmlHandle document = TiXmlHandle(&doc).FirstChild("kml").FirstChild("Document");
    const long before = storedPoints;
    readPlacemarks(document.FirstChild("Placemark").ToNode());
    for (const TiXmlNode* folder = document.FirstChild("Folder").ToNode(); folder; folder = folder->NextSibling())
        readPlacemarks(folder->FirstChild("Placemark"));
    if (storedPoints == before) failureReason() = "no track points found";
    return storedPoints > before;
}

bool importGpx(const std::string& path) {
    const GpxImport read = readGpxFile(path, trackNameOf(path));
    if (!read.error.empty()) {
        xmlError() = read.error.substr(0, 255);
        return false;
    }
    storedPoints += read.points;
    skippedPoints += read.skipped;
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
        if (!ok || !std::isfinite(point.altitude) || !std::isfinite(point.speedKmh) || !validPosition(lat, lon))
            continue;
        point.lat = degreesToUnits(lat);
        point.lon = degreesToUnits(lon);
        while (skipBlanks(c) > 0 && matchKeyword(c, kExtras) >= 0) parseDouble(c, 0);
        count += storePoint(point) ? 1 : 0;
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
    storedPoints = skippedPoints = 0;
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
    if (skippedPoints > 0)
        logMessage(MessageLevel::Debug, "Debug: skipped %ld points with invalid coordinates", skippedPoints);
    if (ok) {
        logMessage(MessageLevel::Debug, "Debug: Loaded %ld points into GPS track buffer", storedPoints);
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
