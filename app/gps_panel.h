// The "GPS Settings" group: the connection to gpsd (on a thread of its own,
// results handed to the window's thread), the own position, time and
// quality in the group's fields, observer A following the GPS, the GPS track
// recorded into the track store, and the arrow on the map.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <optional>

#include "session/live_settings.h"
#include "live/gps_fix.h"
#include "live/gpsd_client.h"

class QPainter;
class QTimer;

namespace Ui {
class TBearfix;
}

namespace bearfix {

class TBearfix;
struct MapView;

class GpsPanel : public QObject {
    Q_OBJECT
public:
    explicit GpsPanel(TBearfix& window);
    ~GpsPanel() override;

    void show(const LiveSettings& s);
    void fill(LiveSettings& s) const;

    // Connects to the server the "Port:" field names, or stops for "off".
    void start();
    GpsState state() const { return state_; }
    // The last fix while the GPS has one; nullptr otherwise.
    const GpsFix* currentFix() const;
    // The arrow at the own position; true when there is one.
    bool draw(QPainter& painter, const MapView& view) const;

signals:
    void fixShown();

private:
    struct Link;
    void stop();
    void connected(int generation);
    void notReachable(int generation, const std::string& why);
    void fixArrived(int generation, const GpsFix& fix);
    void setState(GpsState state);
    void showFix();
    void followWithA();
    void recordTrackPoint();
    void checkStale();

    TBearfix& window_;
    Ui::TBearfix& form_;
    std::shared_ptr<Link> link_;
    int generation_ = 0;
    GpsdServer server_;
    GpsState state_ = GpsState::Off;
    std::string lastWhy_;
    GpsFix fix_;
    QElapsedTimer fixAge_;
    QTimer* staleTimer_ = nullptr;
    QElapsedTimer followClock_;  // since A last followed
    QTimer* followLater_ = nullptr;
    std::optional<int64_t> recordedUtc_;
    bool newSegment_ = false;  // recording was switched on: the next point begins a segment
};

}  // namespace bearfix
