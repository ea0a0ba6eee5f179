#include "app/aprs_link.h"

#include <ctime>

#include "app/line_edits.h"
#include "app/reconnecting_link.h"
#include "aprs/aprs_is.h"
#include "aprs/aprs_writer.h"
#include "geo/great_circle.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr std::size_t kMaxOmniStations = 1000;
constexpr int kSayRefusedMs = 60 * 1000;

}  // namespace

AprsLink::AprsLink(QObject* parent) : QObject(parent) {
    is_ = new ReconnectingLink(this);
    kiss_ = new ReconnectingLink(this);
    connect(is_, &ReconnectingLink::opened, this, &AprsLink::loggedIn);
    connect(is_, &ReconnectingLink::received, this, &AprsLink::isBytes);
    connect(is_, &ReconnectingLink::lost, this, [this] {
        verified_ = false;
        emit changed();
    });
    connect(kiss_, &ReconnectingLink::received, this, &AprsLink::kissBytes);
    connect(kiss_, &ReconnectingLink::opened, this, &AprsLink::changed);
    connect(kiss_, &ReconnectingLink::lost, this, &AprsLink::changed);
}

void AprsLink::configure(const Config& config) {
    if (config == config_) return;
    config_ = config;
    verified_ = false;
    partial_.clear();
    skipping_ = false;
    deframer_ = KissDeframer();
    filterCentre_.reset();
    if (config.isOn && !config.isHost.isEmpty() && !config.call.isEmpty()) {
        ReconnectingLink::Options o;
        o.name = "APRS-IS";
        o.host = config.isHost;
        o.port = config.isPort;
        o.stallSeconds = kStallSeconds;
        is_->open(o);
    } else {
        is_->close();
        if (config.isOn)
            logMessage(MessageLevel::Warning, "Warning: APRS-IS: a server and a callsign are needed to log in");
    }
    if (config.kissOn && !config.kissHost.isEmpty()) {
        ReconnectingLink::Options o;
        o.name = "KISS";
        o.host = config.kissHost;
        o.port = config.kissPort;
        kiss_->open(o);
    } else {
        kiss_->close();
    }
    emit changed();
}

std::string AprsLink::login() const {
    const std::string call = toCp1252(config_.call);
    int passcode = config_.passcode;
    if (passcode != kReceiveOnlyPasscode && passcode != aprsPasscode(call)) {
        logMessage(MessageLevel::Warning, "Warning: APRS-IS: the passcode is not that of %s: receiving only", call.c_str());
        passcode = kReceiveOnlyPasscode;
    }
    std::optional<double> lat, lon, range;
    if (centre_) {
        lat = centre_->lat * kRadToDeg;
        lon = centre_->lon * kRadToDeg;
        range = config_.rangeKm;
    }
    std::string line, why;
    if (!aprsIsLogin(call, passcode, BEARFIX_VERSION, lat, lon, range, line, why) &&
        !aprsIsLogin(call, passcode, BEARFIX_VERSION, {}, {}, {}, line, why)) {
        logMessage(MessageLevel::Warning, "Warning: APRS-IS: %s", why.c_str());
        return {};
    }
    return line;
}

void AprsLink::loggedIn() {
    verified_ = false;
    partial_.clear();
    skipping_ = false;
    const std::string line = login();
    if (line.empty()) return;
    is_->write(QByteArray::fromStdString(line));
    filterCentre_ = centre_;
}

void AprsLink::setCentre(GeoPosition centre) {
    centre_ = centre;
    if (!is_->isOpen()) return;
    double dist = 0;
    if (filterCentre_)
        gc_distance_course(filterCentre_->lon, filterCentre_->lat, centre.lon, centre.lat, &dist, nullptr);
    if (filterCentre_ && dist * kEarthRadiusKm <= config_.rangeKm / 4) return;
    if (!(config_.rangeKm >= kMinFilterRangeKm && config_.rangeKm <= kMaxFilterRangeKm)) return;
    filterCentre_ = centre;
    is_->write(QByteArray::fromStdString(
        "#filter " + aprsRangeFilter(centre.lat * kRadToDeg, centre.lon * kRadToDeg, config_.rangeKm) + "\r\n"));
}

void AprsLink::isBytes(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (c != '\n') {
            if (skipping_) continue;
            partial_ += c;
            if (partial_.size() > kMaxAprsLineBytes) {
                refuse("a line longer than " + std::to_string(kMaxAprsLineBytes) + " bytes");
                partial_.clear();
                skipping_ = true;
            }
            continue;
        }
        const std::string line = std::move(partial_);
        partial_.clear();
        if (std::exchange(skipping_, false)) continue;
        switch (classifyAprsIsLine(line)) {
            case AprsIsLineKind::Comment:
                break;
            case AprsIsLineKind::Verified:
                verified_ = true;
                logMessage(MessageLevel::Info, "APRS-IS: login of %s verified", toCp1252(config_.call).c_str());
                emit changed();
                break;
            case AprsIsLineKind::Unverified:
                logMessage(MessageLevel::Info, "APRS-IS: login of %s unverified: receiving only",
                           toCp1252(config_.call).c_str());
                break;
            case AprsIsLineKind::Refused:
                logMessage(MessageLevel::Warning, "Warning: APRS-IS: the server refused the login: %s",
                           printableExcerpt(line).c_str());
                break;
            case AprsIsLineKind::Packet: {
                Tnc2Packet packet;
                std::string why;
                if (parseTnc2(line, packet, why))
                    take(packet);
                else
                    refuse(why);
            }
        }
    }
}

void AprsLink::kissBytes(const QByteArray& bytes) {
    std::string problem;
    const uint64_t dropped = deframer_.dropped();
    for (const KissFrame& frame : deframer_.feed(std::string_view(bytes.constData(), bytes.size()), &problem)) {
        Tnc2Packet packet;
        std::string why;
        if (ax25ToTnc2(frame.data, packet, why))
            take(packet);
        else
            refuse("KISS: " + why);
    }
    if (deframer_.dropped() != dropped) refuse("KISS: " + problem);
}

void AprsLink::take(const Tnc2Packet& packet) {
    const AprsDecoded d = decodeAprs(packet);
    if (d.verdict == AprsVerdict::Refused) {
        refuse(d.why);
    } else if (d.verdict == AprsVerdict::Omni) {
        ++counts_.omni;
        if (omni_.size() < kMaxOmniStations || omni_.count(d.report.station())) omni_[d.report.station()] = d.report;
        emit changed();
    } else if (d.verdict == AprsVerdict::Bearing) {
        const int64_t now = std::time(nullptr);
        const Bearing b = aprsBearing(d.report, now);
        if (repeats_.repeated(b, now)) {
            ++counts_.repeats;
        } else if (pending_.size() < kMaxPending) {
            ++counts_.bearings;
            pending_.push_back(b);
        }
    }
}

void AprsLink::refuse(const std::string& why) {
    ++counts_.refused;
    if (refusedSaid_.isValid() && refusedSaid_.elapsed() < kSayRefusedMs) return;
    refusedSaid_.start();
    logMessage(MessageLevel::Debug, "Debug: APRS: %s", why.c_str());
}

std::vector<Bearing> AprsLink::takeBearings() { return std::exchange(pending_, {}); }

bool AprsLink::kissOpen() const { return kiss_->isOpen(); }

bool AprsLink::send(const std::string& info) {
    const std::string call = toCp1252(config_.call);
    bool sent = false;
    if (verified_ && is_->isOpen()) {
        is_->write(QByteArray::fromStdString(formatTnc2(ownPacket(call, "TCPIP*", info)) + "\r\n"));
        sent = true;
    }
    std::string ax25, why;
    if (kiss_->isOpen() && tnc2ToAx25(ownPacket(call, "WIDE1-1,WIDE2-1", info), ax25, why)) {
        kiss_->write(QByteArray::fromStdString(kissFrame(ax25)));
        sent = true;
    }
    return sent;
}

}  // namespace bearfix
