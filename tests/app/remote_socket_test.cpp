// The remote interface end to end: frames over the local socket to the real
// window, offscreen.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QtTest/QTest>
#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include "app/remote_server.h"
#include "support/message_log.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

std::string le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string frame(const std::string& text, uint32_t code = 0) {
    return le32(code) + le32(static_cast<uint32_t>(text.size())) + text;
}
const std::string kVersionQuery = frame("", 0x00760000);
constexpr uint32_t kVersion = 0x82000001u, kTooLong = 0x83000001u;

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// A sender as another program would be: plain blocking socket calls that
// give up after five seconds.
struct Client {
    explicit Client(const std::string& path) {
        const timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const sockaddr_un address = addressOf(path);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~Client() { ::close(fd); }
    bool send(const std::string& bytes) const {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    std::optional<uint32_t> reply() const {
        unsigned char b[4];
        if (::recv(fd, b, 4, MSG_WAITALL) != 4) return std::nullopt;
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    bool closedByPeer() const {  // well before the server's quiet timeout of five seconds
        const timeval timeout{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char c;
        return ::recv(fd, &c, 1, 0) == 0;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
};

// Runs `client` on its own thread while this thread serves the window.
template <class F>
void whileServing(F&& client, const std::function<void()>& afterEvents = [] {}) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        client();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        afterEvents();
    }
    thread.join();
}

class RemoteSocketTest : public testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        clearTracks();
    }
    void TearDown() override { clearTracks(); }
    const std::string socketPath = (dir.path() / "bearfix.sock").string();
};

TEST_F(RemoteSocketTest, OneListenerRoundTripsInOrder) {
    // A socket file left by a crashed run is replaced.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = addressOf(socketPath);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    auto w = start();
    EXPECT_TRUE(w->remote().isListening());
    auto second = start();
    EXPECT_FALSE(second->remote().isListening());
    EXPECT_TRUE(second->form().Mem_Msgs->toPlainText().startsWith("Error: another program listens on"));
    std::vector<std::optional<uint32_t>> replies;
    whileServing([&] {
        Client c(socketPath);
        const std::string count = frame("", 0x636C0000);  // 'l' 'c': messages stored
        c.send(frame("set brg1x=45") + kVersionQuery + count + frame(std::string(2000, 'z')) +
               frame("track addpoint lat=52 lon=8") + le32(0) + le32(70000));
        for (int i = 0; i < 6; ++i) replies.push_back(c.reply());
        EXPECT_TRUE(c.closedByPeer()) << "after the announcement of 70000 bytes";
        Client next(socketPath);
        next.send(kVersionQuery);
        EXPECT_EQ(next.reply(), kVersion) << "the server goes on";
    });
    EXPECT_EQ(replies, (std::vector<std::optional<uint32_t>>{1u, kVersion, 0x82000001u, kTooLong, 1u, kTooLong}));
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
        a.send(fa.substr(0, 5));                       // half a header
        gone.send(frame("set brg1x=1").substr(0, 9));  // and then vanishes
        ::close(gone.fd);
        gone.fd = -1;
        EXPECT_TRUE(b.send(kVersionQuery));
        EXPECT_EQ(b.reply(), kVersion) << "one connection waiting does not hold up another";
        for (std::size_t i = 5; i < fa.size(); ++i) a.send(fa.substr(i, 1));  // the rest, a byte at a time
        EXPECT_EQ(a.reply(), 1u);
        b.send(frame("abc").substr(0, 10));
        EXPECT_TRUE(b.closedByPeer()) << "half a frame, then silence";
    });
    w->Timer1Timer();
    EXPECT_EQ(w->form().Ed_Brg2X->text(), "77");
    EXPECT_EQ(w->form().Ed_Brg1X->text(), "260") << "the vanished client's half frame did nothing";
}

TEST_F(RemoteSocketTest, FloodFromFourClientsWhileTheTimerRuns) {
    auto w = start();
    w->show();
    constexpr int kClients = 4, kFrames = 2500;
    std::atomic<int> stored{0}, refused{0}, other{0};
    // The flood goes on in stages, each after the timer emptied the mailbox:
    // it spreads over several ticks of the timer whatever the machine's speed.
    constexpr int kStage = 500;
    std::atomic<int> emptied{0};
    bool pending = false;
    const auto watchMailbox = [&] {
        const bool now = takeFromMailbox(w->mailbox(), '*', '*', false, nullptr);
        if (pending && !now) {
            ++emptied;
            emptied.notify_all();
        }
        pending = now;
    };
    whileServing([&] {  // Timer1 ticks meanwhile
        std::vector<std::jthread> clients;
        for (int k = 0; k < kClients; ++k) {
            clients.emplace_back([&, k] {
                Client c(socketPath);
                for (int i = 0; i < kFrames; ++i) {
                    for (int seen = emptied.load(); i % kStage == 0 && seen < i / kStage; seen = emptied.load())
                        emptied.wait(seen);
                    c.send(frame("track addpoint lat=52." + std::to_string(k) + " lon=8." + std::to_string(i)));
                    const auto r = c.reply();
                    ++(r == 1u ? stored : r == 0u ? refused : other);
                }
            });
        }
    }, watchMailbox);
    // the last ticks empty the mailbox
    EXPECT_TRUE(QTest::qWaitFor([&] { return trackRecordCount() == stored.load(); }, 10000))
        << "every frame answered 1 became a point: " << trackRecordCount() << " of " << stored.load();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(stored + refused, kClients * kFrames);
    EXPECT_GT(stored, 20) << "the mailbox was emptied while the flood went on";
    EXPECT_FALSE(takeFromMailbox(w->mailbox(), '*', '*', false, nullptr)) << "the timer kept ticking";
}

// (Which kinds of file are left: the socket path's own test.)
TEST_F(RemoteSocketTest, NothingButAStaleSocketIsReplaced) {
    dir.write("bearfix.sock", "my notes");
    auto w = start();
    EXPECT_FALSE(w->remote().isListening());
    EXPECT_EQ(w->form().Mem_Msgs->toPlainText(), "Error: \"" + QString::fromStdString(socketPath) +
                                                     "\" is not a socket; it is left as it is; remote commands are off.");
    w.reset();
    EXPECT_TRUE(std::filesystem::is_regular_file(socketPath)) << "still there";
}

TEST_F(RemoteSocketTest, ConnectionsAreCappedAndIdleOnesClosed) {
    auto w = start();
    whileServing([&] {
        Client busy(socketPath);  // the oldest, halfway through a frame
        const std::string half = frame("set brg1x=5");
        busy.send(half.substr(0, 6));
        std::vector<std::unique_ptr<Client>> idle;
        for (int i = 0; i < RemoteServer::kMaxConnections + 6; ++i) idle.push_back(std::make_unique<Client>(socketPath));
        idle.back()->send(kVersionQuery);
        EXPECT_EQ(idle.back()->reply(), kVersion);
        for (int i = 0; i < 7; ++i) EXPECT_TRUE(idle[i]->closedByPeer()) << "the longest idle made room: " << i;
        idle[7]->send(kVersionQuery);
        EXPECT_EQ(idle[7]->reply(), kVersion);
        busy.send(half.substr(6));
        EXPECT_EQ(busy.reply(), 1u) << "a frame on its way is not cut off";
    });
    w->remote().setIdleTimeout(100);
    whileServing([&] {
        Client silent(socketPath);
        EXPECT_TRUE(silent.closedByPeer()) << "silent for longer than the idle time";
    });
}

// While it lives, no new file descriptor can be opened.
class NoDescriptorsLeft {
public:
    NoDescriptorsLeft() {
        getrlimit(RLIMIT_NOFILE, &old_);
        const int lowestFree = ::open("/dev/null", O_RDONLY);
        ::close(lowestFree);
        rlimit none = old_;
        none.rlim_cur = static_cast<rlim_t>(lowestFree);
        setrlimit(RLIMIT_NOFILE, &none);
    }
    ~NoDescriptorsLeft() { setrlimit(RLIMIT_NOFILE, &old_); }

private:
    rlimit old_{};
};

// The server alone, so that nothing but it runs while descriptors are out
// (the sanitizers need descriptors for code they have not seen before).
TEST(RemoteServerAlone, ListensAgainAfterRunningOutOfDescriptors) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "bearfix.sock").string();
    QStringList log;
    setMessageSink([&log](MessageLevel, const std::string& text) { log << QString::fromStdString(text); });
    RemoteServer server([](int32_t, uint32_t, int32_t, const char*) { return 7u; });
    ASSERT_TRUE(server.listen(path));
    const auto answers = [&path] {
        std::optional<uint32_t> reply;
        whileServing([&] {
            Client c(path);
            c.send(kVersionQuery);
            reply = c.reply();
        });
        return reply == 7u;
    };
    EXPECT_TRUE(answers());
    {
        Client waiting(path);  // to be accepted when there is no descriptor for it
        NoDescriptorsLeft none;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !server.isListening(); }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !log.isEmpty(); }, 10000));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.isListening(); }, 10000));
    setMessageSink({});
    ASSERT_EQ(log.size(), 2) << log.join("\n").toStdString();
    EXPECT_TRUE(log[0].startsWith("Error: remote commands stopped listening on \"" + QString::fromStdString(path) +
                                  "\" (")) << log[0].toStdString();
    EXPECT_TRUE(log[0].endsWith("); trying again."));
    EXPECT_EQ(log[1], "Remote commands listen again on \"" + QString::fromStdString(path) + "\".");
    EXPECT_TRUE(answers());
}

}  // namespace
}  // namespace bearfix
