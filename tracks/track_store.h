// The GPS tracks of a run: an append-only sequence of fixed-size records,
// each a point or a segment header that starts a new named track. Filled by
// the track import, the GPS and remote commands; drawn by the map overlay.
//
// Points of several tracks that grow at once (the own GPS and a teammate's)
// arrive interleaved. Each segment has a number; a point for a segment other
// than the last one begun goes in after a continuation header of that
// segment, and the readers (forEachInSegmentOrder) put the pieces together.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "map/map_view.h"
#include "map/point_sink.h"

namespace bearfix {

inline constexpr uint8_t kTrackPoint = 1;
inline constexpr uint8_t kTrackSegment = 0;

// What began a segment: a track file, the own GPS, a remote command.
enum class TrackOrigin : uint8_t { File = 0, Gps = 1, Remote = 2 };
inline constexpr int kTrackOrigins = 3;

struct TrackPoint {
    uint8_t type = kTrackPoint;  // kTrackPoint or kTrackSegment; readers skip anything else
    // A point's fields. Time and date are UTC.
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint8_t hundredths = 0;  // always 0
    uint8_t timeValid = 0;
    uint8_t yearSince2000 = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t dateValid = 0;
    uint8_t lonGiven = 0;  // a remote command carried a longitude
    uint8_t valid = 0;     // drawn only when set
    uint8_t satellites = 0;
    // A segment header's: what began the segment, and 1 for a header that
    // continues an earlier segment (after another's records).
    TrackOrigin origin = TrackOrigin::File;
    uint8_t continues = 0;
    int32_t lat = 0;  // 1/360000 degree, north positive
    int32_t lon = 0;  // 1/360000 degree, east positive
    double speedKmh = 0;
    double hdop = 0;
    double altitude = 0;  // metres above sea level
    int32_t sample = 0;
    double user1 = 0;
    // A segment header's fields.
    int32_t colour = 0;  // 0x00BBGGRR (higher bits ignored), -1 the track settings' colour
    char name[24] = {};  // at most 23 characters
    int32_t segment = 0;  // the segment's number, from 1; never used again in a run, a clear included
};

inline constexpr int kUnitsPerDegree = 360000;

// Degrees as units of 1/360000 degree, truncated toward zero. Values no
// position has (beyond +-5965 degrees) saturate; NaN reads as 0.
int32_t degreesToUnits(double degrees);

// All fields zero, then type = point.
void initTrackPoint(TrackPoint& point);

struct CalendarTime {
    int year, month, day, hour, minute;
    double second;
};
// Seconds since 1970-01-01 00:00 UTC to the proleptic Gregorian calendar.
CalendarTime unixTimeToCalendar(double seconds);
// Sets the time and date fields for years 2000 and later; earlier times
// change nothing.
void setTrackPointTime(TrackPoint& point, double seconds);

// The store. Records are kept in slabs that never move: small ones from the
// allocator, so a small import takes little memory, then 6 MiB ones on
// transparent huge pages, so a large import takes few page faults.
class TrackBuffer {
public:
    static constexpr int kBatchPoints = 8001;

    TrackBuffer() = default;
    ~TrackBuffer() { clear(); }
    TrackBuffer(const TrackBuffer&) = delete;
    TrackBuffer& operator=(const TrackBuffer&) = delete;

    // False, and the store unchanged, only when memory runs out. A header
    // gets a number of its own unless it continues a segment that is there.
    bool append(const TrackPoint& record) {
        if (record.type == kTrackSegment) return appendHeader(record);
        if (tail_ == slabEnd_ && !addSlab()) return false;
        new (tail_++) TrackPoint(record);
        ++recordCount_;
        ++changes_;
        return true;
    }
    // A header with the first 23 characters of `name`; its segment's number,
    // 0 when memory runs out.
    int32_t beginSegment(const char* name, int32_t colour, TrackOrigin origin = TrackOrigin::File);
    // `point` into segment `number`, after a header that continues it when
    // the last header is another segment's. False when that segment is not
    // stored (the tracks were cleared) or memory runs out.
    bool appendToSegment(int32_t number, const TrackPoint& point);
    // A header that continues segment `number`, as appendToSegment writes
    // one; false when that segment is not stored or memory runs out.
    bool continueSegment(int32_t number);
    // The last segment begun by `origin`, 0 when none is stored.
    int32_t lastSegment(TrackOrigin origin) const { return lastOfOrigin_[static_cast<int>(origin)]; }
    // The segment of the last header, 0 before the first.
    int32_t openSegment() const { return headers_.empty() ? 0 : headers_.back().number; }
    // The first header of segment `number`; null when it is not stored.
    const TrackPoint* segmentHeader(int32_t number) const;
    // Gives all memory back: the large slabs to the system, the small ones to
    // the allocator.
    void clear();
    // Drops the records from `count` on (a reader taking back what it stored
    // from a file that turned out unreadable).
    void truncate(int32_t count);
    // The name of the segment header at `index` (the first 23 characters).
    void renameSegment(int32_t index, const char* name);
    int32_t recordCount() const { return recordCount_; }
    // Counts every change (an append, a clear): drawings of the tracks are
    // kept while it stays the same.
    uint64_t changes() const { return changes_; }
    // The lowest index of a record removed or changed in place since the
    // last call (INT32_MAX when none): what a copy of the records must take
    // back. Appends are no change.
    int32_t takeLowestChange() {
        const int32_t lowest = lowestChange_;
        lowestChange_ = INT32_MAX;
        return lowest;
    }
    // Null at or past the end. Constant time in any order.
    const TrackPoint* recordAt(int32_t index) const;

    // The records of whole segments: each segment's first header, then the
    // points of all its pieces (continuation headers left out), segment
    // after segment in the order they began; points stored before any
    // header come first.
    template <class Visit>
    void forEachInSegmentOrder(Visit&& visit) const {
        if (continuations_ == 0) {
            for (const TrackPoint& r : *this) visit(r);
            return;
        }
        for (const SegmentRun& run : segmentRuns())
            for (const Piece& piece : run.pieces)
                for (int32_t i = piece.first; i < piece.end; ++i) visit(*recordAt(i));
    }

    // The first 65536 records (6 MiB) are kept in small slabs of 32 records,
    // which fit in the gaps that other work leaves in the heap, the rest in
    // slabs of 65536 (three huge pages).
    static constexpr int32_t kSmallSlabRecords = 32;
    static constexpr int32_t kLargeSlabRecords = 65536;
    static constexpr int kSmallSlabs = kLargeSlabRecords / kSmallSlabRecords;
    // Enough slabs for almost 2^31 records.
    static constexpr int kMaxSlabs = kSmallSlabs + (INT32_MAX / kLargeSlabRecords) - 1;
    static constexpr int32_t slabRecords(int slab) { return slab < kSmallSlabs ? kSmallSlabRecords : kLargeSlabRecords; }

    // Every record in order: for (const TrackPoint& r : store).
    class Iterator {
    public:
        const TrackPoint& operator*() const { return *record_; }
        Iterator& operator++() {
            if (++record_ == stop_) enterSlab(slab_ + 1);
            return *this;
        }
        bool operator==(const Iterator& other) const { return record_ == other.record_; }

    private:
        friend class TrackBuffer;
        Iterator(const TrackBuffer* store, int slab) : store_(store) { enterSlab(slab); }
        Iterator() = default;
        void enterSlab(int slab);
        const TrackBuffer* store_ = nullptr;
        int slab_ = 0;
        const TrackPoint* record_ = nullptr;  // null at the end
        const TrackPoint* stop_ = nullptr;
    };
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(); }

    // Hands every valid point to `sink`, segment by segment, in batches of up
    // to 8001, each segment between an item start and an item end with its
    // name in the view's item label and its colour in the item colour. True
    // when a point was delivered.
    bool forEachBatch(MapView& view, const PointSink& sink) const;

private:
    struct Header {
        int32_t index;   // of the record
        int32_t number;  // of its segment
    };
    struct Piece {
        int32_t first, end;  // records [first, end)
    };
    struct SegmentRun {
        std::vector<Piece> pieces;
    };
    bool appendHeader(TrackPoint header);
    std::vector<SegmentRun> segmentRuns() const;
    void forgetHeadersFrom(int32_t count);
    bool addSlab();
    // The records of slab k in use: all of them but in the last slab.
    const TrackPoint* slabStop(int slab) const {
        return slab + 1 == slabCount_ ? tail_ : slabs_[slab] + slabRecords(slab);
    }

    TrackPoint** slabs_ = nullptr;  // slabCount_ of them, in a table of slabTableSize_
    int slabCount_ = 0;
    int slabTableSize_ = 0;
    TrackPoint* tail_ = nullptr;     // where the next record goes
    TrackPoint* slabEnd_ = nullptr;  // the end of the last slab
    int32_t recordCount_ = 0;
    uint64_t changes_ = 0;
    // Every header in order; the first header of each segment by number.
    std::vector<Header> headers_;
    std::vector<Header> firstHeaders_;
    int32_t nextNumber_ = 1;
    int32_t continuations_ = 0;
    int32_t lastOfOrigin_[kTrackOrigins] = {};
    int32_t lowestChange_ = INT32_MAX;
};

// The program's one store, and the names its users know it by.
TrackBuffer& trackStore();
inline bool appendTrackRecord(const TrackPoint& record) { return trackStore().append(record); }
inline int32_t beginTrackSegment(const char* name, int32_t colour, TrackOrigin origin = TrackOrigin::File) {
    return trackStore().beginSegment(name, colour, origin);
}
inline void clearTracks() { trackStore().clear(); }
inline int32_t trackRecordCount() { return trackStore().recordCount(); }
inline uint64_t trackChanges() { return trackStore().changes(); }
inline const TrackPoint* trackRecordAt(int32_t index) { return trackStore().recordAt(index); }

inline bool forEachTrackBatch(MapView& view, const PointSink& sink) { return trackStore().forEachBatch(view, sink); }

}  // namespace bearfix
