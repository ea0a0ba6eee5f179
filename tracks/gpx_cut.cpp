#include "tracks/gpx_cut.h"

#include <expat.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "tracks/gpx_batches.h"
#include "tracks/gpx_events.h"
#include "tracks/track_store.h"

namespace bearfix::gpx {

namespace {

// Up to `bytes` of the file from `offset` on, fewer at its end; -1 when it cannot be read.
ssize_t readAt(int fd, char* to, std::size_t bytes, long long offset) {
    std::size_t done = 0;
    while (done < bytes) {
        const auto at = static_cast<off_t>(offset + static_cast<long long>(done));
        const ssize_t n = ::pread(fd, to + done, bytes - done, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Where the file is cut for a second parser: the first track or route point
// that starts within a short way after the middle (cuts at 2/5 and 11/20
// were slower).
struct Cut {
    long long at = -1;
    bool route = false;
};
Cut findCut(int fd, long long fileBytes) {
    constexpr long long kWindow = 64 << 10;
    const long long from = fileBytes / 2;
    std::string window(static_cast<std::size_t>(std::min(kWindow, fileBytes - from)), '\0');
    const ssize_t n = readAt(fd, window.data(), window.size(), from);
    Cut cut;
    if (n <= 0) return cut;
    window.resize(static_cast<std::size_t>(n));
    const std::size_t track = window.find("<trkpt"), route = window.find("<rtept");
    if (track == std::string::npos && route == std::string::npos) return cut;
    cut.route = route < track;
    cut.at = from + static_cast<long long>(std::min(track, route));
    return cut;
}

// The second parser's part: from the cut to the end of its track segment or
// route, read as if the file opened that segment or route right before it.
struct Second {
    long long from = 0;
    bool route = false;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Bytes>> full;  // handed over, waiting for the store
    bool finished = false, read = false;       // under `mutex`
    long long end = -1;                        // where the segment or route ends, once read
};

// The second parser's batches, kept until the store takes them.
class Queue final : public Channel {
public:
    Queue(Second& second, std::size_t batchBytes) : second_(second), batchBytes_(batchBytes) { fresh(); }
    Bytes* first() { return filling_.get(); }
    Bytes* handOver(Bytes*) override {
        {
            std::lock_guard lock(second_.mutex);
            second_.full.push_back(std::move(filling_));
        }
        second_.changed.notify_all();
        fresh();
        return filling_.get();
    }
    void finish(Bytes* last) override {
        if (last && last->size > 0) handOver(last);
    }

private:
    void fresh() {
        filling_ = std::make_unique<Bytes>();
        filling_->reserve(batchBytes_);
    }
    Second& second_;
    std::size_t batchBytes_;
    std::unique_ptr<Bytes> filling_;
};

void readSecond(int fd, Second& second, std::size_t batchBytes) {
    bool read = false;
    long long end = -1;
    try {
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(XML_ParserCreate("UTF-8"), XML_ParserFree);
        XML_Parser parser = owner.get();
        if (parser) {
            Reader reader(parser);
            Queue queue(second, batchBytes);
            reader.use(queue, queue.first(), batchBytes);
            const std::string_view opening = second.route ? "<gpx><rte>" : "<gpx><trk><trkseg>";
            const std::string_view closing = second.route ? "</rte></gpx>" : "</trkseg></trk></gpx>";
            const std::string_view ending = second.route ? "</rte" : "</trkseg";
            read = XML_Parse(parser, opening.data(), static_cast<int>(opening.size()), XML_FALSE) == XML_STATUS_OK;
            reader.dropEvents();
            reader.refuseNames = true;
            std::vector<char> chunk(kChunk);
            for (long long at = second.from; read && end < 0;) {
                if (second.cancelled.load(std::memory_order_relaxed)) {
                    read = false;
                    break;
                }
                const ssize_t n = readAt(fd, chunk.data(), chunk.size(), at);
                if (n <= 0) {
                    read = false;
                    break;
                }
                // The end tag, followed by '>' or a blank within the chunk;
                // one that the chunk cuts off is looked for again in the next.
                const std::string_view bytes(chunk.data(), static_cast<std::size_t>(n));
                std::size_t take = n == kChunk ? bytes.size() - ending.size() : bytes.size();
                for (std::size_t found = bytes.find(ending); found != std::string_view::npos;
                     found = bytes.find(ending, found + 1)) {
                    const std::size_t after = found + ending.size();
                    if (after < bytes.size() && bytes[after] != '>' && !isBlank(bytes[after])) continue;
                    take = found;
                    if (after < bytes.size()) end = at + static_cast<long long>(found);
                    break;
                }
                if (end < 0 && take == 0 && n < kChunk) read = false;  // the file ends in it
                read = read && XML_Parse(parser, bytes.data(), static_cast<int>(take), XML_FALSE) == XML_STATUS_OK;
                at += static_cast<long long>(take);
            }
            read = read &&
                   XML_Parse(parser, closing.data(), static_cast<int>(closing.size()), XML_TRUE) == XML_STATUS_OK;
            reader.finish();
        }
    } catch (const std::exception&) {
        read = false;
    }
    {
        std::lock_guard lock(second.mutex);
        second.finished = true;
        second.read = read;
        second.end = end;
    }
    second.changed.notify_all();
}

// Feeds bytes [from, to) of the file to the parser; `last` when the file
// ends there. `noting` notes where the last event ends, in the last chunk.
bool feedRange(int fd, XML_Parser parser, long long from, long long to, bool last, Reader* noting) {
    for (long long at = from;;) {
        const auto wanted = static_cast<std::size_t>(std::min<long long>(kChunk, to - at));
        void* buffer = XML_GetBuffer(parser, kChunk);
        if (!buffer) return false;
        const ssize_t n = wanted > 0 ? readAt(fd, static_cast<char*>(buffer), wanted, at) : 0;
        if (n < 0 || (n == 0 && wanted > 0)) return false;  // unreadable or shorter than it was
        at += n;
        if (noting && at == to) noting->notePositions(true);
        if (XML_ParseBuffer(parser, static_cast<int>(n), last && at == to) != XML_STATUS_OK) return false;
        if (at == to) return true;
    }
}

}  // namespace

std::optional<GpxImport> parseSplit(int fd, const std::string& fileName, long long fileBytes, std::size_t batchBytes) {
    const Cut cut = findCut(fd, fileBytes);
    if (cut.at < 0) return std::nullopt;
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(XML_ParserCreate("UTF-8"), XML_ParserFree);
    XML_Parser parser = owner.get();
    if (!parser) return std::nullopt;
    Store store(fileName);
    Reader reader(parser);
    Pipe pipe(batchBytes, -1);
    reader.use(pipe, pipe.first(), batchBytes);
    Second second;
    second.from = cut.at;
    second.route = cut.route;
    bool read = false, split = false;
    std::thread first, other;
    // However the store's side ends, both parsers are stopped and waited for.
    struct Join {
        Pipe& pipe;
        Second& second;
        std::thread &first, &other;
        ~Join() {
            pipe.cancel();
            second.cancelled = true;
            if (first.joinable()) first.join();
            if (other.joinable()) other.join();
        }
    } join{pipe, second, first, other};
    try {
        other = std::thread([&] {
            pthread_setname_np(pthread_self(), "gpx parser 2");
            readSecond(fd, second, batchBytes);
        });
        first = std::thread([&] {
            pthread_setname_np(pthread_self(), "gpx parser");
            try {
                read = feedRange(fd, parser, 0, cut.at, false, &reader);
                const bool between =
                    read && (cut.route ? reader.standsIn(cut.at, {kGpx, kRoute})
                                       : reader.standsIn(cut.at, {kGpx, kTrack, kSegment}));
                reader.notePositions(false);
                long long resume = cut.at;
                if (between) {
                    // The store takes the second parser's events from here on, and
                    // takes them back if it fails.
                    reader.handOver();
                    pipe.markSplit();
                    std::unique_lock lock(second.mutex);
                    second.changed.wait(lock, [&] { return second.finished; });
                    if (second.read) resume = second.end;
                    split = second.read;
                } else {
                    second.cancelled = true;
                }
                read = read && feedRange(fd, parser, resume, fileBytes, true, nullptr);
            } catch (const std::exception&) {
                read = false;
            }
            reader.finish();
        });
    } catch (const std::system_error&) {
        return std::nullopt;  // no threads to be had
    }
    for (;;) {
        bool atSplit = false;
        const Bytes* full = pipe.next(&atSplit);
        if (atSplit) {
            const int32_t records = trackRecordCount();
            const int points = store.points, skipped = store.skipped;
            for (;;) {
                std::unique_ptr<Bytes> batch;
                {
                    std::unique_lock lock(second.mutex);
                    second.changed.wait(lock, [&] { return !second.full.empty() || second.finished; });
                    if (second.full.empty()) break;
                    batch = std::move(second.full.front());
                    second.full.pop_front();
                }
                store.apply(*batch);
            }
            std::lock_guard lock(second.mutex);
            if (!second.read) {
                trackStore().truncate(records);
                store.points = points;
                store.skipped = skipped;
            }
            continue;
        }
        if (!full) break;
        store.apply(*full);
        pipe.release();
    }
    first.join();
    if (!read || reader.tooDeep || reader.tooManyAttributes) return std::nullopt;
    GpxImport result;
    result.points = store.points;
    result.skipped = store.skipped;
    result.split = split;
    return result;
}

}  // namespace bearfix::gpx
