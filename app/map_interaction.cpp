// Working with the map: the mouse read-out, the pop-up menu on the map, the
// navigator, the wheel and the controls that re-centre it.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/bearing_log_tab.h"
#include "app/city_dialog.h"
#include "app/gps_panel.h"
#include "app/line_edits.h"
#include "app/main_window.h"
#include "cities/cities.h"
#include "geo/great_circle.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "support/message_log.h"
#include "support/number_format.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;

}  // namespace

void TBearfix::createMapPopup() {
    MapPopup = new QMenu(this);
    MapPopup->setObjectName("MapPopup");
    auto item = [this](const char* name, const char* caption, void (TBearfix::*handler)()) {
        QAction* action = MapPopup->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    PM_MapCoord = item("PM_MapCoord", "", &TBearfix::PM_MapCoordClick);
    PM_MapCoord->setToolTip("Copy this coordinate into the windows clipboard (as text)");
    MapPopup->setToolTipsVisible(true);
    item("PM_ZoomIn", "Zoom &in on this point", &TBearfix::PM_ZoomInClick);
    item("PM_ZoomOut", "Zoom &out", &TBearfix::PM_ZoomOutClick);
    item("PM_Center", "&Center on this point", &TBearfix::PM_CenterClick);
    item("PM_CenterOnA", "Center on observer A", &TBearfix::PM_CenterOnAClick);
    item("PM_CenterOnB", "Center on observer B", &TBearfix::PM_CenterOnBClick);
    item("PM_CenterOnX", "Center on RDF intersection ", &TBearfix::PM_CenterOnXClick);
    item("PM_ZoomToFix", "Zoom to fix", &TBearfix::PM_ZoomToFixClick)->setShortcut(Qt::Key_F);
    PM_CenterOnGps = item("PM_CenterOnGps", "Center on GPS position", &TBearfix::PM_CenterOnGpsClick);
    PM_FollowGps = MapPopup->addAction("Follow GPS");
    PM_FollowGps->setObjectName("PM_FollowGps");
    PM_FollowGps->setCheckable(true);
    connect(PM_FollowGps, &QAction::triggered, this, &TBearfix::setFollowGps);
    item("PM_CenterOnCity", "Center on a city ..", &TBearfix::PM_CenterOnCityClick);
    item("PM_CalcBrgs", "Calculate bearings for this &point", &TBearfix::PM_CalcBrgsClick);
    item("PM_SetPosA", "Set observer &A to this point", &TBearfix::PM_SetPosAClick);
    item("PM_SetObsB", "Set observer &B to this point", &TBearfix::PM_SetObsBClick);
    connect(MapPopup, &QMenu::aboutToShow, this, &TBearfix::MapPopupPopup);

    // A click opens the menu once it cannot be the first half of a double-click.
    popupDelay_ = new QTimer(this);
    popupDelay_->setObjectName("MapMenuDelay");
    popupDelay_->setSingleShot(true);
    connect(popupDelay_, &QTimer::timeout, this, [this] { MapPopup->popup(popupAt_); });
}

// ---- mouse ---------------------------------------------------------------

void TBearfix::Img_MapMouseMove(int x, int y) {
    double lon, lat;
    if (screen_to_geo(composer_.view(), x, y, &lon, &lat)) {
        mousePosition = {lon, lat};
        QString text = readOut(mousePosition);
        int metres;
        if (elevationAt(lat * kRadToDeg, lon * kRadToDeg, &metres) && metres != kElevationOcean &&
            metres != kElevationNotLoaded) {
            text += QString(" %1m").arg(metres);
        }
        statusPanels_[0]->setText(text);
        statusPanels_[1]->setText(toQString(describe_near_city(lon, lat)));
        mousePositionValid = true;
    } else {
        statusPanels_[0]->setText(QString("X=%1,Y=%2 ?").arg(x).arg(y));
        statusPanels_[1]->setText("not on map");
        mousePositionValid = false;
    }
}

// The menu opens a moment after the click, by when the mouse may be
// elsewhere: what it shows and does is about the place that was clicked.
bool TBearfix::clickedAt(int x, int y) {
    double lon, lat;
    if (!screen_to_geo(composer_.view(), x, y, &lon, &lat)) return false;
    clickPosition = {lon, lat};
    popupAt_ = ui_->Img_Map->mapToGlobal(QPoint(x, y));
    return true;
}

void TBearfix::Img_MapClick(int x, int y) {
    if (clickedAt(x, y)) popupDelay_->start(QApplication::doubleClickInterval());
}

// The usual way to a context menu, at once.
void TBearfix::Img_MapRightClick(int x, int y) {
    if (clickedAt(x, y)) MapPopup->popup(popupAt_);
}

void TBearfix::Img_MapDblClick() {
    popupDelay_->stop();
    fullMapRedraw();
}

void TBearfix::MapPopupPopup() {
    PM_MapCoord->setText(toQString(display_position(clickPosition, shownFormat())));
    PM_CenterOnGps->setEnabled(gps_->currentFix() != nullptr);
}

void TBearfix::PM_MapCoordClick() { QGuiApplication::clipboard()->setText(PM_MapCoord->text()); }

// Turning the wheel away from the user zooms in, one step per notch. In the
// cylindric projection the place under the mouse stays under the mouse.
void TBearfix::Img_MapWheel(int notches, int x, int y) {
    if (!ui_->PageControl1->currentWidget() || ui_->PageControl1->currentWidget() != ui_->TS_MapScreen) return;
    double newRange;
    if (!composer_.zoomedRange(notches, &newRange)) return;
    const MapView& view = composer_.view();
    GeoPosition centre = view.center;
    double lon, lat;
    if (view.projection != kAzimuthal && screen_to_geo(view, x, y, &lon, &lat)) {
        const double f = newRange / composer_.currentRange();
        const double oldLat = std::clamp(centre.lat, -89.9 * kDegToRad, 89.9 * kDegToRad);
        centre.lat = std::clamp(lat - f * (lat - centre.lat), -kPi / 2, kPi / 2);
        const double newLat = std::clamp(centre.lat, -89.9 * kDegToRad, 89.9 * kDegToRad);
        double dlon = lon - centre.lon;
        dlon -= 2 * kPi * std::round(dlon / (2 * kPi));
        centre.lon = lon - f * std::cos(oldLat) / std::cos(newLat) * dlon;
        centre.lon -= 2 * kPi * std::floor((centre.lon + kPi) / (2 * kPi));
    }
    ui_->CB_MapCenter->setCurrentIndex(0);
    mapCenter = centre;
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    showRange(newRange);
}

// ---- re-centring -----------------------------------------------------------

// The user's own moves of the map end "Follow GPS".
void TBearfix::recenterMap(GeoPosition p, int steps) {
    setFollowGps(false);
    ui_->CB_MapCenter->setCurrentIndex(0);
    mapCenter = p;
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    zoomMapSteps(steps);
}

void TBearfix::PM_ZoomInClick() { recenterMap(clickPosition, +1); }
void TBearfix::PM_ZoomOutClick() { recenterMap(clickPosition, -2); }
void TBearfix::PM_CenterClick() { recenterMap(clickPosition, 0); }
void TBearfix::PM_CenterOnAClick() { recenterMap(observerA, 0); }
void TBearfix::PM_CenterOnBClick() { recenterMap(observerB, 0); }
void TBearfix::PM_CenterOnXClick() { recenterMap(locationX, 0); }

void TBearfix::PM_CenterOnCityClick() {
    setFollowGps(false);
    updateGuard = 1;
    ui_->CB_MapCenter->setCurrentIndex(0);
    cityDialog().select_city(&mapCenter.lon, &mapCenter.lat, nullptr);
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    zoomMapSteps(0);
    updateGuard = 0;
}

void TBearfix::Ed_MapCenterDblClick() {
    updateGuard = 1;
    ui_->Ed_MapCenter->setFocus();
    GeoPosition p;
    read_position(positionText(ui_->Ed_MapCenter), p);
    cityDialog().select_city(&p.lon, &p.lat, nullptr);
    setText(ui_->Ed_MapCenter, format_position(p, PosFormat::Dms));
    updateGuard = 0;
    Btn_UpdateMapClick();
}

// ---- observers from the map --------------------------------------------------

void TBearfix::PM_CalcBrgsClick() {
    updateGuard = 1;
    GeoPosition a, b;  // no bearing from what is not a position
    const bool validA = read_position(positionText(ui_->Ed_Pos1), a);
    const bool validB = read_position(positionText(ui_->Ed_Pos2), b);
    double dist, course;
    if (validA) {
        gc_distance_course(a.lon, a.lat, clickPosition.lon, clickPosition.lat, &dist, &course);
        GeoPosition t;
        gc_destination(a.lon, a.lat, dist, course, &t.lon, &t.lat);
        logMessage(MessageLevel::Debug,
                   "Accuracy check: TestLon=%lf\xB0 TestLat=%lf\xB0 TargLon=%lf\xB0 TargLat=%lf\xB0", t.lon * kRadToDeg,
                   t.lat * kRadToDeg, clickPosition.lon * kRadToDeg, clickPosition.lat * kRadToDeg);
        setText(ui_->Ed_Brg1X, formatPicture(course * kRadToDeg, "##0.00"));
    }
    if (validB) {
        gc_distance_course(b.lon, b.lat, clickPosition.lon, clickPosition.lat, &dist, &course);
        setText(ui_->Ed_Brg2X, formatPicture(course * kRadToDeg, "##0.00"));
    }
    updateResults();
    if (validA) bearingLog_->bearingGiven(0, BearingSource::Typed);  // picked
    if (validB) bearingLog_->bearingGiven(1, BearingSource::Typed);
    drawOverlay();
    updateGuard = 0;
}

void TBearfix::PM_SetPosAClick() {
    updateGuard = 1;
    writeObserver(ui_->Ed_Pos1, clickPosition);
    updateGuard = 0;
}

void TBearfix::PM_SetObsBClick() {
    updateGuard = 1;
    writeObserver(ui_->Ed_Pos2, clickPosition);
    updateGuard = 0;
}

// ---- scrolling -----------------------------------------------------------------

void TBearfix::scrollMap(double dLat, double dLon) {
    setFollowGps(false);
    ++updateGuard;
    ui_->CB_MapCenter->setCurrentIndex(0);
    // The centre stays a valid position: latitude up to the poles, longitude
    // wrapped into [-180, 180).
    mapCenter.lat = std::clamp(mapCenter.lat + dLat, -kPi / 2, kPi / 2);
    mapCenter.lon += dLon;
    mapCenter.lon -= 2 * kPi * std::floor((mapCenter.lon + kPi) / (2 * kPi));
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    zoomMapSteps(0);
    if (updateGuard > 0) --updateGuard;
}

void TBearfix::scrollMapBy(int north, int east) {
    const MapView& v = composer_.view();
    scrollMap(north * (v.lat_max - v.lat_min) / 4, east * (v.lon_max - v.lon_min) / 4);
}

void TBearfix::Btn_MapScrollUpClick() { scrollMapBy(+1, 0); }
void TBearfix::Btn_MapScrollDownClick() { scrollMapBy(-1, 0); }
void TBearfix::Btn_MapScrollLeftClick() { scrollMapBy(0, -1); }
void TBearfix::Btn_MapScrollRightClick() { scrollMapBy(0, +1); }

// ---- navigator -------------------------------------------------------------------

void TBearfix::Btn_HideMapNavigatorClick() {
    ++updateGuard;
    ui_->Pnl_MapNav->hide();
    ui_->Chk_ShowMapNavigator->setChecked(false);
    if (updateGuard > 0) --updateGuard;
}

void TBearfix::Chk_ShowMapNavigatorClick() {
    if (updateGuard != 0) return;
    updateGuard = 1;
    ui_->Pnl_MapNav->setVisible(ui_->Chk_ShowMapNavigator->isChecked());
    updateGuard = 0;
}

// The overlay draws the ruler; the grid's labels leave its corner to it.
void TBearfix::Ck_ShowMapRulerClick() {
    if (mapSettings().gridMode > 0) {
        fullMapRedraw();
    } else {
        drawOverlay();
    }
}

}  // namespace bearfix
