// The window's bridges to APRS and TAK (File > APRS and TAK...): DF reports
// heard on APRS into the bearing log and omni-DF reports as markers on the
// map; the own bearings out as DF reports (off by default, at most one every
// 30 s, the first packet shown and confirmed before it goes) and the fix as
// an object; and what the map shows to the TAK clients.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cot/cot_scene.h"
#include "fix/bearing.h"
#include "session/bridge_settings.h"

class QAction;
class QPainter;

namespace bearfix {

class AprsLink;
class CotLink;
class TBearfix;
struct MapView;

class Bridges : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMinSendIntervalMs = 30 * 1000;
    static constexpr std::size_t kMaxCotLines = 200;  // the newest used bearings

    explicit Bridges(TBearfix& window);

    void show(const BridgeSettings& s);
    void fill(BridgeSettings& s) const { s = s_; }
    // Connects, sends or stops as the settings say.
    void start();
    // Moves the DF reports heard since the last call to the end of `into`.
    void takeBearings(std::vector<Bearing>& into);
    // On the window's timer: the APRS filter follows the map, own packets go
    // out when it is time, the TAK clients get what changed.
    void tick();
    // The omni-DF markers, over the map: true when it drew one.
    bool drawOmni(QPainter& painter, const MapView& view) const;
    void openDialog();

    // What the TAK clients are shown now.
    CotScene scene() const;
    AprsLink& aprs() { return *aprs_; }
    CotLink& cot() { return *cot_; }
    // Asked with the packet's text before the first one goes out; it
    // answers (now or later) true to send, false to switch sending off.
    // A box that does not hold up the window by default.
    std::function<void(const QString& packet, std::function<void(bool)> answer)> confirmFirstSend;
    // Milliseconds of a steady clock (replaced in the tests).
    std::function<qint64()> clock;

private:
    void sendOwn();
    bool mayGo(const std::string& info);
    std::string ownReport() const;
    std::string fixObject() const;

    TBearfix& window_;
    BridgeSettings s_;
    AprsLink* aprs_ = nullptr;
    CotLink* cot_ = nullptr;
    bool confirmed_ = false;
    bool asking_ = false;
    qint64 lastReportMs_ = 0, lastObjectMs_ = 0;
    bool reportSent_ = false, objectSent_ = false;
    std::set<std::string> sentReports_;
    std::string lastObject_;  // after its timestamp
    QElapsedTimer sceneMade_;
};

}  // namespace bearfix
