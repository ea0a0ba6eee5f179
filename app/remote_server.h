// The local socket through which other programs on the desktop send their
// messages. Each message is one frame: uint32 code, uint32 length (both
// little-endian), then `length` bytes; every frame is answered with one
// uint32 reply before the next frame of the connection is read.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace bearfix {

class RemoteServer : public QObject {
    Q_OBJECT
public:
    // (connection number, code, length, bytes) -> reply. Called for every
    // frame of at most 1024 bytes.
    using FrameHandler = std::function<uint32_t(int32_t sender, uint32_t code, int32_t length, const char* bytes)>;

    explicit RemoteServer(FrameHandler handler, QObject* parent = nullptr);
    ~RemoteServer() override;

    // Listens on `path`, replacing a stale socket file. False (and an error
    // line in the log) when another program listens there already or the
    // socket cannot be made.
    bool listen(const std::string& path);
    void close();
    bool isListening() const;
    // How long a frame may stay half-sent before its connection is closed.
    void setQuietTimeout(int milliseconds) { quietTimeoutMs_ = milliseconds; }

    static constexpr qint64 kMaxPendingReplies = 65536; // bytes of replies the peer has not read

private:
    struct Connection;
    void accept();
    void serve(Connection* connection);
    void drop(Connection* connection);

    FrameHandler handler_;
    QLocalServer* server_ = nullptr;
    int32_t nextConnection_ = 1;
    int quietTimeoutMs_ = 5000;
};

}  // namespace bearfix
