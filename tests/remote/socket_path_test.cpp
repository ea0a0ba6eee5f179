#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "remote/remote_socket.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(SocketPath, FromTheEnvironment) {
    const std::string uid = std::to_string(getuid());
    const struct {
        const char* socket;
        const char* runtime;
        std::string path;
    } cases[] = {
        {"/x/my.sock", "/run/user/7", "/x/my.sock"},
        {"", "/run/user/7", "/run/user/7/bearfix.sock"},
        {nullptr, nullptr, "/tmp/bearfix-" + uid + "/bearfix.sock"},
    };
    for (const auto& c : cases) {
        c.socket ? setenv("BEARFIX_SOCKET", c.socket, 1) : unsetenv("BEARFIX_SOCKET");
        c.runtime ? setenv("XDG_RUNTIME_DIR", c.runtime, 1) : unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(remoteSocketPath(), c.path);
    }
    unsetenv("BEARFIX_SOCKET");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(privateSocketDirectory(), "/tmp/bearfix-" + uid);
}

TEST(SocketPath, OnlyAPrivateDirectoryOfThisUserIsUsed) {
    TempDir dir;
    const fs::path made = dir.path() / "made", open = dir.path() / "open", link = dir.path() / "link";
    fs::create_directory(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::create_directory(dir.path() / "private", dir.path());
    fs::permissions(dir.path() / "private", fs::perms::owner_all);
    fs::create_directory_symlink(dir.path() / "private", link);
    // Another user's directory: only root can make one; otherwise "/" is one.
    fs::path others = "/";
    if (geteuid() == 0) {
        others = dir.path() / "others";
        fs::create_directory(others);
        fs::permissions(others, fs::perms::owner_all);
        ASSERT_EQ(chown(others.c_str(), 65534, 65534), 0);
    }
    const std::string q = "\"";
    const std::pair<fs::path, std::string> cases[] = {
        {made, ""},
        {dir.path() / "private", ""},
        {open, q + open.string() + "\" is not a private directory of this user (mode 0755, not 0700)"},
        {link, q + link.string() + "\" is not a private directory of this user (a symbolic link)"},
        {dir.write("file", "x"), q + (dir.path() / "file").string() +
                                     "\" is not a private directory of this user (not a directory)"},
        {others, q + others.string() + "\" is not a private directory of this user (owned by user " +
                     (geteuid() == 0 ? "65534" : "0") + ")"},
        {dir.path() / "none/made", "cannot make the directory \"" + (dir.path() / "none/made").string() +
                                       "\" (No such file or directory)"},
    };
    const mode_t oldMask = umask(0);  // a directory is made 0700 whatever the umask
    for (const auto& [path, message] : cases) EXPECT_EQ(ensurePrivateDirectory(path.string()), message) << path;
    umask(oldMask);
    struct stat info;
    ASSERT_EQ(lstat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST(SocketPath, OnlyAStaleSocketIsReplaced) {
    TempDir dir;
    const auto bound = [&dir](const char* name, bool listening) {
        const std::string path = (dir.path() / name).string();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (listening) {
            ::listen(fd, 1);
        } else {
            ::close(fd);
        }
        return path;
    };
    const std::string stale = bound("stale.sock", false), live = bound("live.sock", true);
    const std::string file = dir.write("notes.txt", "mine"), link = (dir.path() / "link.sock").string();
    fs::create_symlink(stale, link);
    const std::pair<std::string, std::string> cases[] = {
        {(dir.path() / "new.sock").string(), ""},
        {stale, ""},
        {live, "another program listens on \"" + live + "\""},
        {file, "\"" + file + "\" is not a socket; it is left as it is"},
        {dir.path().string(), "\"" + dir.path().string() + "\" is not a socket; it is left as it is"},
        {link, "\"" + link + "\" is not a socket; it is left as it is"},
    };
    for (const auto& [path, message] : cases) EXPECT_EQ(claimSocketPath(path), message) << path;
    EXPECT_FALSE(fs::exists(fs::symlink_status(stale))) << "the stale socket is gone";
    EXPECT_TRUE(fs::is_socket(live));
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_TRUE(fs::is_symlink(link));
}

}  // namespace
}  // namespace bearfix
