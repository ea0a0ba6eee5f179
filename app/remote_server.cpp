#include "app/remote_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "remote/remote_frames.h"
#include "remote/remote_socket.h"
#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

// A listening socket at `path` that only this user can reach, or -1 and errno.
int listeningSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::fchmod(fd, 0600);  // the mode the socket file is made with, before anybody can connect
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 50) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    ::chmod(path.c_str(), 0600);
    return fd;
}

}  // namespace

// One accepted connection and the frame it is sending. A child of its
// socket, so it goes when the socket goes.
struct RemoteServer::Connection : QObject {
    Connection(QLocalSocket* s, int32_t n) : QObject(s), socket(s), number(n), quiet(this) {}
    QLocalSocket* socket;
    int32_t number;
    QTimer quiet;  // closes a connection stopped halfway through a frame, or silent for long
    FrameReader frames;
};

RemoteServer::RemoteServer(FrameHandler handler, QObject* parent) : QObject(parent), handler_(std::move(handler)) {
    watchdog_ = new QTimer(this);
    watchdog_->setInterval(1000);
    connect(watchdog_, &QTimer::timeout, this, &RemoteServer::watch);
}

RemoteServer::~RemoteServer() { close(); }

bool RemoteServer::listen(const std::string& path) {
    close();
    if (const std::string problem = claimSocketPath(path); !problem.empty()) {
        logMessage(MessageLevel::Error, "Error: %s; remote commands are off.", fileNameText(problem).c_str());
        return false;
    }
    path_ = path;
    if (!startListening(true)) {
        path_.clear();
        return false;
    }
    watchdog_->start();
    return true;
}

bool RemoteServer::startListening(bool logFailure) {
    const int fd = listeningSocket(path_);
    if (fd < 0) {
        if (logFailure) {
            logMessage(MessageLevel::Error, "Error: cannot listen on \"%s\" (%s); remote commands are off.",
                       fileNameText(path_).c_str(), std::strerror(errno));
        }
        return false;
    }
    if (!server_) {
        server_ = new QLocalServer(this);
        connect(server_, &QLocalServer::newConnection, this, &RemoteServer::accept);
    }
    if (!server_->listen(fd)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The server closes itself when it cannot accept a connection (no file
// descriptor left), and removes its socket: remote commands would be dead
// for the rest of the run.
void RemoteServer::watch() {
    if (path_.empty() || isListening()) return;
    if (!stopped_) {
        stopped_ = true;
        logMessage(MessageLevel::Error, "Error: remote commands stopped listening on \"%s\" (%s); trying again.",
                   fileNameText(path_).c_str(), server_ ? server_->errorString().toLocal8Bit().constData() : "");
    }
    if (!claimSocketPath(path_).empty() || !startListening(false)) return;
    stopped_ = false;
    logMessage(MessageLevel::Info, "Remote commands listen again on \"%s\".", fileNameText(path_).c_str());
}

void RemoteServer::close() {
    path_.clear();
    stopped_ = false;
    watchdog_->stop();
    connections_.clear();  // they go with the server
    if (!server_) return;
    server_->close();  // removes the socket file
    delete server_;
    server_ = nullptr;
}

bool RemoteServer::isListening() const { return server_ && server_->isListening(); }

void RemoteServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // Only the user who runs Bearfix may talk to it.
        uid_t uid;
        const bool otherUser = peerUid(static_cast<int>(socket->socketDescriptor()), &uid) && uid != ::geteuid();
        if (otherUser || !makeRoom()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Bounded memory whatever a peer does: Qt reads no more than this
        // ahead, and replies the peer does not read stop the reading.
        socket->setReadBufferSize(64 * 1024);
        auto* connection = new Connection(socket, nextConnection_++);
        connections_.push_back(connection);
        connection->quiet.setSingleShot(true);
        connect(&connection->quiet, &QTimer::timeout, connection, [this, connection] { drop(connection); });
        connect(socket, &QLocalSocket::readyRead, connection, [this, connection] { serve(connection); });
        connect(socket, &QLocalSocket::bytesWritten, connection, [this, connection] { serve(connection); });
        connect(socket, &QLocalSocket::disconnected, connection, [this, connection] { drop(connection); });
        serve(connection);
    }
}

// Each connection holds a file descriptor: at the limit the connection idle
// for longest makes room; when every one is busy with a frame, none does.
bool RemoteServer::makeRoom() {
    if (connections_.size() < static_cast<std::size_t>(kMaxConnections)) return true;
    for (Connection* c : connections_) {
        if (!c->frames.inFrame()) {
            drop(c);
            return true;
        }
    }
    return false;
}

void RemoteServer::drop(Connection* connection) {
    QLocalSocket* socket = connection->socket;
    if (!socket) return;
    connections_.remove(connection);
    connection->socket = nullptr;
    connection->quiet.stop();
    socket->disconnect(connection);
    socket->abort();
    socket->deleteLater();  // and the connection with it
}

void RemoteServer::serve(Connection* c) {
    QLocalSocket* socket = c->socket;
    if (!socket) return;
    connections_.remove(c);
    connections_.push_back(c);  // the most recently busy last
    const auto handler = [this, c](uint32_t code, int32_t length, const char* bytes) {
        return handler_(c->number, code, length, bytes);
    };
    const auto reply = [socket](uint32_t value) {
        const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 24)};
        socket->write(bytes, 4);
    };
    char chunk[4096];
    while (socket->bytesAvailable() > 0 && socket->bytesToWrite() < kMaxPendingReplies) {
        const qint64 n = socket->read(chunk, sizeof chunk);
        if (n <= 0) break;
        c->frames.feed(chunk, static_cast<std::size_t>(n), handler, reply);
        if (c->frames.closed()) {
            socket->flush();
            drop(c);
            return;
        }
    }
    // A frame left half-sent is given a few seconds; a connection between
    // frames some minutes.
    c->quiet.start(c->frames.inFrame() ? quietTimeoutMs_ : idleTimeoutMs_);
}

}  // namespace bearfix
