#include "app/bridges.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QRandomGenerator>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>

#include "app/aprs_link.h"
#include "app/bearing_log_tab.h"
#include "app/cot_link.h"
#include "app/line_edits.h"
#include "app/main_window.h"
#include "app/reconnecting_link.h"
#include "aprs/aprs_frequency.h"
#include "aprs/aprs_writer.h"
#include "geo/great_circle.h"
#include "map/bearing_log_overlay.h"
#include "map/map_view.h"
#include "support/message_log.h"
#include "ui_bridges_dialog.h"

namespace bearfix {

namespace {

constexpr int kShapePoints = 64;
constexpr double kMaxShownEllipseKm = 5000.0;
constexpr double kKmPerMile = 1.609344;
constexpr std::size_t kRememberedReports = 256;

// "HOST:PORT" (the last ':' splits, so that a bracketless IPv6 address
// works too); false for a port outside 1..65535.
bool hostPort(const std::string& text, QString& host, quint16& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    bool ok = false;
    const int p = QString::fromStdString(text.substr(colon + 1)).toInt(&ok);
    if (!ok || p < 1 || p > 65535) return false;
    host = toQString(text.substr(0, colon)).trimmed();
    if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
    port = static_cast<quint16>(p);
    return true;
}

double number(const std::string& text, double fallback) {
    bool ok = false;
    const double v = QString::fromStdString(text).trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : fallback;
}

int32_t argbOf(const QColor& c) { return static_cast<int32_t>(c.rgba()); }

}  // namespace

Bridges::Bridges(TBearfix& window) : QObject(&window), window_(window) {
    aprs_ = new AprsLink(this);
    cot_ = new CotLink(this);
    clock = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    confirmFirstSend = [this](const QString& packet, std::function<void(bool)> answer) {
        auto* box = new QMessageBox(QMessageBox::Question, "Bearfix",
                                    "Bearfix is about to send this packet, and then its bearings and fix at most "
                                    "every 30 s:\n\n" + packet + "\n\nSend it?",
                                    QMessageBox::Yes | QMessageBox::No, &window_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [box, answer] { answer(box->result() == QMessageBox::Yes); });
        box->open();
    };
    connect(aprs_, &AprsLink::changed, this, [this] { window_.overlayPending = true; });
    // File > APRS and TAK..., after Export...
    auto* action = new QAction("APRS and &TAK...", &window_);
    action->setObjectName("MI_Bridges");
    connect(action, &QAction::triggered, this, &Bridges::openDialog);
    if (auto* menu = window_.findChild<QMenu*>("MM_File")) {
        const QList<QAction*> actions = menu->actions();
        QAction* exportAction = window_.findChild<QAction*>("MI_Export");
        const qsizetype at = actions.indexOf(exportAction);
        menu->insertAction(at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr, action);
    }
}

void Bridges::show(const BridgeSettings& s) { s_ = s; }

void Bridges::start() {
    AprsLink::Config a;
    a.isOn = s_.aprsIsOn && hostPort(s_.aprsIsServer, a.isHost, a.isPort);
    a.kissOn = s_.kissOn && hostPort(s_.kissServer, a.kissHost, a.kissPort);
    a.call = toQString(s_.aprsCall).trimmed().toUpper();
    a.passcode = static_cast<int>(number(s_.aprsPasscode, -1));
    a.rangeKm = number(s_.aprsRangeKm, 100);
    if ((s_.aprsIsOn && !a.isOn) || (s_.kissOn && !a.kissOn))
        logMessage(MessageLevel::Warning, "Warning: APRS: a server is HOST:PORT");
    aprs_->configure(a);
    if (s_.cotOn && s_.cotUidPrefix.empty())  // one for this installation, kept in the settings
        s_.cotUidPrefix = "bearfix-" + QString::number(QRandomGenerator::global()->generate64(), 16).toStdString();
    CotLink::Config c;
    c.on = s_.cotOn && hostPort(s_.cotAddress, c.host, c.port);
    if (s_.cotOn && !c.on) logMessage(MessageLevel::Warning, "Warning: CoT: the address is HOST:PORT");
    c.transport = s_.cotTransport;
    c.interfaceName = toQString(s_.cotInterface).trimmed();
    c.certificate = toQString(s_.cotCertificate);
    c.key = toQString(s_.cotKey);
    c.caCertificates = toQString(s_.cotCaCertificates);
    c.events.uidPrefix = s_.cotUidPrefix;
    cot_->configure(c);
}

void Bridges::takeBearings(std::vector<Bearing>& into) {
    for (Bearing& b : aprs_->takeBearings()) into.push_back(std::move(b));
}

void Bridges::tick() {
    aprs_->setCentre(window_.composer().view().center);
    if (s_.aprsSend || s_.aprsSendFix) sendOwn();
    // The scene's lines are measured on the map: worked out once a second, as often as they may go.
    if (s_.cotOn && (!sceneMade_.isValid() || sceneMade_.elapsed() >= 1000)) {
        sceneMade_.start();
        cot_->show(scene());
    }
}

// ---- sending -----------------------------------------------------------------

std::string Bridges::ownReport() const {
    const BearingRows& rows = window_.bearingLog().model().rows();
    const MapView& view = window_.composer().view();
    for (std::size_t i = rows.rows.size(); i-- > 0;) {  // the newest first
        const Bearing& b = rows.rows[i];
        // A's bearing, in its row or pinned into the log while A follows the GPS.
        const bool pinnedA = b.station == "A" && (b.source == BearingSource::Typed || b.source == BearingSource::Remote);
        const bool own = rows.isObserver(i) ? rows.letters[i] == 'A'
                                            : b.source == BearingSource::Udp || b.source == BearingSource::Receiver ||
                                                  pinnedA;
        if (!own || !b.enabled) continue;
        OwnDfReport r;
        r.latDeg = b.position.lat * kRadToDeg;
        r.lonDeg = b.position.lon * kRadToDeg;
        r.bearingDeg = b.bearingDeg;
        r.toleranceDeg = b.toleranceDeg;
        r.hits = rows.isObserver(i) ? 9 : 8;  // by hand, or every sample of a receiver
        r.rangeMi = bearingLineLength(view, b.position) * kEarthRadiusKm / kKmPerMile;
        if (const double mhz = number(s_.aprsFreq, 0); mhz > 0) r.freqMhz = mhz;
        r.comment = s_.aprsComment;
        std::string info, why;
        if (dfReportInfo(r, info, why) && !sentReports_.count(info)) return info;
    }
    return {};
}

std::string Bridges::fixObject() const {
    const FixResult& fix = window_.bearingLog().model().rows().fix;
    if (fix.status != FixStatus::Found) return {};
    char comment[48];
    std::snprintf(comment, sizeof comment, "95%% %.1fx%.1fkm", fix.ellipse95.semiMajorKm * 2,
                  fix.ellipse95.semiMinorKm * 2);
    std::string info, why;
    if (!fixObjectInfo(s_.aprsFixName, fix.x.lat * kRadToDeg, fix.x.lon * kRadToDeg, std::time(nullptr),
                       fix.ellipse95.semiMajorKm < 1000 ? comment : "", false, info, why))
        return {};
    return info;
}

// The first packet waits for the user's answer; the ticks meanwhile send nothing.
bool Bridges::mayGo(const std::string& info) {
    if (confirmed_ || asking_ || !confirmFirstSend) return confirmed_;
    const std::string call = toCp1252(toQString(s_.aprsCall).trimmed().toUpper());
    const QString packet = toQString(formatTnc2(ownPacket(call, aprs_->verified() ? "TCPIP*" : "WIDE1-1,WIDE2-1", info)));
    asking_ = true;
    confirmFirstSend(packet, [this](bool yes) {
        asking_ = false;
        confirmed_ = yes;
        if (yes) return;
        s_.aprsSend = s_.aprsSendFix = false;
        logMessage(MessageLevel::Info, "APRS: sending switched off");
    });
    return confirmed_;
}

void Bridges::sendOwn() {
    if (!aprs_->verified() && !aprs_->kissOpen()) return;
    const qint64 now = clock();
    if (s_.aprsSend && (!reportSent_ || now - lastReportMs_ >= kMinSendIntervalMs)) {
        const std::string info = ownReport();
        if (!info.empty() && mayGo(info) && aprs_->send(info)) {
            if (sentReports_.size() >= kRememberedReports) sentReports_.clear();
            sentReports_.insert(info);
            lastReportMs_ = now;
            reportSent_ = true;
        }
    }
    if (s_.aprsSendFix && (!objectSent_ || now - lastObjectMs_ >= kMinSendIntervalMs)) {
        // Without a fix the object sent last is killed: ";NAME_____" + '_' at byte 10.
        std::string info = fixObject();
        const bool killed = info.empty() && !lastObject_.empty();
        if (killed) info = lastObject_.substr(0, 10) + "_" + lastObject_.substr(11);
        // The same fix again is not sent; its timestamp (bytes 11..17) alone does not count.
        const auto place = [](const std::string& i) { return i.size() > 18 ? i.substr(0, 11) + i.substr(18) : i; };
        if (!info.empty() && place(info) != place(lastObject_) && mayGo(info) && aprs_->send(info)) {
            lastObject_ = killed ? std::string() : info;
            lastObjectMs_ = now;
            objectSent_ = true;
        }
    }
}

// ---- TAK -------------------------------------------------------------------------

CotScene Bridges::scene() const {
    const BearingRows& rows = window_.bearingLog().model().rows();
    const MapView& view = window_.composer().view();
    CotScene scene;
    std::map<std::string, GeoPosition> stations;  // of the log, the newest position
    const std::vector<int> colourSlot = stationColourSlots(rows.rows);
    std::vector<CotLine> lines;
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const Bearing& b = rows.rows[i];
        if (rows.isObserver(i)) {
            const std::string letter(1, rows.letters[i]);
            scene.stations.push_back({letter, letter, b.position});
        } else {
            stations[b.station] = b.position;
        }
        if (i < rows.fix.fits.size() && rows.fix.fits[i].used)
            lines.push_back({b.station, b.utc, b.position, b.bearingDeg,
                             bearingLineLength(view, b.position) * kEarthRadiusKm, argbOf(stationColour(colourSlot[i]))});
    }
    for (const auto& [name, position] : stations) scene.stations.push_back({"log." + name, name, position});
    if (lines.size() > kMaxCotLines) lines.erase(lines.begin(), lines.end() - kMaxCotLines);
    scene.lines = std::move(lines);
    const FixResult& fix = rows.fix;
    if (fix.status == FixStatus::Found) {
        scene.fix = CotFix{fix.x, fix.ellipse95.semiMajorKm, s_.aprsFixName.empty() ? "Fix" : s_.aprsFixName,
                           "95 %: " + formatEllipse(fix.ellipse95)};
        if (fix.ellipse95.semiMajorKm > 0 && fix.ellipse95.semiMajorKm < kMaxShownEllipseKm) {
            scene.area = ellipseOutline(fix.x, fix.ellipse95, kShapePoints);
            scene.areaName = "95 % region";
        }
    }
    return scene;
}

// ---- the map and the dialog ------------------------------------------------------

bool Bridges::drawOmni(QPainter& painter, const MapView& view) const {
    bool drew = false;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto& [station, r] : aprs_->omniReports()) {
        int x, y;
        if (!geo_to_screen(view, r.lonDeg * kDegToRad, r.latDeg * kDegToRad, &x, &y)) continue;
        const int radius = 5 + 2 * r.omni.strength;
        // Not heard there (S0): a black ring, as APRS clients draw it.
        painter.setPen(QPen(r.omni.strength ? QColor(220, 90, 0) : Qt::black, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPoint(x, y), radius, radius);
        painter.drawText(x + radius + 2, y + 4, toQString(station) + QString(" S%1").arg(r.omni.strength));
        drew = true;
    }
    painter.restore();
    return drew;
}

void Bridges::openDialog() {
    QDialog dialog(&window_);
    Ui::TBridgesDialog f;
    f.setupUi(&dialog);
    const auto text = [](QLineEdit* e, const std::string& v) { e->setText(toQString(v)); };
    f.Chk_AprsIs->setChecked(s_.aprsIsOn);
    text(f.Ed_AprsIsServer, s_.aprsIsServer);
    f.Chk_Kiss->setChecked(s_.kissOn);
    text(f.Ed_KissServer, s_.kissServer);
    text(f.Ed_AprsCall, s_.aprsCall);
    text(f.Ed_AprsPasscode, s_.aprsPasscode);
    text(f.Ed_AprsRangeKm, s_.aprsRangeKm);
    f.Chk_AprsSend->setChecked(s_.aprsSend);
    text(f.Ed_AprsFreq, s_.aprsFreq);
    text(f.Ed_AprsComment, s_.aprsComment);
    f.Chk_AprsSendFix->setChecked(s_.aprsSendFix);
    text(f.Ed_AprsFixName, s_.aprsFixName);
    f.Chk_Cot->setChecked(s_.cotOn);
    f.Cb_CotTransport->setCurrentIndex(static_cast<int>(s_.cotTransport));
    text(f.Ed_CotAddress, s_.cotAddress);
    text(f.Ed_CotInterface, s_.cotInterface);
    text(f.Ed_CotCertificate, s_.cotCertificate);
    text(f.Ed_CotKey, s_.cotKey);
    text(f.Ed_CotCa, s_.cotCaCertificates);
    const AprsLink::Counts& n = aprs_->counts();
    f.Lab_AprsStatus->setText(QString("APRS-IS: %1%2; KISS: %3. %4 bearings, %5 repeats, %6 omni-DF, %7 refused.")
                                  .arg(aprs_->aprsIs().isOpen() ? "connected" : "not connected",
                                       aprs_->verified() ? ", verified" : "",
                                       aprs_->kissOpen() ? "connected" : "not connected")
                                  .arg(n.bearings)
                                  .arg(n.repeats)
                                  .arg(n.omni)
                                  .arg(n.refused));
    f.Lab_CotStatus->setText(QString("%1 events sent.").arg(cot_->eventsSent()));
    connect(f.BB_Bridges, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(f.BB_Bridges, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    const auto get = [](const QLineEdit* e) { return toCp1252(e->text().trimmed()); };
    s_.aprsIsOn = f.Chk_AprsIs->isChecked();
    s_.aprsIsServer = get(f.Ed_AprsIsServer);
    s_.kissOn = f.Chk_Kiss->isChecked();
    s_.kissServer = get(f.Ed_KissServer);
    s_.aprsCall = get(f.Ed_AprsCall);
    s_.aprsPasscode = get(f.Ed_AprsPasscode);
    s_.aprsRangeKm = get(f.Ed_AprsRangeKm);
    s_.aprsSend = f.Chk_AprsSend->isChecked();
    s_.aprsFreq = get(f.Ed_AprsFreq);
    s_.aprsComment = get(f.Ed_AprsComment);
    s_.aprsSendFix = f.Chk_AprsSendFix->isChecked();
    s_.aprsFixName = get(f.Ed_AprsFixName);
    s_.cotOn = f.Chk_Cot->isChecked();
    s_.cotTransport = static_cast<CotTransport>(std::clamp(f.Cb_CotTransport->currentIndex(), 0, 3));
    s_.cotAddress = get(f.Ed_CotAddress);
    s_.cotInterface = get(f.Ed_CotInterface);
    s_.cotCertificate = get(f.Ed_CotCertificate);
    s_.cotKey = get(f.Ed_CotKey);
    s_.cotCaCertificates = get(f.Ed_CotCa);
    start();
}

}  // namespace bearfix
