#include <signal.h>

#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/session_guard.h"
#include "remote/remote_client.h"
#include "remote/remote_mailbox.h"
#include "remote/remote_socket.h"
#include "session/instance_lock.h"
#include "session/settings.h"
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

// Another Bearfix keeps these settings: it is asked to come to the front,
// with the desktop's activation token, as single-window programs do. Empty
// when it did; otherwise why this one opens read-only.
std::string handOver(const std::string& settingsDirectory) {
    std::string command = "window raise";
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        if (const char* token = std::getenv(name); token && *token) {
            command += std::string(" token=") + token;
            break;
        }
    }
    const std::string socket = bearfix::remoteSocketPath();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bearfix::Delivery d;
    for (;;) {  // a full mailbox empties at the running window's next tick
        d = bearfix::deliverCommand(socket, command, 2000);
        if (d.result != bearfix::Delivery::Result::Delivered || d.reply != bearfix::kReplyFull ||
            std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string process = d.pid > 0 ? " (process " + std::to_string(d.pid) + ")" : "";
    if (d.result == bearfix::Delivery::Result::Delivered && d.reply == bearfix::kReplyStored) {
        std::printf("Bearfix runs already%s: its window comes to the front.\n", process.c_str());
        return {};
    }
    return "Another Bearfix" + process + " uses the settings in " + settingsDirectory +
           " and does not answer on " + socket +
           ": this window is read-only; its settings and bearing log will not be saved";
}

constexpr const char* kHelp =
    "usage: bearfix [--help] [--version] [--startup-time] [Qt options]\n"
    "  Bearfix finds a radio transmitter where the bearings of two observers\n"
    "  cross, and shows them on an offline map. Start it where map_data/ is,\n"
    "  or install it. Settings: $XDG_CONFIG_HOME/bearfix/bearfix.ini. Started\n"
    "  while Bearfix runs, it brings the running window to the front.\n"
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
    // One window to a settings file: two would overwrite each other's
    // settings and logs at exit. Settled before the toolkit starts, so that
    // a second start hands over at once.
    bearfix::InstanceLock lock;
    const std::string settingsDirectory = std::filesystem::path(bearfix::settingsFilePath()).parent_path().string();
    std::string readOnly;
    if (lock.take(settingsDirectory) == bearfix::InstanceLock::State::HeldElsewhere) {
        readOnly = handOver(settingsDirectory);
        if (readOnly.empty()) return 0;
        std::fprintf(stderr, "bearfix: %s\n", readOnly.c_str());
    }
    BearfixApplication app(argc, argv);
    app.setApplicationName("bearfix");
    app.setApplicationDisplayName("Bearfix");
    std::setlocale(LC_NUMERIC, "C");  // QApplication took the user's locale
    try {
        bearfix::TBearfix window;
        if (!readOnly.empty()) window.openReadOnly(readOnly);
        bearfix::SessionGuard guard(window, bearfix::SessionGuard::autosaveInterval());
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
