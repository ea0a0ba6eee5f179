#include <signal.h>

#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/main_window.h"
#include "support/start_time.h"

namespace {

// Shows an exception that escapes an event handler and ends the program.
class BearfixApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, "Bearfix", e.what());
        } catch (...) {
            QMessageBox::critical(nullptr, "Bearfix", "Unknown error");
        }
        exit(0);
        return false;
    }
};

constexpr const char* kHelp =
    "usage: bearfix [--help] [--version] [--startup-time] [Qt options]\n"
    "  Bearfix finds a radio transmitter where the bearings of two observers\n"
    "  cross, and shows them on an offline map. Start it where map_data/ is,\n"
    "  or install it. Settings: $XDG_CONFIG_HOME/bearfix/bearfix.ini.\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "  --startup-time  say how long the first map took to appear, and quit\n";

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before the toolkit starts: they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Bearfix %s\n", BEARFIX_VERSION);
            return 0;
        }
    }
    // Beyond a file-size limit a write then fails (EFBIG) and is reported,
    // instead of the signal ending the program with the settings unsaved.
    signal(SIGXFSZ, SIG_IGN);
    BearfixApplication app(argc, argv);
    app.setApplicationName("bearfix");
    app.setApplicationDisplayName("Bearfix");
    std::setlocale(LC_NUMERIC, "C");  // QApplication took the user's locale
    try {
        bearfix::TBearfix window;
        // --startup-time: say how long the first map took to appear, and quit.
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--startup-time") != 0) continue;
            window.afterFirstDraw = [&window] {
                std::printf("first map drawn %.0f ms after the start\n", bearfix::millisecondsSinceStart());
                std::fflush(stdout);
                window.close();
            };
        }
        window.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Bearfix", e.what());
    }
    return 0;
}
