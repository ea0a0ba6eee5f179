#include "app/reconnecting_link.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "app/line_edits.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr int kFloodSayMs = 60 * 1000;

}  // namespace

ReconnectingLink::ReconnectingLink(QObject* parent) : QObject(parent) {
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &ReconnectingLink::connectNow);
    stall_ = new QTimer(this);
    stall_->setSingleShot(true);
    connect(stall_, &QTimer::timeout, this, [this] {
        fail(QString("nothing received for %1 s").arg(options_.stallSeconds));
    });
}

ReconnectingLink::~ReconnectingLink() { close(); }

QString ReconnectingLink::address() const { return options_.host + ":" + QString::number(options_.port); }

void ReconnectingLink::open(const Options& options) {
    close();
    options_ = options;
    backoff_ = 1;
    downSaid_ = false;
    connectNow();
}

void ReconnectingLink::close() {
    retry_->stop();
    stall_->stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    if (state_ == State::Open) say(options_.name + ": closed the connection to " + address(), false);
    state_ = State::Off;
}

void ReconnectingLink::connectNow() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    state_ = State::Connecting;
    if (options_.tls) {
        auto* ssl = new QSslSocket(this);
        ssl->setSslConfiguration(options_.tlsConfiguration);
        connect(ssl, &QSslSocket::encrypted, this, &ReconnectingLink::onConnected);
        connect(ssl, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            fail(errors.isEmpty() ? QString("TLS error") : errors.first().errorString());
        });
        socket_ = ssl;
    } else {
        socket_ = new QTcpSocket(this);
        connect(socket_, &QTcpSocket::connected, this, &ReconnectingLink::onConnected);
    }
    connect(socket_, &QTcpSocket::readyRead, this, &ReconnectingLink::onReadable);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] { fail(socket_->errorString()); });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { fail("the server closed it"); });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket_))
        ssl->connectToHostEncrypted(options_.host, options_.port);
    else
        socket_->connectToHost(options_.host, options_.port);
}

void ReconnectingLink::onConnected() {
    state_ = State::Open;
    backoff_ = 1;
    downSaid_ = false;
    second_.start();
    bytesThisSecond_ = 0;
    say(options_.name + ": connected to " + address(), false);
    if (options_.stallSeconds > 0) stall_->start(options_.stallSeconds * 1000);
    emit opened();
}

void ReconnectingLink::onReadable() {
    if (!socket_) return;
    const QByteArray bytes = socket_->readAll();
    if (state_ != State::Open || bytes.isEmpty()) return;
    if (options_.stallSeconds > 0) stall_->start(options_.stallSeconds * 1000);
    if (second_.elapsed() >= 1000) {
        second_.restart();
        bytesThisSecond_ = 0;
    }
    const qint64 room = std::max<qint64>(0, options_.maxBytesPerSecond - bytesThisSecond_);
    bytesThisSecond_ += bytes.size();
    if (bytes.size() > room && (!floodSaid_.isValid() || floodSaid_.elapsed() > kFloodSayMs)) {
        floodSaid_.start();
        say(QString("%1: %2 sends more than %3 bytes a second; the rest is dropped")
                .arg(options_.name, address())
                .arg(options_.maxBytesPerSecond),
            true);
    }
    if (room > 0) emit received(bytes.left(room));
}

void ReconnectingLink::write(const QByteArray& bytes) {
    if (state_ != State::Open || !socket_ || socket_->bytesToWrite() + bytes.size() > kMaxPendingWrite) return;
    socket_->write(bytes);
}

void ReconnectingLink::fail(const QString& reason) {
    if (state_ == State::Off || state_ == State::Waiting) return;
    const bool wasOpen = state_ == State::Open;
    state_ = State::Waiting;
    stall_->stop();
    if (wasOpen) {
        say(options_.name + ": connection to " + address() + " lost: " + reason, true);
        downSaid_ = true;
        emit lost();
    } else if (!downSaid_) {
        say(options_.name + ": " + address() + " not reachable: " + reason, true);
        downSaid_ = true;
    }
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    retry_->start(backoff_ * 1000);
    backoff_ = std::min(backoff_ * 2, kMaxBackoffSeconds);
}

void ReconnectingLink::say(const QString& line, bool warning) {
    if (warning)
        logMessage(MessageLevel::Warning, "Warning: %s", toCp1252(line).c_str());
    else
        logMessage(MessageLevel::Info, "%s", toCp1252(line).c_str());
}

}  // namespace bearfix
