#include "map/vector_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

using testing::TempDir;

struct Record { int16_t code, lat, lon; };

std::string pnt(const std::vector<Record>& records) {
    std::string bytes;
    for (const Record& r : records)
        for (int16_t v : {r.code, r.lat, r.lon}) bytes += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    return bytes;
}

// What the sink saw: the count of each call and the points of each batch.
struct Calls {
    std::vector<int> counts;
    std::vector<std::vector<MapPoint>> batches;
    std::vector<std::string> log;
};

Calls load(const std::string& path, const SegmentFilter& mayShow = {}) {
    Calls calls;
    setMessageSink([&calls](MessageLevel, const std::string& text) { calls.log.push_back(text); });
    MapView view;
    std::strcpy(view.item_label, "stale");
    loadVectorFile(
        path, view,
        [&calls](const MapView& v, const MapPoint* points, int count) {
            EXPECT_STREQ(v.item_label, "");
            calls.counts.push_back(count);
            if (count > 0) calls.batches.emplace_back(points, points + count);
        },
        mayShow);
    setMessageSink({});
    return calls;
}

TEST(VectorFile, Segments) {
    TempDir dir;
    std::vector<Record> longOne = {{1000, -5400, 10800}};  // from the south pole at 180 E
    for (int i = 1; i < 8005; ++i) longOne.push_back({0, static_cast<int16_t>(i % 5000), 0});
    const struct {
        std::string bytes;
        std::vector<int> counts;
        const char* summary;
    } cases[] = {
        {"", {kItemEnd}, "0 points, 0 segments, max 0"},
        {pnt({{999, 1, 2}, {0, 3, 4}, {5, 5, 6}}), {3, kItemEnd}, "3 points, 0 segments, max 3"},
        {pnt({{1000, 1, 1}, {1000, 2, 2}, {0, 3, 3}}), {1, 2, kItemEnd}, "3 points, 2 segments, max 2"},
        // 6001 bytes: the odd byte is no record.
        {pnt(std::vector<Record>(1000, {0, 1, 1})) + "x", {1000, kItemEnd}, "1000 points, 0 segments, max 1000"},
        {pnt(longOne), {8000, 6, kItemEnd}, "8005 points, 1 segments, max 8005"},
    };
    Calls calls;
    for (const auto& c : cases) {
        const std::string path = dir.write("f.pnt", c.bytes);
        calls = load(path);
        EXPECT_EQ(calls.counts, c.counts) << c.summary;
        EXPECT_EQ(calls.log, std::vector<std::string>{"Debug: \"" + path + "\" contains " + c.summary + " points/segment."});
    }
    ASSERT_EQ(calls.batches.size(), 2u);
    EXPECT_FLOAT_EQ(calls.batches[0][0].lat, static_cast<float>(-std::numbers::pi / 2));
    EXPECT_FLOAT_EQ(calls.batches[0][0].lon, static_cast<float>(std::numbers::pi));
    // The long segment's second batch goes on from the last point of the first: no gap.
    EXPECT_EQ(calls.batches[1][0].index, 7999);
    EXPECT_EQ(calls.batches[1][0].lat, calls.batches[0][7999].lat);
    EXPECT_EQ(calls.batches[1][5].index, 8004);
}

// Each segment that fits one batch is offered with the bounds of its points
// and left out when refused; a longer one is sent whatever its bounds. What
// is kept is sent as without the filter, and the log counts every point.
TEST(VectorFile, SegmentsLeftOutByTheFilter) {
    TempDir dir;
    std::vector<Record> records = {{1000, -30, 400}, {0, 20, -10}, {0, 5, 7}, {1000, 600, -10800}, {0, 601, 10799}};
    // Segments of 8005 points (two batches), then one point, then 8000
    // (one batch, offered), 8001 (two) and 16000 points (three).
    auto segment = [&records](int points) {
        records.push_back({1000, 1, 1});
        for (int i = 1; i < points; ++i) records.push_back({0, static_cast<int16_t>(i % 300), 2});
    };
    segment(8005);
    records.push_back({1000, -5400, 0});
    for (const int points : {8000, 8001, 16000}) segment(points);
    const std::string path = dir.write("f.pnt", pnt(records));
    const Calls all = load(path);
    ASSERT_EQ(all.counts, (std::vector<int>{3, 2, 8000, 6, 1, 8000, 8000, 2, 8000, 8000, 2, kItemEnd}));
    // Each batch's first index, counted by hand: a batch after the first
    // repeats the last point of the one before.
    const int firstIndex[] = {0, 0, 0, 7999, 0, 0, 0, 7999, 0, 7999, 15998};
    for (int b = 0; b < 11; ++b) EXPECT_EQ(all.batches[b][0].index, firstIndex[b]) << b;

    std::vector<SegmentBounds> offered;
    const Calls none = load(path, [&offered](const SegmentBounds& b) {
        offered.push_back(b);
        return false;
    });
    EXPECT_EQ(none.counts, (std::vector<int>{8000, 6, 8000, 2, 8000, 8000, 2, kItemEnd}));
    EXPECT_EQ(none.log, all.log);
    ASSERT_EQ(offered.size(), 4u);
    const int offeredBatch[] = {0, 1, 4, 5};
    for (int k = 0; k < 4; ++k) {
        const std::vector<MapPoint>& points = all.batches[offeredBatch[k]];
        SegmentBounds expected{points[0].lat, points[0].lat, points[0].lon, points[0].lon};
        for (const MapPoint& p : points) {
            expected.south = std::min<double>(expected.south, p.lat);
            expected.north = std::max<double>(expected.north, p.lat);
            expected.west = std::min<double>(expected.west, p.lon);
            expected.east = std::max<double>(expected.east, p.lon);
        }
        EXPECT_EQ(offered[k].south, expected.south) << k;
        EXPECT_EQ(offered[k].north, expected.north) << k;
        EXPECT_EQ(offered[k].west, expected.west) << k;
        EXPECT_EQ(offered[k].east, expected.east) << k;
    }
    const int sentBatch[] = {2, 3, 6, 7, 8, 9, 10};
    ASSERT_EQ(none.batches.size(), 7u);
    for (std::size_t b = 0; b < none.batches.size(); ++b)
        for (std::size_t i = 0; i < none.batches[b].size(); ++i)
            EXPECT_EQ(none.batches[b][i].index, all.batches[sentBatch[b]][i].index);

    const Calls kept = load(path, [](const SegmentBounds&) { return true; });
    ASSERT_EQ(kept.counts, all.counts);
    for (std::size_t b = 0; b < kept.batches.size(); ++b) {
        for (std::size_t i = 0; i < kept.batches[b].size(); ++i) {
            const MapPoint &k = kept.batches[b][i], &a = all.batches[b][i];
            EXPECT_TRUE(k.lat == a.lat && k.lon == a.lon && k.index == a.index && k.value == a.value) << b << " " << i;
        }
    }
}

TEST(VectorFile, MissingFileOrNoRegularFile) {
    TempDir dir;
    const std::string pipe = (dir.path() / "pipe.pnt").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {std::string("map_data\\lake.pnt"), dir.path().string(), pipe}) {
        Calls calls = load(path);  // a pipe without a writer must not block
        EXPECT_TRUE(calls.counts.empty()) << path;
        EXPECT_EQ(calls.log, std::vector<std::string>{"Error: Could not open file \"" + path + "\"."});
    }
}

// A sparse file: refused by its size, nothing is read.
TEST(VectorFile, FilesOver256MegabytesAreRefused) {
    TempDir dir;
    const std::string path = dir.write("coast.pnt", "");
    const off_t size = (off_t{256} << 20) + 6;
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    const Calls calls = load(path);
    EXPECT_TRUE(calls.counts.empty());
    EXPECT_EQ(calls.log, std::vector<std::string>{"Error: \"" + path + "\" is too large for a map file (" +
                                                  std::to_string(size) + " bytes, at most 256 MB)."});
}

}  // namespace
}  // namespace bearfix
