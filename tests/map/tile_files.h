// Elevation tiles made for tests: sparse files of the real sizes, with the
// samples a test needs written in.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace bearfix::testing {

// A tile of rows x columns big-endian samples, all `fill` (0 stays sparse).
inline std::string makeTile(const std::string& path, int rows, int columns, int16_t fill = 0) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (ftruncate(fd, 2LL * rows * columns) != 0) return {};
    if (fill != 0) {
        std::string row;
        for (int c = 0; c < columns; ++c) {
            row += static_cast<char>((fill >> 8) & 0xFF);
            row += static_cast<char>(fill & 0xFF);
        }
        for (int r = 0; r < rows; ++r) {
            if (pwrite(fd, row.data(), row.size(), static_cast<off_t>(r) * columns * 2) != static_cast<ssize_t>(row.size())) return {};
        }
    }
    ::close(fd);
    return path;
}

inline void setSample(const std::string& path, int columns, int row, int column, int16_t value) {
    int fd = ::open(path.c_str(), O_WRONLY);
    const char bytes[2] = {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
    if (pwrite(fd, bytes, 2, (static_cast<off_t>(row) * columns + column) * 2) != 2) {
    }
    ::close(fd);
}

// Every sample of a square tile holds its row number.
inline void numberRows(const std::string& path, int size) {
    int fd = ::open(path.c_str(), O_WRONLY);
    std::string row(static_cast<std::size_t>(size) * 2, '\0');
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            row[2 * c] = static_cast<char>((r >> 8) & 0xFF);
            row[2 * c + 1] = static_cast<char>(r & 0xFF);
        }
        if (pwrite(fd, row.data(), row.size(), static_cast<off_t>(r) * size * 2) != static_cast<ssize_t>(row.size())) break;
    }
    ::close(fd);
}

}  // namespace bearfix::testing
