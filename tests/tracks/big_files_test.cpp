// Track files far larger than any real one.
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

// Kilobytes of the process's peak resident memory (VmHWM).
long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// 200 MB of `chunk` repeated between `head` and `tail`.
std::string bigFile(const testing::TempDir& dir, const char* name, const std::string& head, const std::string& chunk,
                    const std::string& tail) {
    const std::string path = (dir.path() / name).string();
    std::ofstream out(path, std::ios::binary);
    std::string block;
    while (block.size() < (1 << 20)) block += chunk;
    out << head;
    for (int i = 0; i < 200; ++i) out << block;
    out << tail;
    return path;
}

TEST(BigFiles, AuxiliaryFileIsStreamed) {
    testing::TempDir dir;
    const std::string path = bigFile(dir, "huge.aux", "Wavemill auxiliary track file\n",
                                     "# a comment line that is not a data line, as a recorder may write them\n",
                                     "7 1262304000 52.5 13.25 40 0\n");
    // In a child process, so that its peak memory is its own.
    const pid_t child = fork();
    if (child == 0) {
        clearTracks();
        const long before = peakKilobytes();
        const bool ok = loadTrackFile(path, 0);
        _exit(ok && trackRecordCount() == 2 && peakKilobytes() - before < 32 * 1024 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the import kept well under 32 MB";
}

TEST(BigFiles, GpxIsStreamed) {
    testing::TempDir dir;
    const std::string path =
        bigFile(dir, "huge.gpx", "<?xml version=\"1.0\"?><gpx><trk><name>A very long name that never ends: ",
                "a hunt that went on and on and on. ",
                "</name><desc>none</desc><trkseg><trkpt lat=\"52.5\" lon=\"13.25\"/></trkseg></trk></gpx>");
    const pid_t child = fork();
    if (child == 0) {
        clearTracks();
        const long before = peakKilobytes();
        const bool ok = loadTrackFile(path, 0);
        _exit(ok && trackRecordCount() == 2 && peakKilobytes() - before < 32 * 1024 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the import kept well under 32 MB";
}

TEST(BigFiles, KmlWithoutATrack) {
    testing::TempDir dir;
    const std::string path = bigFile(dir, "huge.kml", "<?xml version=\"1.0\"?><kml><Document><description>",
                                     "A long description of a hunt that went on and on. ",
                                     "</description></Document></kml>");
    std::string last;
    setMessageSink([&last](MessageLevel, const std::string& text) { last = text; });
    EXPECT_FALSE(loadTrackFileReporting(path, 0));
    setMessageSink({});
    EXPECT_EQ(last, "Error loading \"" + path + "\": no track points found");
    clearTracks();
}

// Sparse files: the size alone refuses them, nothing is read.
TEST(BigFiles, XmlFilesOver256MegabytesAreRefused) {
    testing::TempDir dir;
    std::vector<std::string> log;
    setMessageSink([&log](MessageLevel, const std::string& text) { log.push_back(text); });
    for (const char* name : {"huge.kml", "huge.gpx"}) {
        const std::string path = dir.write(name, "<gpx>");
        ASSERT_EQ(truncate(path.c_str(), (off_t{256} << 20) + 1), 0);
        log.clear();
        EXPECT_FALSE(loadTrackFileReporting(path, 0));
        EXPECT_EQ(log.back(), "Error loading \"" + path + "\": the file is larger than 256 MB, too large for a track file");
    }
    setMessageSink({});
    clearTracks();
}

}  // namespace
}  // namespace bearfix
