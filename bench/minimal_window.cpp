// The floor for the window's start-up: a Qt Widgets program with one window,
// started as Bearfix is, saying how long after the start its window was on
// the screen. Bearfix says so from a zero timer once its first map has been
// painted; this one from a zero timer once its window has been.
//
//   minimal_window --startup-time
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "support/start_time.h"

namespace {

class Label : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (std::exchange(painted_, true)) return;
        QWidget* shown = window();
        QTimer::singleShot(0, shown, [shown] {
            std::printf("window shown %.0f ms after the start\n", bearfix::millisecondsSinceStart());
            std::fflush(stdout);
            shown->close();
        });
    }

private:
    bool painted_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new Label("minimal"));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
