#include "tracks/track_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace bearfix {
namespace {

// The sink calls of one iteration: counts, labels at each call, indexes.
struct Calls {
    std::vector<int> counts;
    std::vector<std::string> labels;
    std::vector<int> lastIndexes;
};

Calls iterate(const TrackBuffer& store, bool* delivered = nullptr) {
    Calls calls;
    MapView view;
    const bool result = store.forEachBatch(view, [&calls](const MapView& v, const MapPoint* points, int count) {
        calls.counts.push_back(count);
        calls.labels.push_back(v.item_label);
        calls.lastIndexes.push_back(count > 0 ? points[count - 1].index : -1);
    });
    if (delivered) *delivered = result;
    return calls;
}

void addPoints(TrackBuffer& store, int n, bool valid = true) {
    for (int i = 0; i < n; ++i) {
        TrackPoint p;
        initTrackPoint(p);
        p.lat = 52 * kUnitsPerDegree + i;
        p.valid = valid ? 1 : 0;
        store.append(p);
    }
}

TEST(TrackStore, Batches) {
    struct Case {
        const char* name;
        void (*fill)(TrackBuffer&);
        std::vector<int> counts;
        std::vector<std::string> labels;
        std::vector<int> lastIndexes;
    };
    const Case cases[] = {
        {"empty", [](TrackBuffer&) {}, {}, {}, {}},
        {"points before any header", [](TrackBuffer& s) { addPoints(s, 3); }, {-1, 3, -2}, {"", "", ""}, {-1, 2, -1}},
        {"header after header",
         [](TrackBuffer& s) {
             s.beginSegment("a", -1);
             s.beginSegment("b", -1);
             addPoints(s, 1);
         },
         {-1, -2, -1, 1, -2},
         {"a", "a", "b", "b", "b"},
         {-1, -1, -1, 0, -1}},
        {"8001 points",
         [](TrackBuffer& s) {
             s.beginSegment("long", -1);
             addPoints(s, 8001);
         },
         {-1, 8001, -2},
         {"long", "long", "long"},
         {-1, 8000, -1}},
        {"8002 points",
         [](TrackBuffer& s) {
             s.beginSegment("long", -1);
             addPoints(s, 8002);
         },
         {-1, 8001, 1, -2},
         {"long", "long", "long", "long"},
         {-1, 8000, 8001, -1}},
        {"invalid points are skipped and not counted",
         [](TrackBuffer& s) {
             s.beginSegment("t", -1);
             addPoints(s, 1);
             addPoints(s, 2, false);
             addPoints(s, 1);
         },
         {-1, 2, -2},
         {"t", "t", "t"},
         {-1, 1, -1}},
    };
    for (const Case& c : cases) {
        TrackBuffer store;
        c.fill(store);
        bool delivered;
        Calls calls = iterate(store, &delivered);
        EXPECT_EQ(calls.counts, c.counts) << c.name;
        EXPECT_EQ(calls.labels, c.labels) << c.name;
        EXPECT_EQ(calls.lastIndexes, c.lastIndexes) << c.name;
        EXPECT_EQ(delivered, std::find_if(c.counts.begin(), c.counts.end(), [](int n) { return n > 0; }) !=
                                 c.counts.end())
            << c.name;
    }
}

TEST(TrackStore, RecordsAndNames) {
    TrackBuffer store;
    EXPECT_EQ(store.recordCount(), 0);
    EXPECT_EQ(store.recordAt(0), nullptr);
    store.beginSegment("a name of thirty characters..", 255);
    addPoints(store, 45);
    addPoints(store, 1, false);
    EXPECT_EQ(store.recordCount(), 47) << "headers and invalid points count";
    ASSERT_NE(store.recordAt(0), nullptr);
    EXPECT_STREQ(store.recordAt(0)->name, "a name of thirty charac");
    EXPECT_EQ(store.recordAt(0)->colour, 255);
    ASSERT_NE(store.recordAt(45), nullptr);
    EXPECT_EQ(store.recordAt(45)->lat, 52 * kUnitsPerDegree + 44) << "records keep their order across blocks";
    EXPECT_EQ(store.recordAt(47), nullptr);
    EXPECT_EQ(store.recordAt(-1), nullptr);
    store.clear();
    EXPECT_EQ(store.recordCount(), 0);
    EXPECT_EQ(store.recordAt(0), nullptr);
    addPoints(store, 1);
    EXPECT_EQ(store.recordCount(), 1);
}

TEST(TrackStore, DegreesToUnits) {
    EXPECT_EQ(degreesToUnits(52.5), 18900000);
    EXPECT_EQ(degreesToUnits(-8.5678), -3084408);
    EXPECT_EQ(degreesToUnits(-8125), INT32_MIN) << "no position is that far: saturated, not undefined";
    EXPECT_EQ(degreesToUnits(1e300), INT32_MAX);
    EXPECT_EQ(degreesToUnits(NAN), 0);
}

TEST(TrackStore, Times) {
    struct Case {
        double seconds;
        bool set;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {0, false, 0, 0, 0, 0, 0, 0},
        {946684799, false, 0, 0, 0, 0, 0, 0},
        {946684800, true, 2000, 1, 1, 0, 0, 0},
        {1262304000, true, 2010, 1, 1, 0, 0, 0},
        {951868799.9, true, 2000, 2, 29, 23, 59, 59},  // a leap day
        {4107542400, true, 2100, 3, 1, 0, 0, 0},        // 2100 is no leap year
        {9025257599, true, 2255, 12, 31, 23, 59, 59},
        {9025257600, false, 0, 0, 0, 0, 0, 0},          // 2256 does not fit
    };
    for (const Case& c : cases) {
        TrackPoint p;
        initTrackPoint(p);
        setTrackPointTime(p, c.seconds);
        EXPECT_EQ(p.dateValid == 1, c.set) << c.seconds;
        EXPECT_EQ(p.timeValid == 1, c.set) << c.seconds;
        EXPECT_EQ(p.yearSince2000 + (c.set ? 2000 : 0), c.year) << c.seconds;
        EXPECT_EQ(p.month, c.month) << c.seconds;
        EXPECT_EQ(p.day, c.day) << c.seconds;
        EXPECT_EQ(p.hour, c.hour) << c.seconds;
        EXPECT_EQ(p.minute, c.minute) << c.seconds;
        EXPECT_EQ(p.second, c.second) << c.seconds;
    }
}

}  // namespace
}  // namespace bearfix
