// The fix beyond X: the distances, crossing angle, search area and
// back-bearing crossings in the Numeric Results, and "Zoom to fix" (pop-up
// menu and the key F) on the map.
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

#include "app/line_edits.h"
#include "app/main_window.h"
#include "geo/great_circle.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr double kMaxRangeKm = 20000.0;
constexpr double kMinFixRangeKm = 1.0;

// The range at which the area, seen from X at the centre, spans half of the
// picture's width or height, whichever it reaches first.
double fixRange(const Fix& fix, QSize picture) {
    double east = 0.0, north = 0.0;  // farthest corner from X, km
    for (GeoPosition corner : fix.area.polygon) {
        double dist, course;
        gc_distance_course(fix.crossing.x.lon, fix.crossing.x.lat, corner.lon, corner.lat, &dist, &course);
        east = std::max(east, std::fabs(dist * std::sin(course)) * kEarthRadiusKm);
        north = std::max(north, std::fabs(dist * std::cos(course)) * kEarthRadiusKm);
    }
    const double aspect = std::max(1, picture.height()) / static_cast<double>(std::max(1, picture.width()));
    return std::clamp(2.0 * std::max(east * aspect, north), kMinFixRangeKm, kMaxRangeKm);
}

}  // namespace

ObserverTexts TBearfix::observerTexts() const {
    const Ui::TBearfix& f = *ui_;
    return {positionText(f.Ed_Pos1), positionText(f.Ed_Pos2), text(f.Ed_Brg1X),          text(f.Ed_Brg2X),
            text(f.Ed_Brg1Tol),      text(f.Ed_Brg2Tol),      f.Chk_Ambi1->isChecked(), f.Chk_Ambi2->isChecked()};
}

void TBearfix::showFixResults(const Results& r) {
    Ui::TBearfix& f = *ui_;
    setText(f.Ed_DistAX, r.distanceAX);
    setText(f.Ed_DistBX, r.distanceBX);
    setText(f.Ed_CrossingAngle, r.crossingAngleText);
    setText(f.Ed_SearchArea, r.searchArea);
    if (const QString warning = toQString(r.warning); f.Lab_ShallowCrossing->text() != warning)
        f.Lab_ShallowCrossing->setText(warning);
    QStringList lines;
    for (const std::string& line : r.alternativeLines) lines << toQString(line);
    // Laid out again only when it changes: a keystroke rarely changes it.
    if (const QString text = lines.join('\n'); f.Mem_BackBearings->toPlainText() != text)
        f.Mem_BackBearings->setPlainText(text);
}

// Centres the map on X with the search area filling about half of the
// picture; an unbounded area keeps the range.
void TBearfix::PM_ZoomToFixClick() {
    const Fix fix = compute_fix(observerTexts());
    if (!fix.computed || fix.crossing.status != 0) {
        statusPanels_[0]->setText("no intersection found");
        return;
    }
    const double range =
        fix.area.kind == SearchArea::kBounded ? fixRange(fix, ui_->Img_Map->size()) : composer_.currentRange();
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    ui_->CB_MapCenter->setCurrentIndex(0);
    mapCenter = fix.crossing.x;
    setText(ui_->Ed_MapCenter, format_position(mapCenter, PosFormat::Dms));
    showRange(range);
}

// F on the Map tab, unless a field that takes text has the focus.
bool TBearfix::zoomToFixKey(QKeyEvent* event) {
    if (event->key() != Qt::Key_F || event->modifiers() != Qt::NoModifier || event->isAutoRepeat()) return false;
    if (QApplication::activeWindow() != this || QApplication::activePopupWidget() != nullptr) return false;
    if (ui_->PageControl1->currentWidget() != ui_->TS_MapScreen) return false;
    const QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus) ||
        qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus) ||
        qobject_cast<const QComboBox*>(focus))
        return false;
    PM_ZoomToFixClick();
    return true;
}

}  // namespace bearfix
