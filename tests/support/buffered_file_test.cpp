#include "support/buffered_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace bearfix {
namespace {

using ::testing::ElementsAreArray;
using testing::TempDir;

// Reads every line (pieces of at most maxLength) until -1.
std::vector<std::string> readAllLines(const std::string& path, int maxLength = 255) {
    auto file = std::make_unique<BufferedFile>();
    EXPECT_TRUE(file->open(path));
    std::vector<std::string> lines;
    std::vector<char> line(static_cast<size_t>(maxLength) + 1);
    int n;
    while ((n = file->readLine(line.data(), maxLength)) >= 0) {
        EXPECT_EQ(std::strlen(line.data()), static_cast<size_t>(n));
        lines.emplace_back(line.data(), static_cast<size_t>(n));
    }
    EXPECT_EQ(file->readLine(line.data(), maxLength), -1) << "end of file must stay the end";
    return lines;
}

struct LineCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(BufferedFile, LineEndsAndDecoding) {
    const LineCase cases[] = {
        {"mixed ends", "a\r\nb\n\nc", {"a", "b", "", "c"}},
        {"CR LF LF keeps the empty line", "a\r\n\nb\n", {"a", "", "b"}},
        {"two CRs", "a\r\rb", {"a", "", "b"}},
        {"empty file", "", {}},
        {"tab stays, form feed and NUL end lines", std::string("a\tb\fc\0d", 7), {"a\tb", "c", "d"}},
        {"BOM is skipped", "\xEF\xBB\xBFx\n", {"x"}},
        {"two-byte sequence", "\xEF\xBB\xBF\xC3\xA9", {"\xE9"}},
        {"euro sign", "\xEF\xBB\xBF\xE2\x82\xAC!", {"\x80!"}},
        {"four-byte sequence", "\xEF\xBB\xBF" "a\xF0\x9F\x98\x80" "b", {"a\xBF" "b"}},
        {"overlong NUL and LF are not characters", "\xEF\xBB\xBF" "a\xE0\x80\x80" "b\xE0\x80\x8A" "c", {"a\xBF" "b\xBF" "c"}},
        {"broken sequence swallows the line end", "\xEF\xBB\xBF\xC3\nz\n", {"\xBFz"}},
        {"no BOM: bytes unchanged", "\xC3\xA9", {"\xC3\xA9"}},
        {"BOM only at the start", "a\n\xEF\xBB\xBF", {"a", "\xEF\xBB\xBF"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        EXPECT_THAT(readAllLines(dir.write("f.txt", c.bytes)), ElementsAreArray(c.lines)) << c.name;
    }
}

// Long runs of ordinary bytes are copied in blocks; the bytes that need care
// must be seen wherever they stand in such a block.
TEST(BufferedFile, SpecialBytesAtEveryOffset) {
    TempDir dir;
    for (int k = 0; k < 40; ++k) {
        std::string head(static_cast<size_t>(k), 'x'), tail(37, 'y');
        EXPECT_THAT(readAllLines(dir.write("ff.txt", head + "\f" + tail + "\tz\r\n")),
                    ElementsAreArray({head, tail + "\tz"}))
            << k;
        EXPECT_THAT(readAllLines(dir.write("bom.txt", "\xEF\xBB\xBF" + head + "\xC3\xA9" + tail)),
                    ElementsAreArray({head + "\xE9" + tail}))
            << k;
        EXPECT_THAT(readAllLines(dir.write("raw.txt", head + "\xC3\xA9" + tail)),
                    ElementsAreArray({head + "\xC3\xA9" + tail}))
            << k;
    }
}

TEST(BufferedFile, LongLinesComeBackInPieces) {
    TempDir dir;
    std::string path = dir.write("long.txt", std::string(300, 'x') + "\ny");
    EXPECT_THAT(readAllLines(path), ElementsAreArray({std::string(255, 'x'), std::string(45, 'x'), std::string("y")}));
}

TEST(BufferedFile, CrLfSplitAcrossBufferLoads) {
    TempDir dir;
    std::string bytes(BufferedFile::kBufferSize - 1, 'a');
    bytes += "\r\nnext\n";
    std::string path = dir.write("split.txt", bytes);
    auto lines = readAllLines(path, BufferedFile::kBufferSize);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), static_cast<size_t>(BufferedFile::kBufferSize - 1));
    EXPECT_EQ(lines[1], "next");
}

TEST(BufferedFile, Utf8SequenceSplitAcrossBufferLoads) {
    TempDir dir;
    std::string bytes = "\xEF\xBB\xBF" + std::string(BufferedFile::kBufferSize - 4, 'a') + "\xC3\xA9\n";
    auto lines = readAllLines(dir.write("utf8.txt", bytes), 2 * BufferedFile::kBufferSize);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].back(), '\xE9');
    EXPECT_EQ(lines[0].size(), static_cast<size_t>(BufferedFile::kBufferSize - 3));
}

TEST(BufferedFile, ReadBytesAndSeek) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 3 * BufferedFile::kBufferSize; ++i) bytes += static_cast<char>(i * 7);
    std::string path = dir.write("bytes.bin", bytes);
    auto file = std::make_unique<BufferedFile>();
    ASSERT_TRUE(file->open(path));

    // A read across two buffer loads.
    std::vector<char> got(100000);
    ASSERT_EQ(file->readBytes(got.data(), 100000), 100000);
    EXPECT_EQ(std::string(got.data(), 100000), bytes.substr(0, 100000));
    EXPECT_EQ(file->seek(0, 1), 100000);

    struct Seek {
        int64_t offset;
        int origin;
        int64_t expected;
    };
    const Seek seeks[] = {{10, 0, 10}, {-5, 1, 9}, {-16, 2, 3 * BufferedFile::kBufferSize - 16},
                          {150000, 0, 150000}, {3, 7, -1}, {-1, 0, -1}};
    for (const auto& s : seeks) {
        int64_t before = file->seek(0, 1);
        int64_t pos = file->seek(s.offset, s.origin);
        EXPECT_EQ(pos, s.expected) << s.offset << "/" << s.origin;
        if (pos < 0) {
            EXPECT_EQ(file->seek(0, 1), before) << "a failed seek must not move";
            continue;
        }
        char four[4];
        int expectedCount = std::min<int64_t>(4, static_cast<int64_t>(bytes.size()) - pos);
        ASSERT_EQ(file->readBytes(four, 4), expectedCount);
        EXPECT_EQ(std::string(four, 4), bytes.substr(static_cast<size_t>(pos), 4));
    }
    file->seek(-2, 2);
    char tail[10];
    EXPECT_EQ(file->readBytes(tail, 10), 2);
    EXPECT_EQ(file->readBytes(tail, 10), 0);
}

TEST(BufferedFile, SeekInsideTheBufferMakesNoSystemRead) {
    TempDir dir;
    std::string path = dir.write("cached.bin", std::string(1000, 'o'));
    auto file = std::make_unique<BufferedFile>();
    ASSERT_TRUE(file->open(path));
    char c;
    ASSERT_EQ(file->readBytes(&c, 1), 1);

    // Change the file behind the reader's back: only a fresh system read could see it.
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "NNNN", 4, 500), 4);
    ::close(fd);

    ASSERT_EQ(file->seek(500, 0), 500);
    char got[4];
    ASSERT_EQ(file->readBytes(got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "oooo");
}

TEST(BufferedFile, OffsetsBeyondTwoGigabytes) {
    TempDir dir;
    std::string path = (dir.path() / "sparse.bin").string();
    const int64_t far = (int64_t{5} << 30) + 12345;  // 5 GiB, beyond any 32-bit offset
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    bool written = ::pwrite(fd, "marker", 6, static_cast<off_t>(far)) == 6;
    ::close(fd);
    if (!written) GTEST_SKIP() << "the temporary file system cannot hold a sparse 5 GiB file";

    auto file = std::make_unique<BufferedFile>();
    ASSERT_TRUE(file->open(path));
    EXPECT_EQ(file->seek(-6, 2), far);
    EXPECT_EQ(file->seek(far, 0), far);
    char got[6];
    ASSERT_EQ(file->readBytes(got, 6), 6);
    EXPECT_EQ(std::string(got, 6), "marker");
    EXPECT_EQ(file->seek(0, 1), far + 6);
}

TEST(BufferedFile, OpenFailureAndClose) {
    TempDir dir;
    auto file = std::make_unique<BufferedFile>();
    EXPECT_FALSE(file->open((dir.path() / "missing").string()));
    EXPECT_FALSE(file->isOpen());
    char line[8];
    EXPECT_EQ(file->readLine(line, 7), -1);
    EXPECT_EQ(file->seek(0, 2), -1);
    file->close();
    file->close();
}

}  // namespace
}  // namespace bearfix
