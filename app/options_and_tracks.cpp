// The "Options" tab, the Help and File menus, and the "GPS / Track" tab.
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "session/data_files.h"
#include "session/saved_tracks.h"
#include "session/settings.h"
#include "app/export_window.h"
#include "app/line_edits.h"
#include "app/main_window.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "support/cp1252.h"
#include "tracks/track_import.h"
#include "tracks/track_journal.h"
#include "tracks/track_store.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

// The file dialog's filters, and the file type each one passes to the import.
// With the first, each file is read as the filter for its extension reads it.
struct TrackFilter {
    const char* text;
    int type;
};
constexpr TrackFilter kTrackFilters[] = {
    {"All supported (*.kml *.xml *.gpx *.aux *.csv *.log *.nma)", -1},
    {"Google Earth paths (*.kml *.xml)", kTrackKml},
    {"GPS tracks in CSV (*.csv)", kTrackNmea},  // a .csv file is read as CSV whatever the filter says
    {"NMEA 0183 logfile (*.log *.nma)", kTrackAux},
    {"Wavemill auxiliary track file (*.aux)", kTrackByExtension},
    {"GPS Exchange (*.gpx)", kTrackGpx},
};

int trackFileType(const QString& file, int filter) {
    filter = std::clamp(filter, 0, static_cast<int>(std::size(kTrackFilters)) - 1);
    if (kTrackFilters[filter].type >= 0) return kTrackFilters[filter].type;
    const QRegularExpression pattern("[( ]\\*\\." + QRegularExpression::escape(QFileInfo(file).suffix().toLower()) +
                                     "[ )]");
    for (const TrackFilter& f : kTrackFilters)
        if (f.type >= 0 && QString(f.text).contains(pattern)) return f.type;
    return kTrackByExtension;
}

}  // namespace

TBearfix::Dialogs TBearfix::desktopDialogs() {
    Dialogs d;
    d.chooseTrackFiles = [this](QStringList* files, int* filter) {
        QStringList filters;
        for (const TrackFilter& f : kTrackFilters) filters << f.text;
        QString selected;
        *files = QFileDialog::getOpenFileNames(this, "Import GPS tracks or similar files", QString(), filters.join(";;"),
                                               &selected);
        *filter = std::max<int>(0, static_cast<int>(filters.indexOf(selected)));
        return !files->isEmpty();
    };
    d.ask = [this](const QString& question) {
        return QMessageBox::question(this, "Bearfix", question,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    };
    d.chooseColour = [this](const QString& title, QColor* colour) {
        const QColor chosen = QColorDialog::getColor(*colour, this, title);
        if (!chosen.isValid()) return false;
        *colour = chosen;
        return true;
    };
    d.inform = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, "Bearfix", text, QMessageBox::Ok, this);
        box.exec();
    };
    d.warn = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, "Bearfix", text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    d.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    d.chooseExportFile = [this](QString* file, int* format) {
        return askExportFile(this, exportFolder(), file, format);
    };
    return d;
}

// ---- options -------------------------------------------------------------------

void TBearfix::Cb_PosFormatChange() {
    if (updateGuard != 0) return;
    const int index = ui_->Cb_PosFormat->currentIndex();
    if (index == trackSettings.posFormat) return;
    trackSettings.posFormat = index;
    updateGuard = 1;
    updateResults();  // the result positions in the new form; the map's read-out follows the mouse
    updateGuard = 0;
}

void TBearfix::ApplyOptions() {
    if (updateGuard != 0) return;
    updateGuard = 1;
    const int source = ui_->RB_UseSRTM3->isChecked() ? kSrtm : kGtopo30;
    if (source != elevation().source()) {
        elevation().setSource(source);
        elevation().forceReload();
        fullMapRedraw();
    }
    updateGuard = 0;
}

// A directory typed into the options is used from then on and saved at
// close; the map follows at once when that data set is in use.
void TBearfix::ElevationDirectoryEdited() {
    const std::string gtopo = pathIn(ui_->Ed_GtopoDir);
    const std::string srtm = pathIn(ui_->Ed_SRTM3_Dir);
    const std::string& gtopoInUse = elevation().gtopoDirectory();
    const std::string& srtmInUse = elevation().srtmDirectory();
    const std::string newGtopo = gtopo.empty() ? gtopoInUse : truncateUtf8(gtopo, kMaxDirectory);
    const std::string newSrtm = srtm.empty() ? srtmInUse : truncateUtf8(srtm, kMaxDirectory);
    const bool redraw = (elevation().source() == kGtopo30 ? newGtopo != gtopoInUse : newSrtm != srtmInUse);
    elevation().setDirectories(newGtopo, newSrtm);
    if (redraw && ui_->Ck_SwTopo->isChecked()) fullMapRedraw();
}

// ---- help and quit ---------------------------------------------------------------

QUrl TBearfix::helpPage() const {
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromStdString(findDataFile("html/bearfix.htm"))));
}

// Said in a box when the page is missing or nothing can show it.
void TBearfix::MI_IndexClick() {
    const QString path = helpPage().toLocalFile();
    if (!QFile::exists(path)) {
        dialogs.inform("The help page " + path + " is missing.");
    } else if (!dialogs.openUrl(helpPage())) {
        dialogs.inform("No web browser could be started to show the help page.\nOpen " + path + " with a browser.");
    }
}

QString TBearfix::aboutText() const {
    return QString("Bearfix by the Bearfix developers.\n"
                   "Details in the help system ..html/bearfix.htm or here:\n"
                   "\n"
                   "  %1\n"
                   "\n"
                   "Version %2\n"
                   "Compiled: %3\n"
                   "\n")
        .arg(helpPage().toString(), QString(BEARFIX_VERSION), QString(__DATE__));
}

void TBearfix::MI_AboutClick() { dialogs.inform(aboutText()); }

// ---- GPS / track tab -----------------------------------------------------------------

void TBearfix::MI_ImportGPSTrackClick() {
    QStringList files;
    int filter = 0;
    if (!dialogs.chooseTrackFiles(&files, &filter)) return;
    if (trackRecordCount() > 0) {
        switch (dialogs.ask("A track has already been loaded.\n"
                            "Clear the old track before loading the new ?\n"
                            " ( Select 'YES' to clear old track before loading,\n"
                            "   or 'NO' to APPEND the new track to the existing ones)")) {
            case QMessageBox::Yes: clearTracks(); break;
            case QMessageBox::No: break;
            default: return;
        }
    }
    for (const QString& file : files) {
        const std::string path = QFile::encodeName(file).toStdString();
        const int type = trackFileType(file, filter);
        const int32_t first = trackRecordCount();
        if (loadTrackFileReporting(path, type)) {
            trackSettings.lastFileName = truncateUtf8(path, TrackSettings::kMaxFileName);
            trackSettings.lastFileType = type;
            // Kept with the tracks: the reload at start does not read it twice.
            trackJournal_->noteImport(trackStore(), first, trackSettings.lastFileName, type);
        }
    }
    fullMapRedraw();
}

void TBearfix::Btn_ClearTracksClick() {
    applyTrackSettings();
    clearTracks();
    trackJournal_->sync(trackStore());  // the saved tracks go too, at once
    ui_->PageControl1->setCurrentWidget(ui_->TS_MapScreen);
    fullMapRedraw();
}

// The tracks of the last run from the journal, then the remembered track
// file when the settings say to reload it and the journal does not hold it;
// from then on the journal follows the store every second.
void TBearfix::restoreTracks() {
    const std::string path = trackJournalPath(settingsFilePath());
    trackJournal_ = std::make_unique<TrackJournal>(path);
    const TrackJournalRead read = trackJournal_->restore(trackStore());
    bool error = false;
    const std::string text = journalReadText(read, path, trackJournal_->keptAs(), &error);
    if (error) {
        logMessage(MessageLevel::Error, "Error: %s", text.c_str());
        QTimer::singleShot(0, this, [this, text] { dialogs.warn(toQString(text)); });
    } else if (!text.empty()) {
        logMessage(MessageLevel::Info, "%s", text.c_str());
    }
    int32_t first = 0;
    if (reloadRememberedTracks(trackSettings, read, &first))
        trackJournal_->noteImport(trackStore(), first, trackSettings.lastFileName, trackSettings.lastFileType);
    journalTimer_ = new QTimer(this);
    journalTimer_->setInterval(1000);  // a kill loses at most the last second
    connect(journalTimer_, &QTimer::timeout, this, [this] { trackJournal_->sync(trackStore()); });
    journalTimer_->start();
}

void TBearfix::Pnl_TrackColorsClick() {
    QColor labels = fromColourRef(trackSettings.trackLabelColour);
    if (dialogs.chooseColour("Colour of TRACK LABELS", &labels)) trackSettings.trackLabelColour = toColourRef(labels);
    QColor lines = fromColourRef(trackSettings.trackLineColour);
    if (dialogs.chooseColour("Colour of TRACK BACKGND", &lines)) trackSettings.trackLineColour = toColourRef(lines);
    showTrackColours();  // the other controls of the tab may hold edits not yet applied
}

}  // namespace bearfix
