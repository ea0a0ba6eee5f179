#include "live/gpsd_client.h"

#include <fcntl.h>
#include <gps.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>

namespace bearfix {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 200;

bool validPort(std::string_view text) {
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && text.size() <= 5 && ec == std::errc() && end == text.data() + text.size() && port >= 1 &&
           port <= 65535 && text.front() != '+' && text.front() != '-';
}

bool validHost(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '[' || c == ']' || c == '/') return false;
    return true;
}

// Sleeps until `until` or until `stop` is set; false when stopped.
bool waitUntil(Clock::time_point until, const std::atomic<bool>& stop) {
    while (!stop) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(kPollMs)));
    }
    return false;
}

// Whether something accepts connections at the server within `timeout`.
// libgps connects with a blocking call that may hang for minutes on a host
// that does not answer; this one gives up in time and heeds `stop`.
bool reachable(const GpsdServer& server, std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
               std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(server.host.c_str(), server.port.c_str(), &hints, &found); e != 0) {
        why = gai_strerror(e);
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    why = "no address";
    bool ok = false;
    for (addrinfo* a = found; a && !ok && !stop; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        int error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            while (!stop && Clock::now() < deadline) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, kPollMs) > 0) {
                    socklen_t size = sizeof error;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
                    break;
                }
            }
        }
        ::close(fd);
        ok = error == 0;
        if (!ok) why = std::strerror(error);
    }
    ::freeaddrinfo(found);
    return ok && !stop;
}

GpsFix fixOf(const gps_data_t& d, int satellites, double hdop) {
    GpsFix f;
    f.mode = static_cast<GpsMode>(d.fix.mode >= 0 && d.fix.mode <= 3 ? d.fix.mode : 0);
    f.latDeg = d.fix.latitude;
    f.lonDeg = d.fix.longitude;
    f.altMslM = d.fix.altMSL;
    f.speedKmh = d.fix.speed * 3.6;
    f.courseDeg = d.fix.track;
    if (d.fix.time.tv_sec > 0) f.utc = static_cast<int64_t>(d.fix.time.tv_sec);
    f.satellites = satellites;
    f.hdop = hdop;
    return sanitisedFix(f);
}

// gpsd reports an epoch of an NMEA receiver in several TPVs, one per
// sentence (RMC without altitude, then GGA with it): the later report, with
// what it lacks taken from the earlier ones.
GpsFix mergedFix(const GpsFix& earlier, GpsFix later) {
    for (auto field : {&GpsFix::altMslM, &GpsFix::speedKmh, &GpsFix::courseDeg, &GpsFix::hdop})
        if (!std::isfinite(later.*field)) later.*field = earlier.*field;
    if (later.satellites < 0) later.satellites = earlier.satellites;
    return later;
}

// One connection from its start to its end. A fix is handed over once its
// epoch is complete: at the sky report that ends it, at the first report of
// the next epoch, or when gpsd says nothing more for a moment.
// gpsd greets a client at once; what says nothing within `answerTimeout`
// is taken for no gpsd.
GpsdEnd watch(const GpsdServer& server, const std::atomic<bool>& stop, const GpsdHandlers& handlers,
              std::chrono::milliseconds answerTimeout) {
    gps_data_t data{};
    if (::gps_open(server.host.c_str(), server.port.c_str(), &data) != 0) {
        if (handlers.notReachable) handlers.notReachable(::gps_errstr(errno));
        return GpsdEnd::NotReachable;
    }
    ::gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
    const auto answerDeadline = Clock::now() + answerTimeout;
    bool heard = false;
    int satellites = -1;
    double hdop = NAN;
    char message[8192];
    GpsdEnd end = GpsdEnd::Stopped;
    std::optional<GpsFix> held;
    auto handOver = [&] {
        if (held && handlers.fix) handlers.fix(*held);
        held.reset();
    };
    while (!stop) {
        pollfd p{data.gps_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) {
            end = GpsdEnd::Lost;
            break;
        }
        if (ready <= 0) {
            handOver();
            if (!heard && Clock::now() >= answerDeadline) {
                if (handlers.notReachable) handlers.notReachable("no answer from gpsd");
                end = GpsdEnd::NotReachable;
                break;
            }
            continue;
        }
        bool lost = false;
        do {
            message[0] = '\0';
            if (::gps_read(&data, message, sizeof message) < 0) {
                lost = true;
                break;
            }
            if (!heard) {
                heard = true;
                if (handlers.connected) handlers.connected();
            }
            // The report's class is the first member gpsd writes.
            const std::string_view report(message, strnlen(message, sizeof message));
            if (report.find("\"class\":\"SKY\"") != std::string_view::npos) {
                satellites = data.satellites_used;
                hdop = data.dop.hdop;
                if (held) {
                    held->satellites = satellites;
                    held->hdop = hdop;
                    held = sanitisedFix(*held);
                }
                handOver();
            } else if (report.find("\"class\":\"TPV\"") != std::string_view::npos) {
                const GpsFix fix = fixOf(data, satellites, hdop);
                if (held && fix.utc && held->utc == fix.utc) {
                    held = mergedFix(*held, fix);
                } else {
                    handOver();
                    held = fix;
                    if (!fix.utc) handOver();  // no epoch to complete
                }
            }
        } while (!stop && ::gps_waiting(&data, 0));
        if (lost) {
            end = GpsdEnd::Lost;
            if (handlers.notReachable) handlers.notReachable("gpsd closed the connection");
            break;
        }
    }
    ::gps_close(&data);
    return end;
}

}  // namespace

std::string GpsdServer::text() const {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
}

std::optional<GpsdServer> parseGpsdServer(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.rfind("gpsd ", 0) == 0) text.remove_prefix(5);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty() || text.size() > 300) return std::nullopt;
    GpsdServer s;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        s.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || !validPort(rest.substr(1))) return std::nullopt;
            s.port = std::string(rest.substr(1));
        }
        if (s.host.find(':') == std::string::npos) return std::nullopt;  // brackets are for IPv6
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            if (text.find(':', colon + 1) != std::string_view::npos) return std::nullopt;  // IPv6 needs brackets
            if (!validPort(text.substr(colon + 1))) return std::nullopt;
            s.port = std::string(text.substr(colon + 1));
        }
        s.host = std::string(text.substr(0, colon));
    }
    if (!validHost(s.host) || s.host == "off") return std::nullopt;
    if (s.port.size() > 1 && s.port.front() == '0') s.port = std::to_string(std::stoi(s.port));
    return s;
}

std::string gpsStateText(GpsState state, const GpsdServer& server) {
    switch (state) {
        case GpsState::Off: return "GPS: off";
        case GpsState::NotReachable: return "GPS: gpsd not reachable";
        case GpsState::Connected: return "GPS: connected to " + server.text();
        case GpsState::NoFix: return "GPS: no fix";
        case GpsState::Fix2D: return "GPS: 2D fix";
        case GpsState::Fix3D: return "GPS: 3D fix";
    }
    return {};
}

GpsState stateOfFix(GpsMode mode) {
    switch (mode) {
        case GpsMode::NotSeen:
        case GpsMode::NoFix: return GpsState::NoFix;
        case GpsMode::Fix2D: return GpsState::Fix2D;
        case GpsMode::Fix3D: return GpsState::Fix3D;
    }
    return GpsState::NoFix;
}

GpsdEnd runGpsdClient(const GpsdServer& server, const std::atomic<bool>& stop, const GpsdHandlers& handlers,
                      const GpsdOptions& options) {
    while (!stop) {
        const auto attempt = Clock::now();
        std::string why;
        if (reachable(server, options.connectTimeout, stop, why)) {
            const GpsdEnd end = watch(server, stop, handlers, options.connectTimeout);
            if (end == GpsdEnd::Stopped || !options.retry) return end;
        } else if (!stop) {
            if (handlers.notReachable) handlers.notReachable(why);
            if (!options.retry) return GpsdEnd::NotReachable;
        }
        if (!waitUntil(attempt + options.retryDelay, stop)) break;
    }
    return GpsdEnd::Stopped;
}

}  // namespace bearfix
