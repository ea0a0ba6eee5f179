// Helpers for the fuzz targets: the input as a NUL-terminated text, or as a
// file (in memory, named through /proc) for the readers that open files.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace bearfix::fuzz {

// A property every input must keep; a broken one is a finding.
inline void check(bool ok) {
    if (!ok) std::abort();
}

inline std::string text(const uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

class MemoryFile {
public:
    MemoryFile(const uint8_t* data, std::size_t size) {
        fd_ = memfd_create("bearfix-fuzz", 0);
        for (std::size_t done = 0; fd_ >= 0 && done < size;) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace bearfix::fuzz
