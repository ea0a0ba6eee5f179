// Handing a command over: the window command's words, and a listener that is
// not there or never answers (a hung Bearfix) costs no more than the timeout.
#include "remote/remote_client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "remote/remote_mailbox.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

TEST(WindowCommand, RaiseWithAndWithoutToken) {
    const struct { const char* text; bool raise; const char* token; } cases[] = {
        {"raise", true, ""},
        {"RAISE  token=kwin-4711_TIME123 more", true, "kwin-4711_TIME123"},
        {"raise token=", true, ""},
        {"raise token=ab\x01" "cd", true, "ab"},
        {"raise token=\xE4x", true, ""},
        {"raised", false, ""},
        {"lower", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string token = "old";
        EXPECT_EQ(runWindowCommand(c.text, &token), c.raise);
        EXPECT_EQ(token, c.token);
    }
}

TEST(RemoteClient, NoListenerAndNoAnswer) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "hung.sock").string();
    EXPECT_EQ(deliverCommand(path, "window raise", 200).result, Delivery::Result::NoListener);
    // Listening, never accepting: the kernel completes the connection, no reply comes.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    const Delivery d = deliverCommand(path, "window raise", 200);
    EXPECT_EQ(d.result, Delivery::Result::NoAnswer);
    EXPECT_EQ(d.pid, static_cast<long>(::getpid()));
    ::close(fd);
}

}  // namespace
}  // namespace bearfix
