#include "tracks/track_journal.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

// Records as text: "#name/colour/origin" for a segment, "+name" for a
// continuation, "lat,lon,alt,YYYY-MM-DD hh:mm:ss.cc,speed,hdop,sats,sample,user,lonGiven" for a point.
std::vector<std::string> records(const TrackBuffer& store) {
    std::vector<std::string> out;
    for (const TrackPoint& r : store) {
        std::ostringstream s;
        if (r.type == kTrackSegment) {
            s << (r.continues ? "+" : "#") << r.name;
            if (!r.continues) s << "/" << r.colour << "/" << int(r.origin);
        } else {
            char time[32] = "";
            if (r.timeValid)
                std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d.%02d", 2000 + r.yearSince2000, r.month,
                              r.day, r.hour, r.minute, r.second, r.hundredths);
            s << r.lat << "," << r.lon << "," << r.altitude << "," << time << "," << r.speedKmh << "," << r.hdop << ","
              << int(r.satellites) << "," << r.sample << "," << r.user1 << "," << int(r.lonGiven);
        }
        out.push_back(s.str());
    }
    return out;
}

// Little-endian fields, each a value and its size in bytes.
std::string le(std::initializer_list<std::pair<uint64_t, int>> fields) {
    std::string out;
    for (auto [v, bytes] : fields)
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
    return out;
}
uint64_t bitsOf(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return bits;
}
std::string frame(const std::string& payload) {
    return le({{payload.size(), 4},
               {crc32(0, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size())), 4}}) +
           payload;
}
const std::string kHeader = std::string("BFTRACKJ") + std::string("\x01\0\0\0\0\0\0\0", 8);

// A journal built by hand from the documented format reads as it says:
// 52.5 N 8.5678 W is 18900000 and -3084408 units of 1/360000 degree, and
// 1716022811.25 s since 1970 is 2024-05-18 09:00:11.25 UTC (Python's datetime).
TEST(TrackJournal, AHandMadeJournalReadsAsDocumented) {
    const std::string first = le({{3, 1}, {0, 1}, {10'000'000, 4}, {uint32_t(-20'000'000), 4}}) +  // a point alone
                              le({{4, 1}, {5, 1}, {8, 2}}) + "/w.gpx\xE4x" +                      // an import
                              le({{1, 1}, {7, 4}, {255, 4}, {2, 1}, {3, 1}}) + "car" +             // a segment
                              le({{3, 1}, {1 | 2 | 16 | 128, 1}, {525'000'000, 4}, {uint32_t(-85'678'000), 4},
                                  {bitsOf(120.5), 8}, {1716022811250, 8}, {9, 1}});
    const std::string second = le({{1, 1}, {8, 4}, {uint32_t(-1), 4}, {1, 1}, {0, 1}}) +  // nameless, the GPS's
                               le({{2, 1}, {7, 4}}) + le({{3, 1}, {0, 1}, {0, 4}, {0, 4}});  // segment 7 again
    TrackBuffer store;
    const TrackJournalRead r = decodeTrackJournal(kHeader + frame(first) + frame(second), store);
    EXPECT_EQ(r.status, TrackJournalRead::Status::Read);
    EXPECT_FALSE(r.damaged) << r.problem;
    EXPECT_EQ(std::tuple(r.points, r.segments, r.goodBytes), std::tuple(3, 3, 16 + 8 + first.size() + 8 + second.size()));
    ASSERT_EQ(r.imports.size(), 1u);
    EXPECT_EQ(std::tuple(r.imports[0].first, r.imports[0].path, r.imports[0].type), std::tuple(1, "/w.gpx\xE4x", 5));
    EXPECT_EQ(records(store), (std::vector<std::string>{"360000,-720000,0,,0,0,0,0,0,0", "#car/255/2",
                                                        "18900000,-3084408,120.5,2024-05-18 09:00:11.25,0,0,9,0,0,1",
                                                        "#/-1/1", "+car", "0,0,0,,0,0,0,0,0,0"}));
}

// A torn last write is cut; a damaged frame with more after it ends the
// reading there, said; junk and journals beyond the limits are refused.
TEST(TrackJournal, TornDamagedAndRefused) {
    const std::string one = le({{1, 1}, {1, 4}, {0, 4}, {0, 1}, {1, 1}}) + "a", two = le({{3, 1}, {0, 1}, {10, 4}, {20, 4}});
    const std::string whole = kHeader + frame(one) + frame(two) + frame(two);
    std::string flipped = whole;
    flipped[kHeader.size() + 9] ^= 1;  // in the first frame's payload
    struct Case {
        std::string name, bytes;
        TrackJournalRead::Status status;
        int64_t points;
        uint64_t torn;
        std::string problem;
    };
    const Case cases[] = {
        {"whole", whole, TrackJournalRead::Status::Read, 2, 0, ""},
        {"cut in the last frame", whole.substr(0, whole.size() - 3), TrackJournalRead::Status::Read, 1, 15, ""},
        {"zeros after a crash", whole + std::string(300, '\0'), TrackJournalRead::Status::Read, 2, 300, ""},
        {"a flipped bit", flipped, TrackJournalRead::Status::Read, 0, 0,
         "a damaged frame at byte 16: the rest is not read"},
        {"an unknown record", kHeader + frame("\x09"), TrackJournalRead::Status::Read, 0, 0,
         "an unknown record 9 at byte 24: the rest is not read"},
        {"a latitude of 91", kHeader + frame(le({{3, 1}, {0, 1}, {910'000'000, 4}, {0, 4}})),
         TrackJournalRead::Status::Read, 0, 0, "a bad point record at byte 24: the rest is not read"},
        {"three points", whole + frame(two), TrackJournalRead::Status::Read, 2, 0,
         "more than 2 points: the rest is not read"},
        {"no journal", "BFTRACKX" + kHeader.substr(8), TrackJournalRead::Status::Unreadable, 0, 0,
         "not a track journal"},
        {"a newer one", "BFTRACKJ" + std::string("\x02\0\0\0\0\0\0\0", 8), TrackJournalRead::Status::Unreadable, 0, 0,
         "a track journal of format 2, written by a newer Bearfix"},
    };
    TrackJournalLimits limits;
    limits.maxPoints = 2;
    for (const Case& c : cases) {
        TrackBuffer store;
        const TrackJournalRead r = decodeTrackJournal(c.bytes, store, nullptr, limits);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.points, c.points) << c.name;
        EXPECT_EQ(r.tornBytes, c.torn) << c.name;
        EXPECT_EQ(r.problem, c.problem) << c.name;
        EXPECT_EQ(r.damaged, !c.problem.empty() && c.status == TrackJournalRead::Status::Read) << c.name;
    }
    testing::TempDir dir;
    limits.maxBytes = whole.size() - 1;
    TrackBuffer store;
    const TrackJournalRead big = readTrackJournal(dir.write("big", whole), store, nullptr, limits);
    EXPECT_EQ(big.status, TrackJournalRead::Status::Unreadable);
    EXPECT_EQ(big.problem, "larger than 0 MB");
}

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The window's journal: written as the store grows (its directory made
// when missing, as before the first Quit), its torn tail cut off the file
// before the next append, emptied by a Clear, a damaged one kept aside and
// written anew, a full one said once.
TEST(TrackJournal, TheWindowsJournalFollowsTheStore) {
    testing::TempDir dir;
    const auto path = dir.path() / "bearfix" / "tracks.journal";
    std::vector<std::string> said;
    setMessageSink([&said](MessageLevel, const std::string& text) { said.push_back(text); });
    TrackBuffer store;
    TrackPoint p;
    initTrackPoint(p);
    p.valid = 1;
    {
        TrackJournal journal(path.string());
        EXPECT_EQ(journal.restore(store).status, TrackJournalRead::Status::Missing);
        journal.sync(store);
        journal.close(store);
        EXPECT_FALSE(std::filesystem::exists(path)) << "nothing to keep yet";
        store.beginSegment("GPS", -1, TrackOrigin::Gps);
        store.append(p);
        journal.sync(store);
        store.append(p);
        journal.close(store);
    }
    const std::vector<std::string> written = records(store);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string("\x20\0\0\0\x01\x02", 6);  // a torn write
    store.clear();
    {
        TrackJournal journal(path.string());
        const TrackJournalRead r = journal.restore(store);
        EXPECT_EQ(r.tornBytes, 6u);
        EXPECT_EQ(records(store), written);
        store.append(p);
        journal.close(store);
    }
    TrackBuffer back;
    EXPECT_EQ(readTrackJournal(path.string(), back).tornBytes, 0u) << "cut before the append";
    EXPECT_EQ(records(back), records(store));
    {
        TrackJournal journal(path.string());
        store.clear();
        journal.restore(store);
        store.clear();
        journal.close(store);
    }
    EXPECT_EQ(fileBytes(path), TrackJournalEncoder::header()) << "cleared";

    std::string damaged = kHeader + frame("\x09") + frame("\x09");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
    TrackJournalLimits limits;
    limits.maxPoints = 3;
    TrackJournal journal(path.string(), limits);
    store.clear();
    journal.restore(store);
    EXPECT_EQ(journal.keptAs(), path.string() + ".bad");
    EXPECT_EQ(fileBytes(path.string() + ".bad"), damaged);
    for (int i = 0; i < 5; ++i) store.append(p);
    journal.sync(store);
    store.append(p);
    journal.close(store);
    back.clear();
    EXPECT_EQ(readTrackJournal(path.string(), back).points, 3);
    EXPECT_EQ(said, std::vector<std::string>{"Warning: the track journal holds all it may (3 points, 256 MB): later "
                                             "track points are not saved"});
    setMessageSink({});
}

}  // namespace
}  // namespace bearfix
