#include "remote/remote_client.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "remote/remote_frames.h"

namespace bearfix {

namespace {

struct Socket {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

Delivery deliverCommand(const std::string& path, const std::string& text, int timeoutMs) {
    Delivery d;
    Socket s;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (s.fd < 0 || path.size() >= sizeof address.sun_path) return d;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A listener that takes no connections or sends no reply holds up no
    // longer than this, in connect() too.
    const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        d.result = errno == EAGAIN || errno == EINPROGRESS ? Delivery::Result::NoAnswer : Delivery::Result::NoListener;
        return d;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(s.fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer || peer.uid != ::geteuid()) {
        d.result = Delivery::Result::NotOurs;
        return d;
    }
    d.pid = peer.pid;
    d.result = Delivery::Result::NoAnswer;
    const std::string frame = encodeFrame(0, text);
    for (std::size_t done = 0; done < frame.size();) {
        const ssize_t n = ::send(s.fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) return d;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    unsigned char reply[4];
    for (std::size_t got = 0; got < sizeof reply;) {
        const ssize_t n = ::recv(s.fd, reply + got, sizeof reply - got, 0);
        if (n == 0 || (n < 0 && errno != EINTR)) return d;
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    d.result = Delivery::Result::Delivered;
    d.reply = decodeReply(reply);
    return d;
}

}  // namespace bearfix
