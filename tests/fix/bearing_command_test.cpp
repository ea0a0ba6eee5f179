#include "fix/bearing_command.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "remote/remote_mailbox.h"
#include "fix/bearing_log.h"
#include "support/message_log.h"

namespace bearfix {
namespace {

TEST(BearingCommand, AddReadsItsKeys) {
    const struct {
        const char* text;
        const char* station;
        double lat, lon, bearing, tolerance;
        int64_t utc;  // -1: none
    } cases[] = {
        {"add station=\"Car 2\" lat=50.1 lon=8.6 brg=123.4 tol=3 udts=1262304000", "Car 2", 50.1, 8.6, 123.4, 3,
         1262304000},
        {"add brg=-10  lon=8.6\tlat=50.1", "remote", 50.1, 8.6, 350, 1, -1},
        {"add station=Hill lat=-90 lon=-180 brg=720 tol=0 udts=1262304000.9 ", "Hill", -90, -180, 0, 0, 1262304000},
        {"add lat=1 lat=2 lon=3 brg=4 station=\"\"\r\n", "", 2, 3, 4, 1, -1},
    };
    for (const auto& c : cases) {
        std::string why;
        const std::optional<Bearing> b = parseBearingAdd(c.text, &why);
        ASSERT_TRUE(b) << c.text << ": " << why;
        EXPECT_EQ(b->station, c.station) << c.text;
        EXPECT_NEAR(b->position.lat / kDegToRad, c.lat, 1e-12) << c.text;
        EXPECT_NEAR(b->position.lon / kDegToRad, c.lon, 1e-12) << c.text;
        EXPECT_EQ(b->bearingDeg, c.bearing) << c.text;
        EXPECT_EQ(b->toleranceDeg, c.tolerance) << c.text;
        EXPECT_EQ(b->utc.value_or(-1), c.utc) << c.text;
        EXPECT_EQ(b->source, BearingSource::Remote);
        EXPECT_TRUE(b->enabled);
    }
}

TEST(BearingCommand, BadAddsAreRefusedWithTheReason) {
    const struct {
        std::string text;
        const char* why;
    } cases[] = {
        {"add lat=50.1 lon=8.6", "brg= is missing or not a number"},
        {"add lat=50.1 brg=1", "lon= is missing or not in -180..180"},
        {"add lat=95 lon=0 brg=1", "lat= is missing or not in -90..90"},
        {"add lat=x lon=0 brg=1", "lat= has no number"},
        {"add lat=1 lon=0 brg= tol=1", "brg= has no number"},
        {"add lat=1 lon=2 brg=" + std::string(400, '9'), "brg= is missing or not a number"},
        {"add lat=1 lon=2 brg=3 foo=4", "unknown key at \"foo=4\""},
        {"add lat=1lon=2 brg=3", "no blank before \"lon=2\""},
        {"add station=\"Car lat=1 lon=2 brg=3", "the station name's quote is not closed"},
        {"add lat=1 lon=2 brg=3 udts=-5", "udts= is not a time"},
        {"add lat=1 lon=2 brg=3 tol=-1", "tol= is not in 0..180"},
        {"add lat=1 lon=2 brg=3 station=\"1234567890123456789012345678901234567890123456789012345678901234\"",
         "the station name is longer than 63 characters"},
        {"add lat=1 lon=2 brg=3 station=\"a\x01\"", "a control character in the station name"},
        {"addx lat=1 lon=2 brg=3", "not an add command"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(parseBearingAdd(c.text.c_str(), &why)) << c.text;
        EXPECT_EQ(why, c.why) << c.text;
    }
}

TEST(BearingCommand, ThroughTheMailboxIntoTheLog) {
    std::vector<std::string> messages;
    setMessageSink([&messages](MessageLevel, const std::string& text) { messages.push_back(text); });
    RemoteMailbox mb;
    resetMailbox(mb);
    // A bearing command that cannot run is refused at once, the reason in the message log.
    for (const auto& [text, reply] :
         {std::pair<std::string, uint32_t>{"bearing add station=\"Car 2\" lat=50.1 lon=8.6 brg=123.4", kReplyStored},
          {"set brg1x=77", kReplyStored}, {"BEARING add lat=1 lon=2 brg=3", kReplyStored},
          {"bearing add lat=1 lon=2", kReplyRefused}, {"bearing remove lat=1", kReplyRefused},
          {"bearingadd lat=1 lon=2 brg=3", kReplyStored},  // no command: passed over, as any unknown text
          {std::string("bearing add lat=1 lon=2 brg=3") + '\0' + " junk=1", kReplyStored}})  // up to the NUL
        EXPECT_EQ(postToMailbox(mb, 1, 0, static_cast<int32_t>(text.size()), text.data()), reply) << text;
    EXPECT_EQ(messages, (std::vector<std::string>{"Warning: bearing not added: brg= is missing or not a number",
                                                  "Warning: bearing not added: not an add command"}));
    messages.clear();
    BearingLog log;
    std::vector<std::string> set;
    EXPECT_TRUE(processRemoteCommands(
        mb, [&set](int field, const std::string& value) { set.push_back(std::to_string(field) + value); },
        [&log](Bearing b) { appendBearing(log, std::move(b)); }));
    setMessageSink({});
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].station, "Car 2");
    EXPECT_EQ(log.entries[1].station, "remote");
    EXPECT_EQ(set, std::vector<std::string>{"177"}) << "set commands are untouched";
    EXPECT_TRUE(messages.empty()) << messages.front();

    // Without a receiver nothing needs redoing.
    const std::string text = "bearing add lat=1 lon=2 brg=3";
    postToMailbox(mb, 1, 0, static_cast<int32_t>(text.size()), text.data());
    EXPECT_FALSE(processRemoteCommands(mb, [](int, const std::string&) {}));
}

}  // namespace
}  // namespace bearfix
