#include "tracks/track_journal.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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

void put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}
void putDouble(std::string& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put(out, bits, 8);
}
std::string frame(const std::string& payload) {
    std::string out;
    put(out, payload.size(), 4);
    put(out, crc32(0, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size())), 4);
    return out + payload;
}
const std::string kHeader = std::string("BFTRACKJ") + std::string("\x01\0\0\0\0\0\0\0", 8);

// A journal built by hand from the documented format reads as it says:
// 52.5 N 8.5678 W is 18900000 and -3084408 units of 1/360000 degree, and
// 1716022811.25 s since 1970 is 2024-05-18 09:00:11.25 UTC (Python's datetime).
TEST(TrackJournal, AHandMadeJournalReadsAsDocumented) {
    std::string payload;
    put(payload, 3, 1);  // a point before any segment: latitude and longitude only
    put(payload, 0, 1);
    put(payload, 10'000'000, 4);
    put(payload, static_cast<uint32_t>(-20'000'000), 4);
    put(payload, 4, 1);  // an import mark
    put(payload, 5, 1);
    put(payload, 8, 2);
    payload += "/w.gpx\xE4x";
    put(payload, 1, 1);  // segment 7, "car", colour 255, remote
    put(payload, 7, 4);
    put(payload, 255, 4);
    put(payload, 2, 1);
    put(payload, 3, 1);
    payload += "car";
    put(payload, 3, 1);
    put(payload, 1 | 2 | 16 | 128, 1);
    put(payload, 525'000'000, 4);
    put(payload, static_cast<uint32_t>(-85'678'000), 4);
    putDouble(payload, 120.5);
    put(payload, 1716022811250, 8);
    put(payload, 9, 1);
    std::string second;
    put(second, 1, 1);  // segment 8, nameless, the tab's colour, the GPS's
    put(second, 8, 4);
    put(second, static_cast<uint32_t>(-1), 4);
    put(second, 1, 1);
    put(second, 0, 1);
    put(second, 2, 1);  // segment 7 again
    put(second, 7, 4);
    put(second, 3, 1);
    put(second, 0, 1);
    put(second, 0, 4);
    put(second, 0, 4);
    TrackBuffer store;
    const TrackJournalRead r = decodeTrackJournal(kHeader + frame(payload) + frame(second), store);
    EXPECT_EQ(r.status, TrackJournalRead::Status::Read);
    EXPECT_FALSE(r.damaged) << r.problem;
    EXPECT_EQ(r.points, 3);
    EXPECT_EQ(r.segments, 3);
    ASSERT_EQ(r.imports.size(), 1u);
    EXPECT_EQ(r.imports[0].first, 1);
    EXPECT_EQ(r.imports[0].path, "/w.gpx\xE4x");
    EXPECT_EQ(r.imports[0].type, 5);
    EXPECT_EQ(records(store), (std::vector<std::string>{"360000,-720000,0,,0,0,0,0,0,0", "#car/255/2",
                                                        "18900000,-3084408,120.5,2024-05-18 09:00:11.25,0,0,9,0,0,1",
                                                        "#/-1/1", "+car", "0,0,0,,0,0,0,0,0,0"}));
}

// A store of every kind of record, written in two goes (as the window does
// second by second) and in frames of 64 KiB, reads back record for record.
TEST(TrackJournal, WhatIsWrittenReadsBackAsItWas) {
    TrackBuffer store;
    const auto point = [](int i) {
        TrackPoint p;
        initTrackPoint(p);
        p.lat = degreesToUnits(50 + i * 1e-4);
        p.lon = degreesToUnits(-179.9 + (i % 7) * 0.05);  // across the antimeridian's neighbourhood
        p.valid = 1;
        if (i % 2) p.altitude = 100.25 + i;
        if (i % 3) setTrackPointTime(p, 1716022811 + i);
        if (i % 5) p.speedKmh = 12.5;
        if (i % 4) p.hdop = 0.9;
        p.satellites = static_cast<uint8_t>(i % 12);
        p.sample = i % 9 ? i : 0;
        p.user1 = i % 11 ? -3.25 : 0;
        p.lonGiven = i % 2;
        return p;
    };
    store.append(point(0));
    const int32_t gps = store.beginSegment("GPS", -1, TrackOrigin::Gps);
    const int32_t car = store.beginSegment("Car 2", 0x00FF8000, TrackOrigin::Remote);
    for (int i = 1; i < 5000; ++i) store.appendToSegment(i % 3 ? gps : car, point(i));
    store.beginSegment("walk.gpx", -1);
    for (int i = 0; i < 10; ++i) store.append(point(i));
    const std::vector<TrackJournalImport> imports = {{store.recordCount() - 11, "walk.gpx", 5}};

    TrackJournalEncoder encoder;
    std::string bytes = TrackJournalEncoder::header();
    encoder.encode(store, 0, 1000, imports, bytes);
    encoder.encode(store, 1000, store.recordCount(), imports, bytes);
    EXPECT_GT(bytes.size(), 3u * 65536) << "several frames";
    TrackBuffer back;
    const TrackJournalRead r = decodeTrackJournal(bytes, back);
    EXPECT_FALSE(r.damaged) << r.problem;
    EXPECT_EQ(r.goodBytes, bytes.size());
    EXPECT_EQ(records(back), records(store));
    ASSERT_EQ(r.imports.size(), 1u);
    EXPECT_EQ(r.imports[0].first, imports[0].first);
}

// A torn last write is cut; a damaged frame with more after it ends the
// reading there, said; junk and journals beyond the limits are refused.
TEST(TrackJournal, TornDamagedAndRefused) {
    std::string one, two;
    put(one, 1, 1), put(one, 1, 4), put(one, 0, 4), put(one, 0, 1), put(one, 1, 1), one += "a";
    put(two, 3, 1), put(two, 0, 1), put(two, 10, 4), put(two, 20, 4);
    const std::string whole = kHeader + frame(one) + frame(two) + frame(two);
    std::string flipped = whole;
    flipped[kHeader.size() + 9] ^= 1;  // in the first frame's payload
    std::string huge = kHeader;
    put(huge, 2u << 20, 4);
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
        {"cut in its length", whole.substr(0, whole.size() - 15), TrackJournalRead::Status::Read, 1, 3, ""},
        {"zeros after a crash", whole + std::string(300, '\0'), TrackJournalRead::Status::Read, 2, 300, ""},
        {"a header begun", kHeader.substr(0, 11), TrackJournalRead::Status::Read, 0, 11, ""},
        {"a flipped bit", flipped, TrackJournalRead::Status::Read, 0, 0,
         "a damaged frame at byte 16: the rest is not read"},
        {"a frame beyond 1 MiB", huge + std::string(8, 'x'), TrackJournalRead::Status::Read, 0, 0,
         "a frame of 2097152 bytes at byte 16: the rest is not read"},
        {"an unknown record", kHeader + frame("\x09"), TrackJournalRead::Status::Read, 0, 0,
         "an unknown record 9 at byte 24: the rest is not read"},
        {"a continuation of nothing", kHeader + frame(std::string("\x02\x05\0\0\0", 5)), TrackJournalRead::Status::Read,
         0, 0, "a bad segment record at byte 24: the rest is not read"},
        {"a latitude of 91", kHeader + frame(std::string("\x03\0\x80\x7f\x3d\x36\0\0\0\0", 10)),
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
