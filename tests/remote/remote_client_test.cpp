// The window command's words; a hung Bearfix holds a second start up no longer than the timeout.
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
        {"raise", true, ""}, {"RAISE  token=kwin-47_T1 more", true, "kwin-47_T1"}, {"raise token=", true, ""},
        {"raise token=ab\x01" "cd", true, "ab"}, {"raise token=\xE4x", true, ""}, {"raised", false, ""},
    };
    for (const auto& c : cases) {
        std::string token = "old";
        EXPECT_EQ(runWindowCommand(c.text, &token), c.raise) << c.text;
        EXPECT_EQ(token, c.token) << c.text;
    }
}

TEST(RemoteClient, NoAnswer) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "hung.sock").string();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);  // listening, never accepting
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_TRUE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 4) == 0);
    const Delivery d = deliverCommand(path, "window raise", 200);
    EXPECT_EQ(d.result, Delivery::Result::NoAnswer);
    EXPECT_EQ(d.pid, static_cast<long>(::getpid()));
    ::close(fd);
}

}  // namespace
}  // namespace bearfix
