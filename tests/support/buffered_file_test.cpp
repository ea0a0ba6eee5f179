#include "support/buffered_file.h"

#include <fcntl.h>
#include <sys/mman.h>
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
constexpr int kBuf = BufferedFile::kBufferSize;

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

TEST(BufferedFile, LineEndsAndDecoding) {
    const struct { const char* name; std::string bytes; std::vector<std::string> lines; } cases[] = {
        {"mixed ends", "a\r\nb\n\nc", {"a", "b", "", "c"}},
        {"CR LF LF keeps the empty line", "a\r\n\nb\n", {"a", "", "b"}},
        {"two CRs", "a\r\rb", {"a", "", "b"}},
        {"empty file", "", {}},
        {"tab stays, form feed and NUL end lines", std::string("a\tb\fc\0d", 7), {"a\tb", "c", "d"}},
        {"long line in pieces", std::string(300, 'x') + "\ny", {std::string(255, 'x'), std::string(45, 'x'), "y"}},
        {"BOM is skipped", "\xEF\xBB\xBFx\n", {"x"}},
        {"euro sign", "\xEF\xBB\xBF\xE2\x82\xAC!", {"\x80!"}},
        {"four-byte sequence", "\xEF\xBB\xBF" "a\xF0\x9F\x98\x80" "b", {"a\xBF" "b"}},
        {"overlong NUL and LF are not characters", "\xEF\xBB\xBF" "a\xE0\x80\x80" "b\xE0\x80\x8A" "c", {"a\xBF" "b\xBF" "c"}},
        {"broken sequence swallows the line end", "\xEF\xBB\xBF\xC3\nz\n", {"\xBFz"}},
        {"BOM only at the start", "a\n\xEF\xBB\xBF", {"a", "\xEF\xBB\xBF"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        EXPECT_THAT(readAllLines(dir.write("f.txt", c.bytes)), ElementsAreArray(c.lines)) << c.name;
    }
}

// Runs of ordinary bytes are copied in blocks; the bytes that need care must
// be seen wherever they stand in such a block, with and without a BOM.
TEST(BufferedFile, SpecialBytesAtEveryOffset) {
    TempDir dir;
    for (size_t k = 0; k < 40; ++k) {
        SCOPED_TRACE(k);
        const std::string head(k, 'x'), tail(37, 'y'), rest = "\f" + tail + "\tz\r\n";
        EXPECT_THAT(readAllLines(dir.write("bom", "\xEF\xBB\xBF" + head + "\xC3\xA9" + head + rest)),
                    ElementsAreArray({head + "\xE9" + head, tail + "\tz"}));
        EXPECT_THAT(readAllLines(dir.write("raw", head + "\xC3\xA9" + head + rest)),
                    ElementsAreArray({head + "\xC3\xA9" + head, tail + "\tz"}));
    }
}

// Not compared with ElementsAreArray: a failure should not print 64 KiB lines.
TEST(BufferedFile, CrLfAndUtf8SplitAcrossBufferLoads) {
    TempDir dir;
    auto lines = readAllLines(dir.write("crlf", std::string(kBuf - 1, 'a') + "\r\nnext\n"), kBuf);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), static_cast<size_t>(kBuf - 1));
    EXPECT_EQ(lines[1], "next");
    lines = readAllLines(dir.write("utf8", "\xEF\xBB\xBF" + std::string(kBuf - 4, 'a') + "\xC3\xA9\n"), 2 * kBuf);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0] == std::string(kBuf - 4, 'a') + "\xE9");
}

TEST(BufferedFile, ReadBytesAndSeek) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 3 * kBuf; ++i) bytes += static_cast<char>(i * 7);
    auto file = std::make_unique<BufferedFile>();
    ASSERT_TRUE(file->open(dir.write("bytes.bin", bytes)));
    std::vector<char> got(100000);  // across two buffer loads
    ASSERT_EQ(file->readBytes(got.data(), 100000), 100000);
    EXPECT_EQ(std::string(got.data(), 100000), bytes.substr(0, 100000));

    const int64_t seeks[][3] = {{0, 1, 100000}, {10, 0, 10},        {-5, 1, 9}, {-16, 2, 3 * kBuf - 16},
                                {150000, 0, 150000}, {3, 7, -1}, {-1, 0, -1}};
    for (const auto& [offset, origin, expected] : seeks) {
        int64_t before = file->seek(0, 1);
        int64_t pos = file->seek(offset, static_cast<int>(origin));
        EXPECT_EQ(pos, expected) << offset << "/" << origin;
        if (pos < 0) {
            EXPECT_EQ(file->seek(0, 1), before) << "a failed seek must not move";
        } else if (offset != 0) {
            ASSERT_EQ(file->readBytes(got.data(), 4), 4);
            EXPECT_EQ(std::string(got.data(), 4), bytes.substr(static_cast<size_t>(pos), 4));
        }
    }
    file->seek(-2, 2);
    EXPECT_EQ(file->readBytes(got.data(), 10), 2);
    EXPECT_EQ(file->readBytes(got.data(), 10), 0);

    EXPECT_FALSE(file->open((dir.path() / "missing").string()));
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(file->readLine(got.data(), 7), -1);
    EXPECT_EQ(file->seek(0, 2), -1);
}

TEST(BufferedFile, OffsetsBeyondTwoGigabytes) {
    // A file in memory holds a sparse 5 GiB file wherever the test runs.
    const int fd = ::memfd_create("sparse.bin", 0);
    ASSERT_GE(fd, 0);
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int64_t far = (int64_t{5} << 30) + 12345;  // beyond any 32-bit offset
    ASSERT_EQ(::pwrite(fd, "marker", 6, static_cast<off_t>(far)), 6);

    auto file = std::make_unique<BufferedFile>();
    char got[6];
    ASSERT_TRUE(file->open(path));
    EXPECT_EQ(file->seek(-6, 2), far);
    EXPECT_EQ(file->seek(far, 0), far);
    ASSERT_EQ(file->readBytes(got, 6), 6);
    EXPECT_EQ(std::string(got, 6), "marker");
    EXPECT_EQ(file->seek(0, 1), far + 6);
    file.reset();
    ::close(fd);
}

}  // namespace
}  // namespace bearfix
