#include "map/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

using testing::TempDir;

struct Record {
    int16_t code, lat, lon;
};

std::string pnt(const std::vector<Record>& records) {
    std::string bytes;
    for (const Record& r : records) {
        for (int16_t v : {r.code, r.lat, r.lon}) {
            bytes += static_cast<char>(v & 0xFF);
            bytes += static_cast<char>((v >> 8) & 0xFF);
        }
    }
    return bytes;
}

// What the sink saw: one entry per call, the batch's points or the count.
struct Calls {
    std::vector<int> counts;
    std::vector<std::vector<MapPoint>> batches;
    std::vector<std::string> log;
};

Calls load(const std::string& path) {
    Calls calls;
    setMessageSink([&calls](MessageLevel, const std::string& text) { calls.log.push_back(text); });
    MapView view;
    std::strcpy(view.item_label, "stale");
    loadVectorFile(path, view, [&calls](const MapView& v, const MapPoint* points, int count) {
        EXPECT_STREQ(v.item_label, "");
        calls.counts.push_back(count);
        if (count > 0) calls.batches.emplace_back(points, points + count);
    });
    setMessageSink({});
    return calls;
}

TEST(VectorFile, Segments) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<int> counts;
        const char* log;
    };
    const Case cases[] = {
        {"empty", "", {-2}, "contains 0 points, 0 segments, max 0 points/segment."},
        {"no marker", pnt({{999, 1, 2}, {0, 3, 4}, {5, 5, 6}}), {3, -2}, "3 points, 0 segments, max 3 points"},
        {"two markers", pnt({{1000, 1, 1}, {1000, 2, 2}, {0, 3, 3}}), {1, 2, -2}, "3 points, 2 segments, max 2"},
        {"6001 bytes", pnt(std::vector<Record>(1000, {0, 1, 1})) + "x", {1000, -2}, "1000 points, 0 segments"},
    };
    for (const auto& c : cases) {
        Calls calls = load(dir.write("f.pnt", c.bytes));
        EXPECT_EQ(calls.counts, c.counts) << c.name;
        ASSERT_EQ(calls.log.size(), 1u) << c.name;
        EXPECT_NE(calls.log[0].find(c.log), std::string::npos) << c.name << ": " << calls.log[0];
    }
}

TEST(VectorFile, ConversionAndLongSegments) {
    TempDir dir;
    std::vector<Record> records = {{1000, -5400, 10800}};
    for (int i = 1; i < 8005; ++i) records.push_back({0, static_cast<int16_t>(i % 5000), 0});
    Calls calls = load(dir.write("long.pnt", pnt(records)));
    ASSERT_EQ(calls.batches.size(), 2u);
    EXPECT_FLOAT_EQ(calls.batches[0][0].lat, static_cast<float>(-std::numbers::pi / 2));
    EXPECT_FLOAT_EQ(calls.batches[0][0].lon, static_cast<float>(std::numbers::pi));
    EXPECT_EQ(calls.batches[0].size(), 8000u);
    // The second batch goes on from the last point of the first: no gap.
    EXPECT_EQ(calls.batches[1].size(), 6u);
    EXPECT_EQ(calls.batches[1][0].index, 7999);
    EXPECT_EQ(calls.batches[1][0].lat, calls.batches[0][7999].lat);
    EXPECT_EQ(calls.batches[1][5].index, 8004);
    EXPECT_NE(calls.log[0].find("8005 points, 1 segments, max 8005 points/segment"), std::string::npos);
}

TEST(VectorFile, MissingFile) {
    Calls calls = load("map_data\\lake.pnt");
    EXPECT_TRUE(calls.counts.empty());
    ASSERT_EQ(calls.log.size(), 1u);
    EXPECT_EQ(calls.log[0], "Error: Could not open file \"map_data\\lake.pnt\".");
}

}  // namespace
}  // namespace bearfix
