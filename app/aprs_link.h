// DF reports from APRS-IS (logged in with the user's callsign and passcode,
// -1 to receive only, and a range filter around the map's centre that
// follows it when it moves far) and from a KISS TNC over TCP, for the
// bearing log; and the way out for Bearfix's own packets: to APRS-IS once
// the server has verified the login, to the TNC once it is connected.
// Lines are at most 512 bytes, KISS frames 1024; junk is counted, and said
// in the log once a minute at most.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "aprs/aprs_report.h"
#include "aprs/kiss.h"
#include "geo/position.h"

namespace bearfix {

class ReconnectingLink;

class AprsLink : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPending = 10000;
    static constexpr int kStallSeconds = 60;  // APRS-IS sends a keepalive every 20 s

    struct Config {
        bool isOn = false;
        QString isHost;
        quint16 isPort = 14580;
        bool kissOn = false;
        QString kissHost;
        quint16 kissPort = 8001;
        QString call;
        int passcode = -1;
        double rangeKm = 100;
        bool operator==(const Config&) const = default;
    };
    struct Counts {
        uint64_t bearings = 0, repeats = 0, omni = 0, refused = 0;
    };

    explicit AprsLink(QObject* parent = nullptr);

    // Connects as `config` says (nothing changes when it is the same).
    void configure(const Config& config);
    // The map's centre; the range filter follows when it moved more than a
    // quarter of the range from the filter's.
    void setCentre(GeoPosition centre);
    // The bearings that came since the last call, repeats taken once.
    std::vector<Bearing> takeBearings();
    // The latest omni-DF report of each station.
    const std::map<std::string, AprsReport>& omniReports() const { return omni_; }
    const Counts& counts() const { return counts_; }
    bool verified() const { return verified_; }
    bool kissOpen() const;
    // Sends the information field from the configured callsign: to APRS-IS
    // (verified logins only) and to the TNC; false when neither takes it.
    bool send(const std::string& info);
    ReconnectingLink& aprsIs() { return *is_; }
    ReconnectingLink& kiss() { return *kiss_; }

signals:
    void changed();

private:
    void loggedIn();
    void isBytes(const QByteArray& bytes);
    void kissBytes(const QByteArray& bytes);
    void take(const Tnc2Packet& packet);
    void refuse(const std::string& why);
    std::string login() const;

    Config config_;
    ReconnectingLink* is_ = nullptr;
    ReconnectingLink* kiss_ = nullptr;
    std::string partial_;
    bool skipping_ = false;  // the rest of a line too long
    KissDeframer deframer_;
    AprsRepeats repeats_;
    std::vector<Bearing> pending_;
    std::map<std::string, AprsReport> omni_;
    std::optional<GeoPosition> centre_, filterCentre_;
    bool verified_ = false;
    Counts counts_;
    QElapsedTimer refusedSaid_;
};

}  // namespace bearfix
