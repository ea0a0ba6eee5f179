// The remote interface end to end: frames over the local socket to the real
// window, offscreen.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QtTest/QTest>
#include <atomic>
#include <optional>
#include <thread>

#include "app/remote_server.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

std::string frame(uint32_t code, const std::string& text, uint32_t length) {
    std::string f(8, '\0');
    for (int i = 0; i < 4; ++i) {
        f[static_cast<std::size_t>(i)] = static_cast<char>(code >> (8 * i));
        f[static_cast<std::size_t>(4 + i)] = static_cast<char>(length >> (8 * i));
    }
    return f + text;
}
std::string frame(const std::string& text, uint32_t code = 0) {
    return frame(code, text, static_cast<uint32_t>(text.size()));
}

// A sender as another program would be: plain blocking socket calls.
class Client {
public:
    explicit Client(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(); }
    bool connected() const { return connected_; }
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // The next reply, or nothing within the timeout or when the connection closed.
    std::optional<uint32_t> reply(int timeoutMs = 5000) {
        unsigned char b[4];
        for (std::size_t got = 0; got < 4;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
            const ssize_t n = ::read(fd_, b + got, 4 - got);
            if (n <= 0) return std::nullopt;
            got += static_cast<std::size_t>(n);
        }
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    // True when the other end has closed the connection.
    bool closedByPeer(int timeoutMs = 3000) {
        pollfd p{fd_, POLLIN, 0};
        char c;
        return ::poll(&p, 1, timeoutMs) > 0 && ::read(fd_, &c, 1) == 0;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Runs `client` on its own thread while this thread serves the window.
template <class F>
void whileServing(F&& client) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        client();
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    thread.join();
}

class RemoteSocketTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        socketPath = (dir.path() / "bearfix.sock").string();
        clearTracks();
    }
    void TearDown() override { clearTracks(); }
    std::string socketPath;
};

TEST_F(RemoteSocketTest, RoundTripsInOrder) {
    auto w = start();
    std::vector<std::optional<uint32_t>> replies;
    whileServing([&] {
        Client c(socketPath);
        ASSERT_TRUE(c.connected());
        c.send(frame("set brg1x=45") + frame("", 0x00760000) + frame("", 0x636C0000) + frame(std::string(2000, 'z')) +
               frame("track addpoint lat=52 lon=8"));
        for (int i = 0; i < 5; ++i) replies.push_back(c.reply());
    });
    EXPECT_EQ(replies, (std::vector<std::optional<uint32_t>>{1u, 0x82000001u, 0x82000001u, 0x83000001u, 1u}));
    w->Timer1Timer();
    EXPECT_EQ(w->form().Ed_Brg1X->text(), "45");
    EXPECT_EQ(trackRecordCount(), 1);
}

TEST_F(RemoteSocketTest, InterleavedSplitAndVanishingClients) {
    auto w = start();
    w->remote().setQuietTimeout(300);
    whileServing([&] {
        Client a(socketPath), b(socketPath), gone(socketPath);
        const std::string fa = frame("set brg2x=77");
        a.send(fa.substr(0, 5));                   // half a header
        gone.send(frame("set brg1x=1").substr(0, 9));  // and then vanishes
        gone.close();
        EXPECT_TRUE(b.send(frame("", 0x00760000)));
        EXPECT_EQ(b.reply(), 0x82000001u) << "one connection waiting does not hold up another";
        for (std::size_t i = 5; i < fa.size(); ++i) {  // the rest, a byte at a time
            a.send(fa.substr(i, 1));
            usleep(1000);
        }
        EXPECT_EQ(a.reply(), 1u);
        // Half a frame, then silence: the connection is closed.
        b.send(frame("abc").substr(0, 10));
        EXPECT_TRUE(b.closedByPeer());
    });
    w->Timer1Timer();
    EXPECT_EQ(w->form().Ed_Brg2X->text(), "77");
    EXPECT_EQ(w->form().Ed_Brg1X->text(), "260") << "the vanished client's half frame did nothing";
}

TEST_F(RemoteSocketTest, HugeAnnouncementsCloseTheConnection) {
    auto w = start();
    whileServing([&] {
        Client c(socketPath);
        c.send(frame(0, "", 70000));
        EXPECT_EQ(c.reply(), 0x83000001u);
        EXPECT_TRUE(c.closedByPeer());
        Client next(socketPath);
        next.send(frame("", 0x00760000));
        EXPECT_EQ(next.reply(), 0x82000001u) << "the server goes on";
    });
}

TEST_F(RemoteSocketTest, FloodFromFourClientsWhileTheTimerRuns) {
    auto w = start();
    w->show();
    constexpr int kClients = 4, kFrames = 2500;
    std::atomic<int> stored{0}, refused{0}, other{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < kClients; ++k) {
        clients.emplace_back([&, k] {
            Client c(socketPath);
            for (int i = 0; i < kFrames; ++i) {
                c.send(frame("track addpoint lat=52." + std::to_string(k) + " lon=8." + std::to_string(i)));
                const auto r = c.reply();
                if (r == 1u) {
                    ++stored;
                } else if (r == 0u) {
                    ++refused;
                } else {
                    ++other;
                }
                usleep(400);  // spread over several ticks of the timer
            }
            ++finished;
        });
    }
    while (finished < kClients) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);  // Timer1 ticks meanwhile
    for (auto& t : clients) t.join();
    QTest::qWait(1000);  // the last ticks empty the mailbox
    EXPECT_EQ(other, 0);
    EXPECT_EQ(stored + refused, kClients * kFrames);
    EXPECT_EQ(trackRecordCount(), stored.load()) << "every frame answered 1 became a point";
    EXPECT_GT(stored, 20) << "the mailbox was emptied while the flood went on";
    EXPECT_FALSE(takeFromMailbox(w->mailbox(), '*', '*', false, nullptr)) << "the timer kept ticking";
}

TEST_F(RemoteSocketTest, OneListenerPerSocket) {
    // A socket file left by a crashed run is replaced.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    auto first = start();
    EXPECT_TRUE(first->remote().isListening());
    auto second = start();
    EXPECT_FALSE(second->remote().isListening());
    EXPECT_TRUE(second->form().Mem_Msgs->toPlainText().startsWith("Error: another program listens on"));
    whileServing([&] {
        Client c(socketPath);
        c.send(frame("", 0x00760000));
        EXPECT_EQ(c.reply(), 0x82000001u);
    });
}

}  // namespace
}  // namespace bearfix
