// Driving to the fix: F and "Zoom to fix" frame the best fix there is (the
// bearing log's, else X) by its 95 % region; "Follow GPS" keeps the own
// position in view, north up, moving the map on ahead of the car when it
// nears an edge, with the read-out "Fix: 312°, 2.4 km" over the map.
#include <QAction>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "app/bearing_log_tab.h"
#include "app/gps_panel.h"
#include "app/line_edits.h"
#include "app/main_window.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr double kMovingKmh = 5.0;  // slower, the course says little about the road ahead

double aspectOf(QSize picture) {
    return std::max(1, picture.height()) / static_cast<double>(std::max(1, picture.width()));
}

}  // namespace

BestFix TBearfix::currentBestFix() const {
    if (!bearingLog_) return {};
    return bestFix(bearingLog_->model().rows(), compute_fix(observerTexts()));
}

// Centres the map on the best fix with its 95 % region filling about half
// of the picture (an unbounded region keeps the range); while the map
// follows the car, on the middle between car and fix, with both in view.
void TBearfix::PM_ZoomToFixClick() {
    const BestFix best = currentBestFix();
    if (best.kind == BestFix::kNone) {
        statusPanels_[0]->setText("no intersection found");
        return;
    }
    const double aspect = aspectOf(ui_->Img_Map->size());
    Frame frame{best.position, frameRangeKm(best.halfEastKm, best.halfNorthKm, aspect, composer_.currentRange())};
    if (const GpsFix* own = gps_->currentFix(); own && followsGps())
        frame = frameCarAndFix(own->position(), best, aspect);
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    ui_->CB_MapCenter->setCurrentIndex(0);
    mapCenter = frame.centre;
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    showRange(frame.rangeKm);
}

bool TBearfix::followsGps() const { return ui_->Btn_FollowGps->isChecked(); }

// Switched on, the map goes to the car at once.
void TBearfix::setFollowGps(bool on) {
    const QSignalBlocker b1(ui_->Btn_FollowGps), b2(PM_FollowGps);
    ui_->Btn_FollowGps->setChecked(on);
    PM_FollowGps->setChecked(on);
    updateDriveReadout();
    if (on) followCar(true);
}

// At every GPS fix: the map moves on when the car nears an edge (or at once
// with `now`), so that it stays in view with the road ahead.
void TBearfix::followCar(bool now) {
    if (!followsGps() || initialDrawPending) return;
    const GpsFix* own = gps_->currentFix();
    if (!own) return;
    const MapView& view = composer_.view();
    double x = NAN, y = NAN;
    if (!geo_to_pixel(view, own->position().lon, own->position().lat, &x, &y)) x = y = NAN;
    if (!now && !nearEdge(x, y, view.width, view.height)) return;
    const bool moving = std::isfinite(own->speedKmh) && own->speedKmh >= kMovingKmh;
    ui_->CB_MapCenter->setCurrentIndex(0);
    mapCenter = followCentre(own->position(), moving ? own->courseDeg : NAN, composer_.currentRange());
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    fullMapRedraw();
}

void TBearfix::PM_CenterOnGpsClick() {
    if (const GpsFix* own = gps_->currentFix()) recenterMap(own->position(), 0);
}

// Over the map while it follows the car, large enough to read while driving.
void TBearfix::updateDriveReadout() {
    QLabel* label = ui_->Lab_DriveReadout;
    if (!followsGps() || !bearingLog_) {
        label->hide();
        return;
    }
    QStringList lines;
    if (const GpsFix* own = gps_->currentFix(); !own) {
        lines << "GPS: no fix";
    } else {
        const BestFix best = currentBestFix();
        lines << (best.kind == BestFix::kNone ? QString("Fix: none")
                                              : toQString(driveReadout(own->position(), {"Fix", best.position})));
        if (nextBestPoint) {
            if (const std::optional<DriveTarget> next = nextBestPoint())
                lines << toQString(driveReadout(own->position(), *next));
        }
    }
    const QString text = lines.join('\n');
    if (label->text() != text || label->isHidden()) {
        label->setText(text);
        label->adjustSize();
        placeDriveReadout();
        label->show();
        label->raise();
    }
}

// At the top, in the middle: below the notice of missing terrain data (top
// left) and clear of the navigator (top right).
void TBearfix::placeDriveReadout() {
    constexpr int kTop = 40;
    QLabel* label = ui_->Lab_DriveReadout;
    label->move(std::max(0, (ui_->Img_Map->width() - label->width()) / 2), kTop);
}

}  // namespace bearfix
