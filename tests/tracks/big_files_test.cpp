// Track files far larger than any real one, and files that are not tracks.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

using testing::TempDir;

// Kilobytes of the process's peak resident memory (VmHWM).
long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Writes `megabytes` of `chunk` repeated between `head` and `tail`.
std::string bigFile(const TempDir& dir, const char* name, const std::string& head, const std::string& chunk,
                    const std::string& tail, int megabytes) {
    const std::string path = (dir.path() / name).string();
    std::ofstream out(path, std::ios::binary);
    out << head;
    std::string block;
    while (block.size() < (1 << 20)) block += chunk;
    for (int i = 0; i < megabytes; ++i) out << block;
    out << tail;
    return path;
}

class BigFiles : public ::testing::Test {
protected:
    void SetUp() override {
        clearTracks();
        setMessageSink([this](MessageLevel, const std::string& text) { log.push_back(text); });
    }
    void TearDown() override {
        setMessageSink({});
        clearTracks();
    }
    TempDir dir;
    std::vector<std::string> log;
};

TEST_F(BigFiles, AuxiliaryFileOf200MegabytesIsStreamed) {
    const std::string path = bigFile(dir, "huge.aux", "Wavemill auxiliary track file\n",
                                     "# a comment line that is not a data line, as a recorder may write them\n",
                                     "7 1262304000 52.5 13.25 40 0\n", 200);
    // In a child process, so that its peak memory is its own.
    const pid_t child = fork();
    if (child == 0) {
        const long before = peakKilobytes();
        const bool ok = loadTrackFile(path, 0);
        const long growth = peakKilobytes() - before;
        _exit(ok && trackRecordCount() == 2 && growth < 32 * 1024 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the import kept well under 32 MB";
}

TEST_F(BigFiles, KmlOf200MegabytesWithoutATrack) {
    const std::string path = bigFile(dir, "huge.kml", "<?xml version=\"1.0\"?><kml><Document><description>",
                                     "A long description of a hunt that went on and on. ", "</description></Document></kml>", 200);
    EXPECT_FALSE(loadTrackFileReporting(path, 0));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Error loading \"" + path + "\": no track points found");
}

TEST_F(BigFiles, FilesThatAreNotTracks) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 37 % 256);
    const std::string kml = dir.write("photo.kml", binary);
    EXPECT_FALSE(loadTrackFileReporting(kml, 0));
    EXPECT_EQ(log.back(), "Error loading \"" + kml + "\": The file holds binary data, not XML");
    const std::string aux = dir.write("photo.aux", binary);
    EXPECT_FALSE(loadTrackFileReporting(aux, 0));
    EXPECT_EQ(log.back(), "Error loading \"" + aux + "\": no track points found");
    EXPECT_FALSE(loadTrackFileReporting(dir.path().string() + "/", 1)) << "a directory";
    EXPECT_EQ(trackRecordCount(), 1) << "only the auxiliary file's header";
}

}  // namespace
}  // namespace bearfix
