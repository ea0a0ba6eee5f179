// The CoT events of what the map shows, to the team's phones: by UDP to the
// situational-awareness multicast group (239.2.3.1:6969 on the interface the
// user chose) or to one address, or over TCP to a TAK server, plain or TLS
// with a client certificate. At most one update a second, and only what
// changed (cot/cot_scene.h); after a TCP connection is made again, all of it.
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

#include "cot/cot_scene.h"
#include "session/bridge_settings.h"

class QTimer;
class QUdpSocket;

namespace bearfix {

class ReconnectingLink;

class CotLink : public QObject {
    Q_OBJECT
public:
    struct Config {
        bool on = false;
        CotTransport transport = CotTransport::Multicast;
        QString host;
        quint16 port = 6969;
        QString interfaceName;  // multicast only; empty: the system's choice
        QString certificate, key, caCertificates;  // PEM files, TLS only
        int multicastTtl = 1;   // the local network
        CotOptions events;
        bool operator==(const Config& o) const {
            return on == o.on && transport == o.transport && host == o.host && port == o.port &&
                   interfaceName == o.interfaceName && certificate == o.certificate && key == o.key &&
                   caCertificates == o.caCertificates && multicastTtl == o.multicastTtl &&
                   events.uidPrefix == o.events.uidPrefix && events.staleSeconds == o.events.staleSeconds;
        }
    };

    explicit CotLink(QObject* parent = nullptr);

    // Opens what `config` says; false with `why` for certificate files that
    // cannot be read or an interface that is none (the link stays off).
    bool configure(const Config& config, QString* why = nullptr);
    // What the map shows now; sent within a second when it changed.
    void show(const CotScene& scene);
    uint64_t eventsSent() const { return sent_; }
    ReconnectingLink& tcp() { return *tcp_; }

private:
    void flush();

    Config config_;
    QUdpSocket* udp_ = nullptr;
    ReconnectingLink* tcp_ = nullptr;
    QTimer* flushTimer_ = nullptr;
    QHostAddress target_;
    CotUpdates updates_;
    std::optional<CotScene> scene_;
    QElapsedTimer lastFlush_;
    uint64_t sent_ = 0;
};

}  // namespace bearfix
