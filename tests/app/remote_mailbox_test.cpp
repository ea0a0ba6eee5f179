#include "app/remote_mailbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tracks/track_store.h"

namespace bearfix {
namespace {

uint32_t post(RemoteMailbox& mb, const std::string& text, uint32_t code = 0, int32_t length = -1) {
    return postToMailbox(mb, 7, code, length < 0 ? static_cast<int32_t>(text.size()) : length, text.data());
}

TEST(RemoteMailbox, RepliesAndQueries) {
    RemoteMailbox mb;
    resetMailbox(mb);
    const std::string big(1025, 'x');
    EXPECT_EQ(post(mb, big), 0x83000001u);
    EXPECT_EQ(post(mb, big, 0x636C0000), 0x83000001u) << "also for a query";
    EXPECT_EQ(post(mb, "a"), 1u);
    EXPECT_EQ(post(mb, "", 0, 0), 1u) << "an empty text is stored";
    EXPECT_EQ(post(mb, std::string(1024, 'y')), 1u);
    EXPECT_EQ(post(mb, "", 0x636C0000, 0), 0x82000003u) << "'l' 'c': messages stored";
    EXPECT_EQ(post(mb, "", 0x696C0000, 0), 0x82000002u) << "'l' 'i': the slot of the last one";
    EXPECT_EQ(post(mb, "", 0x786C0000, 0), 0u);
    EXPECT_EQ(post(mb, "", 0x00760000, 0), 0x82000001u);
    EXPECT_EQ(post(mb, "", 0x00766600, 0), 0x82000001u) << "b1 plays no part in a query";
    EXPECT_EQ(post(mb, "", 0x00760001, 0), 1u) << "b0 not 0: a message";
    EXPECT_EQ(mb.postedCount, 4);
}

TEST(RemoteMailbox, TwentySlotsInOrder) {
    RemoteMailbox mb;
    resetMailbox(mb);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(post(mb, "set brg1x=" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(post(mb, "set brg1x=20"), 0u) << "the 21st is refused";
    EXPECT_EQ(mb.writeIndex, 19);
    std::vector<std::string> applied;
    EXPECT_TRUE(processRemoteCommands(mb, [&](int field, const std::string& v) {
        EXPECT_EQ(field, 1);
        applied.push_back(v);
    }));
    ASSERT_EQ(applied.size(), 20u);
    EXPECT_EQ(applied.front(), "0");
    EXPECT_EQ(applied.back(), "19");
    EXPECT_FALSE(takeFromMailbox(mb, '*', '*', true, nullptr));
    // Slots are reused in rising order after the last one written.
    EXPECT_EQ(post(mb, "again"), 1u);
    EXPECT_EQ(mb.writeIndex, 19);
}

TEST(RemoteMailbox, TakeByCodeBytes) {
    RemoteMailbox mb;
    resetMailbox(mb);
    post(mb, "first", 'A' | 'b' << 8);
    post(mb, "second", 'C' | 'd' << 8);
    MailboxSlot slot;
    ASSERT_TRUE(takeFromMailbox(mb, 'C', '*', false, &slot));
    EXPECT_EQ(std::string(slot.text, static_cast<std::size_t>(slot.length)), "second");
    EXPECT_EQ(slot.sender, 7);
    ASSERT_TRUE(takeFromMailbox(mb, '*', '*', true, &slot));
    EXPECT_EQ(std::string(slot.text, 5), "first");
    EXPECT_FALSE(takeFromMailbox(mb, 'A', '*', true, &slot));
}

TEST(RemoteMailbox, SetCommands) {
    struct Case {
        const char* text;
        int field;
        const char* value;
    };
    const Case cases[] = {
        {"SET brg1x=10", 1, "10"},      {"set brg2x= 12.5 \r\n", 2, " 12.5 \r\n"}, {"set BRG1X=10", 0, ""},
        {"Set brg1x=", 1, ""},          {"setbrg1x=10", 0, ""},                     {"track brg1x=1", 0, ""},
    };
    for (const Case& c : cases) {
        RemoteMailbox mb;
        resetMailbox(mb);
        post(mb, c.text);
        int field = 0;
        std::string value;
        processRemoteCommands(mb, [&](int f, const std::string& v) {
            field = f;
            value = v;
        });
        EXPECT_EQ(field, c.field) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    // 1024 bytes are kept, the command runs with its first 1023.
    RemoteMailbox mb;
    resetMailbox(mb);
    post(mb, "set brg1x=" + std::string(1014, '7'));
    std::string value;
    processRemoteCommands(mb, [&](int, const std::string& v) { value = v; });
    EXPECT_EQ(value.size(), 1013u);
}

class TrackCommands : public ::testing::Test {
protected:
    void SetUp() override { clearTracks(); }
    void TearDown() override { clearTracks(); }
    const TrackPoint& run(const std::string& text) {
        RemoteMailbox mb;
        resetMailbox(mb);
        post(mb, text);
        processRemoteCommands(mb, [](int, const std::string&) {});
        return *trackRecordAt(trackRecordCount() - 1);
    }
};

TEST_F(TrackCommands, Points) {
    const TrackPoint& p = run("track addpoint lat=52.1234 lon=8.5678 masl=120 kmh=4.5 udts=1262304000 nsats=7");
    EXPECT_EQ(p.lat, 18764424);
    EXPECT_EQ(p.lon, 3084408);
    EXPECT_EQ(p.lonGiven, 1);
    EXPECT_EQ(p.altitude, 120);
    EXPECT_EQ(p.speedKmh, 4.5);
    EXPECT_EQ(p.satellites, 7);
    EXPECT_EQ(p.yearSince2000, 10);
    EXPECT_EQ(p.valid, 1);

    const TrackPoint& partial = run("track addpoint lat=1 foo=2 lon=3");
    EXPECT_EQ(partial.lat, 360000);
    EXPECT_EQ(partial.lon, 0) << "the scan ends at foo=2";
    EXPECT_EQ(partial.lonGiven, 0);

    const TrackPoint& spaced = run("TRACK addpoint  lat=-33.5   lon=151.25 hdop=1.5 sample=123456789012345 user1=-2");
    EXPECT_EQ(spaced.lat, -12060000);
    EXPECT_EQ(spaced.lon, 54450000);
    EXPECT_EQ(spaced.hdop, 1.5);
    EXPECT_EQ(spaced.user1, -2);

    EXPECT_EQ(run("track addpoint udts=946684799").dateValid, 0);
    const TrackPoint& y2k = run("track addpoint udts=946684800");
    EXPECT_EQ(y2k.dateValid, 1);
    EXPECT_EQ(y2k.yearSince2000, 0);
    EXPECT_EQ(y2k.month, 1);
}

TEST_F(TrackCommands, Segments) {
    struct Case {
        const char* text;
        const char* name;
        int32_t colour;
    };
    const Case cases[] = {
        {"track segment name=walk", "", -1},
        {"track segment color=0xff00ff name=\"a quoted name of 27 chars.\"", "a quoted name of 27 ", 16711935},
        {"track segment  color=255", "", 255},
        {"track segment color=abc", "", -1},
    };
    for (const Case& c : cases) {
        const TrackPoint& header = run(c.text);
        EXPECT_EQ(header.type, kTrackSegment) << c.text;
        EXPECT_STREQ(header.name, c.name) << c.text;
        EXPECT_EQ(header.colour, c.colour) << c.text;
    }
}

}  // namespace
}  // namespace bearfix
