// Elevation tiles made for tests: sparse files of the real sizes, with the
// samples a test needs written in (big-endian).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace bearfix::testing {

// A tile of rows x columns samples, all `fill` (0 stays sparse), or each
// holding its row number.
inline std::string makeTile(const std::string& path, int rows, int columns, int16_t fill = 0, bool numberRows = false) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = ftruncate(fd, 2LL * rows * columns) == 0;
    for (int r = 0; ok && (fill != 0 || numberRows) && r < rows; ++r) {
        const int v = numberRows ? r : fill;
        const std::string sample = std::string(1, static_cast<char>(v >> 8)) + static_cast<char>(v & 0xFF);
        std::string bytes;
        for (int c = 0; c < columns; ++c) bytes += sample;
        ok = pwrite(fd, bytes.data(), bytes.size(), off_t{2} * r * columns) == static_cast<ssize_t>(bytes.size());
    }
    ::close(fd);
    return ok ? path : std::string{};
}

inline void setSample(const std::string& path, int columns, int row, int column, int16_t value) {
    const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    int fd = ::open(path.c_str(), O_WRONLY);
    [[maybe_unused]] const ssize_t written = pwrite(fd, bytes, 2, (off_t{row} * columns + column) * 2);
    ::close(fd);
}

}  // namespace bearfix::testing
