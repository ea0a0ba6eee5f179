#include "app/remote_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <vector>

#include "support/message_log.h"

namespace bearfix {

namespace {

uint32_t littleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Only the user who runs Bearfix may talk to it.
bool sameUser(const QLocalSocket* socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return true;  // the platform does not say; the socket's mode keeps others out
    return credentials.uid == getuid();
}

}  // namespace

// What a connection has received of the frame it is sending. A child of its
// socket, so it goes when the socket goes.
struct RemoteServer::Connection : QObject {
    Connection(QLocalSocket* s, int32_t n) : QObject(s), socket(s), number(n), quiet(this) {}
    QLocalSocket* socket;
    int32_t number;
    QTimer quiet;  // closes a connection that stops halfway through a frame
    uint8_t header[8] = {};
    int headerFill = 0;
    uint32_t code = 0;
    uint32_t length = 0;
    std::vector<char> text;  // at most 1024 bytes
    uint32_t toDrop = 0;     // bytes of a refused frame still to be read and dropped
    bool inFrame() const { return headerFill > 0 || length > 0 || toDrop > 0; }
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
    auto reply = [socket](uint32_t value) {
        const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 24)};
        socket->write(bytes, 4);
    };
    while (socket->bytesAvailable() > 0 && socket->bytesToWrite() < kMaxPendingReplies) {
        if (c->toDrop > 0) {
            char sink[4096];
            const qint64 n = socket->read(sink, std::min<qint64>(sizeof sink, c->toDrop));
            if (n <= 0) break;
            c->toDrop -= static_cast<uint32_t>(n);
            continue;
        }
        if (c->headerFill < 8) {
            const qint64 n = socket->read(reinterpret_cast<char*>(c->header) + c->headerFill, 8 - c->headerFill);
            if (n <= 0) break;
            c->headerFill += static_cast<int>(n);
            if (c->headerFill < 8) continue;
            c->code = littleEndian(c->header);
            c->length = littleEndian(c->header + 4);
            c->text.clear();
            if (c->length > static_cast<uint32_t>(1024)) {
                reply(0x83000001);
                if (c->length > kMaxDropped) {
                    socket->flush();
                    drop(c);
                    return;
                }
                c->toDrop = c->length;
                c->headerFill = 0;
                c->length = 0;
                continue;
            }
        }
        if (c->text.size() < c->length) {
            const std::size_t have = c->text.size();
            c->text.resize(c->length);
            const qint64 n = socket->read(c->text.data() + have, static_cast<qint64>(c->length - have));
            c->text.resize(have + static_cast<std::size_t>(std::max<qint64>(n, 0)));
            if (c->text.size() < c->length) break;
        }
        reply(handler_(c->number, c->code, static_cast<int32_t>(c->length), c->text.data()));
        c->headerFill = 0;
        c->length = 0;
        c->text.clear();
    }
    // A frame left half-sent is given a few seconds; an idle connection any time.
    if (c->inFrame()) {
        c->quiet.start();
    } else {
        c->quiet.stop();
    }
}

}  // namespace bearfix
