#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "export/export_writers.h"
#include "fix/bearing_log.h"
#include "support/whole_file.h"

namespace bearfix {

std::optional<ExportFormat> exportFormatFor(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return std::nullopt;
    std::string extension(path.substr(dot + 1));
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (extension == "kml") return ExportFormat::Kml;
    if (extension == "gpx") return ExportFormat::Gpx;
    if (extension == "geojson" || extension == "json") return ExportFormat::GeoJson;
    if (extension == "csv") return ExportFormat::Csv;
    return std::nullopt;
}

const char* featureKindName(FeatureKind kind) {
    switch (kind) {
        case FeatureKind::Observer: return "observer";
        case FeatureKind::Crossing: return "crossing";
        case FeatureKind::BackCrossing: return "back_crossing";
        case FeatureKind::SearchArea: return "search_area";
        case FeatureKind::Sector: return "sector";
        case FeatureKind::LogBearing: return "log_bearing";
        case FeatureKind::LogFix: return "log_fix";
        case FeatureKind::Ellipse: return "ellipse";
        case FeatureKind::Track: return "track";
        case FeatureKind::ProbabilityRegion: return "probability_region";
    }
    return "";
}

unsigned fillAlpha(FeatureKind kind) {
    return kind == FeatureKind::Sector ? 0x40 : kind == FeatureKind::SearchArea ? 0x60 : 0x30;
}

std::string exportText(const ExportModel& model, ExportFormat format) {
    switch (format) {
        case ExportFormat::Kml: return writeKml(model);
        case ExportFormat::Gpx: return writeGpx(model);
        case ExportFormat::GeoJson: return writeGeoJson(model);
        case ExportFormat::Csv: return formatBearingCsv(model.log);
    }
    return {};
}

bool writeExportFile(const std::string& path, ExportFormat format, const ExportModel& model, std::string& error) {
    const std::string text = exportText(model, format);
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = "cannot write " + path + ": not a regular file";
        return false;
    }
    errno = 0;
    if (replaceFileAtomically(path, text)) return true;
    error = "cannot write " + path + ": " + (errno != 0 ? std::strerror(errno) : "the file system refused it");
    return false;
}

}  // namespace bearfix
