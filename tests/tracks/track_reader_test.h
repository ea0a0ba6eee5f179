// What the track readers' tests share: an empty store and the messages of
// each test, and the store as a text.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "tracks/track_store.h"

namespace bearfix::testing {

class TrackReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearTracks();
        setMessageSink([this](MessageLevel, const std::string& text) { log.push_back(text); });
    }
    void TearDown() override {
        setMessageSink({});
        clearTracks();
    }
    // The store as "#segment|lat lon|...", valid points only, in degrees to 1e-5.
    static std::string track() {
        std::ostringstream out;
        for (const TrackPoint& r : trackStore()) {
            if (r.type == kTrackSegment) out << (out.tellp() > 0 ? "|#" : "#") << r.name;
            if (r.type == kTrackPoint && r.valid)
                out << '|' << std::round(r.lat / 3.6) / 1e5 << ' ' << std::round(r.lon / 3.6) / 1e5;
        }
        return out.str();
    }

    TempDir dir;
    std::vector<std::string> log;
};

}  // namespace bearfix::testing
