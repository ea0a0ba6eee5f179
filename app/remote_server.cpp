#include "app/remote_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "app/remote_frames.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

// Only the user who runs Bearfix may talk to it.
bool sameUser(const QLocalSocket* socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return true;  // the platform does not say; the socket's mode keeps others out
    return credentials.uid == getuid();
}

}  // namespace

// One accepted connection and the frame it is sending. A child of its
// socket, so it goes when the socket goes.
struct RemoteServer::Connection : QObject {
    Connection(QLocalSocket* s, int32_t n) : QObject(s), socket(s), number(n), quiet(this) {}
    QLocalSocket* socket;
    int32_t number;
    QTimer quiet;  // closes a connection that stops halfway through a frame
    FrameReader frames;
};

RemoteServer::RemoteServer(FrameHandler handler, QObject* parent) : QObject(parent), handler_(std::move(handler)) {}

RemoteServer::~RemoteServer() { close(); }

bool RemoteServer::listen(const std::string& path) {
    close();
    const QString name = QString::fromStdString(path);
    {
        // Somebody answering there means another Bearfix runs; otherwise the
        // file is left over from a run that ended without cleaning up.
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(200)) {
            logMessage(MessageLevel::Error, "Error: another program listens on \"%s\"; remote commands are off.",
                       path.c_str());
            return false;
        }
    }
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        logMessage(MessageLevel::Error, "Error: cannot listen on \"%s\" (%s); remote commands are off.", path.c_str(),
                   server_->errorString().toLocal8Bit().constData());
        delete server_;
        server_ = nullptr;
        return false;
    }
    ::chmod(path.c_str(), 0600);
    connect(server_, &QLocalServer::newConnection, this, &RemoteServer::accept);
    return true;
}

void RemoteServer::close() {
    if (!server_) return;
    const QString name = server_->fullServerName();
    server_->close();
    delete server_;  // its connections go with it
    server_ = nullptr;
    QLocalServer::removeServer(name);
}

bool RemoteServer::isListening() const { return server_ && server_->isListening(); }

void RemoteServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (!sameUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Bounded memory whatever a peer does: Qt reads no more than this
        // ahead, and replies the peer does not read stop the reading.
        socket->setReadBufferSize(64 * 1024);
        auto* connection = new Connection(socket, nextConnection_++);
        connection->quiet.setSingleShot(true);
        connection->quiet.setInterval(quietTimeoutMs_);
        connect(&connection->quiet, &QTimer::timeout, connection, [this, connection] { drop(connection); });
        connect(socket, &QLocalSocket::readyRead, connection, [this, connection] { serve(connection); });
        connect(socket, &QLocalSocket::bytesWritten, connection, [this, connection] { serve(connection); });
        connect(socket, &QLocalSocket::disconnected, connection, [this, connection] { drop(connection); });
        serve(connection);
    }
}

void RemoteServer::drop(Connection* connection) {
    QLocalSocket* socket = connection->socket;
    if (!socket) return;
    connection->socket = nullptr;
    connection->quiet.stop();
    socket->disconnect(connection);
    socket->abort();
    socket->deleteLater();  // and the connection with it
}

void RemoteServer::serve(Connection* c) {
    QLocalSocket* socket = c->socket;
    if (!socket) return;
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
    // A frame left half-sent is given a few seconds; an idle connection any time.
    if (c->frames.inFrame()) {
        c->quiet.start();
    } else {
        c->quiet.stop();
    }
}

}  // namespace bearfix
