// The background save writes only what changed, keeps the file's other keys,
// and tries a failed write again; the lock keeps a second window off.
#include "session/settings_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "session/instance_lock.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each step: the observer A of the session handed over, whether the file
// is in the way (a directory), and whether a write starts.
TEST(SettingsWriter, WritesInTheBackgroundOnlyWhatChanged) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "bearfix.ini").string();
    std::ofstream(path) << "[Mine]\nKept=1\n";
    const struct { const char* pos1; bool blocked; bool starts; const char* problem; } steps[] = {
        {"N1 E1", false, false, ""},  // as at start
        {"N2 E2", false, true, ""},
        {"N2 E2", false, false, ""},
        {"N3 E3", true, true, "Cannot read "},
        {"N3 E3", true, true, "Cannot read "},  // tried again
        {"N3 E3", false, true, ""},
        {"N3 E3", false, false, ""},
    };
    SettingsWriter writer;
    SessionSettings s;
    s.pos1 = "N1 E1";
    writer.remember(s, true);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.pos1);
        s.pos1 = step.pos1;
        const std::string aside = path + ".aside";
        if (step.blocked) {
            std::filesystem::rename(path, aside);
            std::filesystem::create_directory(path);
        }
        std::string problem;
        ASSERT_EQ(writer.writeInBackground(path, s, true, [&problem](const std::string& p) { problem = p; }),
                  step.starts);
        writer.wait();
        EXPECT_EQ(problem.substr(0, std::string(step.problem).size()), step.problem);
        if (step.blocked) {
            std::filesystem::remove(path);
            std::filesystem::rename(aside, path);
        } else if (step.starts) {
            EXPECT_NE(contents(path).find(std::string("Pos1=") + step.pos1 + "\n"), std::string::npos);
        }
    }
    EXPECT_EQ(contents(path).substr(0, 15), "[Mine]\nKept=1\n\n");
}

TEST(InstanceLock, OneHolderAtATime) {
    testing::TempDir dir;
    const std::string settings = (dir.path() / "config/bearfix").string();
    std::ofstream(dir.path() / "file");
    auto first = std::make_unique<InstanceLock>();
    EXPECT_EQ(first->take(settings), InstanceLock::State::Held);  // the directory made
    InstanceLock second;
    EXPECT_EQ(second.take(settings), InstanceLock::State::HeldElsewhere);
    first.reset();
    EXPECT_EQ(second.take(settings), InstanceLock::State::Held);
    EXPECT_EQ(InstanceLock().take((dir.path() / "file/bearfix").string()), InstanceLock::State::Unavailable);
}

}  // namespace
}  // namespace bearfix
