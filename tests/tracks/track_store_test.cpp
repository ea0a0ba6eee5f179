#include "tracks/track_store.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
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

// Appends, segments, truncations, renames and clears in random runs that
// cross the store's small and large slabs, against a plain vector: the same
// records in the same order, each at the address it was stored at.
TEST(TrackStore, AgreesWithAVector) {
    std::mt19937 random(20);
    TrackBuffer store;
    std::vector<TrackPoint> model;
    std::vector<const TrackPoint*> addresses;
    int32_t serial = 0;
    const int32_t runs[] = {1, 31, 32, 33, 1000, 65535, 65536, 65537, 140000};
    for (int step = 0; step < 60; ++step) {
        const int op = static_cast<int>(random() % 10);
        if (op < 6) {
            const int32_t n = runs[random() % std::size(runs)];
            for (int32_t i = 0; i < n; ++i) {
                TrackPoint p;
                initTrackPoint(p);
                p.sample = ++serial;
                p.lat = serial * 7;
                p.valid = 1;
                ASSERT_TRUE(store.append(p));
                model.push_back(p);
                addresses.push_back(store.recordAt(store.recordCount() - 1));
            }
        } else if (op == 6) {
            const std::string name = "seg" + std::to_string(++serial);
            ASSERT_TRUE(store.beginSegment(name.c_str(), serial));
            TrackPoint h{};
            h.type = kTrackSegment;
            h.colour = serial;
            std::strncpy(h.name, name.c_str(), sizeof h.name - 1);
            model.push_back(h);
            addresses.push_back(store.recordAt(store.recordCount() - 1));
        } else if (op == 7 && !model.empty()) {
            // Often just past or at a slab's edge.
            const int32_t edges[] = {1, 32, 33, 65536, 65537, 131072};
            int32_t count = static_cast<int32_t>(random() % (model.size() + 1));
            if (random() % 2) count = std::min<int32_t>(static_cast<int32_t>(model.size()), edges[random() % std::size(edges)]);
            store.truncate(count);
            model.resize(static_cast<std::size_t>(count));
            addresses.resize(model.size());
        } else if (op == 8) {
            for (std::size_t i = 0; i < model.size(); ++i)
                if (model[i].type == kTrackSegment) {
                    store.renameSegment(static_cast<int32_t>(i), "renamed");
                    std::memset(model[i].name, 0, sizeof model[i].name);
                    std::strcpy(model[i].name, "renamed");
                    break;
                }
        } else if (random() % 3 == 0) {
            store.clear();
            model.clear();
            addresses.clear();
        }
        ASSERT_EQ(store.recordCount(), static_cast<int32_t>(model.size())) << step;
        std::size_t i = 0;
        for (const TrackPoint& r : store) {
            ASSERT_LT(i, model.size()) << step;
            ASSERT_EQ(&r, addresses[i]) << "record " << i << " moved, step " << step;
            ASSERT_EQ(r.type, model[i].type) << step;
            ASSERT_EQ(r.sample, model[i].sample) << step;
            ASSERT_EQ(r.lat, model[i].lat) << step;
            ASSERT_EQ(r.colour, model[i].colour) << step;
            ASSERT_STREQ(r.name, model[i].name) << step;
            ++i;
        }
        ASSERT_EQ(i, model.size()) << step;
        for (int k = 0; k < 50 && !model.empty(); ++k) {  // look-ups in any order
            const auto index = static_cast<int32_t>(random() % model.size());
            ASSERT_EQ(store.recordAt(index), addresses[static_cast<std::size_t>(index)]) << step;
        }
        ASSERT_EQ(store.recordAt(static_cast<int32_t>(model.size())), nullptr);
        long valid = 0;
        MapView view;
        store.forEachBatch(view, [&valid](const MapView&, const MapPoint*, int n) { valid += n > 0 ? n : 0; });
        ASSERT_EQ(valid, std::count_if(model.begin(), model.end(), [](const TrackPoint& r) { return r.type == kTrackPoint; }));
    }
}

// When memory runs out the failed append leaves the store as it was, and
// the store takes records again once memory is there. In a child process
// with a cap on its address space.
TEST(TrackStore, RunningOutOfMemory) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TrackBuffer store;
        TrackPoint p;
        initTrackPoint(p);
        addPoints(store, 65536);  // the small slabs, before the cap
        rlimit cap{};
        getrlimit(RLIMIT_AS, &cap);
        const rlimit old = cap;
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
        if (setrlimit(RLIMIT_AS, &cap) != 0) _exit(10);
        int32_t stored = 0;
        while (store.append(p)) ++stored;
        const int32_t count = store.recordCount();
        if (stored < 65536 || count != 65536 + stored) _exit(11);
        if (store.append(p) || store.recordCount() != count) _exit(12);  // still full, still the same
        if (store.recordAt(count - 1) == nullptr || store.recordAt(count) != nullptr) _exit(13);
        setrlimit(RLIMIT_AS, &old);
        if (!store.append(p) || store.recordCount() != count + 1) _exit(14);
        store.truncate(70000);
        if (!store.append(p) || store.recordCount() != 70001) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no cap; 11: full too early; 12: a failed append changed the store; "
                                         "13: look-ups; 14: no append after the cap; 15: truncate";
}

}  // namespace
}  // namespace bearfix
