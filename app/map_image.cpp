#include "app/map_image.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <utility>

namespace bearfix {

MapImage::MapImage(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);  // for the map's keys
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(10, 10);
}

void MapImage::showChanges(const QRegion& region) {
    if (!dragOffset_.isNull()) {  // shown shifted: all of it again
        changes_ = rect();
        changedKey_ = 0;
        update();
        return;
    }
    changes_ += region;
    changedKey_ = picture_.cacheKey();
    update(region);
}

void MapImage::repaintNow() {
    const bool known = changedKey_ != 0 && picture_.cacheKey() == changedKey_ && dragOffset_.isNull();
    if (known && changes_.isEmpty()) return;
    if (known) {
        repaint(changes_);
    } else {
        repaint();
    }
    changes_ = QRegion();
    changedKey_ = 0;
}

void MapImage::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!picture_.isNull()) painter.drawImage(dragOffset_, picture_);
    if ((changes_ - event->region()).isEmpty()) {
        changes_ = QRegion();
        changedKey_ = 0;
    }
}

void MapImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    dragging_ = false;
    pressedAt_ = event->position().toPoint();
}

void MapImage::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (!dragging_) emit mouseMoved(p.x(), p.y());  // while dragging, the grabbed place is under the mouse
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    if (!dragging_ && (p - pressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
        dragging_ = true;
        setCursor(Qt::ClosedHandCursor);
    }
    if (dragging_) {
        dragOffset_ = p - pressedAt_;
        update();
    }
}

void MapImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) pressed_ = false;
    if (event->button() == Qt::LeftButton && std::exchange(dragging_, false)) {
        unsetCursor();
        emit dragged(pressedAt_.x(), pressedAt_.y(), p.x(), p.y());  // redraws the map around the new centre
        dragOffset_ = QPoint();
        update();
        return;
    }
    if (std::exchange(afterDoubleClick_, false) || !rect().contains(p)) return;
    if (event->button() == Qt::LeftButton) emit clicked(p.x(), p.y());
    if (event->button() == Qt::RightButton) emit rightClicked(p.x(), p.y());
}

void MapImage::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    afterDoubleClick_ = true;
    emit doubleClicked();
}

void MapImage::wheelEvent(QWheelEvent* event) {
    // Whole notches of 120 units; high-resolution wheels and touchpads send parts.
    wheelRemainder_ += event->angleDelta().y();
    int notches = wheelRemainder_ / 120;
    wheelRemainder_ -= notches * 120;
    QPoint p = event->position().toPoint();
    if (notches != 0) emit wheelTurned(notches, p.x(), p.y());
    event->accept();
}

}  // namespace bearfix
