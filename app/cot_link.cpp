#include "app/cot_link.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkInterface>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>
#include <QUdpSocket>

#include "app/line_edits.h"
#include "app/reconnecting_link.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr int kFlushMs = 1000;

// The client certificate, its key and the CAs of a TAK server's TLS port.
bool tlsConfiguration(const CotLink::Config& c, QSslConfiguration& out, QString& why) {
    out = QSslConfiguration::defaultConfiguration();
    if (!c.certificate.isEmpty()) {
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(c.certificate, QSsl::Pem);
        QFile keyFile(c.key.isEmpty() ? c.certificate : c.key);
        QSslKey key;
        if (keyFile.open(QIODevice::ReadOnly) && keyFile.size() < (1 << 20)) {
            const QByteArray pem = keyFile.readAll();
            key = QSslKey(pem, QSsl::Rsa, QSsl::Pem);
            if (key.isNull()) key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
        }
        if (certs.isEmpty() || key.isNull()) {
            why = "the client certificate or its key cannot be read (PEM files, the key unencrypted)";
            return false;
        }
        out.setLocalCertificate(certs.first());
        out.setPrivateKey(key);
    }
    if (!c.caCertificates.isEmpty()) {
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(c.caCertificates, QSsl::Pem);
        if (cas.isEmpty()) {
            why = "the CA certificates cannot be read (a PEM file)";
            return false;
        }
        out.setCaCertificates(cas);
    }
    return true;
}

}  // namespace

CotLink::CotLink(QObject* parent) : QObject(parent) {
    tcp_ = new ReconnectingLink(this);
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    connect(flushTimer_, &QTimer::timeout, this, &CotLink::flush);
    connect(tcp_, &ReconnectingLink::opened, this, [this] {
        updates_.forget();  // a new connection: the server gets everything
        flush();
    });
}

bool CotLink::configure(const Config& config, QString* why) {
    if (config == config_) return true;
    config_ = config;
    tcp_->close();
    delete udp_;
    udp_ = nullptr;
    updates_.forget();
    QString problem;
    const bool udp = config.transport == CotTransport::Multicast || config.transport == CotTransport::Udp;
    if (config.on && udp) {
        target_ = QHostAddress(config.host);
        QNetworkInterface face;
        if (target_.isNull()) {
            problem = "\"" + config.host + "\" is no IP address";
        } else if (config.transport == CotTransport::Multicast && !target_.isMulticast()) {
            problem = config.host + " is no multicast group";
        } else if (config.transport == CotTransport::Multicast && !config.interfaceName.isEmpty() &&
                   !(face = QNetworkInterface::interfaceFromName(config.interfaceName)).isValid()) {
            problem = "there is no network interface \"" + config.interfaceName + "\"";
        } else {
            udp_ = new QUdpSocket(this);
            udp_->bind(target_.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4, 0);
            if (face.isValid()) udp_->setMulticastInterface(face);
            udp_->setSocketOption(QAbstractSocket::MulticastTtlOption, config.multicastTtl);
            logMessage(MessageLevel::Info, "CoT: sending to %s:%u", toCp1252(config.host).c_str(), config.port);
        }
    } else if (config.on) {
        ReconnectingLink::Options o;
        o.name = "CoT";
        o.host = config.host;
        o.port = config.port;
        o.tls = config.transport == CotTransport::Tls;
        if (!o.tls || tlsConfiguration(config, o.tlsConfiguration, problem)) tcp_->open(o);
    }
    if (!problem.isEmpty()) {
        logMessage(MessageLevel::Warning, "Warning: CoT: %s", toCp1252(problem).c_str());
        if (why) *why = problem;
        return false;
    }
    if (scene_) show(*scene_);
    return true;
}

void CotLink::show(const CotScene& scene) {
    scene_ = scene;
    if (!config_.on || flushTimer_->isActive()) return;
    const qint64 since = lastFlush_.isValid() ? lastFlush_.elapsed() : kFlushMs;
    flushTimer_->start(static_cast<int>(std::max<qint64>(0, kFlushMs - since)));
}

void CotLink::flush() {
    if (!scene_ || !config_.on || (!udp_ && !tcp_->isOpen())) return;
    lastFlush_.start();
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::vector<CotEvent> events = updates_.next(cotSceneEvents(*scene_, config_.events, now), now);
    QByteArray stream;
    for (const CotEvent& e : events) {
        const QByteArray xml = QByteArray::fromStdString(cotXml(e));
        if (udp_)
            udp_->writeDatagram(xml, target_, config_.port);
        else
            stream += xml;
        ++sent_;
    }
    if (!stream.isEmpty()) tcp_->write(stream);
}

}  // namespace bearfix
