// Where the window opens and how wide its fields are.
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

#include "app/main_window.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

// The width a line edit needs to show `sample` whole, frame and margins included.
int widthFor(const QLineEdit* edit, const QString& sample) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QMargins margins = edit->textMargins();
    // QLineEdit keeps 2 pixels either side of the text, and 1 for the cursor.
    const QSize text(edit->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 5,
                     edit->sizeHint().height());
    return edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width();
}

void fit(QLineEdit* edit, const QString& sample) {
    const int width = widthFor(edit, sample);
    edit->setMinimumWidth(std::max(edit->minimumWidth(), width));
    edit->setMaximumWidth(std::max(edit->maximumWidth(), width));
}

}  // namespace

// Room for the texts the fields typically hold, in the font in use.
void TBearfix::fitFieldWidths() {
    Ui::TBearfix& f = *ui_;
    for (QLineEdit* field : {f.Ed_Pos1, f.Ed_Pos2, f.Ed_MapCenter, f.Ed_LocX})
        fit(field, QString::fromUtf8("N52°08'26\" E008°28'57\""));
    for (QLineEdit* field : {f.Ed_Inf1, f.Ed_Inf2}) fit(field, "12 km SW of Enger");
    for (QLineEdit* field : {f.Ed_Brg1X, f.Ed_Brg2X}) fit(field, "312.50");
    for (QLineEdit* field : {f.Ed_Brg1Tol, f.Ed_Brg2Tol}) fit(field, "12.5");
    for (QLineEdit* field : {f.Ed_BrgAB, f.Ed_BrgBA, f.Ed_CrossingAngle}) fit(field, QString::fromUtf8("312.5 °"));
    for (QLineEdit* field : {f.Ed_DistAB, f.Ed_DistAX, f.Ed_DistBX}) fit(field, "12345 km");
    fit(f.Ed_MapRange, "20000");
}

// Restores the window where it was when that place is on a screen now;
// otherwise the window opens centred. It is never larger than the screens.
// Without a size in the file it takes two thirds of the screen.
void TBearfix::applyBounds(const SessionSettings& s) {
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens()) desktop |= screen->availableGeometry();
    if (desktop.isEmpty()) desktop = QRect(0, 0, WindowBounds::kLimit, WindowBounds::kLimit);
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (s.sizeStored || !primary) {
        resize(std::min(s.bounds.width, desktop.width()), std::min(s.bounds.height, desktop.height()));
    } else {
        resize(primary->availableGeometry().size() * 2 / 3);
    }
    QRect wanted(s.bounds.left, s.bounds.top, width(), height());
    bool placed = false;
    if (s.boundsStored) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            QRect visible = screen->availableGeometry().intersected(wanted);
            if (!placed && visible.width() >= 100 && visible.height() >= 50) {
                move(wanted.topLeft());
                placed = true;
            }
        }
    }
    if (!placed && primary) {
        QRect area = primary->availableGeometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
    if (s.maximised) setWindowState(windowState() | Qt::WindowMaximized);  // over the bounds above
}

}  // namespace bearfix
