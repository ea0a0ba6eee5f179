#include "app/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cmath>
#include <utility>

#include "app/bearing_log_tab.h"
#include "app/city_dialog.h"
#include "session/data_files.h"
#include "app/feeds.h"
#include "app/gps_panel.h"
#include "app/line_edits.h"
#include "app/remote_server.h"
#include "remote/remote_socket.h"
#include "session/results.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "support/number_format.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

void setPanelColours(QLabel* panel, const QColor& background, const QColor& text) {
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    panel->setPalette(palette);
}

// Selects item `index`, or nothing when the list has no such item.
void selectItem(QComboBox* list, int index) { list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1); }

// An integer as the whole text, or `fallback`.
int integerIn(const QString& text, int fallback) {
    bool ok = false;
    int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

}  // namespace

TBearfix::TBearfix(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TBearfix>()) {
    ui_->setupUi(this);
    fitFieldWidths();
    for (int i = 0; i < 2; ++i) {
        statusPanels_[i] = new QLabel(this);
        statusPanels_[i]->setObjectName(QString("SBarPanel%1").arg(i));
    }
    statusPanels_[0]->setMinimumWidth(160);
    statusPanels_[1]->setMinimumWidth(50);
    ui_->SBar->addWidget(statusPanels_[0]);
    ui_->SBar->addWidget(statusPanels_[1], 1);
    setPanelColours(ui_->Pn_ColObs1, QColor(0, 128, 128), Qt::white);
    setPanelColours(ui_->Pn_ColObs2, QColor(128, 0, 128), Qt::white);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(200);
    // The first tick's work (the first map) as soon as the event loop runs.
    firstTick_ = new QTimer(this);
    firstTick_->setSingleShot(true);
    firstTick_->setInterval(0);
    createMapPopup();
    dialogs = desktopDialogs();
    composer_.setTrackSource(forEachTrackBatch, trackChanges);
    composer_.setMapDataDirectory(findDataFile("map_data"));
    gps_ = new GpsPanel(*this);
    feeds_ = new BearingFeeds(*this, *gps_);
    FormCreate();
    connectHandlers();
    connectTileHandlers();
    Timer1->start();
    firstTick_->start();
    gps_->start();
    feeds_->start();
}

TBearfix::~TBearfix() {
    qApp->removeEventFilter(this);
    elevation().setProgressHook({});
    elevation().setAbortPoll({});
    setMessageSink({});
}

void TBearfix::connectHandlers() {
    for (QLineEdit* field : {ui_->Ed_Pos1, ui_->Ed_Pos2, ui_->Ed_Brg1X, ui_->Ed_Brg2X, ui_->Ed_Brg1Tol, ui_->Ed_Brg2Tol})
        connect(field, &QLineEdit::textChanged, this, &TBearfix::ObserverPosChanged);
    for (QCheckBox* box : {ui_->Chk_Ambi1, ui_->Chk_Ambi2})  // the back-bearing crossings follow them
        connect(box, &QCheckBox::toggled, this, &TBearfix::ObserverPosChanged);
    connect(Timer1, &QTimer::timeout, this, &TBearfix::Timer1Timer);
    connect(firstTick_, &QTimer::timeout, this, &TBearfix::Timer1Timer);
    connect(ui_->Btn_ClearMsgs, &QPushButton::clicked, this, &TBearfix::Btn_ClearMsgsClick);
    connect(ui_->Btn_ApplyGPS, &QPushButton::clicked, this, &TBearfix::Btn_ApplyGPSClick);
    connect(ui_->MI_Quit, &QAction::triggered, this, &TBearfix::MI_QuitClick);
    connect(ui_->Btn_UpdateMap, &QPushButton::clicked, this, &TBearfix::Btn_UpdateMapClick);
    connect(ui_->Btn_ZoomIn, &QToolButton::clicked, this, &TBearfix::Btn_ZoomInClick);
    connect(ui_->Btn_ZoomOut, &QToolButton::clicked, this, &TBearfix::Btn_ZoomOutClick);
    connect(ui_->Img_Map, &MapImage::doubleClicked, this, &TBearfix::Img_MapDblClick);
    connect(ui_->Img_Map, &MapImage::clicked, this, &TBearfix::Img_MapClick);
    connect(ui_->Img_Map, &MapImage::rightClicked, this, &TBearfix::Img_MapRightClick);
    connect(ui_->Img_Map, &MapImage::mouseMoved, this, &TBearfix::Img_MapMouseMove);
    connect(ui_->Img_Map, &MapImage::wheelTurned, this, &TBearfix::Img_MapWheel);
    connect(ui_->Btn_MapScrollUp, &QToolButton::clicked, this, &TBearfix::Btn_MapScrollUpClick);
    connect(ui_->Btn_MapScrollDown, &QToolButton::clicked, this, &TBearfix::Btn_MapScrollDownClick);
    connect(ui_->Btn_MapScrollLeft, &QToolButton::clicked, this, &TBearfix::Btn_MapScrollLeftClick);
    connect(ui_->Btn_MapScrollRight, &QToolButton::clicked, this, &TBearfix::Btn_MapScrollRightClick);
    connect(ui_->Btn_HideMapNavigator, &QToolButton::clicked, this, &TBearfix::Btn_HideMapNavigatorClick);
    connect(ui_->Chk_ShowMapNavigator, &QCheckBox::clicked, this, &TBearfix::Chk_ShowMapNavigatorClick);
    connect(ui_->Ck_ShowMapRuler, &QCheckBox::clicked, this, &TBearfix::Ck_ShowMapRulerClick);
    connect(ui_->Img_Map, &MapImage::dragged, this, &TBearfix::Img_MapDragged);
    for (QLineEdit* field : {ui_->Ed_MapRange, ui_->Ed_MapCenter})  // Enter applies, as "Apply !"
        connect(field, &QLineEdit::returnPressed, this, &TBearfix::Btn_UpdateMapClick);
    for (QLineEdit* field : {ui_->Ed_Pos1, ui_->Ed_Pos2, ui_->Ed_MapCenter}) {
        connect(field, &QLineEdit::textChanged, this, [this, field] { markPositionField(field); });
        markPositionField(field);
    }
    for (QComboBox* list : findChildren<QComboBox*>()) list->setFocusPolicy(Qt::StrongFocus);  // not by the wheel
    ui_->Ed_MapCenter->installEventFilter(this);
    connect(ui_->Cb_PosFormat, &QComboBox::currentIndexChanged, this, &TBearfix::Cb_PosFormatChange);
    connect(ui_->RB_UseGTOPO30, &QRadioButton::clicked, this, &TBearfix::ApplyOptions);
    connect(ui_->RB_UseSRTM3, &QRadioButton::clicked, this, &TBearfix::ApplyOptions);
    connect(ui_->Ed_GtopoDir, &QLineEdit::editingFinished, this, &TBearfix::ElevationDirectoryEdited);
    connect(ui_->Ed_SRTM3_Dir, &QLineEdit::editingFinished, this, &TBearfix::ElevationDirectoryEdited);
    connect(ui_->MI_Index, &QAction::triggered, this, &TBearfix::MI_IndexClick);
    connect(ui_->MI_About, &QAction::triggered, this, &TBearfix::MI_AboutClick);
    connect(ui_->MI_ImportGPSTrack, &QAction::triggered, this, &TBearfix::MI_ImportGPSTrackClick);
    connect(ui_->MI_Export, &QAction::triggered, this, &TBearfix::MI_ExportClick);
    connect(ui_->Btn_ClearTracks, &QPushButton::clicked, this, &TBearfix::Btn_ClearTracksClick);
    ui_->Pnl_TrackColors->installEventFilter(this);
    connect(ui_->SpeedButton1, &QToolButton::clicked, this, &TBearfix::FindCityforObserverA1Click);
    connect(ui_->SpeedButton2, &QToolButton::clicked, this, &TBearfix::FindCityforObserverB1Click);
    ui_->Ed_Pos1->installEventFilter(this);
    ui_->Ed_Pos2->installEventFilter(this);
    ui_->TS_MapScreen->installEventFilter(this);
    ui_->Img_Map->installEventFilter(this);
}

void TBearfix::FormCreate() {
    updateGuard = 1;
    resizeCountdown = 0;
    std::setlocale(LC_NUMERIC, "C");  // '.' in every number, whatever the user's locale
    trackSettings = TrackSettings{};
    readSettings();
    baseBitmap = QImage();
    locationX = GeoPosition{};
    elevation().setProgressHook([this](const std::string& file, int percent) { showProgress(file, percent); });
    elevation().setAbortPoll([this] { return elevationLoadAborted(); });
    ui_->CB_MsgLevel->setCurrentIndex(0);
    setMessageSink([this](MessageLevel level, const std::string& text) { appendMessage(level, text); });
    loggingEnabled = true;
    reportSettingsProblem();
    bearingLog_ = new BearingLogTab(*this);
    composer_.setBearingLayer([this](QPainter& painter, const MapView& view, bool over) {
        const bool log = bearingLog_->draw(painter, view, over);
        return (over && gps_->draw(painter, view)) || log;  // the own position on top
    });
    initialDrawPending = true;
    resetMailbox(mailbox_);
    remote_ = new RemoteServer(
        [this](int32_t sender, uint32_t code, int32_t length, const char* bytes) {
            return postToMailbox(mailbox_, sender, code, length, bytes);  // the commands run on the timer
        },
        this);
    remote_->listen(remoteSocketPath());
    resultsPending = true;
    overlayPending = true;
    qApp->installEventFilter(this);  // the arrow keys scroll the map from any control
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    ui_->Ed_Pos1->setFocus();  // ready for typing the first observer
    if (trackSettings.trackOptions & TrackSettings::kReloadOnStart)
        loadTrackFileReporting(trackSettings.lastFileName, trackSettings.lastFileType);
    updateGuard = 0;
}

void TBearfix::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TBearfix::FormClose() {
    saveEverything();
    loggingEnabled = false;
}

void TBearfix::saveEverything() {
    takeRemoteInput();  // a command answered "queued" is not lost
    readTrackSettings();  // no redraw: the window may be going away
    writeSettings();
    bearingLog_->save(!unattended_);
}

void TBearfix::MI_QuitClick() { close(); }

// ---- settings ------------------------------------------------------------

void TBearfix::readSettings() {
    SessionSettings s = defaultSettings();
    s.track = trackSettings;
    const std::string path = settingsFilePath();
    IniFile::removeStaleTemporaries(path);  // left by a save that was killed
    IniFile file;
    std::string reason;
    if (file.load(path, &reason) == IniFile::Load::Unreadable) settingsProblem_ = settingsUnreadable(path, reason);
    bearfix::readSettings(file, s);

    Ui::TBearfix& f = *ui_;
    setText(f.Ed_Pos1, s.pos1);
    setText(f.Ed_Pos2, s.pos2);
    setText(f.Ed_Brg1X, s.brg1x);
    setText(f.Ed_Brg2X, s.brg2x);
    setText(f.Ed_Brg1Tol, s.brg1Tol);
    f.Chk_Ambi1->setChecked(s.brg1Amb);
    setText(f.Ed_Brg2Tol, s.brg2Tol);
    f.Chk_Ambi2->setChecked(s.brg2Amb);
    setText(f.Ed_MinElev, s.minElev);
    setText(f.Ed_MaxElev, s.maxElev);
    f.Chk_ShadedGradients->setChecked(s.gradientShading);
    setText(f.Ed_VerticalExaggeration, s.verticalExaggeration);
    setText(f.Ed_SunAzimuth, s.sunAzimuth);
    setText(f.Ed_SunElev, s.sunElevation);
    selectItem(f.CB_ElevColorPalette, s.topoColorPalette);
    applyBounds(s);

    selectItem(f.CB_MapProjection, s.projection);
    selectItem(f.CB_MapCenter, s.centerHow);
    setText(f.Ed_MapCenter, s.centerAt);
    if (GeoPosition p; read_position(s.centerAt, p)) mapCenter = p;
    setText(f.Ed_MapRange, s.rangeKm);
    f.Ck_SwTopo->setChecked(s.showTopo);
    f.Ck_SwCoast->setChecked(s.showCoasts);
    f.Ck_SwBorders->setChecked(s.showBorders);
    f.Ck_SwRivers->setChecked(s.showRivers);
    f.Ck_SwTransmitters->setChecked(s.showTransmitters);
    f.Ck_SwLargeCitiesOnly->setChecked(s.showLargeCities);
    f.Ck_ShowMapRuler->setChecked(s.showRuler);
    selectItem(f.CB_SwCities, s.showCities);
    selectItem(f.CB_SwGrids, s.showGrids);
    elevation().setSource(s.useSrtm3 == 0 ? kGtopo30 : kSrtm);
    (s.useSrtm3 == 0 ? f.RB_UseGTOPO30 : f.RB_UseSRTM3)->setChecked(true);
    setPathText(f.Ed_GtopoDir, s.gtopoDirField);
    setPathText(f.Ed_SRTM3_Dir, s.srtmDirField);
    elevation().setDirectories(s.gtopoDir, s.srtmDir);
    showTileSettings(s);

    trackSettings = s.track;
    showTrackSettings();
    gps_->show(s.live);
    feeds_->show(s.live);
}

SessionSettings TBearfix::currentSession() const {
    const Ui::TBearfix& f = *ui_;
    SessionSettings s;
    s.pos1 = positionText(f.Ed_Pos1);
    s.pos2 = positionText(f.Ed_Pos2);
    s.brg1x = text(f.Ed_Brg1X);
    s.brg2x = text(f.Ed_Brg2X);
    s.brg1Tol = text(f.Ed_Brg1Tol);
    s.brg1Amb = f.Chk_Ambi1->isChecked();
    s.brg2Tol = text(f.Ed_Brg2Tol);
    s.brg2Amb = f.Chk_Ambi2->isChecked();
    s.minElev = text(f.Ed_MinElev);
    s.maxElev = text(f.Ed_MaxElev);
    s.gradientShading = f.Chk_ShadedGradients->isChecked();
    s.verticalExaggeration = text(f.Ed_VerticalExaggeration);
    s.sunAzimuth = text(f.Ed_SunAzimuth);
    s.sunElevation = text(f.Ed_SunElev);
    s.topoColorPalette = f.CB_ElevColorPalette->currentIndex();
    s.bounds = {x(), y(), width(), height()};
    s.maximised = windowState() & Qt::WindowMaximized;

    s.projection = f.CB_MapProjection->currentIndex();
    s.centerHow = f.CB_MapCenter->currentIndex();
    s.centerAt = positionText(f.Ed_MapCenter);
    s.rangeKm = text(f.Ed_MapRange);
    s.showTopo = f.Ck_SwTopo->isChecked();
    s.showCoasts = f.Ck_SwCoast->isChecked();
    s.showBorders = f.Ck_SwBorders->isChecked();
    s.showRivers = f.Ck_SwRivers->isChecked();
    s.showTransmitters = f.Ck_SwTransmitters->isChecked();
    s.showLargeCities = f.Ck_SwLargeCitiesOnly->isChecked();
    s.showRuler = f.Ck_ShowMapRuler->isChecked();
    s.showCities = f.CB_SwCities->currentIndex();
    s.showGrids = f.CB_SwGrids->currentIndex();
    s.useSrtm3 = elevation().source() == kGtopo30 ? 0 : 1;
    s.gtopoDir = elevation().gtopoDirectory();
    s.srtmDir = elevation().srtmDirectory();
    takeTileSettings(s);
    s.track = trackSettings;
    gps_->fill(s.live);
    feeds_->fill(s.live);
    return s;
}

// A file that could not be read is left as it is: writing it would replace
// what it holds with defaults.
void TBearfix::writeSettings() {
    if (!settingsProblem_.empty()) return;  // the user was told at start
    const bool normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    const std::string problem = settingsWriter_.write(settingsFilePath(), currentSession(), normal);
    if (!problem.empty()) reportSaveProblem(problem);
}

void TBearfix::reportSaveProblem(const std::string& text) {
    if (unattended_) {
        logMessage(MessageLevel::Error, "Error: %s", fileNameText(text).c_str());
    } else {
        QMessageBox::critical(this, "Bearfix", QString::fromStdString(text));
    }
}

// Said in the log and in a box that does not hold up the start.
void TBearfix::reportSettingsProblem() {
    if (settingsProblem_.empty()) return;
    logMessage(MessageLevel::Error, "Error: %s", fileNameText(settingsProblem_).c_str());
    QTimer::singleShot(0, this, [this] { dialogs.warn(QString::fromStdString(settingsProblem_)); });
}

// ---- track settings --------------------------------------------------------

void TBearfix::showTrackSettings() {
    Ui::TBearfix& f = *ui_;
    selectItem(f.Cb_PosFormat, trackSettings.posFormat);
    f.Ed_TrackLineWidth->setText(QString::number(trackSettings.trackLineWidth));
    showTrackColours();
    f.Chk_ReloadTracksOnStartup->setChecked(trackSettings.trackOptions & TrackSettings::kReloadOnStart);
}

void TBearfix::showTrackColours() {
    setPanelColours(ui_->Pnl_TrackColors, fromColourRef(trackSettings.trackLineColour),
                    fromColourRef(trackSettings.trackLabelColour));
}

void TBearfix::readTrackSettings() {
    Ui::TBearfix& f = *ui_;
    trackSettings.trackLineWidth = integerIn(f.Ed_TrackLineWidth->text(), 1);
    if (f.Chk_ReloadTracksOnStartup->isChecked()) {
        trackSettings.trackOptions |= TrackSettings::kReloadOnStart;
    } else {
        trackSettings.trackOptions &= ~TrackSettings::kReloadOnStart;
    }
    trackSettings.gpsBaudRate = integerIn(f.CB_GPSPortSpeed->currentText(), trackSettings.gpsBaudRate);
    QString port = f.CB_SerialPort->currentText().left(80);
    if (!port.isEmpty()) {
        bool ok = false;
        int n = port.startsWith("COM") ? port.mid(3).toInt(&ok) : 0;
        if (ok) {
            trackSettings.gpsPort = n;
        } else if (port.compare("soundcard", Qt::CaseInsensitive) == 0) {
            trackSettings.gpsPort = -1;
        }
    }
}

void TBearfix::applyTrackSettings() {
    readTrackSettings();
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    fullMapRedraw();
}

void TBearfix::Btn_ApplyGPSClick() { applyTrackSettings(); }

// ---- update cycle ----------------------------------------------------------

void TBearfix::ObserverPosChanged() {
    if (updateGuard != 0) return;
    updateGuard = 1;
    updateResults();
    drawOverlay();
    updateGuard = 0;
}

void TBearfix::updateResults() {
    Ui::TBearfix& f = *ui_;
    Results r = computeResults(observerTexts(), shownFormat());
    bearingLog_->observersChanged(observerTexts());
    observerA = r.observerA;
    observerB = r.observerB;
    observerAValid = r.validA;
    observerBValid = r.validB;
    setText(f.Ed_Inf1, r.infoA);
    setText(f.Ed_Inf2, r.infoB);
    if (!r.computed) return;
    xForMap_ = r.fix.status == 0 ? format_position(r.fix.x, PosFormat::Dms) : r.locationX;
    if (r.fix.status == 0) locationX = r.fix.x;
    setText(f.Ed_LocX, r.locationX);
    setText(f.Ed_LocApprox, r.locationInfo);
    setText(f.Ed_DistAB, r.distanceAB);
    setText(f.Ed_BrgAB, r.bearingAB);
    setText(f.Ed_BrgBA, r.bearingBA);
    showFixResults(r);
}

void TBearfix::Timer1Timer() {
    if (initialDrawPending) {
        statusPanels_[0]->setText("Drawing....");
        statusPanels_[0]->repaint();
        resizeMapBitmaps();
        drawBaseMap(baseBitmap);
        overlayPending = true;  // drawn below, once, with the results
        statusPanels_[0]->clear();
        initialDrawPending = false;
        if (afterFirstDraw) QTimer::singleShot(0, this, afterFirstDraw);  // once it is on the screen
    }
    takeRemoteInput();
    if (resizeCountdown > 0 && --resizeCountdown == 0) {
        updateGuard = 1;
        resizeMapBitmaps();
        drawBaseMap(baseBitmap);
        overlayPending = true;
        updateGuard = 0;
    }
    if (resultsPending) {
        updateResults();
        resultsPending = false;
    }
    if (overlayPending) {
        drawOverlay();
        overlayPending = false;
    }
}

// The socket's commands and the feeds' bearings that arrived since the last tick.
void TBearfix::takeRemoteInput() {
    std::vector<Bearing> added;  // taken into the log together: one fix for the lot
    const bool remoteChanges = processRemoteCommands(
        mailbox_,
        [this](int field, const std::string& value) {
            QLineEdit* const fields[] = {ui_->Ed_Brg1X, ui_->Ed_Brg2X, ui_->Ed_Pos1, ui_->Ed_Pos2};
            setText(fields[field - 1], value);  // runs the change handling as typing does
        },
        [&added](Bearing b) { added.push_back(std::move(b)); },
        [this](const std::string& token) { bringToFront(token); });
    std::vector<Bearing> received;
    feeds_->takeBearings(added, received);
    if (!added.empty()) bearingLog_->append(std::move(added));
    if (!received.empty()) feeds_->receivedAgain(bearingLog_->append(std::move(received), true));
    if (remoteChanges) resultsPending = overlayPending = true;
}

void TBearfix::showProgress(const std::string& text, int percent) {
    statusPanels_[0]->setText(toQString(text) + QString(" %1%").arg(percent));
    statusPanels_[0]->repaint();
    progressShown_ = true;
}

// ---- map -----------------------------------------------------------------

void TBearfix::resizeMapBitmaps() {
    const QSize size = ui_->Img_Map->size();
    if (baseBitmap.size() != size) baseBitmap = QImage(size, QImage::Format_RGB32);
    if (ui_->Img_Map->picture().size() != size) ui_->Img_Map->picture() = QImage(size, QImage::Format_RGB32);
}

void TBearfix::fullMapRedraw() {
    resizeMapBitmaps();
    drawBaseMap(baseBitmap);
    drawOverlay();
}

MapSettings TBearfix::mapSettings() const {
    MapSettings m = mapSettingsFor(currentSession(), xForMap_);
    m.colourA = toColourRef(ui_->Pn_ColObs1->palette().color(QPalette::Window));
    m.colourB = toColourRef(ui_->Pn_ColObs2->palette().color(QPalette::Window));
    return m;
}

void TBearfix::drawBaseMap(QImage& bitmap) {
    if (bitmap.width() < 10 || bitmap.height() < 10) return;
    escapePressed_ = false;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    composer_.drawBaseMap(bitmap, mapSettings(), mapCenter);
    QGuiApplication::restoreOverrideCursor();
    if (std::exchange(progressShown_, false)) statusPanels_[0]->clear();  // the load has ended
    heldInput_.release(this);
}

void TBearfix::drawOverlay() {
    const GeoPosition none{NAN, NAN};  // nothing is drawn for what is no position
    composer_.drawOverlay(baseBitmap, ui_->Img_Map->picture(), mapSettings(), observerAValid ? observerA : none,
                          observerBValid ? observerB : none);
    ui_->Img_Map->showChanges(composer_.lastChange());
}

void TBearfix::zoomMapSteps(int steps) {
    double range;
    if (composer_.zoomedRange(steps, &range)) showRange(range);
}

void TBearfix::showRange(double range) {
    setText(ui_->Ed_MapRange, formatPicture(range, "###0.##"));
    fullMapRedraw();
}

void TBearfix::Btn_UpdateMapClick() {
    GeoPosition p;  // a text that is no position keeps the centre
    if (ui_->CB_MapCenter->currentIndex() == 0 && read_position(positionText(ui_->Ed_MapCenter), p)) mapCenter = p;
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    fullMapRedraw();
}

void TBearfix::Btn_ZoomInClick() { zoomMapSteps(+1); }
void TBearfix::Btn_ZoomOutClick() { zoomMapSteps(-1); }

void TBearfix::TS_MapScreenResize() { resizeCountdown = 4; }

void TBearfix::placeMapNavigator() {
    QWidget* nav = ui_->Pnl_MapNav;
    nav->adjustSize();
    nav->move(ui_->Img_Map->width() - nav->width() - 4, 4);
}

// Loading elevation tiles keeps the thread busy; meanwhile the window is
// repainted and Escape aborts the load. Other keys, clicks and a close
// request wait for the end of the load, and no timer tick gets through, so
// nothing can start drawing again.
bool TBearfix::elevationLoadAborted() {
    if (!loadPoll_.isValid() || loadPoll_.elapsed() >= 40) {
        loadPoll_.start();
        loadingElevation_ = true;
        QCoreApplication::processEvents();
        loadingElevation_ = false;
    }
    return escapePressed_;
}

bool TBearfix::heldBackWhileLoading(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Timer) return watched == Timer1 || watched == firstTick_ || watched == popupDelay_;
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        escapePressed_ = true;  // at once: it aborts the load
        return true;
    }
    return heldInput_.hold(watched, event, this);
}

bool TBearfix::eventFilter(QObject* watched, QEvent* event) {
    if (loadingElevation_ && heldBackWhileLoading(watched, event)) return true;
    if (event->type() == QEvent::KeyPress && arrowKeyScrolls(static_cast<QKeyEvent*>(event))) return true;
    if (event->type() == QEvent::KeyPress && zoomToFixKey(static_cast<QKeyEvent*>(event))) return true;
    if (event->type() == QEvent::KeyPress && zoomKey(static_cast<QKeyEvent*>(event))) return true;
    if (event->type() == QEvent::Wheel && wheelOverUnfocusedList(watched)) return true;
    if (event->type() == QEvent::MouseButtonRelease && watched == ui_->Pnl_TrackColors) {
        Pnl_TrackColorsClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == ui_->Ed_MapCenter) {
            Ed_MapCenterDblClick();
            return true;
        }
        if (watched == ui_->Ed_Pos1) {
            FindCityforObserverA1Click();
            return true;
        }
        if (watched == ui_->Ed_Pos2) {
            FindCityforObserverB1Click();
            return true;
        }
    }
    if (event->type() == QEvent::Resize) {
        if (watched == ui_->TS_MapScreen) TS_MapScreenResize();
        if (watched == ui_->Img_Map) placeMapNavigator();
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- observers from the place table ---------------------------------------

// Made when first asked for: the window starts sooner without it.
TCitySelForm& TBearfix::cityDialog() {
    if (!citySelForm_) citySelForm_ = new TCitySelForm(this);
    return *citySelForm_;
}

void TBearfix::pickObserverFromTable(QLineEdit* field) {
    updateGuard = 1;
    field->setFocus();
    GeoPosition p;
    read_position(positionText(field), p);
    cityDialog().select_city(&p.lon, &p.lat, nullptr);
    writeObserver(field, p);
    updateGuard = 0;
}

// The results and the overlay follow at once; callers hold updateGuard.
void TBearfix::writeObserver(QLineEdit* field, GeoPosition p) {
    setText(field, format_position(p, PosFormat::Dms));
    updateResults();
    drawOverlay();
}

void TBearfix::FindCityforObserverA1Click() { pickObserverFromTable(ui_->Ed_Pos1); }
void TBearfix::FindCityforObserverB1Click() { pickObserverFromTable(ui_->Ed_Pos2); }

// ---- message log -----------------------------------------------------------

void TBearfix::appendMessage(MessageLevel level, const std::string& text) {
    if (unattended_ && level >= MessageLevel::Warning) std::fprintf(stderr, "bearfix: %s\n", cp1252ToUtf8(text).c_str());
    if (!loggingEnabled) return;
    if (static_cast<int>(level) < ui_->CB_MsgLevel->currentIndex()) return;
    ui_->Mem_Msgs->appendPlainText(toQString(text));
}

void TBearfix::Btn_ClearMsgsClick() { ui_->Mem_Msgs->clear(); }

}  // namespace bearfix
