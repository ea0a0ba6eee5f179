#include "tracks/track_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
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
    // Copied from a constant: a zeroed temporary was stored with `rep stos`
    // and loaded back at once, a stall on every point read.
    static constexpr TrackPoint kFresh{};
    point = kFresh;
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

int32_t TrackBuffer::beginSegment(const char* name, int32_t colour, TrackOrigin origin) {
    TrackPoint header{};
    header.type = kTrackSegment;
    header.colour = colour;
    header.origin = origin;
    if (name) std::strncpy(header.name, name, sizeof header.name - 1);
    return append(header) ? headers_.back().number : 0;
}

const TrackPoint* TrackBuffer::segmentHeader(int32_t number) const {
    const auto it = std::lower_bound(firstHeaders_.begin(), firstHeaders_.end(), number,
                                     [](const Header& h, int32_t n) { return h.number < n; });
    return it != firstHeaders_.end() && it->number == number ? recordAt(it->index) : nullptr;
}

bool TrackBuffer::continueSegment(int32_t number) {
    const TrackPoint* first = segmentHeader(number);
    if (!first) return false;
    TrackPoint header = *first;
    header.continues = 1;
    return append(header);
}

bool TrackBuffer::appendToSegment(int32_t number, const TrackPoint& point) {
    if (openSegment() != number && !continueSegment(number)) return false;
    return append(point);
}

// Numbers and the look-ups of segments kept with each header. A header that
// would continue a segment not stored, or begin one under a number already
// given, begins a new one.
bool TrackBuffer::appendHeader(TrackPoint header) {
    if (header.continues && !segmentHeader(header.segment)) header.continues = 0;
    if (!header.continues && header.segment < nextNumber_) header.segment = nextNumber_;
    const int origin = static_cast<int>(header.origin);
    if (origin < 0 || origin >= kTrackOrigins) header.origin = TrackOrigin::File;
    headers_.reserve(headers_.size() + 1);
    if (!header.continues) firstHeaders_.reserve(firstHeaders_.size() + 1);
    if (tail_ == slabEnd_ && !addSlab()) return false;
    new (tail_++) TrackPoint(header);
    const Header h{recordCount_++, header.segment};
    ++changes_;
    headers_.push_back(h);
    if (header.continues) {
        ++continuations_;
    } else {
        firstHeaders_.push_back(h);
        nextNumber_ = header.segment + 1;
        lastOfOrigin_[static_cast<int>(header.origin)] = header.segment;
    }
    return true;
}

// The pieces of each segment: its first header and the points after it, then
// the points after each header that continues it.
std::vector<TrackBuffer::SegmentRun> TrackBuffer::segmentRuns() const {
    std::vector<SegmentRun> runs;
    std::vector<std::size_t> runOf(firstHeaders_.size());
    const int32_t before = headers_.empty() ? recordCount_ : headers_.front().index;
    if (before > 0) runs.push_back({{{0, before}}});
    for (std::size_t k = 0, first = 0; k < headers_.size(); ++k) {
        const Header& h = headers_[k];
        const int32_t end = k + 1 < headers_.size() ? headers_[k + 1].index : recordCount_;
        if (first < firstHeaders_.size() && firstHeaders_[first].index == h.index) {
            runOf[first++] = runs.size();
            runs.push_back({{{h.index, end}}});
            continue;
        }
        const auto it = std::lower_bound(firstHeaders_.begin(), firstHeaders_.end(), h.number,
                                         [](const Header& f, int32_t n) { return f.number < n; });
        runs[runOf[static_cast<std::size_t>(it - firstHeaders_.begin())]].pieces.push_back({h.index + 1, end});
    }
    return runs;
}

void TrackBuffer::forgetHeadersFrom(int32_t count) {
    while (!headers_.empty() && headers_.back().index >= count) {
        if (!firstHeaders_.empty() && firstHeaders_.back().index == headers_.back().index) {
            firstHeaders_.pop_back();
        } else {
            --continuations_;
        }
        headers_.pop_back();
    }
    for (int32_t& last : lastOfOrigin_) last = 0;
    for (const Header& h : firstHeaders_) lastOfOrigin_[static_cast<int>(recordAt(h.index)->origin)] = h.number;
}

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t slabBytes(int slab) { return static_cast<std::size_t>(TrackBuffer::slabRecords(slab)) * sizeof(TrackPoint); }

// Small slabs from the allocator, which hands back memory that earlier work
// freed (a reader's buffers) before it takes fresh pages. Large ones straight
// from the system on huge pages, starting on one, and given back whole on
// free: the allocator could keep them, or mark its heap for huge pages.
TrackPoint* mapSlab(int slab) {
    const std::size_t bytes = slabBytes(slab);
    if (slab < TrackBuffer::kSmallSlabs) return static_cast<TrackPoint*>(std::malloc(bytes));
    void* memory = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    auto* start = static_cast<char*>(memory);
    const std::size_t head = (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
    if (head > 0) ::munmap(start, head);
    ::munmap(start + head + bytes, kHugePage - head);
    start += head;
    ::madvise(start, bytes, MADV_HUGEPAGE);  // without huge pages it works all the same
    static_assert(kHugePage % alignof(TrackPoint) == 0);
    return reinterpret_cast<TrackPoint*>(start);
}

void freeSlab(TrackPoint* records, int slab) {
    if (slab < TrackBuffer::kSmallSlabs) std::free(records);
    else ::munmap(records, slabBytes(slab));
}

// The slab of a record and its place in it.
std::pair<int, int32_t> slabOf(int32_t index) {
    if (index < TrackBuffer::kLargeSlabRecords)
        return {index / TrackBuffer::kSmallSlabRecords, index % TrackBuffer::kSmallSlabRecords};
    return {TrackBuffer::kSmallSlabs - 1 + index / TrackBuffer::kLargeSlabRecords,
            index % TrackBuffer::kLargeSlabRecords};
}

}  // namespace

bool TrackBuffer::addSlab() {
    if (slabCount_ == kMaxSlabs) return false;
    if (slabCount_ == slabTableSize_) {
        const int size = slabTableSize_ == 0 ? 64 : slabTableSize_ * 2;
        void* table = std::realloc(slabs_, static_cast<std::size_t>(size) * sizeof *slabs_);
        if (!table) return false;
        slabs_ = static_cast<TrackPoint**>(table);
        slabTableSize_ = size;
    }
    TrackPoint* slab = mapSlab(slabCount_);
    if (!slab) return false;
    slabs_[slabCount_] = slab;
    tail_ = slab;
    slabEnd_ = slab + slabRecords(slabCount_);
    ++slabCount_;
    return true;
}

void TrackBuffer::clear() {
    for (int k = 0; k < slabCount_; ++k) freeSlab(slabs_[k], k);
    std::free(slabs_);
    slabs_ = nullptr;
    slabCount_ = slabTableSize_ = 0;
    tail_ = slabEnd_ = nullptr;
    recordCount_ = 0;
    ++changes_;
    headers_.clear();
    firstHeaders_.clear();
    continuations_ = 0;
    for (int32_t& last : lastOfOrigin_) last = 0;
    lowestChange_ = 0;
}

void TrackBuffer::truncate(int32_t count) {
    if (count <= 0) {
        clear();
        return;
    }
    if (count >= recordCount_) return;
    forgetHeadersFrom(count);
    lowestChange_ = std::min(lowestChange_, count);
    const auto [last, offset] = slabOf(count - 1);
    for (int k = last + 1; k < slabCount_; ++k) freeSlab(slabs_[k], k);
    slabCount_ = last + 1;
    tail_ = slabs_[last] + offset + 1;
    slabEnd_ = slabs_[last] + slabRecords(last);
    recordCount_ = count;
    ++changes_;
}

void TrackBuffer::renameSegment(int32_t index, const char* name) {
    auto* record = const_cast<TrackPoint*>(recordAt(index));
    if (!record || record->type != kTrackSegment) return;
    std::memset(record->name, 0, sizeof record->name);
    std::strncpy(record->name, name, sizeof record->name - 1);
    ++changes_;
    lowestChange_ = std::min(lowestChange_, index);
}

const TrackPoint* TrackBuffer::recordAt(int32_t index) const {
    if (index < 0 || index >= recordCount_) return nullptr;
    const auto [slab, offset] = slabOf(index);
    return slabs_[slab] + offset;
}

void TrackBuffer::Iterator::enterSlab(int slab) {
    slab_ = slab;
    if (slab >= store_->slabCount_ || store_->slabs_[slab] == store_->tail_) {
        record_ = stop_ = nullptr;
        return;
    }
    record_ = store_->slabs_[slab];
    stop_ = store_->slabStop(slab);
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
    forEachInSegmentOrder([&](const TrackPoint& r) {
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
    });
    if (n > 0) {
        begin();
        sink(view, batch.data(), n);
    }
    if (open) sink(view, nullptr, kItemEnd);
    return delivered;
}

}  // namespace bearfix
