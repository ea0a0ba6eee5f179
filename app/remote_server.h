// The local socket through which other programs on the desktop send their
// messages. Each message is one frame: uint32 code, uint32 length (both
// little-endian), then `length` bytes; every frame is answered with one
// uint32 reply before the next frame of the connection is read.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <list>
#include <string>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace bearfix {

class RemoteServer : public QObject {
    Q_OBJECT
public:
    // (connection number, code, length, bytes) -> reply. Called for every
    // frame of at most 1024 bytes.
    using FrameHandler = std::function<uint32_t(int32_t sender, uint32_t code, int32_t length, const char* bytes)>;

    explicit RemoteServer(FrameHandler handler, QObject* parent = nullptr);
    ~RemoteServer() override;

    // Listens on `path`, replacing a stale socket (and nothing else). False
    // (and an error line in the log) when another program listens there
    // already, something else is in the way, or the socket cannot be made.
    // A server that stops listening (when the process runs out of file
    // descriptors, say) is noticed, logged and started again.
    bool listen(const std::string& path);
    void close();
    bool isListening() const;
    // How long a frame may stay half-sent before its connection is closed.
    void setQuietTimeout(int milliseconds) { quietTimeoutMs_ = milliseconds; }
    // How long a connection may stay silent between frames.
    void setIdleTimeout(int milliseconds) { idleTimeoutMs_ = milliseconds; }

    static constexpr qint64 kMaxPendingReplies = 65536;  // bytes of replies the peer has not read
    static constexpr int kMaxConnections = 64;            // the longest idle one goes for a new one

private:
    struct Connection;
    bool startListening(bool logFailure);
    void watch();
    void accept();
    bool makeRoom();
    void serve(Connection* connection);
    void drop(Connection* connection);

    FrameHandler handler_;
    QLocalServer* server_ = nullptr;
    std::string path_;  // where it listens, or should listen again
    bool stopped_ = false;  // lost its socket; told in the log, trying again
    QTimer* watchdog_ = nullptr;
    std::list<Connection*> connections_;  // the longest idle first
    int32_t nextConnection_ = 1;
    int quietTimeoutMs_ = 5000;
    int idleTimeoutMs_ = 5 * 60 * 1000;
};

}  // namespace bearfix
