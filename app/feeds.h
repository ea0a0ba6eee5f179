// The "Bearing Feeds" group: bearings of DF receivers from UDP datagrams and
// from a receiver's CSV page fetched over HTTP, collected for the bearing
// log (the window's timer takes them, so that a burst gets one fix), with
// the counts of what was taken and skipped in the group's status line.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "session/live_settings.h"
#include "live/kraken_csv.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUdpSocket;

namespace Ui {
class TBearfix;
}

namespace bearfix {

class GpsPanel;
class TBearfix;

class BearingFeeds : public QObject {
    Q_OBJECT
public:
    BearingFeeds(TBearfix& window, const GpsPanel& gps);

    void show(const LiveSettings& s);
    void fill(LiveSettings& s) const;

    // Opens, changes or closes the feeds as the group's controls say.
    void start();
    // Moves the bearings that came since the last call to the ends of
    // `into` (UDP) and `received` (the receiver's page, which the log may
    // hold already: read again after a restart, it is the same page).
    void takeBearings(std::vector<Bearing>& into, std::vector<Bearing>& received);
    // `count` of the page's bearings were in the log already.
    void receivedAgain(std::size_t count);

    struct UdpCounts {
        uint64_t accepted = 0, skipped = 0, ignored = 0;
    };
    const UdpCounts& udpCounts() const { return udp_; }
    const ReceiverCounts& receiverCounts() const { return receiverCounts_; }
    // The UDP port listened on, 0 when none (for the tests: the field may say 0).
    uint16_t udpPort() const;

signals:
    void statusChanged();

private:
    void readDatagrams();
    void fetch();
    void fetched();
    void showStatus();
    void showScale();
    FeedContext context() const;
    void note(QString& problem, const QString& text);
    void debugOnce(const QString& text);

    TBearfix& window_;
    Ui::TBearfix& form_;
    const GpsPanel& gps_;
    QUdpSocket* socket_ = nullptr;
    QString udpProblem_;
    UdpCounts udp_;
    QNetworkAccessManager* network_ = nullptr;
    QTimer* fetchTimer_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    QByteArray body_;
    bool tooLarge_ = false;
    QString receiverUrl_;
    QString receiverProblem_;
    ReceiverFeed receiver_;
    ReceiverCounts receiverCounts_;
    std::vector<Bearing> pending_;
    std::vector<Bearing> pendingReceived_;
    QElapsedTimer lastDebug_;  // junk is told about once a second at most
    ThrottledCount tornSaid_;  // torn lines once a minute at most
};

}  // namespace bearfix
