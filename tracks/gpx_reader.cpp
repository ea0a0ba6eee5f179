#include "tracks/gpx_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "support/cp1252.h"
#include "support/text_scanner.h"
#include "tracks/gpx_batches.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

using namespace gpx;
constexpr std::size_t kMaxText = 1024;  // of a name, elevation or time: enough for any of them
// Smaller files are read by one thread: a second one's stack, heap and
// batches would cost more memory per point than the store, for a few ms.
constexpr long long kTwoThreadsFrom = 4 << 20;

// One test for the common characters above the blank.
bool isBlank(char c) {
    constexpr uint64_t kBlanks = 1ULL << ' ' | 1ULL << '\t' | 1ULL << '\n' | 1ULL << '\r';
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && (kBlanks >> u & 1) != 0;
}

// Whether one of the 8 characters at `s` is a blank or below it: one test
// for them all (a byte below 0x21 borrows into its own top bit; a byte from
// 0x80 up has that bit set and is not taken).
bool anyBlankOrBelow(const char* s) {
    uint64_t word;
    std::memcpy(&word, s, sizeof word);
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    return ((word - kOnes * 0x21) & ~word & kOnes * 0x80) != 0;
}

}  // namespace

bool scanDecimal(const char*& c, const char* end, double* value) {
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
    if (double v; exactDecimal(whole, digits, fraction > 0 ? fraction : 0, &v)) {
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

// A finite number that is the whole of a NUL-terminated text (an attribute,
// an element's text) ending at `end`, blanks around it and one '+' before it
// allowed.
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

// Whether an element's or attribute's name is `literal`: compared a character
// at a time, stopping at the first difference (the name's end at the latest).
template <std::size_t N>
bool named(const char* name, const char (&literal)[N]) {
#pragma GCC unroll 8
    for (std::size_t i = 0; i < N; ++i) {
        if (name[i] != literal[i]) return false;
    }
    return true;
}

// The common "YYYY-MM-DDThh:mm:ss" (then 'Z' or nothing), all of its fields
// within their ranges and no fraction or offset after it, set directly: what
// isoTime and setTrackPointTime make of it, without the round trip through
// seconds. False, nothing set, for anything else.
bool plainUtcTime(const char* t, std::size_t size, TrackPoint& point) {
    if (size < 19) return false;
    static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        if (kShape[i] == 'd' ? !(t[i] >= '0' && t[i] <= '9') : t[i] != kShape[i]) return false;
    }
    if (size > 19 && (t[19] == '.' || t[19] == '+' || t[19] == '-' || (t[19] >= '0' && t[19] <= '9')))
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

// Applies the events to the store, on the thread that calls it.
class Store {
public:
    explicit Store(const std::string& fileName) : fileName_(fileName) {}

    void apply(const Bytes& batch) {
        const char* p = batch.data.get();
        const char* const end = p + batch.size;
        while (p < end) {
            const char event = *p++;
            switch (event) {
                case kTrackStarts:
                    trackName_ = fileName_;
                    headers_.clear();
                    continue;
                case kHeader:
                    if (beginTrackSegment(trackName_.c_str(), -1)) headers_.push_back(trackRecordCount() - 1);
                    continue;
                case kPointStarts:
                    latitude_ = longitude_ = elevation_ = time_ = Text{};
                    continue;
                case kPointEnds:
                    storePoint();
                    continue;
                default:
                    break;
            }
            uint32_t length;
            std::memcpy(&length, p, sizeof length);
            const Text text{p + sizeof length, length};
            p += sizeof length + length + 1;
            switch (event) {
                case kNameText:
                    trackName_ = utf8ToCp1252(std::string_view(text.bytes, text.length));
                    for (int32_t index : headers_) trackStore().renameSegment(index, trackName_.c_str());
                    break;
                case kLatitudeText: latitude_ = text; break;
                case kLongitudeText: longitude_ = text; break;
                case kElevationText: elevation_ = text; break;
                case kTimeText: time_ = text; break;
                default: break;
            }
        }
    }

    int points = 0, skipped = 0;

private:
    struct Text {
        const char* bytes = nullptr;  // NUL-terminated
        uint32_t length = 0;
    };

    // A coordinate: a whole number within +-limit.
    static bool coordinate(const Text& text, double limit, double* value) {
        return text.bytes && wholeNumber(text.bytes, text.bytes + text.length, value) && std::fabs(*value) <= limit;
    }

    void storePoint() {
        double latitude = 0, longitude = 0;
        if (!coordinate(latitude_, 90, &latitude) || !coordinate(longitude_, 180, &longitude)) {
            ++skipped;
            return;
        }
        TrackPoint point;
        initTrackPoint(point);
        point.lat = degreesToUnits(latitude);
        point.lon = degreesToUnits(longitude);
        if (elevation_.bytes) wholeNumber(elevation_.bytes, elevation_.bytes + elevation_.length, &point.altitude);
        if (time_.bytes && !plainUtcTime(time_.bytes, time_.length, point)) {
            const double seconds = isoTime(time_.bytes);
            if (!std::isnan(seconds)) setTrackPointTime(point, seconds);
        }
        point.valid = 1;
        points += appendTrackRecord(point) ? 1 : 0;
    }

    const std::string& fileName_;
    std::string trackName_;
    std::vector<int32_t> headers_;  // of the track or route under way
    Text latitude_, longitude_, elevation_, time_;
};

// One thread: every batch is applied as soon as it is full.
class Direct final : public Channel {
public:
    explicit Direct(Store& store) : store_(store) {}
    Bytes* handOver(Bytes* full) override {
        store_.apply(*full);
        full->size = 0;
        return full;
    }
    void finish(Bytes* last) override {
        if (last) store_.apply(*last);
    }

private:
    Store& store_;
};

// What an element is to the reader, by its name and where it stands.
enum Role : uint8_t { kOther, kGpx, kTrack, kRoute, kSegment, kPoint, kName, kElevation, kTime };

// The parser's handlers: which elements matter, and the texts as they are
// taken, passed on as events.
class Reader {
public:
    explicit Reader(XML_Parser parser) : parser_(parser) {
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, onStart, onEnd);
        // Always: setting it for each text alone costs more than passing over the others.
        XML_SetCharacterDataHandler(parser, onText);
        XML_SetCommentHandler(parser, [](void* self, const XML_Char*) {
            static_cast<Reader*>(self)->note();
            static_cast<Reader*>(self)->markup();
        });
        XML_SetProcessingInstructionHandler(parser, [](void* self, const XML_Char*, const XML_Char*) {
            static_cast<Reader*>(self)->note();
            static_cast<Reader*>(self)->markup();
        });
        XML_SetCdataSectionHandler(
            parser,
            [](void* self) {
                static_cast<Reader*>(self)->note();
                static_cast<Reader*>(self)->cdata(true);
            },
            [](void* self) {
                static_cast<Reader*>(self)->note();
                static_cast<Reader*>(self)->cdata(false);
            });
        // Its entities and attribute defaults would not be known to a second parser.
        XML_SetStartDoctypeDeclHandler(parser, [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
            static_cast<Reader*>(self)->doctypeSeen_ = true;
        });
    }

    // Where the events go, from the first batch on, handed over once they
    // fill `batchBytes`; before the parser starts.
    void use(Channel& channel, Bytes* batch, std::size_t batchBytes) {
        channel_ = &channel;
        out_ = batch;
        batchBytes_ = batchBytes;
    }

    // The events not yet handed over; an unfinished text or point is left out.
    void finish() {
        if (textDepth_ != 0) out_->size = textStart_;
        if (pointStart_ != kNoPoint) out_->size = pointStart_;
        channel_->finish(stopped_ ? nullptr : out_);
    }

    bool tooDeep = false, tooManyAttributes = false;
    // Stops at a track's or route's name: a second parser cannot tell
    // whether it is the first.
    bool refuseNames = false;

    // From now on, or no longer, where in the input the last event ended is noted.
    void notePositions(bool on) {
        noting_ = on;
        lastEnd_ = -1;
    }
    // Whether the input so far ends between points and texts, right after
    // the last event, inside the elements of `roles` from the root on: what
    // a second parser that starts there from those elements assumes.
    bool standsIn(long long inputEnd, std::initializer_list<Role> roles) const {
        if (lastEnd_ != inputEnd || inCdata_ || doctypeSeen_ || stopped_ || depth_ != static_cast<int>(roles.size()) ||
            textDepth_ != 0 || pointStart_ != kNoPoint)
            return false;
        return std::equal(roles.begin(), roles.end(), roles_.begin() + 1);
    }
    // The events so far are dropped (those of a made-up start).
    void dropEvents() { out_->size = 0; }
    // The events so far are handed over, however few.
    void handOver() {
        if (stopped_) {
            out_->size = 0;
            return;
        }
        if (Bytes* next = channel_->handOver(out_)) {
            out_ = next;
            return;
        }
        // Nobody takes the events any more: they are dropped and the parser stops.
        stopped_ = true;
        spare_.size = 0;
        out_ = &spare_;
        XML_StopParser(parser_, XML_FALSE);
    }

private:
    static constexpr std::size_t kNoPoint = ~std::size_t{0};

    // An element's text as a reader that keeps only its first text node
    // takes it: blanks before it skipped; a comment, element or instruction
    // first means none; plain text ends at the next markup, its blanks
    // condensed to single spaces and trimmed; a CDATA section is taken as it is.
    enum TextState : uint8_t { kWaiting, kInText, kInCdata, kDone };

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<Reader*>(self)->note();
        static_cast<Reader*>(self)->start(name, attributes);
    }
    static void XMLCALL onEnd(void* self, const XML_Char*) {
        static_cast<Reader*>(self)->note();
        static_cast<Reader*>(self)->end();
    }
    static void XMLCALL onText(void* self, const XML_Char* s, int length) {
        static_cast<Reader*>(self)->note();
        static_cast<Reader*>(self)->characters(s, length);
    }

    void note() {
        if (noting_)
            lastEnd_ = static_cast<long long>(XML_GetCurrentByteIndex(parser_)) + XML_GetCurrentByteCount(parser_);
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
                nameSeen_ = false;
                out_->put(kTrackStarts);
                if (role == kRoute) out_->put(kHeader);
                handOverWhenFull();
            }
        } else if (parent == kTrack || parent == kRoute) {
            if (named(name, "name") && !nameSeen_) {
                if (refuseNames) {
                    XML_StopParser(parser_, XML_FALSE);
                    return;
                }
                role = kName;
                nameSeen_ = true;
            } else if (parent == kTrack && named(name, "trkseg")) {
                role = kSegment;
                out_->put(kHeader);
                handOverWhenFull();
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
            // The text goes straight into the batch; its kind and length are
            // written in front of it when it ends.
            textStart_ = out_->size;
            out_->extend(kTextHead);
            textState_ = kWaiting;
            textFound_ = blankPending_ = false;
            textDepth_ = depth_;
        }
    }

    void end() {
        const Role role = roles_[depth_];
        if (depth_ == textDepth_) {
            textDepth_ = 0;
            textState_ = kDone;  // no text is read until the next element that has one
            if (textFound_) {
                finishText(role);
            } else {
                out_->size = textStart_;
            }
        }
        if (role == kPoint) {
            out_->put(kPointEnds);
            pointStart_ = kNoPoint;
            handOverWhenFull();
        }
        --depth_;
        if (depth_ >= 1) markup();
    }

    void characters(const char* s, int length) {
        if (depth_ != textDepth_ || textState_ == kDone) return;
        if (textState_ == kInCdata) {
            append(s, std::min(static_cast<std::size_t>(length), kMaxText - std::min(kMaxText, textLength())));
            return;
        }
        for (int i = 0; i < length && textLength() < kMaxText;) {
            if (isBlank(s[i])) {
                blankPending_ = textState_ == kInText;
                ++i;
                continue;
            }
            if (textState_ == kWaiting) {
                textState_ = kInText;
                textFound_ = true;
            }
            if (blankPending_) *out_->extend(1) = ' ';
            blankPending_ = false;
            int run = i + 1;  // a run of characters without blanks, appended at once
            while (run + 8 <= length && !anyBlankOrBelow(s + run)) run += 8;
            while (run < length && !isBlank(s[run])) ++run;
            append(s + i, std::min(static_cast<std::size_t>(run - i), kMaxText - textLength()));
            i = run;
        }
    }

    // Markup inside the element whose text is read ends its first text node.
    void markup() {
        if (depth_ == textDepth_) textState_ = kDone;
    }

    void cdata(bool starts) {
        inCdata_ = starts;
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

    std::size_t textLength() const { return out_->size - textStart_ - kTextHead; }
    void append(const char* s, std::size_t length) { copyText(out_->extend(length), s, length); }

    void finishText(Role role) {
        const auto length = static_cast<uint32_t>(textLength());
        char* head = out_->data.get() + textStart_;
        head[0] = role == kName ? kNameText : role == kElevation ? kElevationText : kTimeText;
        std::memcpy(head + 1, &length, sizeof length);
        *out_->extend(1) = '\0';
        if (role == kName) handOverWhenFull();
    }

    void startPoint(const char** attributes) {
        pointStart_ = out_->size;
        out_->put(kPointStarts);
        const char *lat = nullptr, *lon = nullptr;
        for (const char** a = attributes; a[0]; a += 2) {
            if (named(a[0], "lat")) lat = a[1];
            if (named(a[0], "lon")) lon = a[1];
        }
        if (lat) out_->put(kLatitudeText, lat, std::strlen(lat));
        if (lon) out_->put(kLongitudeText, lon, std::strlen(lon));
        elevationSeen_ = timeSeen_ = false;
    }

    // Only between points, so that a batch holds whole points.
    void handOverWhenFull() {
        if (out_->size >= batchBytes_) handOver();
    }

    XML_Parser parser_;
    Channel* channel_ = nullptr;
    Bytes* out_ = nullptr;
    Bytes spare_;
    std::size_t batchBytes_ = 0;
    bool stopped_ = false;
    std::size_t pointStart_ = kNoPoint;  // where the point under way starts in the batch
    int depth_ = 0;
    std::array<Role, kMaxGpxDepth + 2> roles_{};
    bool nameSeen_ = false;
    bool elevationSeen_ = false, timeSeen_ = false;
    static constexpr std::size_t kTextHead = 1 + sizeof(uint32_t);
    std::size_t textStart_ = 0;  // where the text under way starts in the batch
    int textDepth_ = 0;          // of the element whose text is read; 0 for none
    TextState textState_ = kDone;
    bool textFound_ = false, blankPending_ = false;
    bool noting_ = false, inCdata_ = false, doctypeSeen_ = false;
    long long lastEnd_ = -1;
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

// What feeding the file to the parser ended with.
struct Feed {
    bool failed = false;  // the parser stopped: an XML error or a limit
    std::string error;    // the file could not be read
};

// Reads the whole file into the parser; `cp1252` converts its bytes to UTF-8 first.
Feed feed(int fd, XML_Parser parser, bool cp1252) {
    Feed result;
    std::vector<char> chunk(cp1252 ? kChunk : 0);
    for (;;) {
        ssize_t n;
        if (cp1252) {
            n = ::read(fd, chunk.data(), chunk.size());
        } else {
            void* buffer = XML_GetBuffer(parser, kChunk);
            if (!buffer) {
                result.failed = true;
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
            result.failed = true;
            break;
        }
        if (n == 0) break;
    }
    return result;
}

// The same, from the chunks the store's thread reads.
Feed feed(Pipe& pipe, XML_Parser parser, bool cp1252) {
    Feed result;
    for (;;) {
        const Chunk* chunk = pipe.nextChunk();
        if (!chunk) {
            result.failed = true;
            break;
        }
        const ssize_t n = chunk->size;
        if (n < 0) {
            result.error = std::strerror(chunk->error);
            pipe.parsed();
            break;
        }
        XML_Status status;
        if (cp1252) {
            const std::string utf8 = cp1252ToUtf8(std::string_view(chunk->data.get(), static_cast<std::size_t>(n)));
            status = XML_Parse(parser, utf8.data(), static_cast<int>(utf8.size()), n == 0);
        } else {
            status = XML_Parse(parser, chunk->data.get(), static_cast<int>(n), n == 0);
        }
        pipe.parsed();
        if (status != XML_STATUS_OK) {
            result.failed = true;
            break;
        }
        if (n == 0) break;
    }
    return result;
}

// Batches as large as 1/32 of the file, within bounds: memory a small part
// of what the points take, and few hand-overs (each wakes the other thread,
// which costs as much as reading a hundred points).
constexpr std::size_t kDirectBatchBytes = 16 << 10;
std::size_t batchBytesFor(long long fileBytes) {
    return static_cast<std::size_t>(std::clamp(fileBytes / 32, 64LL << 10, 256LL << 10));
}

// One pass through the file; `cp1252` converts its bytes to UTF-8 first.
GpxImport parse(int fd, const std::string& fileName, bool cp1252, bool twoThreads, std::size_t batchBytes,
                bool* notUtf8) {
    GpxImport result;
    *notUtf8 = false;
    ::lseek(fd, 0, SEEK_SET);
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(
        XML_ParserCreate("UTF-8"),  // whatever the file declares, as before
        XML_ParserFree);
    XML_Parser parser = owner.get();
    if (!parser) {
        result.error = "out of memory";
        return result;
    }
    Store store(fileName);
    Reader reader(parser);
    Feed fed;
    std::optional<Pipe> pipe;
    std::thread parsing;
    if (twoThreads) {
        pipe.emplace(batchBytes, fd);
        reader.use(*pipe, pipe->first(), batchBytes);
        try {
            parsing = std::thread([&] {
                pthread_setname_np(pthread_self(), "gpx parser");
                try {
                    fed = feed(*pipe, parser, cp1252);
                } catch (const std::exception& e) {
                    fed.error = e.what();
                }
                reader.finish();
            });
        } catch (const std::system_error&) {
            pipe.reset();  // no thread to be had: read on this one
        }
    }
    if (pipe) {
        // However the store's side ends, the parser's thread is stopped and waited for.
        struct Join {
            Pipe& pipe;
            std::thread& thread;
            ~Join() {
                pipe.cancel();
                thread.join();
            }
        } join{*pipe, parsing};
        while (const Bytes* full = pipe->next()) {
            store.apply(*full);
            pipe->release();
        }
    } else {
        // Applied at once, a batch can be small.
        Direct direct(store);
        Bytes batch;
        batch.reserve(kDirectBatchBytes);
        reader.use(direct, &batch, kDirectBatchBytes);
        fed = feed(fd, parser, cp1252);
        reader.finish();
    }
    result.error = fed.error;
    if (reader.tooDeep) {
        result.error = "elements nested too deeply";
    } else if (reader.tooManyAttributes) {
        result.error = "too many attributes in one element";
    } else if (fed.failed) {
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
    result.points = store.points;
    result.skipped = store.skipped;
    return result;
}

// Up to `bytes` of the file from `offset` on, fewer at its end; -1 when it cannot be read.
ssize_t readAt(int fd, char* to, std::size_t bytes, long long offset) {
    std::size_t done = 0;
    while (done < bytes) {
        const auto at = static_cast<off_t>(offset + static_cast<long long>(done));
        const ssize_t n = ::pread(fd, to + done, bytes - done, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Where the file is cut for a second parser: the first track or route point
// that starts within a short way after the middle (cuts at 2/5 and 11/20
// were slower).
struct Cut {
    long long at = -1;
    bool route = false;
};
Cut findCut(int fd, long long fileBytes) {
    constexpr long long kWindow = 64 << 10;
    const long long from = fileBytes / 2;
    std::string window(static_cast<std::size_t>(std::min(kWindow, fileBytes - from)), '\0');
    const ssize_t n = readAt(fd, window.data(), window.size(), from);
    Cut cut;
    if (n <= 0) return cut;
    window.resize(static_cast<std::size_t>(n));
    const std::size_t track = window.find("<trkpt"), route = window.find("<rtept");
    if (track == std::string::npos && route == std::string::npos) return cut;
    cut.route = route < track;
    cut.at = from + static_cast<long long>(std::min(track, route));
    return cut;
}

// The second parser's part: from the cut to the end of its track segment or
// route, read as if the file opened that segment or route right before it.
struct Second {
    long long from = 0;
    bool route = false;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Bytes>> full;  // handed over, waiting for the store
    bool finished = false, read = false;       // under `mutex`
    long long end = -1;                        // where the segment or route ends, once read
};

// The second parser's batches, kept until the store takes them.
class Queue final : public Channel {
public:
    Queue(Second& second, std::size_t batchBytes) : second_(second), batchBytes_(batchBytes) { fresh(); }
    Bytes* first() { return filling_.get(); }
    Bytes* handOver(Bytes*) override {
        {
            std::lock_guard lock(second_.mutex);
            second_.full.push_back(std::move(filling_));
        }
        second_.changed.notify_all();
        fresh();
        return filling_.get();
    }
    void finish(Bytes* last) override {
        if (last && last->size > 0) handOver(last);
    }

private:
    void fresh() {
        filling_ = std::make_unique<Bytes>();
        filling_->reserve(batchBytes_);
    }
    Second& second_;
    std::size_t batchBytes_;
    std::unique_ptr<Bytes> filling_;
};

void readSecond(int fd, Second& second, std::size_t batchBytes) {
    bool read = false;
    long long end = -1;
    try {
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(XML_ParserCreate("UTF-8"), XML_ParserFree);
        XML_Parser parser = owner.get();
        if (parser) {
            Reader reader(parser);
            Queue queue(second, batchBytes);
            reader.use(queue, queue.first(), batchBytes);
            const std::string_view opening = second.route ? "<gpx><rte>" : "<gpx><trk><trkseg>";
            const std::string_view closing = second.route ? "</rte></gpx>" : "</trkseg></trk></gpx>";
            const std::string_view ending = second.route ? "</rte" : "</trkseg";
            read = XML_Parse(parser, opening.data(), static_cast<int>(opening.size()), XML_FALSE) == XML_STATUS_OK;
            reader.dropEvents();
            reader.refuseNames = true;
            std::vector<char> chunk(kChunk);
            for (long long at = second.from; read && end < 0;) {
                if (second.cancelled.load(std::memory_order_relaxed)) {
                    read = false;
                    break;
                }
                const ssize_t n = readAt(fd, chunk.data(), chunk.size(), at);
                if (n <= 0) {
                    read = false;
                    break;
                }
                // The end tag, followed by '>' or a blank within the chunk;
                // one that the chunk cuts off is looked for again in the next.
                const std::string_view bytes(chunk.data(), static_cast<std::size_t>(n));
                std::size_t take = n == kChunk ? bytes.size() - ending.size() : bytes.size();
                for (std::size_t found = bytes.find(ending); found != std::string_view::npos;
                     found = bytes.find(ending, found + 1)) {
                    const std::size_t after = found + ending.size();
                    if (after < bytes.size() && bytes[after] != '>' && !isBlank(bytes[after])) continue;
                    take = found;
                    if (after < bytes.size()) end = at + static_cast<long long>(found);
                    break;
                }
                if (end < 0 && take == 0 && n < kChunk) read = false;  // the file ends in it
                read = read && XML_Parse(parser, bytes.data(), static_cast<int>(take), XML_FALSE) == XML_STATUS_OK;
                at += static_cast<long long>(take);
            }
            read = read &&
                   XML_Parse(parser, closing.data(), static_cast<int>(closing.size()), XML_TRUE) == XML_STATUS_OK;
            reader.finish();
        }
    } catch (const std::exception&) {
        read = false;
    }
    {
        std::lock_guard lock(second.mutex);
        second.finished = true;
        second.read = read;
        second.end = end;
    }
    second.changed.notify_all();
}

// Feeds bytes [from, to) of the file to the parser; `last` when the file
// ends there. `noting` notes where the last event ends, in the last chunk.
bool feedRange(int fd, XML_Parser parser, long long from, long long to, bool last, Reader* noting) {
    for (long long at = from;;) {
        const auto wanted = static_cast<std::size_t>(std::min<long long>(kChunk, to - at));
        void* buffer = XML_GetBuffer(parser, kChunk);
        if (!buffer) return false;
        const ssize_t n = wanted > 0 ? readAt(fd, static_cast<char*>(buffer), wanted, at) : 0;
        if (n < 0 || (n == 0 && wanted > 0)) return false;  // unreadable or shorter than it was
        at += n;
        if (noting && at == to) noting->notePositions(true);
        if (XML_ParseBuffer(parser, static_cast<int>(n), last && at == to) != XML_STATUS_OK) return false;
        if (at == to) return true;
    }
}

// The file read by two parsers at once, one up to a cut near its middle
// and one from there to the end of that track segment or route; the
// first goes on after it. Nothing when the file is to be read the plain
// way instead: it has no cut, it or its reading failed (errors are told
// as the plain way tells them).
std::optional<GpxImport> parseSplit(int fd, const std::string& fileName, long long fileBytes, std::size_t batchBytes) {
    const Cut cut = findCut(fd, fileBytes);
    if (cut.at < 0) return std::nullopt;
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(XML_ParserCreate("UTF-8"), XML_ParserFree);
    XML_Parser parser = owner.get();
    if (!parser) return std::nullopt;
    Store store(fileName);
    Reader reader(parser);
    Pipe pipe(batchBytes, -1);
    reader.use(pipe, pipe.first(), batchBytes);
    Second second;
    second.from = cut.at;
    second.route = cut.route;
    bool read = false, split = false;
    std::thread first, other;
    // However the store's side ends, both parsers are stopped and waited for.
    struct Join {
        Pipe& pipe;
        Second& second;
        std::thread &first, &other;
        ~Join() {
            pipe.cancel();
            second.cancelled = true;
            if (first.joinable()) first.join();
            if (other.joinable()) other.join();
        }
    } join{pipe, second, first, other};
    try {
        other = std::thread([&] {
            pthread_setname_np(pthread_self(), "gpx parser 2");
            readSecond(fd, second, batchBytes);
        });
        first = std::thread([&] {
            pthread_setname_np(pthread_self(), "gpx parser");
            try {
                read = feedRange(fd, parser, 0, cut.at, false, &reader);
                const bool between =
                    read && (cut.route ? reader.standsIn(cut.at, {kGpx, kRoute})
                                       : reader.standsIn(cut.at, {kGpx, kTrack, kSegment}));
                reader.notePositions(false);
                long long resume = cut.at;
                if (between) {
                    // The store takes the second parser's events from here on, and
                    // takes them back if it fails.
                    reader.handOver();
                    pipe.markSplit();
                    std::unique_lock lock(second.mutex);
                    second.changed.wait(lock, [&] { return second.finished; });
                    if (second.read) resume = second.end;
                    split = second.read;
                } else {
                    second.cancelled = true;
                }
                read = read && feedRange(fd, parser, resume, fileBytes, true, nullptr);
            } catch (const std::exception&) {
                read = false;
            }
            reader.finish();
        });
    } catch (const std::system_error&) {
        return std::nullopt;  // no threads to be had
    }
    for (;;) {
        bool atSplit = false;
        const Bytes* full = pipe.next(&atSplit);
        if (atSplit) {
            const int32_t records = trackRecordCount();
            const int points = store.points, skipped = store.skipped;
            for (;;) {
                std::unique_ptr<Bytes> batch;
                {
                    std::unique_lock lock(second.mutex);
                    second.changed.wait(lock, [&] { return !second.full.empty() || second.finished; });
                    if (second.full.empty()) break;
                    batch = std::move(second.full.front());
                    second.full.pop_front();
                }
                store.apply(*batch);
            }
            std::lock_guard lock(second.mutex);
            if (!second.read) {
                trackStore().truncate(records);
                store.points = points;
                store.skipped = skipped;
            }
            continue;
        }
        if (!full) break;
        store.apply(*full);
        pipe.release();
    }
    first.join();
    if (!read || reader.tooDeep || reader.tooManyAttributes) return std::nullopt;
    GpxImport result;
    result.points = store.points;
    result.skipped = store.skipped;
    result.split = split;
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

GpxImport readGpxFile(const std::string& path, const std::string& fileName, GpxThreads threads) {
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
    const bool large = threads == GpxThreads::kBySize && st.st_size >= kTwoThreadsFrom;
    const bool twoThreads = threads == GpxThreads::kTwo || threads == GpxThreads::kSplit || large;
    const std::size_t batchBytes = batchBytesFor(st.st_size);
    bool notUtf8 = false;
    std::optional<GpxImport> split;
    if (threads == GpxThreads::kSplit || large) {
        split = parseSplit(fd, fileName, st.st_size, batchBytes);
        if (!split) trackStore().truncate(before);
    }
    result = split ? *split : parse(fd, fileName, false, twoThreads, batchBytes, &notUtf8);
    if (notUtf8) {
        trackStore().truncate(before);
        result = parse(fd, fileName, true, twoThreads, batchBytes, &notUtf8);
    }
    ::close(fd);
    if (!result.error.empty()) {
        trackStore().truncate(before);
        result.points = result.skipped = 0;
    }
    return result;
}

}  // namespace bearfix
