#include "support/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace bearfix {

namespace {

bool writeAll(int fd, std::string_view content) {
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Where a replacement of `path` writes: through a symbolic link to its target.
std::filesystem::path replaceTarget(const std::string& path) {
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::canonical(target, ec);
        if (!ec) target = resolved;
    }
    return target;
}

constexpr std::string_view kTemporarySuffix = ".XXXXXX";  // mkstemp's letters and digits

}  // namespace

WholeFileRead readWholeFile(const std::string& path, std::uintmax_t maxBytes, std::string& bytes,
                            std::string* reason) {
    bytes.clear();
    const auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return WholeFileRead::Unreadable;
    };
    // Only a regular file, opened without waiting: a pipe or a device in its
    // place could block or deliver bytes forever.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? WholeFileRead::Missing : refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? WholeFileRead::Missing : refuse(std::strerror(errno));
    const std::string tooLarge = "larger than " + std::to_string(maxBytes >> 20) + " MB";
    std::string why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        why = tooLarge;
    } else {
        // One byte more than allowed tells a file that grew meanwhile.
        bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t got = 0;
        for (;;) {
            if (got == bytes.size()) {
                if (got > maxBytes) break;
                bytes.resize(std::min<std::uintmax_t>(maxBytes + 1, 2 * got + 4096));
            }
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) why = std::strerror(errno);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        if (why.empty() && got > maxBytes) why = tooLarge;
    }
    ::close(fd);
    if (!why.empty()) {
        bytes.clear();
        return refuse(why);
    }
    return WholeFileRead::Read;
}

bool replaceFileAtomically(const std::string& path, std::string_view content) {
    const std::filesystem::path target = replaceTarget(path);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A pipe, a device or a directory is not replaced, and never opened:
    // opening a pipe to write waits for a reader.
    if (exists && !S_ISREG(old.st_mode)) return false;

    std::string tempName = target.string() + std::string(kTemporarySuffix);
    const int fd = mkstemp(tempName.data());
    if (fd < 0) return false;
    fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tempName.c_str());
    return ok;
}

namespace {
constexpr time_t kStaleAfterSeconds = 60;
}  // namespace

int removeStaleTemporaries(const std::string& path) {
    const std::filesystem::path target = replaceTarget(path);
    const std::string prefix = target.filename().string() + ".";
    const auto ours = [&prefix](const std::string& name) {
        if (name.size() != prefix.size() + kTemporarySuffix.size() - 1 || name.compare(0, prefix.size(), prefix) != 0)
            return false;
        for (std::size_t i = prefix.size(); i < name.size(); ++i) {
            const char c = name[i];
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        }
        return true;
    };
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
        struct stat info;
        const std::filesystem::path& file = entry.path();
        if (!ours(file.filename().string()) || ::lstat(file.c_str(), &info) != 0) continue;
        // A recent one may belong to a save still going on in another
        // instance; a save takes milliseconds.
        const bool old = info.st_mtime < ::time(nullptr) - kStaleAfterSeconds;
        if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && old && ::unlink(file.c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace bearfix
