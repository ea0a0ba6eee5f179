// The track journal: what the track store holds, kept in a file beside the
// settings as it grows (every second), so that a quit, a crash or a kill
// loses at most the last second of it, and read back at the next start.
//
// Its format is its own, not the store's records:
//   header  "BFTRACKJ", u32 version (1), u32 0
//   frames  u32 payload length (1 .. 1 MiB), u32 CRC-32 of the payload, payload
// A payload holds records, each a type byte and its fields, little-endian:
//   1 segment   u32 id, i32 colour (0x00BBGGRR, -1 the tab's), u8 origin
//               (0 file, 1 GPS, 2 remote), u8 n, n bytes of name (Windows-1252)
//   2 continue  u32 id: the points that follow belong to that segment again
//   3 point     u8 fields, i32 latitude, i32 longitude (1e-7 degree), then
//               as the fields say: 1 height f64 m, 2 time i64 ms since 1970
//               UTC, 4 speed f64 km/h, 8 HDOP f64, 16 satellites u8,
//               32 sample i32, 64 user value f64; 128 the longitude was given
//   4 import    u8 file type, u16 n, n bytes of path: the records that follow
//               came from that file
// Points before any segment belong to none. A frame is written whole with
// one write(); a torn last frame (short, or a bad checksum at the end) is
// cut on reading; a bad frame with more after it is damage: what comes
// before it is read, and the reader says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/append_file.h"
#include "tracks/track_store.h"

namespace bearfix {

struct TrackJournalLimits {
    uint64_t maxBytes = uint64_t{256} << 20;
    int64_t maxPoints = 4'000'000;
    int64_t maxHeaders = 4'000'000;  // segments and continuations
    uint32_t maxFrame = 1u << 20;
};

struct TrackJournalImport {
    int32_t first = 0;  // the store's record where the file's records begin
    std::string path;   // as the file system spells it
    int type = 0;       // the import's file type
};

struct TrackJournalRead {
    enum class Status { Read, Missing, Unreadable };
    Status status = Status::Missing;
    // Unreadable: why nothing was read. Read: what was not read when the
    // journal is damaged or beyond the limits; empty when all was read.
    std::string problem;
    bool damaged = false;     // read, but not to its end
    uint64_t tornBytes = 0;   // an unfinished last write, cut
    uint64_t goodBytes = 0;   // the header and the whole frames read
    int64_t points = 0;       // points and segments stored
    int64_t segments = 0;
    std::vector<TrackJournalImport> imports;
};

// Turns the store's records into journal frames, carrying over what a
// journal already holds (the segments' ids) from one call to the next.
class TrackJournalEncoder {
public:
    static std::string header();
    // The records [from, to) of `store`, with the marks of `imports` not yet
    // written among them (a list that only grows between resets), as frames
    // appended to `out`. Points beyond the limits are left out (and `full`
    // says so); so are points off the earth (latitude beyond 90).
    void encode(const TrackBuffer& store, int32_t from, int32_t to, const std::vector<TrackJournalImport>& imports,
                std::string& out);
    // Forgets the journal's segments: what is encoded next starts a new file.
    void reset();
    bool full() const { return full_; }
    uint64_t bytes() const { return bytes_; }

    TrackJournalLimits limits;

private:
    friend TrackJournalRead decodeTrackJournal(std::string_view, TrackBuffer&, TrackJournalEncoder*,
                                               const TrackJournalLimits&);
    std::unordered_map<int32_t, uint32_t> ids_;  // the store's segment number: its id in the journal
    uint32_t nextId_ = 1;
    int64_t points_ = 0, headers_ = 0;
    uint64_t bytes_ = 0;
    std::size_t marks_ = 0;  // of the imports, those written
    bool full_ = false;
};

// Reads a journal's bytes into `store` (records appended). With `resume`,
// the encoder that goes on writing this journal learns its segments.
TrackJournalRead decodeTrackJournal(std::string_view bytes, TrackBuffer& store, TrackJournalEncoder* resume = nullptr,
                                    const TrackJournalLimits& limits = {});
// The file at `path`, which is not changed; files larger than
// limits.maxBytes are refused.
TrackJournalRead readTrackJournal(const std::string& path, TrackBuffer& store, TrackJournalEncoder* resume = nullptr,
                                  const TrackJournalLimits& limits = {});

// The journal of a running window: restored at start, kept up with the
// store once a second and at quit.
class TrackJournal {
public:
    explicit TrackJournal(std::string path, TrackJournalLimits limits = {});

    // Reads the journal into `store` and gets ready to go on writing it. A
    // torn tail is cut off the file; a journal that cannot be read, or not to
    // its end, is kept as PATH.bad (`keptAs`) and written anew from what was
    // read.
    TrackJournalRead restore(TrackBuffer& store);
    const std::string& keptAs() const { return keptAs_; }
    // The file `path` of `type` was read into the store from record `first` on.
    void noteImport(TrackBuffer& store, int32_t first, const std::string& path, int type);
    // Writes what the store gained since the last call, or the whole
    // journal anew when records were removed or changed (a Clear). Failures
    // and a full journal are logged once.
    void sync(TrackBuffer& store);
    // sync(), then waits until the file is written and synced.
    void close(TrackBuffer& store);

private:
    void takeChanges(TrackBuffer& store);
    void rewrite(const TrackBuffer& store);

    AppendFile file_;
    TrackJournalEncoder encoder_;
    std::vector<TrackJournalImport> imports_;
    int32_t written_ = 0;  // the store's records in the journal
    bool restored_ = false;
    bool mustRewrite_ = true;
    bool fileHolds_ = false;  // the file is there: a Clear must empty it
    static constexpr int kRetrySyncs = 30;
    int retryIn_ = 0;  // syncs before a broken file is written anew
    bool toldFull_ = false;
    std::string lastError_;
    std::string keptAs_;
};

}  // namespace bearfix
