#include "remote/remote_mailbox.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/message_log.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

uint32_t post(RemoteMailbox& mb, const std::string& text, uint32_t code = 0) {
    return postToMailbox(mb, 7, code, static_cast<int32_t>(text.size()), text.data());
}

// Runs one message; the bearing it set, if any.
std::pair<int, std::string> run(const std::string& text) {
    RemoteMailbox mb;
    resetMailbox(mb);
    post(mb, text);
    std::pair<int, std::string> set;
    processRemoteCommands(mb, [&set](int field, const std::string& value) { set = {field, value}; });
    return set;
}

TEST(RemoteMailbox, RepliesAndQueries) {
    RemoteMailbox mb;
    resetMailbox(mb);
    const std::string big(1025, 'x');
    EXPECT_EQ(post(mb, big), 0x83000001u);
    EXPECT_EQ(post(mb, big, 0x636C0000), 0x83000001u) << "also for a query";
    EXPECT_EQ(post(mb, "a"), 1u);
    EXPECT_EQ(post(mb, ""), 1u) << "an empty text is stored";
    EXPECT_EQ(post(mb, std::string(1024, 'y')), 1u);
    EXPECT_EQ(post(mb, "", 0x636C0000), 0x82000003u) << "'l' 'c': messages stored";
    EXPECT_EQ(post(mb, "", 0x696C0000), 0x82000002u) << "'l' 'i': the slot of the last one";
    EXPECT_EQ(post(mb, "", 0x786C0000), 0u);
    EXPECT_EQ(post(mb, "", 0x00760000), 0x82000001u);
    EXPECT_EQ(post(mb, "", 0x00766600), 0x82000001u) << "b1 plays no part in a query";
    EXPECT_EQ(post(mb, "", 0x00760001), 1u) << "b0 not 0: a message";
    EXPECT_EQ(mb.postedCount, 4);
}

TEST(RemoteMailbox, TwentySlotsInOrder) {
    RemoteMailbox mb;
    resetMailbox(mb);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(post(mb, "set brg1x=" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(post(mb, "set brg1x=20"), 0u) << "the 21st is refused";
    std::vector<std::string> applied;
    EXPECT_TRUE(processRemoteCommands(mb, [&](int, const std::string& v) { applied.push_back(v); }));
    ASSERT_EQ(applied.size(), 20u);
    EXPECT_EQ(applied.front(), "0");
    EXPECT_EQ(applied.back(), "19");
    EXPECT_FALSE(takeFromMailbox(mb, '*', '*', true, nullptr));
    // Slots are reused in rising order after the last one written.
    EXPECT_EQ(mb.writeIndex, 19);
    EXPECT_EQ(post(mb, "again"), 1u);
    EXPECT_EQ(mb.writeIndex, 19);
}

TEST(RemoteMailbox, SetCommands) {
    const std::pair<const char*, std::pair<int, std::string>> cases[] = {
        {"SET brg1x=10", {1, "10"}}, {"set brg2x= 12.5 \r\n", {2, " 12.5 \r\n"}}, {"set BRG1X=10", {0, ""}},
        {"Set brg1x=", {1, ""}},     {"setbrg1x=10", {0, ""}},                      {"track brg1x=1", {0, ""}},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(run(text), want) << text;
    EXPECT_EQ(run("set brg1x=" + std::string(1014, '7')).second.size(), 1013u)
        << "1024 bytes are kept, the command runs with its first 1023";
}

// The record that running `text` left last in the track store.
const TrackPoint& last(const std::string& text) {
    run(text);
    return *trackRecordAt(trackRecordCount() - 1);
}

TEST(TrackCommands, Points) {
    clearTracks();
    const TrackPoint& p = last("track addpoint lat=52.1234 lon=8.5678 masl=120 kmh=4.5 udts=1262304000 nsats=7");
    EXPECT_EQ(std::tuple(p.lat, p.lon, p.lonGiven, p.altitude, p.speedKmh, p.satellites, p.yearSince2000, p.valid),
              std::tuple(18764424, 3084408, 1, 120, 4.5, 7, 10, 1));
    const TrackPoint& partial = last("track addpoint lat=1 foo=2 lon=3");  // the scan ends at foo=2
    EXPECT_EQ(std::tuple(partial.lat, partial.lon, partial.lonGiven), std::tuple(360000, 0, 0));
    const TrackPoint& spaced = last("TRACK addpoint  lat=-33.5   lon=151.25 hdop=1.5 sample=123456789012345 user1=-2");
    EXPECT_EQ(std::tuple(spaced.lat, spaced.lon, spaced.hdop, spaced.user1), std::tuple(-12060000, 54450000, 1.5, -2));

    // A number too large for a double is no value of a point: nothing is added.
    const std::string big = "1" + std::string(400, '0');
    std::vector<std::string> messages;
    setMessageSink([&messages](MessageLevel, const std::string& text) { messages.push_back(text); });
    for (const std::string& keys : {"lat=" + big + " lon=8", "lat=52 lon=-" + big, "lat=52 lon=8 masl=" + big,
                                    "lat=52 lon=8 kmh=" + big, "lat=52 lon=8 hdop=-" + big, "lat=52 lon=8 user1=" + big}) {
        const int32_t before = trackRecordCount();
        EXPECT_FALSE(runTrackCommand(("addpoint " + keys).c_str())) << keys;
        EXPECT_EQ(trackRecordCount(), before) << keys;
    }
    setMessageSink({});
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0], "Warning: track point not added: a number is too large");
    EXPECT_TRUE(runTrackCommand(("addpoint lat=52 lon=8 udts=" + big).c_str())) << "a time beyond 2255 sets no time";
    clearTracks();
}

TEST(TrackCommands, Segments) {
    clearTracks();
    const std::tuple<const char*, const char*, int32_t> cases[] = {
        {"track segment name=walk", "", -1},
        {"track segment color=0xff00ff name=\"a quoted name of 27 chars.\"", "a quoted name of 27 ", 16711935},
        {"track segment  color=255", "", 255},
        {"track segment color=abc", "", -1},
    };
    for (const auto& [text, name, colour] : cases) {
        const TrackPoint& header = last(text);
        EXPECT_EQ(header.type, kTrackSegment) << text;
        EXPECT_STREQ(header.name, name) << text;
        EXPECT_EQ(header.colour, colour) << text;
    }
    clearTracks();
}

// A teammate's live track and the own GPS track, their points interleaved
// as they arrive: every point stays in its named segment, and the readers
// (the map's batches) get each segment whole. The segments worked by hand:
// car 1 2 3, GPS 50..53, bike 11 12, then a sender without a segment of its
// own after the GPS's point: a segment of its own, unnamed.
TEST(TrackCommands, InterleavedPointsStayInTheirSegments) {
    clearTracks();
    const auto gps = [](int lat) {
        const int32_t own = trackStore().lastSegment(TrackOrigin::Gps);
        runTrackCommand(("addpoint lat=" + std::to_string(lat) + " lon=8").c_str(),
                        own ? own : beginTrackSegment("GPS", -1, TrackOrigin::Gps));
    };
    run("track segment name=\"car\" color=255");
    run("track addpoint lat=1 lon=1");
    gps(50);
    run("track addpoint lat=2 lon=2");
    gps(51);
    run("track addpoint lat=3 lon=3");
    gps(52);
    run("track segment name=\"bike\"");
    run("track addpoint lat=11 lon=1");
    gps(53);
    run("track addpoint lat=12 lon=1");
    std::string whole;
    trackStore().forEachInSegmentOrder([&whole](const TrackPoint& r) {
        whole += r.type == kTrackSegment ? std::string(" #") + r.name + "/" + std::to_string(r.colour)
                                         : " " + std::to_string(r.lat / kUnitsPerDegree);
    });
    EXPECT_EQ(whole, " #car/255 1 2 3 #GPS/-1 50 51 52 53 #bike/-1 11 12");
    MapView view;
    std::vector<std::string> batches;
    trackStore().forEachBatch(view, [&batches](const MapView& v, const MapPoint* points, int count) {
        if (count > 0) batches.push_back(std::string(v.item_label) + " " + std::to_string(count) + "@" +
                                         std::to_string(points[count - 1].index));
    });
    EXPECT_EQ(batches, (std::vector<std::string>{"car 3@2", "GPS 4@3", "bike 2@1"}));

    clearTracks();  // after a clear, a client's points go into no new segment...
    run("track addpoint lat=4 lon=4");
    EXPECT_EQ(trackRecordCount(), 1);
    gps(60);  // ...and after the GPS's, into one of their own
    run("track addpoint lat=5 lon=5");
    whole.clear();
    trackStore().forEachInSegmentOrder([&whole](const TrackPoint& r) {
        whole += r.type == kTrackSegment ? std::string(" #") + r.name + "/" + std::to_string(int(r.origin))
                                         : " " + std::to_string(r.lat / kUnitsPerDegree);
    });
    EXPECT_EQ(whole, " 4 #GPS/1 60 #/2 5");
    clearTracks();
}

}  // namespace
}  // namespace bearfix
