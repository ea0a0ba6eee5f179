// The main window: observer fields, results, map, settings tabs and log.
// Handlers are thin: they read controls, call the toolkit-free core and write
// controls back.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "app/held_input.h"
#include "remote/remote_mailbox.h"
#include "session/results.h"
#include "session/settings.h"
#include "session/settings_writer.h"
#include "fix/bearing.h"
#include "map/map_composer.h"
#include "geo/position.h"
#include "support/message_log.h"
#include "tracks/track_settings.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QTimer;

namespace Ui {
class TBearfix;
}

namespace bearfix {

class BearingFeeds;
class BearingLogTab;
class GpsPanel;
class RemoteServer;
class TCitySelForm;

class TBearfix : public QMainWindow {
    Q_OBJECT
public:
    explicit TBearfix(QWidget* parent = nullptr);
    ~TBearfix() override;

    Ui::TBearfix& form() { return *ui_; }
    TCitySelForm& cityDialog();
    QLabel& statusPanel(int index) { return *statusPanels_[index]; }

    // The dialogs the window opens; tests put their own in.
    struct Dialogs {
        std::function<bool(QStringList* files, int* filter)> chooseTrackFiles;
        std::function<int(const QString& question)> ask;  // QMessageBox::Yes, No or Cancel
        std::function<bool(const QString& title, QColor* colour)> chooseColour;
        std::function<void(const QString& text)> inform;
        std::function<void(const QString& text)> warn;  // without holding up the window
        std::function<bool(const QUrl& url)> openUrl;  // false: nothing could open it
        std::function<bool(bool folder, const QString& current, QString* chosen)> chooseTiles;
        // A CSV file of bearings to import, or with `save` to export to.
        std::function<bool(bool save, QString* file)> chooseBearingFile;
        // The bearing dialog of the Bearings tab, filled with `bearing` (a
        // bearing that is not finite shows empty); false when cancelled.
        std::function<bool(const QString& title, Bearing* bearing)> editBearing;
        std::function<bool(QString* file, int* format)> chooseExportFile;  // format: the filter's index
    };
    Dialogs dialogs;
    // Runs once the first map is drawn (for measuring the start-up).
    std::function<void()> afterFirstDraw;
    QString aboutText() const;
    QUrl helpPage() const;

    // The update cycle.
    void updateResults();
    void resizeMapBitmaps();
    void fullMapRedraw();
    void drawBaseMap(QImage& bitmap);
    void drawOverlay();
    void showProgress(const std::string& text, int percent);
    void zoomMapSteps(int steps);
    void recenterMap(GeoPosition p, int steps);
    void scrollMap(double dLat, double dLon);
    QMenu& mapPopup() { return *MapPopup; }
    // What the map drawing reads, taken from the controls.
    MapSettings mapSettings() const;
    SessionSettings currentSession() const;
    const MapComposer& composer() const { return composer_; }
    RemoteMailbox& mailbox() { return mailbox_; }
    RemoteServer& remote() { return *remote_; }
    BearingLogTab& bearingLog() { return *bearingLog_; }
    GpsPanel& gps() { return *gps_; }
    BearingFeeds& feeds() { return *feeds_; }

    // Everything the user did, written as File -> Quit writes it: the remote
    // commands and bearings already received taken in, the settings and the
    // bearing log. The one path of Quit, a signal and the logout.
    void saveEverything();
    // The ends nobody watches (app/session_guard.cpp): a signal closes the
    // window as Quit does, the logout saves; a problem is then said on
    // standard error and in the log, not in a box that would hold them up.
    void quitUnattended();
    void saveUnattended();
    // While the window runs, the settings are written off the GUI thread
    // when they changed since the last write (or since the start).
    void takeSettingsAsSaved();
    void saveSettingsInBackground();
    // Another Bearfix keeps the settings: nothing is written, the title and a
    // box say so.
    void openReadOnly(const std::string& why);
    // Asked by another start of Bearfix; `token` lets the desktop hand over
    // the focus.
    void bringToFront(const std::string& token);

    // Shared with the map, options, track and remote handlers.
    int updateGuard = 0;  // while non-zero the change handlers return at once
    bool initialDrawPending = false;
    int resizeCountdown = 0;  // timer ticks until the base map follows a resize
    bool resultsPending = false;
    bool overlayPending = false;
    bool loggingEnabled = false;
    GeoPosition observerA;
    GeoPosition observerB;
    bool observerAValid = true;  // the field's text is a position (read_position)
    bool observerBValid = true;
    GeoPosition locationX;
    GeoPosition mapCenter;
    GeoPosition mousePosition;  // under the mouse at its last move over the map
    bool mousePositionValid = false;
    GeoPosition clickPosition;  // where the map was clicked: the map menu acts there
    TrackSettings trackSettings;
    QImage baseBitmap;

public slots:
    void ObserverPosChanged();
    void Timer1Timer();
    void TS_MapScreenResize();
    void Btn_ClearMsgsClick();
    void Btn_ApplyGPSClick();
    void MI_QuitClick();
    void Btn_UpdateMapClick();
    void Img_MapMouseMove(int x, int y);
    void Img_MapClick(int x, int y);
    void Img_MapRightClick(int x, int y);
    void Img_MapDblClick();
    void Img_MapWheel(int notches, int x, int y);
    void Img_MapDragged(int fromX, int fromY, int toX, int toY);
    void MapPopupPopup();
    void PM_MapCoordClick();
    void PM_ZoomInClick();
    void PM_ZoomOutClick();
    void PM_CenterClick();
    void PM_CenterOnAClick();
    void PM_CenterOnBClick();
    void PM_CenterOnXClick();
    void PM_ZoomToFixClick();
    void PM_CenterOnCityClick();
    void PM_CalcBrgsClick();
    void PM_SetPosAClick();
    void PM_SetObsBClick();
    void Btn_MapScrollUpClick();
    void Btn_MapScrollDownClick();
    void Btn_MapScrollLeftClick();
    void Btn_MapScrollRightClick();
    void Btn_ZoomInClick();
    void Btn_ZoomOutClick();
    void Btn_HideMapNavigatorClick();
    void Chk_ShowMapNavigatorClick();
    void Ck_ShowMapRulerClick();
    void Ed_MapCenterDblClick();
    void Cb_PosFormatChange();
    void ApplyOptions();
    void ElevationDirectoryEdited();
    void MI_IndexClick();
    void MI_AboutClick();
    void MI_ImportGPSTrackClick();
    void MI_ExportClick();
    void Btn_ClearTracksClick();
    void Pnl_TrackColorsClick();
    void FindCityforObserverA1Click();
    void FindCityforObserverB1Click();
    void TilesArrived();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void connectHandlers();
    void connectTileHandlers();
    void showTileSettings(const SessionSettings& s);
    void takeTileSettings(SessionSettings& s) const;
    void chooseTiles(bool folder);
    void readSettings();
    void writeSettings();
    void reportSaveProblem(const std::string& text);
    void takeRemoteInput();
    void applyBounds(const SessionSettings& s);
    void readTrackSettings();
    void applyTrackSettings();
    void showTrackSettings();
    void showTrackColours();
    void reportSettingsProblem();
    void appendMessage(MessageLevel level, const std::string& text);
    void placeMapNavigator();
    void pickObserverFromTable(QLineEdit* field);
    void createMapPopup();
    bool clickedAt(int x, int y);
    Dialogs desktopDialogs();
    void showRange(double range);
    void scrollMapBy(int north, int east);
    bool arrowKeyScrolls(QKeyEvent* event);
    bool elevationLoadAborted();
    bool heldBackWhileLoading(QObject* watched, QEvent* event);
    void writeObserver(QLineEdit* field, GeoPosition p);
    ObserverTexts observerTexts() const;
    void showFixResults(const Results& r);
    std::vector<Bearing> bearingsToExport() const;
    bool zoomToFixKey(QKeyEvent* event);
    bool zoomKey(QKeyEvent* event);
    bool wheelOverUnfocusedList(QObject* watched) const;
    static bool takesText(const QWidget* widget);
    void markPositionField(QLineEdit* field);
    PosFormat shownFormat() const;
    QString readOut(GeoPosition p) const;
    void fitFieldWidths();

    std::unique_ptr<Ui::TBearfix> ui_;
    QLabel* statusPanels_[2] = {nullptr, nullptr};
    QTimer* Timer1 = nullptr;
    QTimer* firstTick_ = nullptr;
    TCitySelForm* citySelForm_ = nullptr;
    MapComposer composer_;
    RemoteMailbox mailbox_;
    RemoteServer* remote_ = nullptr;
    BearingLogTab* bearingLog_ = nullptr;
    GpsPanel* gps_ = nullptr;
    BearingFeeds* feeds_ = nullptr;
    QMenu* MapPopup = nullptr;
    QAction* PM_MapCoord = nullptr;
    QTimer* popupDelay_ = nullptr;
    QPoint popupAt_;
    QElapsedTimer loadPoll_;
    bool loadingElevation_ = false;
    HeldInput heldInput_;
    bool escapePressed_ = false;
    bool progressShown_ = false;  // the status panel shows a terrain load's progress
    std::string xForMap_;         // X in the Dms form, or why there is none: the map centres on it
    std::string settingsProblem_;  // why the settings file could not be read; it is then not written
    SettingsWriter settingsWriter_;
    bool unattended_ = false;           // ending by a signal or the logout
    bool backgroundSaveFailed_ = false;  // said once until a background write succeeds
};

}  // namespace bearfix
