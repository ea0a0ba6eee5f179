#include "tracks/track_journal.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/message_log.h"
#include "support/whole_file.h"

namespace bearfix {

namespace {

constexpr char kMagic[8] = {'B', 'F', 'T', 'R', 'A', 'C', 'K', 'J'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kFrameTarget = 64 << 10;  // a frame is closed once its payload is this long
constexpr uint64_t kRecordRoom = 8192;           // more than any one record takes

enum Record : uint8_t { kSegment = 1, kContinue = 2, kPoint = 3, kImport = 4 };
enum Field : uint8_t {
    kHeight = 1,
    kTime = 2,
    kSpeed = 4,
    kHdop = 8,
    kSatellites = 16,
    kSample = 32,
    kUser = 64,
    kLonGiven = 128,
};
constexpr std::size_t kMaxPath = 4096;

constexpr int64_t kUnitsPerTurn = int64_t{360} * kUnitsPerDegree;

// The store's 1/360000 degree and the journal's 1e-7 degree: both ways
// rounded, so that a unit comes back as itself (1e-7 degree is 1/28 unit).
int32_t toJournal(int64_t units) { return static_cast<int32_t>(std::llround(static_cast<double>(units) * 250.0 / 9.0)); }
int32_t toUnits(int32_t journal) { return static_cast<int32_t>(std::llround(static_cast<double>(journal) * 9.0 / 250.0)); }

uint32_t crc(std::string_view bytes) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

void put8(std::string& out, uint8_t v) { out += static_cast<char>(v); }
void put16(std::string& out, uint16_t v) {
    for (int i = 0; i < 2; ++i) out += static_cast<char>(v >> (8 * i));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
void put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
void putDouble(std::string& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64(out, bits);
}

// Reading a payload: every take fails (and stays failed) past its end.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool done() const { return at_ >= bytes_.size(); }
    bool ok() const { return ok_; }
    std::size_t at() const { return at_; }
    uint64_t take(int n) {
        if (!ok_ || bytes_.size() - at_ < static_cast<std::size_t>(n)) {
            ok_ = false;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t{static_cast<uint8_t>(bytes_[at_ + i])} << (8 * i);
        at_ += static_cast<std::size_t>(n);
        return v;
    }
    double takeDouble() {
        const uint64_t bits = take(8);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) ok_ = false;
        return v;
    }
    std::string_view takeText(std::size_t n) {
        if (!ok_ || bytes_.size() - at_ < n) {
            ok_ = false;
            return {};
        }
        at_ += n;
        return bytes_.substr(at_ - n, n);
    }
    void fail() { ok_ = false; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar
// (Howard Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// A point's time in ms since 1970, when its fields make one.
bool timeOf(const TrackPoint& p, int64_t& ms) {
    if (!p.dateValid || !p.timeValid || p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour > 23 ||
        p.minute > 59 || p.second > 60 || p.hundredths > 99)
        return false;
    const int64_t days = daysFromCivil(2000 + p.yearSince2000, p.month, p.day);
    ms = ((days * 24 + p.hour) * 60 + p.minute) * 60000 + p.second * 1000 + p.hundredths * 10;
    return true;
}

void encodePoint(const TrackPoint& p, int32_t lat, int32_t lon, std::string& out) {
    int64_t ms = 0;
    uint8_t fields = p.lonGiven ? kLonGiven : 0;
    const auto given = [](double v) { return v != 0.0 && std::isfinite(v); };
    if (given(p.altitude)) fields |= kHeight;
    if (timeOf(p, ms)) fields |= kTime;
    if (given(p.speedKmh)) fields |= kSpeed;
    if (given(p.hdop)) fields |= kHdop;
    if (p.satellites) fields |= kSatellites;
    if (p.sample) fields |= kSample;
    if (given(p.user1)) fields |= kUser;
    put8(out, kPoint);
    put8(out, fields);
    put32(out, static_cast<uint32_t>(lat));
    put32(out, static_cast<uint32_t>(lon));
    if (fields & kHeight) putDouble(out, p.altitude);
    if (fields & kTime) put64(out, static_cast<uint64_t>(ms));
    if (fields & kSpeed) putDouble(out, p.speedKmh);
    if (fields & kHdop) putDouble(out, p.hdop);
    if (fields & kSatellites) put8(out, p.satellites);
    if (fields & kSample) put32(out, static_cast<uint32_t>(p.sample));
    if (fields & kUser) putDouble(out, p.user1);
}

void closeFrame(std::string& payload, std::string& out) {
    if (payload.empty()) return;
    put32(out, static_cast<uint32_t>(payload.size()));
    put32(out, crc(payload));
    out += payload;
    payload.clear();
}

}  // namespace

std::string TrackJournalEncoder::header() {
    std::string out(kMagic, sizeof kMagic);
    put32(out, kVersion);
    put32(out, 0);
    return out;
}

void TrackJournalEncoder::reset() {
    ids_.clear();
    nextId_ = 1;
    points_ = headers_ = 0;
    bytes_ = 0;
    marks_ = 0;
    full_ = false;
}

void TrackJournalEncoder::encode(const TrackBuffer& store, int32_t from, int32_t to,
                                 const std::vector<TrackJournalImport>& imports, std::string& out) {
    const std::size_t start = out.size();
    std::string payload;
    const auto room = [&] { return bytes_ + (out.size() - start) + payload.size() + kRecordRoom <= limits.maxBytes; };
    // The marks of the imports that begin at or before record `i`.
    const auto marks = [&](int32_t i) {
        for (; marks_ < imports.size() && imports[marks_].first <= i; ++marks_) {
            const TrackJournalImport& m = imports[marks_];
            const std::size_t n = std::min(m.path.size(), kMaxPath);
            if (n == 0) continue;
            put8(payload, kImport);
            put8(payload, static_cast<uint8_t>(m.type));
            put16(payload, static_cast<uint16_t>(n));
            payload.append(m.path, 0, n);
        }
    };
    for (int32_t i = from; i < to && !full_; ++i) {
        marks(i);
        const TrackPoint& r = *store.recordAt(i);
        if (r.type == kTrackSegment) {
            if (headers_ >= limits.maxHeaders || !room()) {
                full_ = true;
                break;
            }
            ++headers_;
            const auto known = ids_.find(r.segment);
            if (r.continues && known != ids_.end()) {
                put8(payload, kContinue);
                put32(payload, known->second);
            } else {
                const uint32_t id = nextId_++;
                ids_[r.segment] = id;
                const std::size_t n = strnlen(r.name, sizeof r.name);
                put8(payload, kSegment);
                put32(payload, id);
                put32(payload, static_cast<uint32_t>(r.colour));
                put8(payload, static_cast<uint8_t>(r.origin));
                put8(payload, static_cast<uint8_t>(n));
                payload.append(r.name, n);
            }
        } else if (r.type == kTrackPoint && r.valid) {
            if (std::abs(int64_t{r.lat}) > int64_t{90} * kUnitsPerDegree) continue;  // off the earth
            if (points_ >= limits.maxPoints || !room()) {
                full_ = true;
                break;
            }
            ++points_;
            // The same place within -180..180.
            int64_t lon = r.lon % kUnitsPerTurn;
            if (lon > kUnitsPerTurn / 2) lon -= kUnitsPerTurn;
            if (lon < -kUnitsPerTurn / 2) lon += kUnitsPerTurn;
            encodePoint(r, toJournal(r.lat), toJournal(lon), payload);
        }
        if (payload.size() >= kFrameTarget) closeFrame(payload, out);
    }
    if (!full_) marks(to);
    closeFrame(payload, out);
    bytes_ += out.size() - start;
}

TrackJournalRead decodeTrackJournal(std::string_view bytes, TrackBuffer& store, TrackJournalEncoder* resume,
                                    const TrackJournalLimits& limits) {
    TrackJournalRead r;
    r.status = TrackJournalRead::Status::Read;
    const std::string header = TrackJournalEncoder::header();
    if (bytes.size() < kHeaderBytes) {
        if (header.compare(0, bytes.size(), bytes) != 0) {
            r.status = TrackJournalRead::Status::Unreadable;
            r.problem = "not a track journal";
        } else {
            r.tornBytes = bytes.size();  // a header begun and not finished
        }
        return r;
    }
    if (bytes.compare(0, sizeof kMagic, std::string_view(kMagic, sizeof kMagic)) != 0) {
        r.status = TrackJournalRead::Status::Unreadable;
        r.problem = "not a track journal";
        return r;
    }
    Reader head(bytes.substr(sizeof kMagic, 8));
    const auto version = static_cast<uint32_t>(head.take(4));
    if (version != kVersion) {
        r.status = TrackJournalRead::Status::Unreadable;
        r.problem = "a track journal of format " + std::to_string(version) +
                    (version > kVersion ? ", written by a newer Bearfix" : ", which this Bearfix does not know");
        return r;
    }

    std::unordered_map<uint32_t, int32_t> numberOf;  // a journal id: the store's segment number
    std::size_t at = kHeaderBytes;
    r.goodBytes = at;
    const auto damage = [&](std::string what) {
        r.damaged = true;
        r.problem = std::move(what);
    };
    while (at < bytes.size() && !r.damaged) {
        const std::size_t left = bytes.size() - at;
        Reader frame(bytes.substr(at, 8));
        const auto length = static_cast<uint32_t>(frame.take(4));
        const auto sum = static_cast<uint32_t>(frame.take(4));
        if (left < 8 || (length > left - 8 && length <= limits.maxFrame)) {
            r.tornBytes = left;  // the last write, unfinished
            break;
        }
        if (bytes.find_first_not_of('\0', at) == std::string_view::npos) {
            r.tornBytes = left;  // a tail the file system filled with zeros after a crash
            break;
        }
        if (length == 0 || length > limits.maxFrame) {
            damage("a frame of " + std::to_string(length) + " bytes at byte " + std::to_string(at));
            break;
        }
        const std::string_view payload = bytes.substr(at + 8, length);
        if (crc(payload) != sum) {
            if (length == left - 8) {
                r.tornBytes = left;
            } else {
                damage("a damaged frame at byte " + std::to_string(at));
            }
            break;
        }
        Reader in(payload);
        while (!in.done() && !r.damaged) {
            const std::size_t recordAt = at + 8 + in.at();
            const auto type = static_cast<uint8_t>(in.take(1));
            if (type == kSegment || type == kContinue) {
                const auto id = static_cast<uint32_t>(in.take(4));
                const auto colour = static_cast<int32_t>(in.take(type == kSegment ? 4 : 0));
                const auto origin = static_cast<uint8_t>(in.take(type == kSegment ? 1 : 0));
                const std::string name(in.takeText(type == kSegment ? in.take(1) : 0));
                const auto known = numberOf.find(id);
                if (!in.ok() || id == 0 || origin >= kTrackOrigins || (type == kContinue && known == numberOf.end())) {
                    damage("a bad segment record at byte " + std::to_string(recordAt));
                } else if (r.segments >= limits.maxHeaders) {
                    damage("more than " + std::to_string(limits.maxHeaders) + " segments");
                } else if (type == kSegment) {
                    const int32_t number = store.beginSegment(name.c_str(), colour, static_cast<TrackOrigin>(origin));
                    if (number == 0) damage("out of memory");
                    numberOf[id] = number;
                    ++r.segments;
                } else {
                    if (!store.continueSegment(known->second)) damage("out of memory");
                    ++r.segments;
                }
            } else if (type == kPoint) {
                TrackPoint p;
                initTrackPoint(p);
                const auto fields = static_cast<uint8_t>(in.take(1));
                const auto lat = static_cast<int32_t>(in.take(4));
                const auto lon = static_cast<int32_t>(in.take(4));
                if (fields & kHeight) p.altitude = in.takeDouble();
                const auto ms = static_cast<int64_t>(in.take(fields & kTime ? 8 : 0));
                if (fields & kSpeed) p.speedKmh = in.takeDouble();
                if (fields & kHdop) p.hdop = in.takeDouble();
                p.satellites = static_cast<uint8_t>(in.take(fields & kSatellites ? 1 : 0));
                p.sample = static_cast<int32_t>(in.take(fields & kSample ? 4 : 0));
                if (fields & kUser) p.user1 = in.takeDouble();
                if (!in.ok() || std::abs(int64_t{lat}) > 900'000'000 || std::abs(int64_t{lon}) > 1'800'000'000) {
                    damage("a bad point record at byte " + std::to_string(recordAt));
                    break;
                }
                if (r.points >= limits.maxPoints) {
                    damage("more than " + std::to_string(limits.maxPoints) + " points");
                    break;
                }
                p.lat = toUnits(lat);
                p.lon = toUnits(lon);
                p.lonGiven = fields & kLonGiven ? 1 : 0;
                p.valid = 1;
                if (fields & kTime) {
                    setTrackPointTime(p, static_cast<double>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0)));
                    if (p.timeValid) p.hundredths = static_cast<uint8_t>(((ms % 1000 + 1000) % 1000) / 10);
                }
                if (!store.append(p)) damage("out of memory");
                ++r.points;
            } else if (type == kImport) {
                const auto fileType = static_cast<int>(in.take(1));
                const auto n = static_cast<std::size_t>(in.take(2));
                const std::string path(in.takeText(n));
                if (!in.ok() || n == 0 || n > kMaxPath) {
                    damage("a bad import record at byte " + std::to_string(recordAt));
                    break;
                }
                r.imports.push_back({store.recordCount(), path, fileType});
            } else {
                damage("an unknown record " + std::to_string(type) + " at byte " + std::to_string(recordAt));
            }
        }
        if (!r.damaged) r.goodBytes = at += 8 + length;
    }
    if (r.damaged) r.problem += ": the rest is not read";

    if (resume) {
        resume->reset();
        for (const auto& [id, number] : numberOf) {
            resume->ids_[number] = id;
            resume->nextId_ = std::max(resume->nextId_, id + 1);
        }
        resume->points_ = r.points;
        resume->headers_ = r.segments;
        resume->bytes_ = r.goodBytes;
        resume->marks_ = r.imports.size();
    }
    return r;
}

TrackJournalRead readTrackJournal(const std::string& path, TrackBuffer& store, TrackJournalEncoder* resume,
                                  const TrackJournalLimits& limits) {
    std::string bytes, reason;
    switch (readWholeFile(path, limits.maxBytes, bytes, &reason)) {
        case WholeFileRead::Missing: return {};
        case WholeFileRead::Unreadable: {
            TrackJournalRead r;
            r.status = TrackJournalRead::Status::Unreadable;
            r.problem = reason;
            return r;
        }
        case WholeFileRead::Read: break;
    }
    return decodeTrackJournal(bytes, store, resume, limits);
}

// ---- the window's journal ----------------------------------------------------

TrackJournal::TrackJournal(std::string path, TrackJournalLimits limits) : file_(std::move(path)) {
    encoder_.limits = limits;
}

TrackJournalRead TrackJournal::restore(TrackBuffer& store) {
    const std::string& path = file_.path();
    TrackJournalRead r = readTrackJournal(path, store, &encoder_, encoder_.limits);
    written_ = store.recordCount();
    store.takeLowestChange();  // what was read is what the journal holds
    imports_ = r.imports;
    restored_ = true;
    fileHolds_ = r.status != TrackJournalRead::Status::Missing;
    mustRewrite_ = r.status != TrackJournalRead::Status::Read || r.damaged || r.goodBytes == 0;
    if (r.status == TrackJournalRead::Status::Unreadable || r.damaged) {
        // Never overwritten: the user may want it, or tell us about it.
        keptAs_ = path + ".bad";
        if (std::rename(path.c_str(), keptAs_.c_str()) != 0) keptAs_.clear();
    } else if (!mustRewrite_ && r.tornBytes > 0) {
        file_.truncate(r.goodBytes);
    }
    return r;
}

void TrackJournal::noteImport(TrackBuffer& store, int32_t first, const std::string& path, int type) {
    takeChanges(store);  // a Clear before the import takes back the marks before it, not this one
    imports_.push_back({first, path, type});
}

void TrackJournal::takeChanges(TrackBuffer& store) {
    const int32_t changed = std::min(store.takeLowestChange(), store.recordCount());
    if (changed >= written_) return;
    // Records the journal holds were removed or changed (a Clear, an import
    // taken back): the journal is written anew.
    std::erase_if(imports_, [changed](const TrackJournalImport& m) { return m.first >= changed; });
    written_ = changed;
    mustRewrite_ = true;
}

void TrackJournal::rewrite(const TrackBuffer& store) {
    encoder_.reset();
    std::string bytes = TrackJournalEncoder::header();
    encoder_.encode(store, 0, store.recordCount(), imports_, bytes);
    file_.replace(std::move(bytes));
    written_ = store.recordCount();
    mustRewrite_ = false;
    fileHolds_ = true;
    if (!encoder_.full()) toldFull_ = false;
}

void TrackJournal::sync(TrackBuffer& store) {
    takeChanges(store);
    const int32_t count = store.recordCount();
    if (!restored_) mustRewrite_ = true;
    restored_ = true;
    // A write that failed may have left a piece behind: the journal is
    // written anew, after a pause while the disk stays full or read-only.
    const bool broken = file_.broken();
    if (broken && retryIn_ > 0) {
        --retryIn_;
    } else if (mustRewrite_ || broken) {
        retryIn_ = broken ? kRetrySyncs : 0;
        if (count > 0 || fileHolds_) rewrite(store);  // no file before there is something to keep
    } else if (count > written_) {
        std::string bytes;
        encoder_.encode(store, written_, count, imports_, bytes);
        if (!bytes.empty()) file_.append(std::move(bytes));
        written_ = count;
    }
    if (const std::string error = file_.takeError(); !error.empty() && error != lastError_) {
        logMessage(MessageLevel::Warning, "Warning: tracks not saved: %s", error.c_str());
        lastError_ = error;
    }
    if (encoder_.full() && !toldFull_) {
        logMessage(MessageLevel::Warning,
                   "Warning: the track journal holds all it may (%lld points, %llu MB): later track points are not "
                   "saved",
                   static_cast<long long>(encoder_.limits.maxPoints),
                   static_cast<unsigned long long>(encoder_.limits.maxBytes >> 20));
        toldFull_ = true;
    }
}

void TrackJournal::close(TrackBuffer& store) {
    sync(store);
    file_.finish();
    if (const std::string error = file_.takeError(); !error.empty())
        logMessage(MessageLevel::Warning, "Warning: tracks not saved: %s", error.c_str());
}

}  // namespace bearfix
