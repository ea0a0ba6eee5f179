// Writing the settings file: at close, and in the background while the
// window runs, so that a power loss or a kill costs at most the changes since
// the last background write. Toolkit-free.
#pragma once

#include <functional>
#include <future>
#include <string>

#include "session/settings.h"

namespace bearfix {

// Why the settings file is neither read nor written.
std::string settingsUnreadable(const std::string& path, const std::string& reason);

class SettingsWriter {
public:
    SettingsWriter() = default;
    SettingsWriter(const SettingsWriter&) = delete;
    SettingsWriter& operator=(const SettingsWriter&) = delete;
    ~SettingsWriter();  // waits for a background write under way

    // The text `s` gives in an empty file: two sessions that save alike give
    // the same text.
    static std::string fingerprint(const SessionSettings& s, bool writeBounds);

    // Merges `s` into the file at `path` (keeping what the file holds that
    // the program does not write) and replaces the file atomically, after
    // waiting for a background write. Empty when written; otherwise the
    // message for the user ("Cannot read ...", "Unable to write to ...").
    std::string write(const std::string& path, const SessionSettings& s, bool writeBounds);

    // Takes `s` as what the file holds already (the session read at start).
    void remember(const SessionSettings& s, bool writeBounds);

    // Starts write() on a thread of its own when `s` saves differently from
    // what was last written or remembered and no background write is under
    // way; `done` gets write()'s answer on that thread. A failed write is
    // tried again at the next call. True when started.
    bool writeInBackground(const std::string& path, const SessionSettings& s, bool writeBounds,
                           std::function<void(const std::string& problem)> done);

    // Returns once no background write is under way.
    void wait();

private:
    static std::string writeFile(const std::string& path, const SessionSettings& s, bool writeBounds);

    std::string written_;  // the fingerprint of what the file holds
    std::string writing_;  // and of what the background write writes
    std::future<std::string> background_;
};

}  // namespace bearfix
