// A TCP connection, or TLS with a client certificate, that comes back by
// itself: after a failure or a loss it is tried again after 1, 2, 4 ... 60 s.
// Each change of state is one line of the message log ("APRS-IS: connected
// to HOST:PORT", "... not reachable: REASON", "... connection lost: REASON"),
// not one per try. A server that sends nothing for `stallSeconds` is left
// and tried again; what comes faster than `maxBytesPerSecond` is dropped,
// said once a minute at most; what waits to be written is kept up to 1 MiB.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

class QTcpSocket;
class QTimer;

namespace bearfix {

class ReconnectingLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxBackoffSeconds = 60;
    static constexpr qint64 kMaxPendingWrite = 1 << 20;

    struct Options {
        QString name;  // in the log lines: "APRS-IS", "KISS", "CoT"
        QString host;
        quint16 port = 0;
        bool tls = false;
        QSslConfiguration tlsConfiguration;  // the client certificate and the CAs
        int stallSeconds = 0;                // 0: a quiet server is fine
        qint64 maxBytesPerSecond = 256 * 1024;
    };

    explicit ReconnectingLink(QObject* parent = nullptr);
    ~ReconnectingLink() override;

    // Connects to the server of `options`, leaving any other.
    void open(const Options& options);
    void close();
    bool isOpen() const { return state_ == State::Open; }
    const Options& options() const { return options_; }
    QString address() const;
    // Dropped while not open, or beyond kMaxPendingWrite.
    void write(const QByteArray& bytes);
    // Seconds until the next try (after a failure); for the tests.
    int backoffSeconds() const { return backoff_; }

signals:
    void opened();
    void received(const QByteArray& bytes);
    void lost();

private:
    enum class State { Off, Connecting, Open, Waiting };
    void connectNow();
    void onConnected();
    void onReadable();
    void fail(const QString& reason);
    void say(const QString& line, bool warning);

    Options options_;
    State state_ = State::Off;
    QTcpSocket* socket_ = nullptr;
    QTimer* retry_ = nullptr;
    QTimer* stall_ = nullptr;
    int backoff_ = 1;
    bool downSaid_ = false;  // a failure was said; the next tries are not
    QElapsedTimer second_;
    qint64 bytesThisSecond_ = 0;
    QElapsedTimer floodSaid_;
};

}  // namespace bearfix
