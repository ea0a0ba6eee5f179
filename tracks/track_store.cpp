#include "tracks/track_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace bearfix {

namespace {

constexpr double kRadiansPerUnit = 0.017453292519943295 / kUnitsPerDegree;

// The civil date of a day count from 1970-01-01 (Howard Hinnant's algorithm;
// exact for the whole proleptic Gregorian calendar).
void civilFromDays(long days, int* year, int* month, int* day) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long mp = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

TrackBuffer& trackStore() {
    static TrackBuffer store;
    return store;
}

int32_t degreesToUnits(double degrees) {
    const double units = degrees * kUnitsPerDegree;
    if (!(units == units)) return 0;
    return static_cast<int32_t>(std::clamp(units, -2147483648.0, 2147483647.0));
}

void initTrackPoint(TrackPoint& point) {
    point = TrackPoint{};
    point.type = kTrackPoint;
}

CalendarTime unixTimeToCalendar(double seconds) {
    CalendarTime t{};
    if (!(std::fabs(seconds) < 1e15)) return t;  // NaN, or beyond any calendar of use
    // In whole seconds, as integers: no rounding can make 59.9 s read 58, and
    // a time a hair before midnight stays on its day.
    const double whole = std::floor(seconds);
    const auto all = static_cast<int64_t>(whole);
    const int64_t days = all / 86400 - (all % 86400 < 0 ? 1 : 0);
    const auto ofDay = static_cast<int>(all - days * 86400);
    t.hour = ofDay / 3600;
    t.minute = ofDay / 60 % 60;
    t.second = ofDay % 60 + (seconds - whole);
    // Points in a row mostly share their day.
    static thread_local long lastDays = 0;
    static thread_local int lastDate[3] = {1970, 1, 1};
    if (static_cast<long>(days) != lastDays) {
        lastDays = static_cast<long>(days);
        civilFromDays(lastDays, &lastDate[0], &lastDate[1], &lastDate[2]);
    }
    t.year = lastDate[0];
    t.month = lastDate[1];
    t.day = lastDate[2];
    return t;
}

void setTrackPointTime(TrackPoint& point, double seconds) {
    // Beyond the years a record can hold (2000..2255) nothing is set.
    if (!(seconds >= 946684800.0 && seconds < 9025257600.0)) return;
    const CalendarTime t = unixTimeToCalendar(seconds);
    point.hour = static_cast<uint8_t>(t.hour);
    point.minute = static_cast<uint8_t>(t.minute);
    point.second = static_cast<uint8_t>(t.second);
    point.hundredths = 0;
    point.timeValid = 1;
    point.yearSince2000 = static_cast<uint8_t>(t.year - 2000);
    point.month = static_cast<uint8_t>(t.month);
    point.day = static_cast<uint8_t>(t.day);
    point.dateValid = 1;
}

bool TrackBuffer::append(const TrackPoint& record) {
    Block* last = lastHint_ ? lastHint_ : head_;
    while (last && last->next) last = last->next;
    if (!last || last->used == kBlockRecords) {
        Block* block = new (std::nothrow) Block;
        if (!block) return false;
        (last ? last->next : head_) = block;
        last = block;
    }
    lastHint_ = last;
    last->records[last->used++] = record;
    ++recordCount_;
    ++changes_;
    return true;
}

bool TrackBuffer::beginSegment(const char* name, int32_t colour) {
    TrackPoint header{};
    header.type = kTrackSegment;
    header.colour = colour;
    if (name) std::strncpy(header.name, name, sizeof header.name - 1);
    return append(header);
}

void TrackBuffer::clear() {
    while (head_) {
        Block* next = head_->next;
        delete head_;
        head_ = next;
    }
    lastHint_ = nullptr;
    recordCount_ = 0;
    ++changes_;
    cursor_ = nullptr;
    cursorFirst_ = 0;
}

void TrackBuffer::truncate(int32_t count) {
    if (count <= 0) {
        clear();
        return;
    }
    if (count >= recordCount_) return;
    Block* block = head_;
    for (int32_t first = 0; first + kBlockRecords < count; first += kBlockRecords) block = block->next;
    block->used = (count - 1) % kBlockRecords + 1;
    for (Block* next = block->next; next;) {
        Block* after = next->next;
        delete next;
        next = after;
    }
    block->next = nullptr;
    lastHint_ = block;
    recordCount_ = count;
    ++changes_;
    cursor_ = nullptr;
    cursorFirst_ = 0;
}

void TrackBuffer::renameSegment(int32_t index, const char* name) {
    auto* record = const_cast<TrackPoint*>(recordAt(index));
    if (!record || record->type != kTrackSegment) return;
    std::memset(record->name, 0, sizeof record->name);
    std::strncpy(record->name, name, sizeof record->name - 1);
    ++changes_;
}

const TrackPoint* TrackBuffer::recordAt(int32_t index) const {
    if (index < 0 || index >= recordCount_) return nullptr;
    // Every block but the last is full.
    if (!cursor_ || index < cursorFirst_) {
        cursor_ = head_;
        cursorFirst_ = 0;
    }
    while (cursor_ && index - cursorFirst_ >= kBlockRecords) {
        cursor_ = cursor_->next;
        cursorFirst_ += kBlockRecords;
    }
    if (!cursor_ || index - cursorFirst_ >= cursor_->used) return nullptr;
    return &cursor_->records[index - cursorFirst_];
}

bool TrackBuffer::forEachBatch(MapView& view, const PointSink& sink) const {
    std::vector<MapPoint> batch(kBatchPoints);
    int n = 0, k = 0;
    bool open = false, delivered = false;
    view.item_label[0] = '\0';
    view.item_colour = -1;
    auto begin = [&] {
        if (!open) sink(view, nullptr, kItemBegin);
        open = true;
    };
    for (const Block* block = head_; block; block = block->next) {
        for (int i = 0; i < block->used; ++i) {
            const TrackPoint& r = block->records[i];
            if (r.type == kTrackSegment) {
                if (n > 0) {
                    begin();
                    sink(view, batch.data(), n);
                    n = 0;
                }
                if (open) sink(view, nullptr, kItemEnd);
                open = false;
                k = 0;
                std::memcpy(view.item_label, r.name, sizeof view.item_label);
                view.item_label[sizeof view.item_label - 1] = '\0';
                view.item_colour = r.colour;
                begin();
            } else if (r.type == kTrackPoint && r.valid) {
                batch[static_cast<std::size_t>(n++)] = {static_cast<float>(r.lat * kRadiansPerUnit),
                                                        static_cast<float>(r.lon * kRadiansPerUnit), 0.0f, k++};
                delivered = true;
                if (n == kBatchPoints) {
                    begin();
                    sink(view, batch.data(), n);
                    n = 0;
                }
            }
        }
    }
    if (n > 0) {
        begin();
        sink(view, batch.data(), n);
    }
    if (open) sink(view, nullptr, kItemEnd);
    return delivered;
}

}  // namespace bearfix
