// What the Bearings tab holds: the bearings of the observer fields (as the
// first rows, while both fields of an observer are filled and the user gave
// the bearing) followed by the bearing log, their best fix, and the texts the
// table and the Numeric Results show. Toolkit-free, so that the command line
// draws the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "session/results.h"
#include "fix/bearing.h"
#include "fix/multi_fix.h"

namespace bearfix {

struct SessionSettings;

enum class BearingColumn : int { Station, Time, Position, Bearing, Tolerance, Source, Residual, Use, Count };

struct BearingRows {
    std::vector<Bearing> rows;  // observer rows first, then the log
    int observers = 0;          // 0..2
    char letters[2] = {0, 0};   // 'A' or 'B' for each observer row
    // Whether each observer's bearing takes part; for the session only.
    bool observerEnabled[2] = {true, true};
    // Whether each observer's fields make a row: the user gave the bearing
    // (an untouched example is none), and A does not follow the GPS (then a
    // bearing given goes into the log, pinned where it was taken).
    bool observerGiven[2] = {true, true};
    bool robust = false;
    // Above 0: only the bearings of the last so many minutes take part,
    // counted back from the newest time in the log (so that a hunt read
    // from a file fits as it did); bearings without a time always do. Their
    // own Use stays as the user set it.
    double lastMinutes = 0.0;
    std::optional<int64_t> notBeforeUtc;  // what refit took from lastMinutes
    FixResult fix;  // of all rows, one BearingFit per row
    // Enabled observer rows the fix leaves out: with them the other bearings
    // had no fix, for the reason `withObservers`.
    bool observerLeftOut[2] = {false, false};
    FixStatus withObservers = FixStatus::Found;

    std::size_t logSize() const { return rows.size() - static_cast<std::size_t>(observers); }
    std::span<const Bearing> log() const { return std::span(rows).subspan(static_cast<std::size_t>(observers)); }
    bool isObserver(std::size_t row) const { return row < static_cast<std::size_t>(observers); }
    // An enabled observer row that the fix leaves out.
    bool isLeftOut(std::size_t row) const { return isObserver(row) && observerLeftOut[letters[row] - 'A']; }
    // A bearing older than the last minutes that count.
    bool isAgedOut(std::size_t row) const {
        return notBeforeUtc && row < rows.size() && rows[row].utc && *rows[row].utc < *notBeforeUtc;
    }
};

// The bearing of an observer as the result fields read it (X of the main
// window is their crossing), when its position field holds a position and
// its bearing field starts with a finite number; station "A" or "B", source
// typed. With `given`, only of the observers it holds true for.
std::vector<Bearing> observerBearings(const ObserverTexts& in, char* letters, const bool* given = nullptr);

// The bearing of observer `letter` ('A' or 'B') to be kept in the log,
// pinned to where its position field says and to the time `utc`; nothing
// when its fields make no bearing.
std::optional<Bearing> pinnedObserverBearing(const ObserverTexts& in, char letter, int64_t utc, BearingSource source);

// Puts the observer rows of `in` in place (of the observers `rows.observerGiven`
// holds true for); false when they stay as they were (then the fix need not
// be redone).
bool setObserverRows(BearingRows& rows, const ObserverTexts& in);
// The same for the fields, the bearings given and the fix's mode of a
// session, as the window starts with them.
bool setSessionObserverRows(BearingRows& rows, const SessionSettings& session);

// The first time that counts with `lastMinutes` (above 0): the newest time
// of the log's bearings less those minutes; nothing when all count.
std::optional<int64_t> ageCutoff(std::span<const Bearing> log, double lastMinutes);

// Recomputes the fix of every row, leaving out the bearings older than
// `lastMinutes` (notBeforeUtc is set first). When the enabled observer rows keep the
// others from having a fix (a bearing left in a field from an earlier hunt
// that points away from this one), the fix is that of the others, leaving
// out as few observer rows as will do.
void refit(BearingRows& rows);

// The rows as the fix takes them: an observer row left out and a bearing
// too old are not enabled.
std::vector<Bearing> rowsAsFitted(const BearingRows& rows);

// The log holds an enabled bearing of its own: only then the map draws the
// log, so that the two observers alone look as they always did.
bool logShowsOnMap(const BearingRows& rows);

// A field of a bearing as the table shows it, or with `forEditing` as an
// editor starts from (numbers in full, the position in decimal degrees). Not
// for Source, Residual and Use, which depend on the row.
std::string bearingText(const Bearing& bearing, BearingColumn column, bool forEditing);

// The text of a cell: the display text, or with `forEditing` what an editor
// starts from (numbers in full).
std::string cellText(const BearingRows& rows, std::size_t row, BearingColumn column, bool forEditing = false);

// Changes a cell of a log row from typed text (Windows-1252); false with
// `why` ("bearing \"abc\" is not a number") and the row untouched. The fix is
// not redone. Observer rows take only Use.
bool editCell(BearingRows& rows, std::size_t row, BearingColumn column, std::string_view text, std::string& why);

// A bearing from the texts of the add/edit dialog (station, time, position,
// bearing, tolerance); false with `why`.
bool bearingFromTexts(std::string_view station, std::string_view time, std::string_view position,
                      std::string_view bearing, std::string_view tolerance, Bearing& out, std::string& why);

// Of `bearings`, those that the log has room for (a warning says how many
// did not fit) and, with `skipKnown`, that no row holds yet: the same
// station, time, position, bearing and tolerance, as read back from a file
// (their number in `skipped`).
std::vector<Bearing> bearingsToAppend(const BearingRows& rows, std::vector<Bearing> bearings, bool skipKnown,
                                      std::size_t* skipped = nullptr);

// The log file: "bearings.csv" beside the settings file.
std::string bearingLogPath();

// What Numeric Results shows of the fix (Windows-1252).
struct FixSummary {
    std::string title;     // "Fix (8 bearings)"
    std::string position;  // "N50°06'00\" E008°36'00\"" or "none, fewer than two usable bearings"
    std::string place;     // the nearest place; empty without a fix
    std::string ellipse95; // "2.3 × 0.8 km, 45°"; empty without a fix
    std::string scaled;    // "scaled ×2.1 for scatter" when the ellipses are; else empty
    std::string leftOut;   // empty unless an observer row is left out
};
FixSummary fixSummary(const FixResult& fix);
// The same for the rows of the tab: the title names the observers left out
// ("Fix (8 bearings, without A and B)") and `leftOut` says why
// ("A and B left out: with them, no crossing lies ahead of every station").
FixSummary fixSummary(const BearingRows& rows);

}  // namespace bearfix
