// The floor for the window's start-up: a Qt Widgets program with one window,
// started as Bearfix is, saying how long after the start its window was up.
//
//   minimal_window --startup-time
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Milliseconds since this process was started, from the kernel's record (as
// Bearfix measures it).
double millisecondsSinceStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t field = 3, i = text.rfind(')') + 2;
    while (field < 22 && i < text.size()) field += text[i++] == ' ' ? 1 : 0;
    const double startTicks = std::stod(text.substr(i));
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / sysconf(_SC_CLK_TCK)) * 1000.0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel("minimal"));
    window.resize(800, 600);
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        std::printf("window shown %.0f ms after the start\n", millisecondsSinceStart());
        std::fflush(stdout);
        window.close();
    });
    return app.exec();
}
