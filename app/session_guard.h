// The ends of a run that no close button sees: SIGTERM, SIGINT and SIGHUP
// (a shutdown, `kill`, a closed terminal) close the window as File -> Quit
// does; the desktop session's logout saves as Quit does; and while the
// window runs its settings are saved in the background, so that a power
// loss or SIGKILL costs at most one interval of changes.
#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;
class QTimer;

namespace bearfix {

class TBearfix;

class SessionGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultAutosaveMs = 60 * 1000;

    // Catches the signals from now on (until destroyed), but for those
    // ignored when the program started, and saves the settings every
    // `autosaveMs` when they changed.
    SessionGuard(TBearfix& window, int autosaveMs);
    ~SessionGuard() override;

    // $BEARFIX_AUTOSAVE_MS when it is a positive number of milliseconds,
    // else kDefaultAutosaveMs.
    static int autosaveInterval();

private:
    void signalled();

    TBearfix& window_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* autosave_ = nullptr;
    bool quitting_ = false;
    struct sigaction previous_[3] = {};
};

}  // namespace bearfix
