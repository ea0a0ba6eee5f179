// bearfix-cli send against listeners that answer as the test says.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "remote/remote_socket.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

int listenOn(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) return -1;
    return fd;
}

bool readAll(int fd, char* data, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// One connection, each frame answered with the next reply of the script
// (the last one again and again).
class ScriptedListener {
public:
    ScriptedListener(const std::string& path, std::vector<uint32_t> replies) : fd_(listenOn(path)) {
        thread_ = std::thread([this, replies] {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 20000) != 1) return;
            const int c = ::accept(fd_, nullptr, nullptr);
            char header[8];
            while (readAll(c, header, 8)) {
                uint32_t length;
                std::memcpy(&length, header + 4, 4);
                std::vector<char> text(length);
                if (!readAll(c, text.data(), length)) break;
                const uint32_t reply = replies[std::min<std::size_t>(frames_++, replies.size() - 1)];
                if (::write(c, &reply, 4) != 4) break;
            }
            ::close(c);
        });
    }
    ~ScriptedListener() {
        thread_.join();
        ::close(fd_);
    }
    int frames() const { return frames_; }

private:
    int fd_;
    std::atomic<int> frames_{0};
    std::thread thread_;
};

struct CliRun {
    int status;
    QString out, err;
};

// `asUser` >= 0: run as that user and its group.
CliRun send(const QStringList& args, int asUser = -1) {
    QProcess cli;
    if (asUser >= 0) {
        const QString id = QString::number(asUser);
        cli.start("setpriv", QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", BEARFIX_CLI, "send"} + args);
    } else {
        cli.start(BEARFIX_CLI, QStringList{"send"} + args);
    }
    cli.waitForFinished(30000);
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, cli.readAllStandardOutput(),
            cli.readAllStandardError()};
}

TEST(CliSend, AFullMailboxIsTriedAgainAndAFailureSaid) {
    const struct {
        std::vector<uint32_t> replies;
        const char* code;
        int status;
        const char* out;
        const char* err;  // part of the message; empty for none
        bool retried;
    } cases[] = {
        {{0, 0, 1}, "0", 0, "0x00000001\n", "", true},
        {{0}, "0", 1, "0x00000000\n", "Bearfix's mailbox stayed full for 2 s, not delivered: set brg1x=1\n", true},
        {{0x83000001}, "0", 1, "0x83000001\n", "longer than 1024 bytes, not delivered: set brg1x=1\n", false},
        {{0}, "0x786C0000", 0, "0x00000000\n", "", false},  // the answer to a query it does not know
    };
    for (const auto& c : cases) {
        testing::TempDir dir;
        const std::string path = (dir.path() / "bearfix.sock").string();
        CliRun run;
        int frames;
        {
            ScriptedListener listener(path, c.replies);
            run = send({"--socket", QString::fromStdString(path), "--code", c.code, "set brg1x=1"});
            frames = listener.frames();
        }
        SCOPED_TRACE(run.err.toStdString());
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, *c.err ? "bearfix-cli: " + QString(c.err) : QString());
        EXPECT_EQ(frames > 1, c.retried) << frames << " frames";
        if (c.replies.size() > 1) {
            EXPECT_EQ(frames, static_cast<int>(c.replies.size()));
        }
    }
}

// The reply 0x83000002: not queued, and the reason said as the window's log says it.
TEST(CliSend, ARefusedCommandIsSaidWithItsReason) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "bearfix.sock").string();
    CliRun run;
    {
        ScriptedListener listener(path, {0x83000002});
        run = send({"--socket", QString::fromStdString(path), "bearing add lat=50 lon=8 brg=1 colour=red"});
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "0x83000002\n");
    EXPECT_EQ(run.err, "bearfix-cli: refused, unknown key at \"colour=red\": bearing add lat=50 lon=8 brg=1 colour=red\n");
}

TEST(CliSend, NothingGoesToAListenerOfAnotherUser) {
    if (geteuid() != 0) {  // only root can listen as another user: the check, seen from one
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        long other = 0;
        EXPECT_TRUE(bearfix::servedBy(ends[0], geteuid(), &other));
        EXPECT_FALSE(bearfix::servedBy(ends[0], geteuid() + 1, &other));
        EXPECT_EQ(other, static_cast<long>(geteuid()));
        ::close(ends[0]);
        ::close(ends[1]);
        return;
    }
    testing::TempDir dir;
    const fs::path shared = dir.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(shared, fs::perms::all);
    const std::string path = (shared / "bearfix.sock").string();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {  // another user takes the name and records what arrives
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = listenOn(path);
        (void)!write(ready[1], "x", 1);
        const int c = ::accept(fd, nullptr, nullptr);
        char byte;
        _exit(::read(c, &byte, 1) > 0 ? 1 : 0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const CliRun run = send({"--socket", QString::fromStdString(path), "set brg1x=1"});
    int status = 0;
    waitpid(squatter, &status, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "bearfix-cli: " + QString::fromStdString(path) +
                           " is not served by you but by user 65534; nothing sent\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other user got nothing";
    close(ready[0]);
    close(ready[1]);
}

// Root is refused nothing: as root, the client runs as user 65534.
TEST(CliSend, NoPermissionIsSaidAsSuch) {
    testing::TempDir dir;
    const fs::path locked = dir.path() / "locked";
    fs::create_directory(locked);
    const int fd = listenOn((locked / "bearfix.sock").string());
    fs::permissions(locked, fs::perms::none);
    const std::string path = (locked / "bearfix.sock").string();
    const CliRun run = send({"--socket", QString::fromStdString(path), "set brg1x=1"}, geteuid() == 0 ? 65534 : -1);
    fs::permissions(locked, fs::perms::owner_all);
    ::close(fd);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "bearfix-cli: cannot connect to " + QString::fromStdString(path) + ": Permission denied\n");
}

}  // namespace
}  // namespace bearfix
