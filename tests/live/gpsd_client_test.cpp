// The gpsd client against a real gpsd: gpsfake replaying the committed
// drive. Expected values come from the log's sentences, read by the test.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <regex>
#include <thread>

#include "gpsfake.h"
#include "live/gpsd_client.h"

namespace bearfix {
namespace {

using testing::GpsFake;
using testing::LogFix;

TEST(GpsdServer, ReadsTheTextsOfThePortField) {
    struct Case {
        const char* text;
        const char* server;  // nullptr: none
    } const cases[] = {
        {"gpsd localhost:2947", "localhost:2947"}, {"  gpsd   127.0.0.1:29470 ", "127.0.0.1:29470"},
        {"gps.example.org", "gps.example.org:2947"}, {"[::1]:3000", "[::1]:3000"}, {"gpsd [fe80::1]", "[fe80::1]:2947"},
        {"host:02947", "host:2947"}, {"off", nullptr}, {"", nullptr},
        {"gpsd", "gpsd:2947"},  // a host of that name
        {"COM1", "COM1:2947"},  // a name like any other: not reachable, said so
        {"host:0", nullptr}, {"host:65536", nullptr}, {"host:-1", nullptr}, {"host:+80", nullptr}, {"host:", nullptr},
        {"::1", nullptr}, {"[127.0.0.1]", nullptr}, {"[::1", nullptr}, {"two words", nullptr}, {"tab\there", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<GpsdServer> s = parseGpsdServer(c.text);
        ASSERT_EQ(s.has_value(), c.server != nullptr) << c.text;
        if (s) {
            EXPECT_EQ(s->text(), c.server) << c.text;
        }
    }
    EXPECT_FALSE(parseGpsdServer(std::string(300, 'a')));
}

// (Connected, 3D fix and not reachable: in the window's messages.)
TEST(GpsdServer, StateTexts) {
    EXPECT_EQ(gpsStateText(GpsState::NoFix, GpsdServer{}), "GPS: no fix");
    EXPECT_EQ(stateOfFix(GpsMode::Fix2D), GpsState::Fix2D);
    EXPECT_EQ(stateOfFix(GpsMode::NotSeen), GpsState::NoFix);
}

// What a client run on a thread of its own collects.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;  // a handler ran
    std::vector<GpsFix> fixes;
    std::vector<std::string> events;
    std::atomic<bool> stop{false};
    GpsdHandlers handlers() {
        GpsdHandlers h;
        h.connected = [this] {
            std::lock_guard lock(mutex);
            events.push_back("connected");
            changed.notify_all();
        };
        h.notReachable = [this](const std::string& why) {
            std::lock_guard lock(mutex);
            events.push_back("not reachable: " + why);
            changed.notify_all();
        };
        h.fix = [this](const GpsFix& f) {
            std::lock_guard lock(mutex);
            fixes.push_back(f);
            changed.notify_all();
        };
        return h;
    }
    template <class F>
    bool waitFor(F condition, int seconds = 30) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(seconds), condition);
    }
};

// A port whose connections the kernel takes and nobody answers.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 8), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

const LogFix* logFixAt(const std::vector<LogFix>& log, int64_t utc) {
    for (const LogFix& f : log)
        if (f.utc == utc) return &f;
    return nullptr;
}

TEST(GpsdClient, HandsOverTheFixesOfTheLog) {
    const std::vector<LogFix> log = testing::readNmeaLog();
    ASSERT_GT(log.size(), 100u);
    GpsFake gpsd;
    ASSERT_TRUE(gpsd.start(testing::freeTcpPort()));
    Collector c;
    GpsdServer server{"127.0.0.1", std::to_string(gpsd.port())};
    std::thread client([&] { runGpsdClient(server, c.stop, c.handlers()); });
    const bool enough = c.waitFor([&] {
        return std::count_if(c.fixes.begin(), c.fixes.end(), [](const GpsFix& f) { return f.hasPosition(); }) >= 30;
    });
    c.stop = true;
    client.join();
    ASSERT_TRUE(enough);
    EXPECT_EQ(c.events.front(), "connected");
    int checked = 0, withSky = 0;
    for (const GpsFix& f : c.fixes) {
        if (!f.hasPosition()) continue;
        ASSERT_TRUE(f.utc);
        const LogFix* expected = logFixAt(log, *f.utc);
        ASSERT_NE(expected, nullptr) << *f.utc;
        EXPECT_NEAR(f.latDeg, expected->lat, 1e-7);
        EXPECT_NEAR(f.lonDeg, expected->lon, 1e-7);
        EXPECT_NEAR(f.speedKmh, expected->speedKmh, 0.01);
        EXPECT_NEAR(f.courseDeg, expected->courseDeg, 0.01);
        if (f.mode == GpsMode::Fix3D) {
            EXPECT_NEAR(f.altMslM, expected->altM, 0.05) << "one fix an epoch, with its GGA";
        }
        if (f.satellites > 0) {
            ++withSky;
            EXPECT_TRUE(f.satellites == 7 || f.satellites == 8) << f.satellites;
            EXPECT_GE(f.hdop, 0.9 - 1e-9);
            EXPECT_LE(f.hdop, 1.1 + 1e-9);
        }
        ++checked;
    }
    EXPECT_GE(checked, 30);
    EXPECT_GE(withSky, 20);
}

TEST(GpsdClient, SaysWhenGpsdIsAbsentOrGoes) {
    // Nothing listens: one try without retrying.
    Collector absent;
    const int port = testing::freeTcpPort();
    EXPECT_EQ(runGpsdClient({"127.0.0.1", std::to_string(port)}, absent.stop, absent.handlers(), {.retry = false}),
              GpsdEnd::NotReachable);
    ASSERT_EQ(absent.events.size(), 1u);
    EXPECT_EQ(absent.events[0], "not reachable: Connection refused");

    // Something that takes the connection and says nothing is no gpsd.
    const SilentListener silent;
    Collector mute;
    EXPECT_EQ(runGpsdClient({"127.0.0.1", std::to_string(silent.port())}, mute.stop, mute.handlers(),
                            {.connectTimeout = std::chrono::milliseconds(300), .retry = false}),
              GpsdEnd::NotReachable);
    EXPECT_EQ(mute.events, std::vector<std::string>{"not reachable: no answer from gpsd"});

    // gpsd ends while watched: lost; with retrying, back when it is.
    GpsFake gpsd;
    ASSERT_TRUE(gpsd.start(port));
    Collector c;
    std::thread client([&] {
        runGpsdClient({"127.0.0.1", std::to_string(port)}, c.stop, c.handlers(),
                      {.connectTimeout = std::chrono::milliseconds(3000), .retryDelay = std::chrono::milliseconds(300)});
    });
    ASSERT_TRUE(c.waitFor([&] { return !c.fixes.empty(); }));
    gpsd.stop();
    ASSERT_TRUE(c.waitFor([&] { return c.events.size() >= 2; }));
    ASSERT_TRUE(gpsd.start(port));
    const bool back = c.waitFor([&] { return std::count(c.events.begin(), c.events.end(), "connected") >= 2; });
    const std::size_t before = c.fixes.size();
    const bool fixesAgain = c.waitFor([&] { return c.fixes.size() > before + 3; });
    c.stop = true;
    client.join();
    EXPECT_TRUE(back);
    EXPECT_TRUE(fixesAgain);
    EXPECT_EQ(c.events[0], "connected");
    EXPECT_EQ(c.events[1], "not reachable: gpsd closed the connection");
}

// The command line, through the same client.
std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    *status = WEXITSTATUS(::pclose(pipe));
    return out;
}

TEST(GpsCli, PrintsFixesAndSaysWhenGpsdCannotBeReached) {
    const std::vector<LogFix> log = testing::readNmeaLog();
    GpsFake gpsd;
    ASSERT_TRUE(gpsd.start(testing::freeTcpPort()));
    int status = -1;
    const std::string server = "127.0.0.1:" + std::to_string(gpsd.port());
    const std::string json = run(std::string(BEARFIX_CLI) + " gps --server " + server + " --count 3 --json", &status);
    EXPECT_EQ(status, 0) << json;
    const std::regex line(
        R"(\{"lat": (-?[0-9.]+), "lon": (-?[0-9.]+), "alt_m": ([0-9.]+), "speed_kmh": ([0-9.]+), "course_deg": ([0-9.]+), "time": "(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z", "sats": (\d+)\})");
    int lines = 0;
    std::istringstream in(json);
    for (std::string l; std::getline(in, l); ++lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        // 2024-05-18 is day 19861 since 1970.
        ASSERT_EQ(m[6].str() + m[7].str() + m[8].str(), "20240518");
        const int64_t utc = 19861LL * 86400 + std::stoi(m[9]) * 3600 + std::stoi(m[10]) * 60 + std::stoi(m[11]);
        const LogFix* expected = logFixAt(log, utc);
        ASSERT_NE(expected, nullptr) << l;
        EXPECT_NEAR(std::stod(m[1]), expected->lat, 1e-6);
        EXPECT_NEAR(std::stod(m[2]), expected->lon, 1e-6);
        EXPECT_NEAR(std::stod(m[4]), expected->speedKmh, 0.01);
        EXPECT_NEAR(std::stod(m[3]), expected->altM, 0.05) << "the epoch's altitude, from its GGA";
    }
    EXPECT_EQ(lines, 3);

    const std::string text = run(std::string(BEARFIX_CLI) + " gps --server " + server, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::regex_match(text, std::regex("2024-05-18 \\d\\d:\\d\\d:\\d\\d  N52°0[67]'\\d\\d\" E008°2\\d'\\d\\d\"  "
                                                  "[0-9]+ m ASL  [0-9.]+ km/h  course [0-9.]+  [78] sats  HDOP=(0\\.9|1\\.0|1\\.1)\n")))
        << text;

    gpsd.stop();
    const std::string refused = run(std::string(BEARFIX_CLI) + " gps --server " + server + " --count 2", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(refused, "bearfix-cli: gpsd not reachable at " + server + " within 5 s: Connection refused\n");
    const SilentListener silent;
    const std::string mute = "127.0.0.1:" + std::to_string(silent.port());
    EXPECT_EQ(run(std::string(BEARFIX_CLI) + " gps --server " + mute, &status),
              "bearfix-cli: gpsd not reachable at " + mute + " within 5 s: no answer from gpsd\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ((run(std::string(BEARFIX_CLI) + " gps --server nowhere:99999", &status), status), 2);
    EXPECT_EQ((run(std::string(BEARFIX_CLI) + " gps --count -1", &status), status), 2);
}

}  // namespace
}  // namespace bearfix
