// File > Export...: the save dialog of the desktop.
#pragma once

class QString;
class QWidget;

namespace bearfix {

// The formats of the dialog's filters, in the order of ExportFormat.
inline constexpr const char* kExportExtensions[] = {".kml", ".gpx", ".geojson", ".csv"};

// Asks for the file to export to, starting in `folder`; `format` is the
// index of the filter chosen.
bool askExportFile(QWidget* parent, const QString& folder, QString* file, int* format);

}  // namespace bearfix
