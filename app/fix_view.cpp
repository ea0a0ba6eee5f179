// The fix beyond X: the distances, crossing angle, search area and
// back-bearing crossings in the Numeric Results, and the key F for "Zoom to
// fix" on the map (app/drive_view.cpp).
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "app/line_edits.h"
#include "app/main_window.h"
#include "ui_bearfix.h"

namespace bearfix {

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
