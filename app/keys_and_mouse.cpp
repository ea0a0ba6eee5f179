// Keys and the mouse as on any desktop program: the arrow keys scroll the
// map unless they move a text cursor, + and - zoom it, the map is dragged
// with the mouse, and the wheel changes no list it merely passes over.
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <cmath>

#include "app/main_window.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr Qt::KeyboardModifiers kCommandModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// The position under a pixel, unrounded.
bool pixelToGeo(const MapView& v, double x, double y, GeoPosition& p) {
    if (v.projection == kAzimuthal) return azimuthal_inverse(v, x, y, &p.lon, &p.lat);
    p.lon = v.lon_min + x * (v.lon_max - v.lon_min) / v.width;
    p.lat = v.lat_min + (1.0 - y / v.height) * (v.lat_max - v.lat_min);
    return true;
}

}  // namespace

bool TBearfix::takesText(const QWidget* widget) {
    if (const auto* list = qobject_cast<const QComboBox*>(widget)) return list->isEditable();
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

// While the main window is active the arrow keys scroll the map, whichever
// control has the focus, except that Left and Right move the cursor in a
// text field; menus and lists that are open keep them, and with Ctrl, Alt
// or Super they belong to the control or the desktop.
bool TBearfix::arrowKeyScrolls(QKeyEvent* event) {
    if (QApplication::activeWindow() != this || QApplication::activePopupWidget() != nullptr) return false;
    if (event->modifiers() & kCommandModifiers) return false;
    int north = 0, east = 0;
    switch (event->key()) {
        case Qt::Key_Left: east = -1; break;
        case Qt::Key_Right: east = +1; break;
        case Qt::Key_Up: north = +1; break;
        case Qt::Key_Down: north = -1; break;
        default: return false;
    }
    if (east != 0 && takesText(QApplication::focusWidget())) return false;
    scrollMapBy(north, east);
    return true;
}

// + and - on the Map tab, unless a field that takes text has the focus.
bool TBearfix::zoomKey(QKeyEvent* event) {
    if (QApplication::activeWindow() != this || QApplication::activePopupWidget() != nullptr) return false;
    if (event->modifiers() & kCommandModifiers) return false;
    int steps = 0;
    switch (event->key()) {
        case Qt::Key_Plus: case Qt::Key_Equal: steps = +1; break;  // '=' is '+' without Shift on many keyboards
        case Qt::Key_Minus: steps = -1; break;
        default: return false;
    }
    if (ui_->PageControl1->currentWidget() != ui_->TS_MapScreen || takesText(QApplication::focusWidget())) return false;
    zoomMapSteps(steps);
    return true;
}

bool TBearfix::wheelOverUnfocusedList(QObject* watched) const {
    for (QObject* o = watched; o != nullptr && o != this; o = o->parent()) {
        if (const auto* list = qobject_cast<const QComboBox*>(o)) return !list->hasFocus() && isAncestorOf(list);
    }
    return false;
}

// The place grabbed at (fromX, fromY) goes to (toX, toY): the centre moves
// to where the place lands in each projection, refined until it lies within
// a hundredth of a pixel (a pan near a pole stops at the pole).
void TBearfix::Img_MapDragged(int fromX, int fromY, int toX, int toY) {
    MapView view = composer_.view();
    GeoPosition grabbed;
    const bool onMap = pixelToGeo(view, fromX, fromY, grabbed);
    GeoPosition centre = view.center;
    for (int i = 0; i < 20; ++i) {
        double x = fromX, y = fromY;
        if (onMap && !geo_to_pixel(view, grabbed.lon, grabbed.lat, &x, &y)) break;
        const double errorX = x - toX, errorY = y - toY;
        if (std::hypot(errorX, errorY) < 0.01) break;
        if (!pixelToGeo(view, view.center_x + errorX, view.center_y + errorY, centre)) break;
        map_view_setup(view, view.projection, centre.lon, centre.lat, view.range_km, static_cast<int>(view.width),
                       static_cast<int>(view.height));
        if (!onMap) break;  // off the disc: moved by the pixels alone
    }
    scrollMap(centre.lat - mapCenter.lat, centre.lon - mapCenter.lon);
}

}  // namespace bearfix
