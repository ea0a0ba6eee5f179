// A track journal of any content, read with the usual limits and with tight
// ones: no more than the limits allow is stored, a refused journal stores
// nothing, and what was read writes out and reads back record for record.
#include <zlib.h>

#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "tracks/track_journal.h"

namespace {

using bearfix::fuzz::check;

void checkSame(const bearfix::TrackPoint& a, const bearfix::TrackPoint& b) {
    check(a.type == b.type && a.continues == b.continues && a.origin == b.origin && a.colour == b.colour);
    check(std::strncmp(a.name, b.name, sizeof a.name) == 0);
    check(a.lat == b.lat && a.lon == b.lon && a.altitude == b.altitude && a.speedKmh == b.speedKmh);
    check(a.hdop == b.hdop && a.satellites == b.satellites && a.sample == b.sample && a.user1 == b.user1);
    check(a.valid == b.valid && a.lonGiven == b.lonGiven && a.timeValid == b.timeValid && a.dateValid == b.dateValid);
    check(a.yearSince2000 == b.yearSince2000 && a.month == b.month && a.day == b.day && a.hour == b.hour);
    check(a.minute == b.minute && a.second == b.second && a.hundredths == b.hundredths);
}

// The input with each frame's checksum made right, so that changed records
// get past it and reach the record reader.
std::string withGoodChecksums(std::string bytes) {
    for (std::size_t at = 16; at + 8 <= bytes.size();) {
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i) length |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
        if (length > bytes.size() - at - 8) break;
        const auto sum = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 8), length));
        for (int i = 0; i < 4; ++i) bytes[at + 4 + i] = static_cast<char>(sum >> (8 * i));
        at += 8 + length;
    }
    return bytes;
}

void readAndWriteAgain(std::string_view bytes) {
    using namespace bearfix;
    const std::size_t size = bytes.size();
    TrackJournalLimits tight;
    tight.maxPoints = 40;
    tight.maxHeaders = 12;
    tight.maxFrame = 2048;
    for (const TrackJournalLimits& limits : {TrackJournalLimits{}, tight}) {
        TrackBuffer store;
        const TrackJournalRead r = decodeTrackJournal(bytes, store, nullptr, limits);
        check(r.points <= limits.maxPoints && r.segments <= limits.maxHeaders);
        check(store.recordCount() == r.points + r.segments);
        if (r.status != TrackJournalRead::Status::Read) {
            check(store.recordCount() == 0 && !r.problem.empty());
            continue;
        }
        check(r.damaged == !r.problem.empty());
        check(r.goodBytes + r.tornBytes <= size && (r.tornBytes == 0 || r.goodBytes + r.tornBytes == size));
        for (const TrackJournalImport& m : r.imports) check(m.first >= 0 && m.first <= store.recordCount());

        TrackJournalEncoder encoder;
        encoder.limits = limits;
        std::string again = TrackJournalEncoder::header();
        encoder.encode(store, 0, store.recordCount(), r.imports, again);
        check(!encoder.full());
        TrackBuffer back;
        const TrackJournalRead r2 = decodeTrackJournal(again, back, nullptr, limits);
        check(!r2.damaged && r2.tornBytes == 0 && r2.goodBytes == again.size());
        check(back.recordCount() == store.recordCount() && r2.imports.size() == r.imports.size());
        for (int32_t i = 0; i < store.recordCount(); ++i) checkSame(*store.recordAt(i), *back.recordAt(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    readAndWriteAgain(bytes);
    readAndWriteAgain(withGoodChecksums(bytes));
    return 0;
}
