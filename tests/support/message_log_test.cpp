#include "support/message_log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace bearfix {
namespace {

TEST(MessageLog, FormatsAndCutsAt255Characters) {
    std::vector<std::pair<MessageLevel, std::string>> got;
    setMessageSink([&got](MessageLevel level, const std::string& text) { got.emplace_back(level, text); });
    logMessage(MessageLevel::Error, "Error loading \"%s\": %s", "/tmp/a b.kml", "no root");
    logMessage(MessageLevel::Debug, "%s", std::string(1000, 'x').c_str());
    logMessage(MessageLevel::Debug, "%ld points, %.2lf\xB0", 12L, 0.5);
    setMessageSink({});
    logMessage(MessageLevel::Error, "dropped");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], std::make_pair(MessageLevel::Error, std::string("Error loading \"/tmp/a b.kml\": no root")));
    EXPECT_EQ(got[1], std::make_pair(MessageLevel::Debug, std::string(255, 'x')));
    EXPECT_EQ(got[2].second, "12 points, 0.50\xB0");
}

// Messages of a worker thread reach the sink only when its owner passes
// them on, in the order they were logged; the owner's own go straight on.
TEST(MessageLog, HeldMessagesArePassedOnByTheSinksThread) {
    const std::thread::id owner = std::this_thread::get_id();
    std::vector<std::string> got;
    setMessageSink([&](MessageLevel, const std::string& text) {
        EXPECT_EQ(std::this_thread::get_id(), owner) << text;
        got.push_back(text);
    });
    std::vector<LoggedMessage> held;
    std::thread worker([&held] {
        HeldMessages hold(held);
        logMessage(MessageLevel::Debug, "one %d", 1);
        std::vector<LoggedMessage> inner;
        {
            HeldMessages nested(inner);
            logMessage(MessageLevel::Error, "two");
            passOn(inner);  // where they are already
        }
        passOn(inner);  // into the outer hold, still on this thread
        logMessage(MessageLevel::Info, "three");
    });
    worker.join();
    logMessage(MessageLevel::Info, "owner");
    EXPECT_EQ(got, std::vector<std::string>{"owner"});
    passOn(held);
    setMessageSink({});
    EXPECT_EQ(got, (std::vector<std::string>{"owner", "one 1", "two", "three"}));
    ASSERT_EQ(held.size(), 3u);
    EXPECT_EQ(held[1].level, MessageLevel::Error);
}

}  // namespace
}  // namespace bearfix
