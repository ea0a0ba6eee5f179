// The tracks kept between runs: the track journal beside the settings file
// (tracks/track_journal.h) and the remembered track file that the settings
// say to reload at start. Shared by the window and the command line, so
// that both show the same tracks.
#pragma once

#include <string>

#include "tracks/track_journal.h"
#include "tracks/track_settings.h"

namespace bearfix {

// "tracks.journal" beside the settings file at `settingsPath`.
std::string trackJournalPath(const std::string& settingsPath);

// Whether the journal read holds the tracks of the file (it was imported and
// not cleared since): then reloading it would show them twice.
bool journalHolds(const TrackJournalRead& read, const std::string& path, int type);

// The remembered track file, when the settings say to reload it and the
// journal does not hold it; true when it was loaded (from record `first`).
bool reloadRememberedTracks(const TrackSettings& settings, const TrackJournalRead& read, int32_t* first = nullptr);

// What to tell of a journal read: what was cut or not read (and where the
// file was kept, when `keptAs` is given); empty when there is nothing to tell.
// `error` says whether it is more than a torn last write.
std::string journalReadText(const TrackJournalRead& read, const std::string& path, const std::string& keptAs,
                            bool* error = nullptr);

// As the window starts, for the command line: the journal at `journalPath`
// read into the track store (the file left as it is), then the remembered
// track file. What went wrong is logged.
void loadSavedTracks(const std::string& journalPath, const TrackSettings& settings);

}  // namespace bearfix
