#include "app/map_image.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <utility>

namespace bearfix {

MapImage::MapImage(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(10, 10);
}

void MapImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!picture_.isNull()) painter.drawImage(0, 0, picture_);
}

void MapImage::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    emit mouseMoved(p.x(), p.y());
}

void MapImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
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
