#include "session/saved_tracks.h"

#include "support/cp1252.h"
#include "support/message_log.h"
#include "tracks/track_import.h"

namespace bearfix {

std::string trackJournalPath(const std::string& settingsPath) {
    return settingsPath.substr(0, settingsPath.rfind('/') + 1) + "tracks.journal";
}

bool journalHolds(const TrackJournalRead& read, const std::string& path, int type) {
    for (const TrackJournalImport& m : read.imports)
        if (m.path == path && m.type == type) return true;
    return false;
}

bool reloadRememberedTracks(const TrackSettings& settings, const TrackJournalRead& read, int32_t* first) {
    if (!(settings.trackOptions & TrackSettings::kReloadOnStart) || settings.lastFileName.empty() ||
        journalHolds(read, settings.lastFileName, settings.lastFileType))
        return false;
    if (first) *first = trackRecordCount();
    return loadTrackFileReporting(settings.lastFileName, settings.lastFileType);
}

std::string journalReadText(const TrackJournalRead& read, const std::string& path, const std::string& keptAs,
                            bool* error) {
    const std::string name = fileNameText(path);
    const std::string kept = keptAs.empty() ? "" : "; kept as " + fileNameText(keptAs);
    if (error) *error = read.status == TrackJournalRead::Status::Unreadable || read.damaged;
    if (read.status == TrackJournalRead::Status::Unreadable)
        return "Cannot read the saved tracks " + name + ": " + read.problem + kept;
    if (read.damaged) return "The saved tracks " + name + " hold " + read.problem + kept;
    if (read.tornBytes > 0)
        return "The saved tracks " + name + " ended in an unfinished write: " + std::to_string(read.tornBytes) +
               " bytes cut";
    return {};
}

void loadSavedTracks(const std::string& journalPath, const TrackSettings& settings) {
    const TrackJournalRead read = readTrackJournal(journalPath, trackStore());
    bool error = false;
    const std::string text = journalReadText(read, journalPath, "", &error);
    if (!text.empty()) logMessage(error ? MessageLevel::Error : MessageLevel::Info, "%s%s", error ? "Error: " : "", text.c_str());
    reloadRememberedTracks(settings, read);
}

}  // namespace bearfix
