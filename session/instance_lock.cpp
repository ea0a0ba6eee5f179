#include "session/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace bearfix {

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

// The directory itself is locked: no lock file to leave behind.
InstanceLock::State InstanceLock::take(const std::string& directory) {
    if (fd_ >= 0) return State::Held;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return State::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
    }
    fd_ = fd;
    return State::Held;
}

}  // namespace bearfix
