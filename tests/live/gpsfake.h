// A gpsd of the test's own: gpsfake (from gpsd-clients) replaying an NMEA
// log on a free port, in a process group of its own so that its gpsd goes
// with it; and the log's fixes read independently of gpsd, as the expected
// values.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bearfix::testing {

// A TCP port of 127.0.0.1 that nothing listens on just now.
inline int freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool acceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

inline std::string nmeaLogPath() { return std::string(BEARFIX_SOURCE_DIR) + "/tests/data/drive.nmea"; }

class GpsFake {
public:
    GpsFake() = default;
    ~GpsFake() { stop(); }
    GpsFake(const GpsFake&) = delete;
    GpsFake& operator=(const GpsFake&) = delete;

    // Replays the log over and over, a sentence every `cycle` seconds; true
    // once gpsd accepts connections (within 30 s).
    bool start(int port, const std::string& log = nmeaLogPath(), const char* cycle = "0.05") {
        stop();
        port_ = port;
        const std::string portText = std::to_string(port);
        const char* argv[] = {"gpsfake", "-q", "-c", cycle, "-P", portText.c_str(), log.c_str(), nullptr};
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        const int error = posix_spawnp(&pid_, "gpsfake", &files, &attr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attr);
        if (error != 0) {
            pid_ = -1;
            return false;
        }
        // Until gpsd listens: the port is tried again whenever gpsfake has
        // not ended within 50 ms.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (acceptsConnections(port)) return true;
            if (ended(50)) {
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return false;
            }
        }
        return false;
    }

    // Ends gpsfake and its gpsd: an interrupt lets gpsfake clean up after
    // itself; whatever is left after five seconds is killed.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGINT);
        ended(5000);
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int port() const { return port_; }

private:
    // Whether gpsfake ends within `ms` milliseconds (it is not reaped).
    bool ended(int ms) const {
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (fd < 0) return true;  // no such process any more
        pollfd p{fd, POLLIN, 0};
        const bool gone = ::poll(&p, 1, ms) > 0;
        ::close(fd);
        return gone;
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

// A fix of the log as its RMC and GGA sentences give it.
struct LogFix {
    long long utc;  // seconds since 1970
    double lat, lon, speedKmh, courseDeg, altM;
};

// The fixes of an NMEA log with RMC before GGA in every second.
inline std::vector<LogFix> readNmeaLog(const std::string& path = nmeaLogPath()) {
    std::vector<LogFix> fixes;
    std::ifstream in(path);
    std::string line;
    auto fields = [](const std::string& l) {
        std::vector<std::string> f;
        std::stringstream s(l.substr(0, l.find('*')));
        for (std::string part; std::getline(s, part, ',');) f.push_back(part);
        return f;
    };
    auto angle = [](const std::string& t, const std::string& hemisphere, int degreeDigits) {
        const double v = std::stoi(t.substr(0, static_cast<std::size_t>(degreeDigits))) +
                         std::stod(t.substr(static_cast<std::size_t>(degreeDigits))) / 60.0;
        return hemisphere == "S" || hemisphere == "W" ? -v : v;
    };
    while (std::getline(in, line)) {
        const std::vector<std::string> f = fields(line);
        if (f.size() > 9 && f[0] == "$GPRMC" && f[2] == "A") {
            // hhmmss.ss and ddmmyy: days since 1970 by the civil calendar (2000..2099).
            const int d = std::stoi(f[9].substr(0, 2)), m = std::stoi(f[9].substr(2, 2)),
                      y = 2000 + std::stoi(f[9].substr(4, 2));
            const int yy = m <= 2 ? y - 1 : y;
            const int era = yy / 400, yoe = yy - era * 400;
            const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
            const long long days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
            const long long secs = std::stoi(f[1].substr(0, 2)) * 3600 + std::stoi(f[1].substr(2, 2)) * 60 +
                                   std::stoi(f[1].substr(4, 2));
            fixes.push_back({days * 86400 + secs, angle(f[3], f[4], 2), angle(f[5], f[6], 3),
                             std::stod(f[7]) * 1.852, std::stod(f[8]), NAN});
        } else if (f.size() > 9 && f[0] == "$GPGGA" && !fixes.empty() && f[6] != "0") {
            fixes.back().altM = std::stod(f[9]);
        }
    }
    return fixes;
}

}  // namespace bearfix::testing
