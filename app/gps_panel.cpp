#include "app/gps_panel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/line_edits.h"
#include "app/main_window.h"
#include "remote/remote_mailbox.h"
#include "map/gps_arrow.h"
#include "support/message_log.h"
#include "tracks/track_store.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

const QColor kNoFixColour(255, 160, 160);  // as a field that holds no position
constexpr int kFollowIntervalMs = 1000;
constexpr int kStaleMs = 5000;        // a fix this old is no fix
constexpr double kStandingKmh = 1.0;  // slower, the course says nothing

QString number(double value, int decimals) { return QString::number(value, 'f', decimals); }

}  // namespace

// What the thread that talks to gpsd shares with the window. The thread
// posts to `receiver` only while it is set, under the lock, so nothing
// reaches a panel that has stopped listening to it.
struct GpsPanel::Link {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    QObject* receiver = nullptr;

    template <class F>
    void post(F f) {
        std::lock_guard lock(mutex);
        if (receiver) QMetaObject::invokeMethod(receiver, std::move(f), Qt::QueuedConnection);
    }
};

GpsPanel::GpsPanel(TBearfix& window) : QObject(&window), window_(window), form_(window.form()) {
    staleTimer_ = new QTimer(this);
    staleTimer_->setInterval(1000);
    connect(staleTimer_, &QTimer::timeout, this, &GpsPanel::checkStale);
    followLater_ = new QTimer(this);
    followLater_->setSingleShot(true);
    connect(followLater_, &QTimer::timeout, this, &GpsPanel::followWithA);

    QComboBox* port = form_.CB_SerialPort;
    connect(port, &QComboBox::activated, this, &GpsPanel::start);
    connect(port->lineEdit(), &QLineEdit::returnPressed, this, &GpsPanel::start);
    connect(form_.Btn_ApplyGPS, &QPushButton::clicked, this, &GpsPanel::start);
    connect(form_.Chk_FollowGps, &QCheckBox::toggled, this, [this](bool on) {
        followClock_.invalidate();
        if (on) followWithA();
    });
    connect(form_.Chk_RecordGpsTrack, &QCheckBox::toggled, this, [this] { newSegment_ = true; });
}

GpsPanel::~GpsPanel() { stop(); }

void GpsPanel::show(const LiveSettings& s) {
    const QSignalBlocker b1(form_.Chk_FollowGps), b2(form_.Chk_RecordGpsTrack);
    form_.CB_SerialPort->setCurrentText(QString::fromStdString(s.gpsServer));
    form_.Chk_FollowGps->setChecked(s.followGps);
    form_.Chk_RecordGpsTrack->setChecked(s.recordTrack);
}

void GpsPanel::fill(LiveSettings& s) const {
    s.gpsServer = toCp1252(form_.CB_SerialPort->currentText());
    s.followGps = form_.Chk_FollowGps->isChecked();
    s.recordTrack = form_.Chk_RecordGpsTrack->isChecked();
}

void GpsPanel::start() {
    const std::string text = toCp1252(form_.CB_SerialPort->currentText().trimmed());
    const std::optional<GpsdServer> server = parseGpsdServer(text);
    if (link_ && server && server->text() == server_.text()) return;  // already watching it
    stop();
    if (!server) {
        if (!text.empty() && text != "off")
            logMessage(MessageLevel::Warning, "Warning: GPS: \"%s\" is no gpsd server (gpsd HOST:PORT, or off)",
                       text.c_str());
        setState(GpsState::Off);
        showFix();
        window_.overlayPending = true;
        return;
    }
    server_ = *server;
    auto link = std::make_shared<Link>();
    link->receiver = this;
    link_ = link;
    const int generation = ++generation_;
    GpsPanel* const panel = this;  // used on the window's thread only
    std::thread([link, server = *server, generation, panel] {
        GpsdHandlers handlers;
        handlers.connected = [&] { link->post([=] { panel->connected(generation); }); };
        handlers.notReachable = [&](const std::string& why) {
            link->post([=] { panel->notReachable(generation, why); });
        };
        handlers.fix = [&](const GpsFix& fix) { link->post([=] { panel->fixArrived(generation, fix); }); };
        runGpsdClient(server, link->stop, handlers);
        std::lock_guard lock(link->mutex);
        link->done = true;
        link->ended.notify_all();
    }).detach();
    staleTimer_->start();
}

// The thread ends within a poll of 200 ms, or as soon as a name lookup
// returns; it is not waited for longer than two seconds, and it holds
// nothing of the panel's.
void GpsPanel::stop() {
    staleTimer_->stop();
    if (!link_) return;
    link_->stop = true;
    std::unique_lock lock(link_->mutex);
    link_->receiver = nullptr;
    link_->ended.wait_for(lock, std::chrono::seconds(2), [this] { return link_->done; });
    lock.unlock();
    link_.reset();
    ++generation_;  // what the old thread posted is passed over
}

const GpsFix* GpsPanel::currentFix() const {
    return (state_ == GpsState::Fix2D || state_ == GpsState::Fix3D) && fix_.hasPosition() ? &fix_ : nullptr;
}

void GpsPanel::connected(int generation) {
    if (generation != generation_) return;
    lastWhy_.clear();
    setState(GpsState::Connected);
}

void GpsPanel::notReachable(int generation, const std::string& why) {
    if (generation != generation_) return;
    const bool news = state_ != GpsState::NotReachable || why != lastWhy_;
    lastWhy_ = why;
    if (news) logMessage(MessageLevel::Debug, "Debug: GPS: %s: %s", server_.text().c_str(), why.c_str());
    setState(GpsState::NotReachable);
    showFix();
    window_.overlayPending = true;  // the arrow goes
}

void GpsPanel::fixArrived(int generation, const GpsFix& fix) {
    if (generation != generation_) return;
    const bool newEpoch = !fix.utc || fix.utc != fix_.utc;
    fix_ = fix;
    fixAge_.start();
    setState(stateOfFix(fix.mode));
    showFix();
    if (currentFix()) {
        followWithA();
        if (newEpoch) recordTrackPoint();
    }
    window_.overlayPending = true;
    emit fixShown();
}

void GpsPanel::setState(GpsState state) {
    if (state == state_) return;
    state_ = state;
    logMessage(MessageLevel::Info, "%s", gpsStateText(state, server_).c_str());
}

void GpsPanel::checkStale() {
    if (currentFix() && fixAge_.elapsed() > kStaleMs) {
        setState(GpsState::NoFix);
        showFix();
        window_.overlayPending = true;
    }
}

void GpsPanel::showFix() {
    const GpsFix* f = currentFix();
    if (f) setText(form_.Ed_CurrPos, format_position(f->position(), PosFormat::Dms));
    QPalette palette;
    if (!f && state_ != GpsState::Off) palette.setColor(QPalette::Base, kNoFixColour);
    form_.Ed_CurrPos->setPalette(palette);
    if (state_ == GpsState::Off || state_ == GpsState::NotReachable) return;
    form_.Ed_DateTime->setText(QString::fromStdString(gpsTimeText(fix_.utc)));
    form_.Lab_NSats->setText(fix_.satellites >= 0 ? QString("%1 Sats").arg(fix_.satellites) : QString("? Sats"));
    form_.Lab_Hdop->setText("HDOP=" + (std::isfinite(fix_.hdop) ? number(fix_.hdop, 1) : QString("?")));
    form_.Lab_Masl->setText((f && std::isfinite(fix_.altMslM) ? number(fix_.altMslM, 0) : QString("?")) + " m ASL");
    form_.Lab_Kmh->setText((f && std::isfinite(fix_.speedKmh) ? number(fix_.speedKmh, 1) : QString("?")) + " km/h");
}

// A's field gets the position as if typed, so the results, the bearing log
// and the map follow; not more often than once a second.
void GpsPanel::followWithA() {
    if (!form_.Chk_FollowGps->isChecked() || !currentFix()) return;
    if (followClock_.isValid() && followClock_.elapsed() < kFollowIntervalMs) {
        if (!followLater_->isActive())
            followLater_->start(static_cast<int>(kFollowIntervalMs - followClock_.elapsed()));
        return;
    }
    followClock_.start();
    const std::string position = format_position(fix_.position(), PosFormat::Dms);
    if (text(form_.Ed_Pos1) != position) setText(form_.Ed_Pos1, position);
}

// As the remote command "track addpoint" does, in the segment "GPS" of its
// own, whatever was stored in between, also across a restart; a new one
// when recording is switched on again or the tracks were cleared.
void GpsPanel::recordTrackPoint() {
    if (!form_.Chk_RecordGpsTrack->isChecked()) return;
    int32_t segment = newSegment_ ? 0 : trackStore().lastSegment(TrackOrigin::Gps);
    if (segment == 0) segment = beginTrackSegment("GPS", -1, TrackOrigin::Gps);
    if (segment == 0) return;  // no memory
    newSegment_ = false;
    runTrackCommand(gpsTrackCommand(fix_).c_str(), segment);
}

bool GpsPanel::draw(QPainter& painter, const MapView& view) const {
    const GpsFix* f = currentFix();
    if (!f) return false;
    const bool moving = std::isfinite(f->speedKmh) && f->speedKmh >= kStandingKmh;
    drawGpsArrow(painter, view, f->position(), moving ? f->courseDeg : NAN);
    return true;
}

}  // namespace bearfix
