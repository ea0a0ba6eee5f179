#include "app/session_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QMetaObject>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "app/bearing_log_tab.h"
#include "app/main_window.h"
#include "session/settings.h"
#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalPipe[2] = {-1, -1};  // the handler writes, the event loop reads

// Only what is safe in a signal handler: one write to a non-blocking pipe.
void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

SessionGuard::SessionGuard(TBearfix& window, int autosaveMs) : window_(window) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &SessionGuard::signalled);
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        // A signal ignored from the start stays so: `nohup bearfix &` outlives its terminal.
        for (int i = 0; i < 3; ++i) {
            ::sigaction(kSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
        }
    }
    // The session manager asks before the logout ends the program (XSMP);
    // where it sends SIGTERM instead, the handler above saves.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { window_.saveUnattended(); });
    window_.takeSettingsAsSaved();
    autosave_ = new QTimer(this);
    autosave_->setInterval(autosaveMs);
    connect(autosave_, &QTimer::timeout, this, [this] { window_.saveSettingsInBackground(); });
    autosave_->start();
}

SessionGuard::~SessionGuard() {
    if (!notifier_) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

int SessionGuard::autosaveInterval() {
    const char* text = std::getenv("BEARFIX_AUTOSAVE_MS");
    if (!text || !*text) return kDefaultAutosaveMs;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    return *end == '\0' && ms > 0 && ms <= 24L * 3600 * 1000 ? static_cast<int>(ms) : kDefaultAutosaveMs;
}

// A second signal while the first is being handled changes nothing: the
// logout's SIGTERM comes with a SIGHUP, and neither may cut the save short.
void SessionGuard::signalled() {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (std::exchange(quitting_, true)) return;
    window_.quitUnattended();
}

// ---- the window's part -----------------------------------------------------------

void TBearfix::quitUnattended() {
    unattended_ = true;
    // A dialog open over the window ends too. While terrain loads the close
    // is held back, and happens when the load ends.
    if (close()) QCoreApplication::quit();
}

void TBearfix::saveUnattended() {
    const bool was = std::exchange(unattended_, true);
    saveEverything();
    unattended_ = was;
}

void TBearfix::takeSettingsAsSaved() {
    const bool normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    settingsWriter_.remember(currentSession(), normal);
}

// The session is read from the controls here (microseconds); the file is
// read, merged and replaced on a thread of its own, since fsync() may take
// long on a slow card. A failure is said once in the log, until a write
// succeeds again.
void TBearfix::saveSettingsInBackground() {
    if (!settingsProblem_.empty()) return;
    const bool normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    // The window outlives the write (its writer waits for it); a report
    // still on its way when the window goes is dropped with it.
    settingsWriter_.writeInBackground(settingsFilePath(), currentSession(), normal, [this](const std::string& problem) {
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                if (problem.empty()) {
                    backgroundSaveFailed_ = false;
                } else if (!std::exchange(backgroundSaveFailed_, true)) {
                    logMessage(MessageLevel::Error, "Error: %s", fileNameText(problem).c_str());
                }
            },
            Qt::QueuedConnection);
    });
}

void TBearfix::openReadOnly(const std::string& why) {
    settingsProblem_ = why;
    bearingLog_->keepFile(why);
    setWindowTitle("Bearfix (read-only)");
    reportSettingsProblem();
}

void TBearfix::bringToFront(const std::string& token) {
    // Wayland gives the focus to a window that shows the launcher's token.
    if (!token.empty() && QGuiApplication::platformName() == "wayland") qputenv("XDG_ACTIVATION_TOKEN", token.c_str());
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

}  // namespace bearfix
