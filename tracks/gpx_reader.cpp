#include "tracks/gpx_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/cp1252.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

constexpr int kChunk = 1 << 18;
constexpr std::size_t kMaxText = 1024;  // of a name, elevation or time: enough for any of them

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool scanDecimal(const char*& c, const char* end, double* value) {
    // At most 15 digits and 22 after the point: the digits as a whole number
    // and the power of ten are exact doubles, so one division rounds as the
    // general parse does.
    static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = c;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    uint64_t whole = 0;
    int digits = 0, fraction = -1;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            whole = whole * 10 + static_cast<uint64_t>(*p - '0');
            ++digits;
            if (fraction >= 0) ++fraction;
        } else if (*p == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    if (digits > 0 && digits <= 15) {
        const double v = static_cast<double>(whole) / kTens[fraction > 0 ? fraction : 0];
        *value = negative ? -v : v;
        c = p;
        return true;
    }
    auto [after, ec] = std::from_chars(c, end, *value, std::chars_format::fixed);
    if (ec != std::errc()) return false;
    c = after;
    return true;
}

namespace {

bool scanNumber(const char*& c, const char* end, double* value) { return scanDecimal(c, end, value); }

// A finite number that is the whole of a text (an attribute, an element's
// text), blanks around it and one '+' before it allowed.
bool wholeNumber(const char* text, const char* end, double* value) {
    while (isBlank(*text)) ++text;
    if (*text == '+' && *++text == '-') return false;
    double v;
    if (!scanNumber(text, end, &v)) return false;
    while (isBlank(*text)) ++text;
    if (*text != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// A coordinate: a whole number within +-limit.
bool coordinate(const char* text, double limit, double* value) {
    return text && wholeNumber(text, text + std::strlen(text), value) && std::fabs(*value) <= limit;
}

// Whether an element's or attribute's name is `literal`: compared a character
// at a time, stopping at the first difference (the name's end at the latest).
template <std::size_t N>
bool named(const char* name, const char (&literal)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name[i] != literal[i]) return false;
    }
    return true;
}

// The common "YYYY-MM-DDThh:mm:ss" (then 'Z' or nothing), all of its fields
// within their ranges and no fraction or offset after it, set directly: what
// isoTime and setTrackPointTime make of it, without the round trip through
// seconds. False, nothing set, for anything else.
bool plainUtcTime(const std::string& text, TrackPoint& point) {
    if (text.size() < 19) return false;
    const char* t = text.data();
    static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        if (kShape[i] == 'd' ? !(t[i] >= '0' && t[i] <= '9') : t[i] != kShape[i]) return false;
    }
    if (text.size() > 19 && (t[19] == '.' || t[19] == '+' || t[19] == '-' || (t[19] >= '0' && t[19] <= '9')))
        return false;
    auto two = [t](int i) { return (t[i] - '0') * 10 + (t[i + 1] - '0'); };
    const int year = two(0) * 100 + two(2), month = two(5), day = two(8);
    const int hour = two(11), minute = two(14), second = two(17);
    if (year < 2000 || year > 2255 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    point.hour = static_cast<uint8_t>(hour);
    point.minute = static_cast<uint8_t>(minute);
    point.second = static_cast<uint8_t>(second);
    point.hundredths = 0;
    point.timeValid = 1;
    point.yearSince2000 = static_cast<uint8_t>(year - 2000);
    point.month = static_cast<uint8_t>(month);
    point.day = static_cast<uint8_t>(day);
    point.dateValid = 1;
    return true;
}

// What an element is to the reader, by its name and where it stands.
enum Role : uint8_t { kOther, kGpx, kTrack, kRoute, kSegment, kPoint, kName, kElevation, kTime };

class Reader {
public:
    Reader(XML_Parser parser, const std::string& fileName) : parser_(parser), fileName_(fileName) {
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, onStart, onEnd);
        XML_SetCommentHandler(parser, [](void* self, const XML_Char*) { static_cast<Reader*>(self)->markup(); });
        XML_SetProcessingInstructionHandler(
            parser, [](void* self, const XML_Char*, const XML_Char*) { static_cast<Reader*>(self)->markup(); });
        XML_SetCdataSectionHandler(
            parser, [](void* self) { static_cast<Reader*>(self)->cdata(true); },
            [](void* self) { static_cast<Reader*>(self)->cdata(false); });
        text_.reserve(256);
    }

    int points = 0, skipped = 0;
    bool tooDeep = false, tooManyAttributes = false;

private:
    // An element's text as a reader that keeps only its first text node
    // takes it: blanks before it skipped; a comment, element or instruction
    // first means none; plain text ends at the next markup, its blanks
    // condensed to single spaces and trimmed; a CDATA section is taken as it is.
    enum TextState : uint8_t { kWaiting, kInText, kInCdata, kDone };

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<Reader*>(self)->start(name, attributes);
    }
    static void XMLCALL onEnd(void* self, const XML_Char*) { static_cast<Reader*>(self)->end(); }
    static void XMLCALL onText(void* self, const XML_Char* s, int length) {
        static_cast<Reader*>(self)->characters(s, length);
    }

    void start(const char* name, const char** attributes) {
        markup();
        if (++depth_ > kMaxGpxDepth) {
            tooDeep = true;
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        int attributeCount = 0;
        while (attributes[2 * attributeCount]) ++attributeCount;
        if (attributeCount > kMaxGpxAttributes) {
            tooManyAttributes = true;
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        const Role parent = depth_ > 1 ? roles_[depth_ - 1] : kOther;
        Role role = kOther;
        if (depth_ == 1) {
            role = named(name, "gpx") ? kGpx : kOther;
        } else if (parent == kGpx) {
            if (named(name, "trk")) role = kTrack;
            if (named(name, "rte")) role = kRoute;
            if (role != kOther) {
                trackName_ = fileName_;
                nameSeen_ = false;
                headers_.clear();
                if (role == kRoute) header();
            }
        } else if (parent == kTrack || parent == kRoute) {
            if (named(name, "name") && !nameSeen_) {
                role = kName;
                nameSeen_ = true;
            } else if (parent == kTrack && named(name, "trkseg")) {
                role = kSegment;
                header();
            } else if (parent == kRoute && named(name, "rtept")) {
                role = kPoint;
            }
        } else if (parent == kSegment && named(name, "trkpt")) {
            role = kPoint;
        } else if (parent == kPoint) {
            if (named(name, "ele") && !elevationSeen_) {
                role = kElevation;
                elevationSeen_ = true;
            } else if (named(name, "time") && !timeSeen_) {
                role = kTime;
                timeSeen_ = true;
            }
        }
        roles_[depth_] = role;
        if (role == kPoint) startPoint(attributes);
        if (role == kName || role == kElevation || role == kTime) {
            text_.clear();
            textState_ = kWaiting;
            textFound_ = blankPending_ = false;
            textDepth_ = depth_;
            // Only while a text is read: expat then passes over the rest.
            XML_SetCharacterDataHandler(parser_, onText);
        }
    }

    void end() {
        const Role role = roles_[depth_];
        if (depth_ == textDepth_) {
            textDepth_ = 0;
            XML_SetCharacterDataHandler(parser_, nullptr);
            if (textFound_) finishText(role);
        }
        if (role == kPoint) endPoint();
        --depth_;
        if (depth_ >= 1) markup();
    }

    void characters(const char* s, int length) {
        if (depth_ != textDepth_ || textState_ == kDone) return;
        if (textState_ == kInCdata) {
            text_.append(s, std::min(static_cast<std::size_t>(length), kMaxText - std::min(kMaxText, text_.size())));
            return;
        }
        for (int i = 0; i < length && text_.size() < kMaxText;) {
            if (isBlank(s[i])) {
                blankPending_ = textState_ == kInText;
                ++i;
                continue;
            }
            if (textState_ == kWaiting) {
                textState_ = kInText;
                textFound_ = true;
            }
            if (blankPending_) text_ += ' ';
            blankPending_ = false;
            int run = i + 1;  // a run of characters without blanks, appended at once
            while (run < length && !isBlank(s[run])) ++run;
            text_.append(s + i, std::min(static_cast<std::size_t>(run - i), kMaxText - text_.size()));
            i = run;
        }
    }

    // Markup inside the element whose text is read ends its first text node.
    void markup() {
        if (depth_ == textDepth_) textState_ = kDone;
    }

    void cdata(bool starts) {
        if (depth_ != textDepth_) return;
        if (starts && textState_ == kWaiting) {
            textState_ = kInCdata;
            textFound_ = true;
        } else if (starts) {
            markup();
        } else if (textState_ == kInCdata) {
            textState_ = kDone;
        }
    }

    void finishText(Role role) {
        if (role == kName) {
            trackName_ = utf8ToCp1252(text_);
            for (int32_t index : headers_) trackStore().renameSegment(index, trackName_.c_str());
        } else if (role == kElevation) {
            wholeNumber(text_.c_str(), text_.c_str() + text_.size(), &point_.altitude);
        } else if (role == kTime) {
            if (plainUtcTime(text_, point_)) return;
            const double seconds = isoTime(text_.c_str());
            if (!std::isnan(seconds)) setTrackPointTime(point_, seconds);
        }
    }

    // A segment header, renamed when the track's name comes after it.
    void header() {
        if (beginTrackSegment(trackName_.c_str(), -1)) headers_.push_back(trackRecordCount() - 1);
    }

    void startPoint(const char** attributes) {
        initTrackPoint(point_);
        const char *lat = nullptr, *lon = nullptr;
        for (const char** a = attributes; a[0]; a += 2) {
            if (named(a[0], "lat")) lat = a[1];
            if (named(a[0], "lon")) lon = a[1];
        }
        double latitude = 0, longitude = 0;
        pointValid_ = coordinate(lat, 90, &latitude) && coordinate(lon, 180, &longitude);
        point_.lat = degreesToUnits(latitude);
        point_.lon = degreesToUnits(longitude);
        elevationSeen_ = timeSeen_ = false;
    }

    void endPoint() {
        if (!pointValid_) {
            ++skipped;
            return;
        }
        point_.valid = 1;
        points += appendTrackRecord(point_) ? 1 : 0;
    }

    XML_Parser parser_;
    const std::string& fileName_;
    int depth_ = 0;
    std::array<Role, kMaxGpxDepth + 2> roles_{};
    std::string trackName_;
    bool nameSeen_ = false;
    std::vector<int32_t> headers_;  // of the track or route under way
    TrackPoint point_;
    bool pointValid_ = false, elevationSeen_ = false, timeSeen_ = false;
    std::string text_;
    int textDepth_ = 0;  // of the element whose text is read; 0 for none
    TextState textState_ = kDone;
    bool textFound_ = false, blankPending_ = false;
};

// Whether the file holds a zero byte, and whether it is UTF-8 throughout (as
// isValidUtf8 tells, sequence by sequence).
void inspect(int fd, bool* binary, bool* utf8) {
    std::vector<unsigned char> chunk(kChunk);
    *binary = false;
    *utf8 = true;
    int pending = 0;  // continuation bytes the sequence under way still needs
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, chunk.data(), chunk.size())) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const unsigned char c = chunk[static_cast<std::size_t>(i)];
            *binary = *binary || c == 0;
            if (pending > 0) {
                *utf8 = *utf8 && (c & 0xC0) == 0x80;
                --pending;
            } else if (c >= 0x80) {
                pending = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
                *utf8 = *utf8 && pending > 0;
            }
        }
    }
    *utf8 = *utf8 && pending == 0;
}

// One pass through the file; `cp1252` converts its bytes to UTF-8 first.
GpxImport parse(int fd, const std::string& fileName, bool cp1252, bool* notUtf8) {
    GpxImport result;
    *notUtf8 = false;
    ::lseek(fd, 0, SEEK_SET);
    XML_Parser parser = XML_ParserCreate("UTF-8");  // whatever the file declares, as before
    if (!parser) {
        result.error = "out of memory";
        return result;
    }
    Reader reader(parser, fileName);
    std::vector<char> chunk(cp1252 ? kChunk : 0);
    bool failed = false;
    for (;;) {
        ssize_t n;
        if (cp1252) {
            n = ::read(fd, chunk.data(), chunk.size());
        } else {
            void* buffer = XML_GetBuffer(parser, kChunk);
            if (!buffer) {
                failed = true;
                break;
            }
            n = ::read(fd, buffer, kChunk);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = std::strerror(errno);
            break;
        }
        XML_Status status;
        if (cp1252) {
            const std::string utf8 = cp1252ToUtf8(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
            status = XML_Parse(parser, utf8.data(), static_cast<int>(utf8.size()), n == 0);
        } else {
            status = XML_ParseBuffer(parser, static_cast<int>(n), n == 0);
        }
        if (status != XML_STATUS_OK) {
            failed = true;
            break;
        }
        if (n == 0) break;
    }
    if (reader.tooDeep) {
        result.error = "elements nested too deeply";
    } else if (reader.tooManyAttributes) {
        result.error = "too many attributes in one element";
    } else if (failed) {
        bool binary, utf8;
        inspect(fd, &binary, &utf8);
        if (binary) {
            result.error = "The file holds binary data, not XML";
        } else if (!utf8 && !cp1252) {
            *notUtf8 = true;
        } else {
            result.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                           std::to_string(XML_GetCurrentLineNumber(parser));
        }
    }
    XML_ParserFree(parser);
    result.points = reader.points;
    result.skipped = reader.skipped;
    return result;
}

}  // namespace

double isoTime(const char* text) {
    if (!text) return NAN;
    double fields[6];
    const char separators[6] = {'-', '-', 'T', ':', ':', '\0'};
    const char* c = text;
    const char* end = text + std::strlen(text);
    for (int i = 0; i < 6; ++i) {
        if (!scanNumber(c, end, &fields[i])) return NAN;
        if (separators[i] != '\0' && *c++ != separators[i]) return NAN;
    }
    // Out-of-range fields would not fit the integers below.
    const double low[6] = {0, 1, 1, 0, 0, 0}, high[6] = {9999, 12, 31, 24, 59, 60.999};
    for (int i = 0; i < 6; ++i) {
        if (!(fields[i] >= low[i] && fields[i] <= high[i])) return NAN;
    }
    const int y = static_cast<int>(fields[0]), mo = static_cast<int>(fields[1]), d = static_cast<int>(fields[2]);
    const int h = static_cast<int>(fields[3]), mi = static_cast<int>(fields[4]);
    const double s = fields[5];
    // Days from the civil date (Howard Hinnant's algorithm).
    const int yy = y - (mo <= 2 ? 1 : 0);
    const long era = (yy >= 0 ? yy : yy - 399) / 400;
    const long yearOfEra = yy - era * 400;
    const long dayOfYear = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long days = era * 146097 + dayOfEra - 719468;
    double seconds = days * 86400.0 + h * 3600.0 + mi * 60.0 + s;
    if (*c == '+' || *c == '-') {  // an offset from UTC
        const double sign = *c++ == '+' ? 1.0 : -1.0;
        double zh = 0, zm = 0;
        if (scanNumber(c, end, &zh) && *c == ':') scanNumber(++c, end, &zm);
        seconds -= sign * (zh * 3600.0 + zm * 60.0);
    }
    return seconds;
}

GpxImport readGpxFile(const std::string& path, const std::string& fileName) {
    GpxImport result;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        result.error = "Failed to open file";
        return result;
    }
    if (st.st_size > kMaxGpxFileBytes) {
        ::close(fd);
        result.error = "the file is larger than " + std::to_string(kMaxGpxFileBytes >> 20) + " MB, too large for a track file";
        return result;
    }
    // What a file that turns out unreadable stored is taken back.
    const int32_t before = trackRecordCount();
    bool notUtf8 = false;
    result = parse(fd, fileName, false, &notUtf8);
    if (notUtf8) {
        trackStore().truncate(before);
        result = parse(fd, fileName, true, &notUtf8);
    }
    ::close(fd);
    if (!result.error.empty()) {
        trackStore().truncate(before);
        result.points = result.skipped = 0;
    }
    return result;
}

}  // namespace bearfix
