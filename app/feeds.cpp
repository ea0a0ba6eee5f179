#include "app/feeds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalBlocker>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/gps_panel.h"
#include "app/main_window.h"
#include "live/udp_bearing.h"
#include "map/qt_convert.h"
#include "support/message_log.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr int kMaxDatagramsPerTurn = 1000;  // then the window gets its turn
constexpr qint64 kReadBuffer = 256 * 1024;

// A number as the whole field, within [low, high]; else `fallback`.
double numberIn(const QLineEdit* field, double low, double high, double fallback) {
    bool ok = false;
    const double v = field->text().trimmed().toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

QString counts(uint64_t accepted, uint64_t skipped) {
    return QString("%1 accepted, %2 skipped").arg(accepted).arg(skipped);
}

}  // namespace

BearingFeeds::BearingFeeds(TBearfix& window, const GpsPanel& gps)
    : QObject(&window), window_(window), form_(window.form()), gps_(gps) {
    network_ = new QNetworkAccessManager(this);
    fetchTimer_ = new QTimer(this);
    connect(fetchTimer_, &QTimer::timeout, this, &BearingFeeds::fetch);
    for (QCheckBox* box : {form_.Chk_UdpFeed, form_.Chk_UdpAllInterfaces, form_.Chk_ReceiverFeed})
        connect(box, &QCheckBox::toggled, this, &BearingFeeds::start);
    for (QLineEdit* field : {form_.Ed_UdpPort, form_.Ed_ReceiverUrl, form_.Ed_ReceiverInterval})
        connect(field, &QLineEdit::editingFinished, this, &BearingFeeds::start);
    connect(form_.Chk_ToleranceFromConfidence, &QCheckBox::toggled, this, &BearingFeeds::showScale);
    for (QLineEdit* field : {form_.Ed_FeedTolerance, form_.Ed_ToleranceAtZero, form_.Ed_ToleranceAtHundred})
        connect(field, &QLineEdit::textChanged, this, &BearingFeeds::showScale);
}

// Without the change handling: the feeds start once the window is ready.
void BearingFeeds::show(const LiveSettings& s) {
    const QSignalBlocker b1(form_.Chk_UdpFeed), b2(form_.Chk_UdpAllInterfaces), b3(form_.Chk_ReceiverFeed);
    form_.Chk_UdpFeed->setChecked(s.udpOn);
    form_.Ed_UdpPort->setText(QString::number(s.udpPort));
    form_.Chk_UdpAllInterfaces->setChecked(s.udpAllInterfaces);
    form_.Chk_ReceiverFeed->setChecked(s.receiverOn);
    form_.Ed_ReceiverUrl->setText(toQString(s.receiverUrl));
    form_.Ed_ReceiverInterval->setText(toQString(s.receiverInterval));
    form_.Cb_BearingConvention->setCurrentIndex(s.receiverMirrored ? 1 : 0);
    form_.Ed_FeedTolerance->setText(toQString(s.feedTolerance));
    form_.Chk_ToleranceFromConfidence->setChecked(s.toleranceFromConfidence);
    form_.Ed_ToleranceAtZero->setText(toQString(s.toleranceAtZero));
    form_.Ed_ToleranceAtHundred->setText(toQString(s.toleranceAtHundred));
    showScale();
}

void BearingFeeds::fill(LiveSettings& s) const {
    s.udpOn = form_.Chk_UdpFeed->isChecked();
    bool ok = false;
    const int port = form_.Ed_UdpPort->text().trimmed().toInt(&ok);
    if (ok && port >= 0 && port <= 65535) s.udpPort = port;
    s.udpAllInterfaces = form_.Chk_UdpAllInterfaces->isChecked();
    s.receiverOn = form_.Chk_ReceiverFeed->isChecked();
    s.receiverUrl = toCp1252(form_.Ed_ReceiverUrl->text());
    s.receiverInterval = toCp1252(form_.Ed_ReceiverInterval->text());
    s.receiverMirrored = form_.Cb_BearingConvention->currentIndex() == 1;
    s.feedTolerance = toCp1252(form_.Ed_FeedTolerance->text());
    s.toleranceFromConfidence = form_.Chk_ToleranceFromConfidence->isChecked();
    s.toleranceAtZero = toCp1252(form_.Ed_ToleranceAtZero->text());
    s.toleranceAtHundred = toCp1252(form_.Ed_ToleranceAtHundred->text());
}

uint16_t BearingFeeds::udpPort() const {
    return socket_ && socket_->state() == QAbstractSocket::BoundState ? socket_->localPort() : 0;
}

void BearingFeeds::start() {
    // UDP: bound to this computer unless the user lets the network in.
    LiveSettings wanted;
    fill(wanted);
    const QHostAddress address = wanted.udpAllInterfaces ? QHostAddress::Any : QHostAddress::LocalHost;
    const bool rebind = !socket_ || socket_->state() != QAbstractSocket::BoundState ||
                        socket_->localAddress() != address ||
                        (wanted.udpPort != 0 && socket_->localPort() != wanted.udpPort);
    if (!wanted.udpOn || rebind) {
        delete socket_;
        socket_ = nullptr;
        udpProblem_.clear();
    }
    if (wanted.udpOn && !socket_) {
        socket_ = new QUdpSocket(this);
        if (socket_->bind(address, static_cast<quint16>(wanted.udpPort))) {
            connect(socket_, &QUdpSocket::readyRead, this, &BearingFeeds::readDatagrams);
            logMessage(MessageLevel::Info, "UDP bearings: listening on %s:%u",
                       address.toString().toStdString().c_str(), socket_->localPort());
        } else {
            note(udpProblem_, QString("UDP: cannot listen on %1:%2: %3")
                                  .arg(address.toString())
                                  .arg(wanted.udpPort)
                                  .arg(socket_->errorString()));
        }
    }

    // The receiver's page.
    const QUrl url(form_.Ed_ReceiverUrl->text().trimmed(), QUrl::StrictMode);
    const int intervalMs = static_cast<int>(std::lround(numberIn(form_.Ed_ReceiverInterval, 0.1, 3600, 1) * 1000));
    if (!wanted.receiverOn || url.toString() != receiverUrl_) {
        receiverUrl_.clear();
        if (reply_) reply_->abort();
        fetchTimer_->stop();
        receiver_.forget();  // another receiver: its times are its own
        receiverProblem_.clear();
    }
    if (wanted.receiverOn) {
        if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty()) {
            note(receiverProblem_, "Receiver: not an http:// address: " + form_.Ed_ReceiverUrl->text().left(80));
        } else {
            receiverUrl_ = url.toString();
            if (!fetchTimer_->isActive() || fetchTimer_->interval() != intervalMs) fetchTimer_->start(intervalMs);
        }
    }
    showStatus();
}

FeedContext BearingFeeds::context() const {
    FeedContext c;
    c.own = gps_.currentFix();
    c.toleranceDeg = numberIn(form_.Ed_FeedTolerance, kMinToleranceDeg, 180, 5);
    c.nowUtc = QDateTime::currentSecsSinceEpoch();
    c.scale.fromConfidence = form_.Chk_ToleranceFromConfidence->isChecked();
    c.scale.atZero = numberIn(form_.Ed_ToleranceAtZero, kMinToleranceDeg, 180, 15);
    c.scale.atHundred = numberIn(form_.Ed_ToleranceAtHundred, kMinToleranceDeg, 180, 3);
    return c;
}

// The tolerances the fed bearings get, as the feeds will give them.
void BearingFeeds::showScale() {
    const FeedContext c = context();
    const auto degrees = [](double v) { return "\u00B1" + QString::number(v, 'g', 4) + "\u00B0"; };
    QString text;
    if (c.scale.fromConfidence) {
        QStringList steps;
        for (const int confidence : {0, 50, 100})
            steps << QString("%1 \u2192 %2").arg(confidence).arg(degrees(toleranceFor(c, confidence)));
        text = "confidence " + steps.join(", ") + "; without one " + degrees(c.toleranceDeg);
    }
    form_.Lab_ConfidenceScale->setText(text);
    form_.Lab_ConfidenceScale->setHidden(text.isEmpty());
}

void BearingFeeds::takeBearings(std::vector<Bearing>& into, std::vector<Bearing>& received) {
    std::move(pending_.begin(), pending_.end(), std::back_inserter(into));
    pending_.clear();
    std::move(pendingReceived_.begin(), pendingReceived_.end(), std::back_inserter(received));
    pendingReceived_.clear();
}

void BearingFeeds::receivedAgain(std::size_t count) {
    if (count == 0) return;
    count = std::min<std::size_t>(count, receiverCounts_.accepted);
    receiverCounts_.accepted -= count;
    receiverCounts_.repeated += count;
    showStatus();
}

void BearingFeeds::readDatagrams() {
    if (!socket_) return;
    const FeedContext c = context();
    QByteArray data;
    for (int n = 0; n < kMaxDatagramsPerTurn && socket_->hasPendingDatagrams(); ++n) {
        const qint64 size = socket_->pendingDatagramSize();
        data.resize(static_cast<qsizetype>(std::clamp<qint64>(size, 1, kMaxDatagramBytes + 1)));
        QHostAddress from;
        const qint64 got = socket_->readDatagram(data.data(), data.size(), &from);
        if (got < 0) break;
        const FeedItem item =
            size > static_cast<qint64>(kMaxDatagramBytes)
                ? FeedItem{FeedVerdict::Skipped, {}, "larger than 64 KiB"}
                : parseBearingDatagram(std::string_view(data.constData(), static_cast<std::size_t>(got)), c);
        switch (item.verdict) {
            case FeedVerdict::Accepted:
                ++udp_.accepted;
                pending_.push_back(item.bearing);
                break;
            case FeedVerdict::Ignored:
                ++udp_.ignored;
                debugOnce("UDP: datagram from " + from.toString() + " ignored: " + toQString(item.why));
                break;
            case FeedVerdict::Skipped:
                ++udp_.skipped;
                debugOnce("UDP: datagram from " + from.toString() + " skipped: " + toQString(item.why));
                break;
        }
    }
    if (socket_->hasPendingDatagrams()) QTimer::singleShot(0, this, &BearingFeeds::readDatagrams);
    showStatus();
}

void BearingFeeds::fetch() {
    if (reply_ || receiverUrl_.isEmpty()) return;  // the last fetch is still under way
    QNetworkRequest request{QUrl(receiverUrl_)};
    request.setTransferTimeout(std::max(5000, fetchTimer_->interval() * 2));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    body_.clear();
    tooLarge_ = false;
    reply_ = network_->get(request);
    reply_->setReadBufferSize(kReadBuffer);
    QNetworkReply* reply = reply_;
    auto take = [this, reply] {
        if (reply != reply_ || tooLarge_) return;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        body_ += reply->read(static_cast<qint64>(ReceiverFeed::kMaxBodyBytes) + 1 - body_.size());
        if (length > static_cast<qint64>(ReceiverFeed::kMaxBodyBytes) ||
            body_.size() > static_cast<qsizetype>(ReceiverFeed::kMaxBodyBytes)) {
            tooLarge_ = true;
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, take);
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::finished, this, &BearingFeeds::fetched);
}

void BearingFeeds::fetched() {
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply) return;
    reply->deleteLater();
    if (reply != reply_) return;  // aborted when the address changed
    reply_ = nullptr;
    if (receiverUrl_.isEmpty()) return;
    if (!tooLarge_ && reply->error() == QNetworkReply::NoError) {
        body_ += reply->read(static_cast<qint64>(ReceiverFeed::kMaxBodyBytes) + 1 - body_.size());
        tooLarge_ = body_.size() > static_cast<qsizetype>(ReceiverFeed::kMaxBodyBytes);
    }
    if (tooLarge_) {
        ++receiverCounts_.skipped;
        note(receiverProblem_, "Receiver: the page is larger than 1 MiB");
    } else if (reply->error() != QNetworkReply::NoError) {
        note(receiverProblem_, "Receiver: " + reply->errorString());
    } else {
        std::string problem;
        const bool mirrored = form_.Cb_BearingConvention->currentIndex() == 1;
        std::vector<Bearing> got = receiver_.read(std::string_view(body_.constData(), static_cast<std::size_t>(body_.size())),
                                                  mirrored, context(), receiverCounts_, &problem);
        std::move(got.begin(), got.end(), std::back_inserter(pendingReceived_));
        if (!problem.empty()) debugOnce("Receiver: " + toQString(problem));
        const bool first = !tornSaid_.saidBefore();
        if (const uint64_t torn = tornSaid_.due(receiverCounts_.torn, QDateTime::currentMSecsSinceEpoch()); torn > 0) {
            if (first) {
                logMessage(MessageLevel::Info, "Receiver: %llu torn line%s skipped (caught half written); said once a "
                           "minute at most", static_cast<unsigned long long>(torn), torn == 1 ? "" : "s");
            } else {
                logMessage(MessageLevel::Info, "Receiver: %llu more torn line%s skipped",
                           static_cast<unsigned long long>(torn), torn == 1 ? "" : "s");
            }
        }
        note(receiverProblem_, {});
    }
    body_.clear();
    showStatus();
}

// A problem is logged when it starts or changes, not at every fetch.
void BearingFeeds::note(QString& problem, const QString& text) {
    if (text == problem) return;
    problem = text;
    if (!text.isEmpty()) logMessage(MessageLevel::Warning, "Warning: %s", toCp1252(text).c_str());
}

void BearingFeeds::debugOnce(const QString& text) {
    if (lastDebug_.isValid() && lastDebug_.elapsed() < 1000) return;
    lastDebug_.start();
    logMessage(MessageLevel::Debug, "Debug: %s", toCp1252(text).c_str());
}

void BearingFeeds::showStatus() {
    QString udp = "UDP: off";
    if (!udpProblem_.isEmpty()) {
        udp = udpProblem_;
    } else if (socket_) {
        udp = QString("UDP %1:%2: ").arg(socket_->localAddress().toString()).arg(socket_->localPort()) +
              counts(udp_.accepted, udp_.skipped) + QString(", %1 ignored").arg(udp_.ignored);
    }
    QString receiver = "Receiver: off";
    if (form_.Chk_ReceiverFeed->isChecked()) {
        receiver = "Receiver: " + counts(receiverCounts_.accepted, receiverCounts_.skipped);
        if (receiverCounts_.torn > 0) receiver += QString(" (%1 torn)").arg(receiverCounts_.torn);
        if (!receiverProblem_.isEmpty()) receiver += "\n" + receiverProblem_;
    }
    form_.Lab_FeedStatus->setText(udp + "\n" + receiver);
    emit statusChanged();
}

}  // namespace bearfix
