// The background save writes only what changed, keeps the file's other keys and tries a failed write again.
#include "session/settings_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "temp_dir.h"

namespace bearfix {
namespace {

// Each step: observer A of the session handed over, whether a directory is
// in the file's way, whether a write starts and how its answer begins.
TEST(SettingsWriter, WritesInTheBackgroundOnlyWhatChanged) {
    testing::TempDir dir;
    const std::filesystem::path path = dir.path() / "bearfix.ini", aside = dir.path() / "aside";
    std::ofstream(path) << "[Mine]\nKept=1\n";
    const struct { const char* pos1; bool blocked; bool starts; std::string problem; } steps[] = {
        {"N1 E1", false, false, ""},  // as at start
        {"N2 E2", false, true, ""}, {"N2 E2", false, false, ""}, {"N3 E3", true, true, "Cannot read "},
        {"N3 E3", true, true, "Cannot read "}, {"N3 E3", false, true, ""}, {"N3 E3", false, false, ""},  // tried again
    };
    SettingsWriter writer;
    SessionSettings s;
    s.pos1 = "N1 E1";
    writer.remember(s, true);
    for (const auto& step : steps) {
        s.pos1 = step.pos1;
        if (step.blocked) {
            std::filesystem::rename(path, aside);
            std::filesystem::create_directory(path);
        }
        std::string problem;
        ASSERT_EQ(writer.writeInBackground(path, s, true, [&](const std::string& p) { problem = p; }), step.starts)
            << step.pos1 << " " << step.blocked;
        writer.wait();
        EXPECT_EQ(problem.substr(0, step.problem.size()), step.problem);
        if (step.blocked) {
            std::filesystem::remove(path);
            std::filesystem::rename(aside, path);
        }
        std::ifstream in(path);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text.substr(0, 14), "[Mine]\nKept=1\n");
        const bool written = !step.blocked && step.pos1[1] != '1';
        EXPECT_EQ(text.find(std::string("Pos1=") + step.pos1 + "\n") != std::string::npos, written);
    }
}

}  // namespace
}  // namespace bearfix
