#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "remote/remote_mailbox.h"
#include "app/remote_server.h"
#include "qt_application.h"

namespace bearfix {
namespace {

// The socket server on a thread of its own, with its event loop, answering
// like the window does.
class ServerThread : public QThread {
public:
    explicit ServerThread(std::string path) : path_(std::move(path)) {}
    std::atomic<bool> ready{false};

protected:
    void run() override {
        RemoteMailbox mailbox;
        resetMailbox(mailbox);
        RemoteServer server([&mailbox](int32_t sender, uint32_t code, int32_t length, const char* bytes) {
            uint32_t reply = postToMailbox(mailbox, sender, code, length, bytes);
            resetMailbox(mailbox);  // nobody empties it here
            return reply;
        });
        server.listen(path_);
        ready = true;
        exec();
    }

private:
    std::string path_;
};

int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    return fd;
}

bool roundTrip(int fd, const std::string& frame) {
    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) return false;
    char reply[4];
    for (std::size_t got = 0; got < 4;) {
        const ssize_t n = ::read(fd, reply + got, 4 - got);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::string commandFrame() {
    const std::string text = "track addpoint lat=52.1234 lon=8.5678 masl=120 kmh=4.5 udts=1262304000 nsats=7";
    std::string f(8, '\0');
    f[4] = static_cast<char>(text.size());
    return f + text;
}

// One frame out, its reply back, the server otherwise idle.
void BM_RemoteRoundTrip(benchmark::State& state) {
    ensureQtApplication();
    const std::string path = (std::filesystem::temp_directory_path() / ("bearfix-bench-" + std::to_string(getpid()) + ".sock")).string();
    ServerThread server(path);
    server.start();
    while (!server.ready) QThread::msleep(1);
    const int fd = connectTo(path);
    if (fd < 0) {
        state.SkipWithError("cannot connect");
    } else {
        const std::string frame = commandFrame();
        std::vector<double> latencies;
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            if (!roundTrip(fd, frame)) state.SkipWithError("no reply");
            latencies.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(latencies.begin(), latencies.end());
        if (!latencies.empty()) {
            state.counters["median_us"] = latencies[latencies.size() / 2];
            state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
        }
        state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
        ::close(fd);
    }
    server.quit();
    server.wait();
}
BENCHMARK(BM_RemoteRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace bearfix
