// The GPS tracks of a run: an append-only sequence of fixed-size records,
// each a point or a segment header that starts a new named track. Filled by
// the track import and by remote commands; drawn by the map overlay.
#pragma once

#include <cstdint>

#include "map/map_view.h"
#include "map/point_sink.h"

namespace bearfix {

inline constexpr uint8_t kTrackPoint = 1;
inline constexpr uint8_t kTrackSegment = 0;

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

// The store. Records are kept in blocks of 20 that never move.
class TrackBuffer {
public:
    static constexpr int kBlockRecords = 20;
    static constexpr int kBatchPoints = 8001;

    TrackBuffer() = default;
    ~TrackBuffer() { clear(); }
    TrackBuffer(const TrackBuffer&) = delete;
    TrackBuffer& operator=(const TrackBuffer&) = delete;

    // False, and the store unchanged, only when memory runs out.
    bool append(const TrackPoint& record);
    // A header with the first 23 characters of `name`.
    bool beginSegment(const char* name, int32_t colour);
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
    // Null at or past the end. Goes on from the block of the look-up before,
    // so a walk through the store in order is linear.
    const TrackPoint* recordAt(int32_t index) const;

private:
    struct Block;

public:
    // Every record in order: for (const TrackPoint& r : store).
    class Iterator {
    public:
        const TrackPoint& operator*() const;
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return block_ == other.block_ && index_ == other.index_; }

    private:
        friend class TrackBuffer;
        explicit Iterator(const Block* block) : block_(block) {}
        const Block* block_ = nullptr;
        int index_ = 0;
    };
    Iterator begin() const { return Iterator(head_ && head_->used > 0 ? head_ : nullptr); }
    Iterator end() const { return Iterator(nullptr); }

    // Hands every valid point to `sink`, segment by segment, in batches of up
    // to 8001, each segment between an item start and an item end with its
    // name in the view's item label and its colour in the item colour. True
    // when a point was delivered.
    bool forEachBatch(MapView& view, const PointSink& sink) const;

private:
    struct Block {
        TrackPoint records[kBlockRecords];
        int32_t used = 0;
        Block* next = nullptr;
    };
    Block* head_ = nullptr;
    mutable Block* lastHint_ = nullptr;
    int32_t recordCount_ = 0;
    uint64_t changes_ = 0;
    mutable const Block* cursor_ = nullptr;  // where the last look-up ended
    mutable int32_t cursorFirst_ = 0;        // the index of its first record
};

// The program's one store, and the names its users know it by.
TrackBuffer& trackStore();
inline bool appendTrackRecord(const TrackPoint& record) { return trackStore().append(record); }
inline bool beginTrackSegment(const char* name, int32_t colour) { return trackStore().beginSegment(name, colour); }
inline void clearTracks() { trackStore().clear(); }
inline int32_t trackRecordCount() { return trackStore().recordCount(); }
inline uint64_t trackChanges() { return trackStore().changes(); }
inline const TrackPoint* trackRecordAt(int32_t index) { return trackStore().recordAt(index); }

inline const TrackPoint& TrackBuffer::Iterator::operator*() const { return block_->records[index_]; }

inline TrackBuffer::Iterator& TrackBuffer::Iterator::operator++() {
    if (++index_ == block_->used) {
        block_ = block_->next && block_->next->used > 0 ? block_->next : nullptr;
        index_ = 0;
    }
    return *this;
}
inline bool forEachTrackBatch(MapView& view, const PointSink& sink) { return trackStore().forEachBatch(view, sink); }

}  // namespace bearfix
