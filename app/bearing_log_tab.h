// The Bearings tab: the table of the observer bearings and the bearing log
// with its buttons, the log file beside the settings (read at start, written
// atomically soon after a change and at close, never when it could not be
// read), the fix in Numeric Results, and the log's layer of the map.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <string>
#include <vector>

#include "app/bearing_log_model.h"

class QPainter;
class QTimer;
class QWidget;

namespace Ui {
class TBearfix;
}

namespace bearfix {

class TBearfix;
struct MapView;

class BearingLogTab : public QObject {
    Q_OBJECT
public:
    // Reads the log file and installs the desktop dialogs of the tab where
    // the window has none.
    explicit BearingLogTab(TBearfix& window);

    BearingLogModel& model() { return *model_; }
    const std::string& path() const { return path_; }
    // Why the log file is not written; empty when it is.
    const std::string& problem() const { return problem_; }
    // Another Bearfix keeps the log file: from now on it is not written.
    void keepFile(const std::string& why) { problem_ = why; }

    void observersChanged(const ObserverTexts& in);
    // Bearings of the remote command and the feeds; with `skipKnown` those
    // that a row holds already stay out (their number is returned).
    std::size_t append(std::vector<Bearing> bearings, bool skipKnown = false);
    // Writes the log file when the log changed since; at close a failure is
    // said in a box.
    void save(bool closing);
    // The map layer, under or over the fix markers: only while the log holds
    // an enabled bearing of its own; true when it drew.
    bool draw(QPainter& painter, const MapView& view, bool overMarkers);

    void addBearing();
    void editBearing();
    void deleteBearings();
    void clearBearings();
    void importBearings();
    void exportBearings();

private:
    void load();
    void showFix();
    void logChanged();
    void note(const QString& text, bool problem);
    QString displayPath(const std::string& path) const;
    // The fix in Numeric Results: shown while the log is in use.
    std::array<QWidget*, 4> fixFields() const;

    TBearfix& window_;
    Ui::TBearfix& form_;
    BearingLogModel* model_ = nullptr;
    QTimer* saveTimer_ = nullptr;
    std::string path_;
    std::string problem_;
    bool dirty_ = false;
    bool saveFailed_ = false;  // said once until a save succeeds
    bool onMap_ = false;       // the last overlay drew the log
};

}  // namespace bearfix
