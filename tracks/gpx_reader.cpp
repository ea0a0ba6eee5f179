#include "tracks/gpx_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "support/cp1252.h"
#include "support/text_scanner.h"
#include "tracks/gpx_batches.h"
#include "tracks/gpx_cut.h"
#include "tracks/gpx_events.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

using namespace gpx;
// Smaller files are read by one thread: a second one's stack, heap and
// batches would cost more memory per point than the store, for a few ms.
constexpr long long kTwoThreadsFrom = 4 << 20;

}  // namespace

bool scanDecimal(const char*& c, const char* end, double* value) {
    const char* p = c;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    uint64_t whole = 0;
    int digits = 0, fraction = -1;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            whole = whole * 10 + static_cast<uint64_t>(*p - '0');
            ++digits;
            if (fraction >= 0) ++fraction;
        } else if (*p == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    if (double v; exactDecimal(whole, digits, fraction > 0 ? fraction : 0, &v)) {
        *value = negative ? -v : v;
        c = p;
        return true;
    }
    auto [after, ec] = std::from_chars(c, end, *value, std::chars_format::fixed);
    if (ec != std::errc()) return false;
    c = after;
    return true;
}

namespace {

// One thread: every batch is applied as soon as it is full.
class Direct final : public Channel {
public:
    explicit Direct(Store& store) : store_(store) {}
    Bytes* handOver(Bytes* full) override {
        store_.apply(*full);
        full->size = 0;
        return full;
    }
    void finish(Bytes* last) override {
        if (last) store_.apply(*last);
    }

private:
    Store& store_;
};

// Whether the file holds a zero byte, and whether it is UTF-8 throughout (as
// isValidUtf8 tells, sequence by sequence).
void inspect(int fd, bool* binary, bool* utf8) {
    std::vector<unsigned char> chunk(kChunk);
    *binary = false;
    *utf8 = true;
    int pending = 0;  // continuation bytes the sequence under way still needs
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, chunk.data(), chunk.size())) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const unsigned char c = chunk[static_cast<std::size_t>(i)];
            *binary = *binary || c == 0;
            if (pending > 0) {
                *utf8 = *utf8 && (c & 0xC0) == 0x80;
                --pending;
            } else if (c >= 0x80) {
                pending = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
                *utf8 = *utf8 && pending > 0;
            }
        }
    }
    *utf8 = *utf8 && pending == 0;
}

// What feeding the file to the parser ended with.
struct Feed {
    bool failed = false;  // the parser stopped: an XML error or a limit
    std::string error;    // the file could not be read
};

// Reads the whole file into the parser; `cp1252` converts its bytes to UTF-8 first.
Feed feed(int fd, XML_Parser parser, bool cp1252) {
    Feed result;
    std::vector<char> chunk(cp1252 ? kChunk : 0);
    for (;;) {
        ssize_t n;
        if (cp1252) {
            n = ::read(fd, chunk.data(), chunk.size());
        } else {
            void* buffer = XML_GetBuffer(parser, kChunk);
            if (!buffer) {
                result.failed = true;
                break;
            }
            n = ::read(fd, buffer, kChunk);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = std::strerror(errno);
            break;
        }
        XML_Status status;
        if (cp1252) {
            const std::string utf8 = cp1252ToUtf8(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
            status = XML_Parse(parser, utf8.data(), static_cast<int>(utf8.size()), n == 0);
        } else {
            status = XML_ParseBuffer(parser, static_cast<int>(n), n == 0);
        }
        if (status != XML_STATUS_OK) {
            result.failed = true;
            break;
        }
        if (n == 0) break;
    }
    return result;
}

// The same, from the chunks the store's thread reads.
Feed feed(Pipe& pipe, XML_Parser parser, bool cp1252) {
    Feed result;
    for (;;) {
        const Chunk* chunk = pipe.nextChunk();
        if (!chunk) {
            result.failed = true;
            break;
        }
        const ssize_t n = chunk->size;
        if (n < 0) {
            result.error = std::strerror(chunk->error);
            pipe.parsed();
            break;
        }
        XML_Status status;
        if (cp1252) {
            const std::string utf8 = cp1252ToUtf8(std::string_view(chunk->data.get(), static_cast<std::size_t>(n)));
            status = XML_Parse(parser, utf8.data(), static_cast<int>(utf8.size()), n == 0);
        } else {
            status = XML_Parse(parser, chunk->data.get(), static_cast<int>(n), n == 0);
        }
        pipe.parsed();
        if (status != XML_STATUS_OK) {
            result.failed = true;
            break;
        }
        if (n == 0) break;
    }
    return result;
}

// Batches as large as 1/32 of the file, within bounds: memory a small part
// of what the points take, and few hand-overs (each wakes the other thread,
// which costs as much as reading a hundred points).
constexpr std::size_t kDirectBatchBytes = 16 << 10;
std::size_t batchBytesFor(long long fileBytes) {
    return static_cast<std::size_t>(std::clamp(fileBytes / 32, 64LL << 10, 256LL << 10));
}

// One pass through the file; `cp1252` converts its bytes to UTF-8 first.
GpxImport parse(int fd, const std::string& fileName, bool cp1252, bool twoThreads, std::size_t batchBytes,
                bool* notUtf8) {
    GpxImport result;
    *notUtf8 = false;
    ::lseek(fd, 0, SEEK_SET);
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(
        XML_ParserCreate("UTF-8"),  // whatever the file declares, as before
        XML_ParserFree);
    XML_Parser parser = owner.get();
    if (!parser) {
        result.error = "out of memory";
        return result;
    }
    Store store(fileName);
    Reader reader(parser);
    Feed fed;
    std::optional<Pipe> pipe;
    std::thread parsing;
    if (twoThreads) {
        pipe.emplace(batchBytes, fd);
        reader.use(*pipe, pipe->first(), batchBytes);
        try {
            parsing = std::thread([&] {
                pthread_setname_np(pthread_self(), "gpx parser");
                try {
                    fed = feed(*pipe, parser, cp1252);
                } catch (const std::exception& e) {
                    fed.error = e.what();
                }
                reader.finish();
            });
        } catch (const std::system_error&) {
            pipe.reset();  // no thread to be had: read on this one
        }
    }
    if (pipe) {
        // However the store's side ends, the parser's thread is stopped and waited for.
        struct Join {
            Pipe& pipe;
            std::thread& thread;
            ~Join() {
                pipe.cancel();
                thread.join();
            }
        } join{*pipe, parsing};
        while (const Bytes* full = pipe->next()) {
            store.apply(*full);
            pipe->release();
        }
    } else {
        // Applied at once, a batch can be small.
        Direct direct(store);
        Bytes batch;
        batch.reserve(kDirectBatchBytes);
        reader.use(direct, &batch, kDirectBatchBytes);
        fed = feed(fd, parser, cp1252);
        reader.finish();
    }
    result.error = fed.error;
    if (reader.tooDeep) {
        result.error = "elements nested too deeply";
    } else if (reader.tooManyAttributes) {
        result.error = "too many attributes in one element";
    } else if (fed.failed) {
        bool binary, utf8;
        inspect(fd, &binary, &utf8);
        if (binary) {
            result.error = "The file holds binary data, not XML";
        } else if (!utf8 && !cp1252) {
            *notUtf8 = true;
        } else {
            result.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                           std::to_string(XML_GetCurrentLineNumber(parser));
        }
    }
    result.points = store.points;
    result.skipped = store.skipped;
    return result;
}

}  // namespace

double isoTime(const char* text) {
    if (!text) return NAN;
    double fields[6];
    const char separators[6] = {'-', '-', 'T', ':', ':', '\0'};
    const char* c = text;
    const char* end = text + std::strlen(text);
    for (int i = 0; i < 6; ++i) {
        if (!scanNumber(c, end, &fields[i])) return NAN;
        if (separators[i] != '\0' && *c++ != separators[i]) return NAN;
    }
    // Out-of-range fields would not fit the integers below.
    const double low[6] = {0, 1, 1, 0, 0, 0}, high[6] = {9999, 12, 31, 24, 59, 60.999};
    for (int i = 0; i < 6; ++i) {
        if (!(fields[i] >= low[i] && fields[i] <= high[i])) return NAN;
    }
    const int y = static_cast<int>(fields[0]), mo = static_cast<int>(fields[1]), d = static_cast<int>(fields[2]);
    const int h = static_cast<int>(fields[3]), mi = static_cast<int>(fields[4]);
    const double s = fields[5];
    // Days from the civil date (Howard Hinnant's algorithm).
    const int yy = y - (mo <= 2 ? 1 : 0);
    const long era = (yy >= 0 ? yy : yy - 399) / 400;
    const long yearOfEra = yy - era * 400;
    const long dayOfYear = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long days = era * 146097 + dayOfEra - 719468;
    double seconds = days * 86400.0 + h * 3600.0 + mi * 60.0 + s;
    if (*c == '+' || *c == '-') {  // an offset from UTC
        const double sign = *c++ == '+' ? 1.0 : -1.0;
        double zh = 0, zm = 0;
        if (scanNumber(c, end, &zh) && *c == ':') scanNumber(++c, end, &zm);
        seconds -= sign * (zh * 3600.0 + zm * 60.0);
    }
    return seconds;
}

GpxImport readGpxFile(const std::string& path, const std::string& fileName, GpxThreads threads) {
    GpxImport result;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        result.error = "Failed to open file";
        return result;
    }
    if (st.st_size > kMaxGpxFileBytes) {
        ::close(fd);
        result.error = "the file is larger than " + std::to_string(kMaxGpxFileBytes >> 20) + " MB, too large for a track file";
        return result;
    }
    // What a file that turns out unreadable stored is taken back.
    const int32_t before = trackRecordCount();
    const bool large = threads == GpxThreads::kBySize && st.st_size >= kTwoThreadsFrom;
    const bool twoThreads = threads == GpxThreads::kTwo || threads == GpxThreads::kSplit || large;
    const std::size_t batchBytes = batchBytesFor(st.st_size);
    bool notUtf8 = false;
    std::optional<GpxImport> split;
    if (threads == GpxThreads::kSplit || large) {
        split = parseSplit(fd, fileName, st.st_size, batchBytes);
        if (!split) trackStore().truncate(before);
    }
    result = split ? *split : parse(fd, fileName, false, twoThreads, batchBytes, &notUtf8);
    if (notUtf8) {
        trackStore().truncate(before);
        result = parse(fd, fileName, true, twoThreads, batchBytes, &notUtf8);
    }
    ::close(fd);
    if (!result.error.empty()) {
        trackStore().truncate(before);
        result.points = result.skipped = 0;
    }
    return result;
}

}  // namespace bearfix
