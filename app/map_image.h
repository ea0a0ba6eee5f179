// The image control of the "Map" tab: shows a 32-bit picture and reports the
// mouse in picture pixels. Dragged with the left button, the picture follows
// the mouse; the drag is reported when the button is released, a press and
// release without movement as a click.
#pragma once

#include <QImage>
#include <QWidget>

namespace bearfix {

class MapImage : public QWidget {
    Q_OBJECT
public:
    explicit MapImage(QWidget* parent = nullptr);

    QImage& picture() { return picture_; }
    // The picture has changed only within `region` since it was last shown
    // or changed so: shown there at the next paint.
    void showChanges(const QRegion& region);
    // Shows the picture now, without waiting for the event loop: only where
    // it changed when that is known, else all of it.
    void repaintNow();

signals:
    void mouseMoved(int x, int y);
    void clicked(int x, int y);
    void rightClicked(int x, int y);
    void doubleClicked();
    void wheelTurned(int notches, int x, int y);  // positive: away from the user
    void dragged(int fromX, int fromY, int toX, int toY);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QImage picture_;
    QRegion changes_;        // where the picture differs from the screen, while it is
    qint64 changedKey_ = 0;  // this picture, not written to since
    int wheelRemainder_ = 0;
    bool afterDoubleClick_ = false;  // its release ends the double-click, it is no click of its own
    bool pressed_ = false;           // the left button is down on the map
    bool dragging_ = false;          // and has moved beyond the desktop's drag distance
    QPoint pressedAt_;
    QPoint dragOffset_;              // where the picture is shown while dragging
};

}  // namespace bearfix
