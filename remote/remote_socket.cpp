#include "remote/remote_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace bearfix {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::string privateSocketDirectory() { return "/tmp/bearfix-" + std::to_string(getuid()); }

std::string remoteSocketPath() {
    if (const char* path = std::getenv("BEARFIX_SOCKET"); path && *path) return path;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/bearfix.sock";
    return privateSocketDirectory() + "/bearfix.sock";
}

std::string ensurePrivateDirectory(const std::string& directory) {
    if (::mkdir(directory.c_str(), 0700) == 0) {
        ::chmod(directory.c_str(), 0700);  // whatever the umask took away
    } else if (errno != EEXIST) {
        return "cannot make the directory " + quoted(directory) + " (" + std::strerror(errno) + ")";
    }
    struct stat info;
    if (::lstat(directory.c_str(), &info) != 0) return quoted(directory) + ": " + std::strerror(errno);
    std::string wrong;
    if (S_ISLNK(info.st_mode)) {
        wrong = "a symbolic link";
    } else if (!S_ISDIR(info.st_mode)) {
        wrong = "not a directory";
    } else if (info.st_uid != ::geteuid()) {
        wrong = "owned by user " + std::to_string(info.st_uid);
    } else if ((info.st_mode & 07777) != 0700) {
        char mode[48];
        std::snprintf(mode, sizeof mode, "mode %04o, not 0700", static_cast<unsigned>(info.st_mode & 07777));
        wrong = mode;
    }
    return wrong.empty() ? std::string() : quoted(directory) + " is not a private directory of this user (" + wrong + ")";
}

std::string claimSocketPath(const std::string& path) {
    const std::string directory = std::filesystem::path(path).parent_path().string();
    if (directory == privateSocketDirectory()) {
        if (std::string wrong = ensurePrivateDirectory(directory); !wrong.empty()) return wrong;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? std::string() : quoted(path) + ": " + std::strerror(errno);
    }
    if (!S_ISSOCK(info.st_mode)) return quoted(path) + " is not a socket; it is left as it is";

    // Somebody answering there means another Bearfix runs; otherwise the
    // socket is left over from a run that ended without cleaning up.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return quoted(path) + ": the name is too long for a socket";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) return quoted(path) + ": " + std::strerror(errno);
    const int answered = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = answered == 0 ? 0 : errno;
    ::close(probe);
    if (answered == 0 || error == EAGAIN || error == EINPROGRESS) return "another program listens on " + quoted(path);
    if (error != ECONNREFUSED) return quoted(path) + ": " + std::strerror(error);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return quoted(path) + ": " + std::strerror(errno);
    return {};
}

bool peerUid(int fd, uid_t* uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) return false;
    *uid = credentials.uid;
    return true;
}

bool servedBy(int fd, uid_t me, long* other) {
    uid_t owner;
    const bool known = peerUid(fd, &owner);
    if (known && owner == me) return true;
    *other = known ? static_cast<long>(owner) : -1L;
    return false;
}

}  // namespace bearfix
