#include "tools/export_cli.h"

#include <cstdio>

#include "session/saved_tracks.h"
#include "session/settings.h"
#include "export/export_writers.h"
#include "fix/bearing_log.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "tools/cli_text.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

struct Arguments {
    std::string out;
    std::string config;
    bool configGiven = false;
    std::string bearings;
    std::vector<std::string> tracks;
};

bool parse(const std::vector<std::string>& args, Arguments& a) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--config" || arg == "--bearings") && i + 1 < args.size()) {
            (arg == "--config" ? a.config : a.bearings) = args[++i];
            a.configGiven = a.configGiven || arg == "--config";
        } else if (arg == "--tracks") {
            while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) a.tracks.push_back(args[++i]);
            if (a.tracks.empty()) return false;
        } else if (arg.rfind("--", 0) == 0 || !a.out.empty()) {
            return false;
        } else {
            a.out = arg;
        }
    }
    return !a.out.empty();
}


}  // namespace

int runExport(const std::vector<std::string>& args) {
    Arguments a;
    if (!parse(args, a)) return 2;
    const std::optional<ExportFormat> format = exportFormatFor(a.out);
    if (!format) {
        std::fprintf(stderr, "bearfix-cli: %s: name the file .kml, .gpx, .geojson or .csv\n", a.out.c_str());
        return 2;
    }

    SessionSettings session = defaultSettings();
    IniFile file;
    const std::string config = a.configGiven ? a.config : settingsFilePath();
    std::string reason;
    ExportInput in;
    switch (file.load(config, &reason)) {
        case IniFile::Load::Read: break;
        case IniFile::Load::Missing:
            if (a.configGiven) {
                std::fprintf(stderr, "bearfix-cli: %s: no such file\n", config.c_str());
                return 1;
            }
            // Before the first Quit: the window's example observers are no hunt of the user's.
            std::fprintf(stderr, "bearfix-cli: warning: no settings yet (%s): the observers are left out\n",
                         config.c_str());
            in.withObservers = false;
            break;
        case IniFile::Load::Unreadable:
            std::fprintf(stderr, "bearfix-cli: cannot read %s: %s\n", config.c_str(), reason.c_str());
            return 1;
    }
    readSettings(file, session);

    in.observers = {session.pos1,    session.pos2,    session.brg1x,   session.brg2x,
                    session.brg1Tol, session.brg2Tol, session.brg1Amb, session.brg2Amb};
    in.trackColour = session.track.trackLineColour;
    in.robust = session.robustFix;  // the log's fix as the window shows it
    // The saved log beside the settings, as `render` and the window read it.
    const std::string log = a.bearings.empty() ? config.substr(0, config.rfind('/') + 1) + "bearings.csv" : a.bearings;
    std::string errors;
    switch (loadBearingCsv(log, in.log, errors)) {
        case CsvLoad::Read: break;
        case CsvLoad::Missing:
            if (a.bearings.empty()) break;  // no bearing logged yet
            std::fprintf(stderr, "bearfix-cli: %s: no such file\n", log.c_str());
            return 1;
        case CsvLoad::Bad: printErrorLines(log, errors); return 1;
    }

    setMessageSink([](MessageLevel level, const std::string& text) {
        if (level >= MessageLevel::Warning) std::fprintf(stderr, "bearfix-cli: %s\n", cp1252ToUtf8(text).c_str());
    });
    for (const std::string& track : a.tracks) {
        if (!loadTrackFileReporting(track, kTrackByExtension)) return 1;
    }
    // As the window starts: the saved tracks, and the remembered track file
    // when it is to be reloaded and they do not hold it.
    if (a.tracks.empty()) loadSavedTracks(trackJournalPath(config), session.track);
    in.tracks = &trackStore();

    const ExportModel model = buildExportModel(in);
    for (const std::string& note : model.notes) std::fprintf(stderr, "bearfix-cli: %s\n", note.c_str());
    bool observerBearing = false;
    for (const ExportFeature& f : model.features)
        for (const ExportProperty& p : f.properties)
            observerBearing = observerBearing || (f.kind == FeatureKind::Observer && p.key == "bearing_deg");
    if (!observerBearing && in.log.empty())
        std::fprintf(stderr, "bearfix-cli: warning: no bearings: the observers have none and the bearing log %s is empty\n",
                     log.c_str());
    std::string error;
    if (!writeExportFile(a.out, *format, model, error)) {
        std::fprintf(stderr, "bearfix-cli: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace bearfix
