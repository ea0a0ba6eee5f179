// The floor for the window's start-up: a Qt Widgets program with one window,
// started as Bearfix is, saying how long after the start its window was up.
//
//   minimal_window --startup-time
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

#include "support/start_time.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel("minimal"));
    window.resize(800, 600);
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        std::printf("window shown %.0f ms after the start\n", bearfix::millisecondsSinceStart());
        std::fflush(stdout);
        window.close();
    });
    return app.exec();
}
