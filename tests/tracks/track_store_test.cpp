#include "tracks/track_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace bearfix {
namespace {

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
    // Fill: "#name" begins a segment, a number appends that many points (negative: invalid ones).
    // Each sink call reads "label count", with "@index" of the last point when there are points.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}},
        {"3", {" -1", " 3@2", " -2"}},
        {"#a #b 1", {"a -1", "a -2", "b -1", "b 1@0", "b -2"}},
        {"#long 8001", {"long -1", "long 8001@8000", "long -2"}},
        {"#long 8002", {"long -1", "long 8001@8000", "long 1@8001", "long -2"}},
        {"#t 1 -2 1", {"t -1", "t 2@1", "t -2"}},  // invalid points are skipped and not counted
    };
    for (const auto& [fill, want] : cases) {
        TrackBuffer store;
        std::istringstream steps(fill);
        for (std::string step; steps >> step;) {
            if (step[0] == '#') store.beginSegment(step.c_str() + 1, -1);
            else addPoints(store, std::abs(std::stoi(step)), std::stoi(step) > 0);
        }
        MapView view;
        std::vector<std::string> calls;
        const bool delivered = store.forEachBatch(view, [&calls](const MapView& v, const MapPoint* points, int count) {
            calls.push_back(std::string(v.item_label) + " " + std::to_string(count) +
                            (count > 0 ? "@" + std::to_string(points[count - 1].index) : ""));
        });
        EXPECT_EQ(calls, want) << fill;
        EXPECT_EQ(delivered, !want.empty()) << fill;
    }
}

// A segment hands its colour to the sink with its points; points before any
// segment, and segments without a colour of their own, get -1.
TEST(TrackStore, SegmentsCarryTheirColour) {
    TrackBuffer store;
    addPoints(store, 2);
    store.beginSegment("red", 255);
    addPoints(store, 2);
    store.beginSegment("plain", -1);
    addPoints(store, 1);
    MapView view;
    view.item_colour = 7;  // whatever the last drawing left
    std::vector<int32_t> colours;
    store.forEachBatch(view, [&colours](const MapView& v, const MapPoint*, int count) {
        if (count > 0) colours.push_back(v.item_colour);
    });
    EXPECT_EQ(colours, (std::vector<int32_t>{-1, 255, -1}));
}

TEST(TrackStore, RecordsAndNames) {
    TrackBuffer store;
    store.beginSegment("a name of thirty characters..", 255);
    addPoints(store, 45);
    addPoints(store, 1, false);
    EXPECT_EQ(store.recordCount(), 47) << "headers and invalid points count";
    EXPECT_STREQ(store.recordAt(0)->name, "a name of thirty charac");
    EXPECT_EQ(store.recordAt(0)->colour, 255);
    EXPECT_EQ(store.recordAt(45)->lat, 52 * kUnitsPerDegree + 44) << "records keep their order across blocks";
    EXPECT_EQ(store.recordAt(47), nullptr);
    EXPECT_EQ(store.recordAt(-1), nullptr);
    store.clear();
    EXPECT_EQ(store.recordAt(0), nullptr);
}

// Look-ups in any order and the walk through the store find each record
// where it was appended, across blocks and after a clear.
TEST(TrackStore, LookUpsInAnyOrderAndTheWalk) {
    TrackBuffer store;
    for (int round = 0; round < 2; ++round) {
        addPoints(store, 95);
        std::vector<int32_t> walked, expected;
        for (const TrackPoint& r : store) walked.push_back(r.lat - 52 * kUnitsPerDegree);
        for (int32_t i = 0; i < 95; ++i) expected.push_back(i);
        EXPECT_EQ(walked, expected);
        for (int32_t i : {94, 0, 41, 40, 39, 60, 19, 20, 21, 94, 3, 80}) {
            ASSERT_NE(store.recordAt(i), nullptr) << i;
            EXPECT_EQ(store.recordAt(i)->lat, 52 * kUnitsPerDegree + i);
        }
        EXPECT_EQ(store.recordAt(95), nullptr);
        store.clear();
        EXPECT_TRUE(store.begin() == store.end());
        EXPECT_EQ(store.recordAt(3), nullptr);
    }
}

TEST(TrackStore, DegreesToUnits) {
    EXPECT_EQ(degreesToUnits(52.5), 18900000);
    EXPECT_EQ(degreesToUnits(-8.5678), -3084408);
    EXPECT_EQ(degreesToUnits(-8125), INT32_MIN) << "no position is that far: saturated, not undefined";
    EXPECT_EQ(degreesToUnits(1e300), INT32_MAX);
    EXPECT_EQ(degreesToUnits(NAN), 0);
}

TEST(TrackStore, Times) {
    // Seconds since 1970, and year, month, day, hour, minute, second; all 0 when unset.
    const std::pair<double, std::vector<int>> cases[] = {
        {946684799, {0, 0, 0, 0, 0, 0}},
        {946684800, {2000, 1, 1, 0, 0, 0}},
        {951868799.9, {2000, 2, 29, 23, 59, 59}},  // a leap day
        {4107542400, {2100, 3, 1, 0, 0, 0}},       // 2100 is no leap year
        {1262303999.9999998, {2009, 12, 31, 23, 59, 59}},  // the last double before 2010-01-01T00:00:00Z
        {9025257599, {2255, 12, 31, 23, 59, 59}},
        {9025257600, {0, 0, 0, 0, 0, 0}},  // 2256 does not fit
    };
    for (const auto& [seconds, want] : cases) {
        TrackPoint p;
        initTrackPoint(p);
        setTrackPointTime(p, seconds);
        const bool set = want[0] != 0;
        EXPECT_EQ(p.dateValid == 1, set) << seconds;
        EXPECT_EQ(p.timeValid == 1, set) << seconds;
        EXPECT_EQ((std::vector<int>{p.yearSince2000 + (set ? 2000 : 0), p.month, p.day, p.hour, p.minute, p.second}),
                  want)
            << seconds;
    }
}

}  // namespace
}  // namespace bearfix
