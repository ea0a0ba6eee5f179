#include "support/message_log.h"

#include <gtest/gtest.h>

#include <string>
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

}  // namespace
}  // namespace bearfix
