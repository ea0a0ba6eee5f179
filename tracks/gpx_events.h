// The GPX reader's two ends of its events: the XML parser's handlers that
// turn elements into events (Reader), and what applies them to the track
// store (Store), with the reading of their numbers and times. Only the GPX
// reader uses this.
#pragma once

#include <expat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/cp1252.h"
#include "tracks/gpx_batches.h"
#include "tracks/gpx_reader.h"
#include "tracks/track_store.h"

namespace bearfix::gpx {

inline constexpr std::size_t kMaxText = 1024;  // of a name, elevation or time: enough for any of them

// One test for the common characters above the blank.
inline bool isBlank(char c) {
    constexpr uint64_t kBlanks = 1ULL << ' ' | 1ULL << '\t' | 1ULL << '\n' | 1ULL << '\r';
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && (kBlanks >> u & 1) != 0;
}

// Whether one of the 8 characters at `s` is a blank or below it: one test
// for them all (a byte below 0x21 borrows into its own top bit; a byte from
// 0x80 up has that bit set and is not taken).
inline bool anyBlankOrBelow(const char* s) {
    uint64_t word;
    std::memcpy(&word, s, sizeof word);
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    return ((word - kOnes * 0x21) & ~word & kOnes * 0x80) != 0;
}

inline bool scanNumber(const char*& c, const char* end, double* value) { return scanDecimal(c, end, value); }

// A finite number that is the whole of a NUL-terminated text (an attribute,
// an element's text) ending at `end`, blanks around it and one '+' before it
// allowed.
inline bool wholeNumber(const char* text, const char* end, double* value) {
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
inline bool named(const char* name, const char (&literal)[N]) {
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
inline bool plainUtcTime(const char* t, std::size_t size, TrackPoint& point) {
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

}  // namespace bearfix::gpx
