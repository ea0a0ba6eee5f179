// File > Export...: what the window shows, written by the toolkit-free export.
#include "app/export_window.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <filesystem>

#include "app/bearing_log_model.h"
#include "app/bearing_log_tab.h"
#include "app/main_window.h"
#include "export/export_writers.h"
#include "map/qt_convert.h"
#include "support/cp1252.h"
#include "tracks/track_store.h"

namespace bearfix {

bool askExportFile(QWidget* parent, const QString& folder, QString* file, int* format) {
    const QStringList filters = {"Google Earth (*.kml)", "GPS exchange (*.gpx)", "GeoJSON for GIS (*.geojson)",
                                 "Bearing log CSV (*.csv)"};
    QString selected;
    *file = QFileDialog::getSaveFileName(parent, "Export", folder, filters.join(";;"), &selected);
    *format = std::max<int>(0, static_cast<int>(filters.indexOf(selected)));
    return !file->isEmpty();
}

QString TBearfix::exportFolder() const {
    const QString last = QFile::decodeName(QByteArray::fromStdString(exportFolder_));
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

std::vector<Bearing> TBearfix::bearingsToExport() const {
    // Every row of the Bearings tab, A and B included, as its fix uses them.
    return rowsAsFitted(bearingLog_->model().rows());
}

void TBearfix::MI_ExportClick() {
    QString chosen;
    int filter = 0;
    if (!dialogs.chooseExportFile(&chosen, &filter)) return;
    std::string path = QFile::encodeName(chosen).toStdString();
    std::optional<ExportFormat> format = exportFormatFor(path);
    if (!format) {  // the dialog's filter names the format
        filter = std::clamp(filter, 0, static_cast<int>(std::size(kExportExtensions)) - 1);
        path += kExportExtensions[filter];
        format = static_cast<ExportFormat>(filter);
    }
    ExportInput in;
    in.observers = observerTexts();
    const MapSettings map = mapSettings();
    in.colourA = map.colourA;
    in.colourB = map.colourB;
    in.log = bearingsToExport();
    in.observerRows = bearingLog_->model().rows().observers;  // coloured as the map: A's, B's, the stations
    in.robust = bearingLog_->model().rows().robust;  // the fix as the tab shows it
    in.tracks = &trackStore();
    in.trackColour = trackSettings.trackLineColour;
    const ExportModel model = buildExportModel(in);
    for (const std::string& note : model.notes) logMessage(MessageLevel::Info, "%s", utf8ToCp1252(note).c_str());
    std::string error;
    if (!writeExportFile(path, *format, model, error)) {
        logMessage(MessageLevel::Error, "%s", fileNameText(error).c_str());
        dialogs.warn(QString::fromUtf8(error.c_str()));
        return;
    }
    logMessage(MessageLevel::Info, "Exported to %s", fileNameText(path).c_str());
    std::error_code ec;  // the next export starts there
    exportFolder_ = std::filesystem::absolute(path, ec).parent_path().string();
}

}  // namespace bearfix
