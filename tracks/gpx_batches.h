// How the GPX reader's two threads hand over their work: the parser's events
// as plain bytes in batches, and the file's bytes in chunks read ahead by
// the store's thread. Only the GPX reader uses this.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

namespace bearfix::gpx {

// The file is read this many bytes at a time.
inline constexpr int kChunk = 1 << 18;

// What the parser passes on to the store, as plain bytes: one kind byte per
// event; a text follows its kind as a 32-bit length, the bytes and a NUL.
enum Event : char {
    kTrackStarts = 'T',  // a <trk> or <rte>: its segments are named after the file until a name comes
    kHeader = 'H',       // a segment header
    kNameText = 'N',     // the track's or route's name: its headers so far are renamed
    kPointStarts = 'P',
    kLatitudeText = 'a',  // a point's attribute values and element texts
    kLongitudeText = 'o',
    kElevationText = 'e',
    kTimeText = 't',
    kPointEnds = 'E',  // the point is complete: checked and stored
};

// std::memcpy for the short texts of a point (numbers, times), without
// the call: two overlapping moves of a fixed size.
inline void copyText(char* to, const char* from, std::size_t length) {
    auto twice = [&]<std::size_t N>() {
        char head[N], tail[N];
        std::memcpy(head, from, N);
        std::memcpy(tail, from + length - N, N);
        std::memcpy(to, head, N);
        std::memcpy(to + length - N, tail, N);
    };
    if (length >= 16 && length <= 32) {
        twice.template operator()<16>();
    } else if (length >= 8 && length <= 16) {
        twice.template operator()<8>();
    } else if (length >= 4 && length <= 8) {
        twice.template operator()<4>();
    } else {
        std::memcpy(to, from, length);
    }
}

// A growing run of bytes, not cleared before it is written.
struct Bytes {
    std::unique_ptr<char[]> data;
    std::size_t size = 0, capacity = 0;

    void reserve(std::size_t bytes) {
        if (bytes <= capacity) return;
        auto larger = std::make_unique_for_overwrite<char[]>(bytes);
        if (size > 0) std::memcpy(larger.get(), data.get(), size);
        data = std::move(larger);
        capacity = bytes;
    }
    char* extend(std::size_t bytes) {
        if (size + bytes > capacity) reserve(std::max(2 * capacity, size + bytes));
        char* at = data.get() + size;
        size += bytes;
        return at;
    }
    void put(Event event) { *extend(1) = event; }
    void put(Event event, const char* text, std::size_t length) {
        const auto length32 = static_cast<uint32_t>(length);
        char* at = extend(1 + sizeof length32 + length + 1);
        at[0] = event;
        std::memcpy(at + 1, &length32, sizeof length32);
        copyText(at + 1 + sizeof length32, text, length);
        at[1 + sizeof length32 + length] = '\0';
    }
};

// Where the parser's full batches of events go: the next batch to fill, or
// null when the events are no longer wanted.
class Channel {
public:
    virtual ~Channel() = default;
    virtual Bytes* handOver(Bytes* full) = 0;
    // The last batch; nothing comes after it.
    virtual void finish(Bytes* last) = 0;
};

// The file's bytes as read; `size` 0 at its end, -1 when it could not be read.
struct Chunk {
    std::unique_ptr<char[]> data = std::make_unique_for_overwrite<char[]>(kChunk);
    ssize_t size = 0;
    int error = 0;  // errno of the failed read
};

// Two threads: the parser's thread fills batches that the store's thread
// applies in order. Three batches in turn keep the memory bounded. The
// store's thread also reads the file ahead into a few chunks, so that the
// parser's thread, the busier one, only parses; not when `fd` is -1 (the
// parser reads for itself).
class Pipe final : public Channel {
public:
    Pipe(std::size_t batchBytes, int fd) : fd_(fd) {
        for (Bytes& batch : batches_) batch.reserve(batchBytes);
    }
    Bytes* first() { return &batches_[0]; }

    Bytes* handOver(Bytes*) override {
        std::unique_lock lock(mutex_);
        ++filled_;
        toStore_.notify_one();
        toParser_.wait(lock, [this] { return cancelled_ || filled_ - consumed_ < kBatches; });
        if (cancelled_) return nullptr;
        Bytes* next = &batches_[filled_ % kBatches];
        next->size = 0;
        return next;
    }
    void finish(Bytes* last) override {
        std::lock_guard lock(mutex_);
        if (last && last->size > 0 && !cancelled_) ++filled_;
        closed_ = true;
        toStore_.notify_one();
    }

    // The parser's side: the next chunk of the file, null once the store's
    // side stopped. Given back by parsed() when its bytes are with the parser.
    const Chunk* nextChunk() {
        std::unique_lock lock(mutex_);
        toParser_.wait(lock, [this] { return cancelled_ || parsed_ < read_; });
        return cancelled_ ? nullptr : &chunks_[parsed_ % kChunks];
    }
    void parsed() {
        std::lock_guard lock(mutex_);
        ++parsed_;
        toStore_.notify_one();
    }

    // The parser's side: the batches handed over so far come before the
    // events of a second parser, which the store's side applies next.
    void markSplit() {
        std::lock_guard lock(mutex_);
        splitAt_ = filled_;
        toStore_.notify_one();
    }

    // The store's side: the next full batch, null after the last, or null
    // with `atSplit` set once where markSplit() was called. While there is
    // none, the file is read ahead.
    const Bytes* next(bool* atSplit = nullptr) {
        std::unique_lock lock(mutex_);
        for (;;) {
            toStore_.wait(lock,
                          [this] { return consumed_ < filled_ || closed_ || consumed_ == splitAt_ || mayRead(); });
            if (!mayRead()) break;
            Chunk& chunk = chunks_[read_ % kChunks];
            lock.unlock();
            ssize_t n;
            do {
                n = ::read(fd_, chunk.data.get(), kChunk);
            } while (n < 0 && errno == EINTR);
            chunk.size = n < 0 ? -1 : n;
            chunk.error = n < 0 ? errno : 0;
            lock.lock();
            ++read_;
            readToEnd_ = n <= 0;
            toParser_.notify_one();
        }
        if (consumed_ == splitAt_ && atSplit) {
            splitAt_ = kNever;
            *atSplit = true;
            return nullptr;
        }
        return consumed_ < filled_ ? &batches_[consumed_ % kBatches] : nullptr;
    }
    void release() {
        std::lock_guard lock(mutex_);
        ++consumed_;
        toParser_.notify_one();
    }
    // The store's side stops taking batches; the parser stops at its next hand-over.
    void cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        toParser_.notify_one();
    }

private:
    // Whether a chunk is free to be read into, and wanted.
    bool mayRead() const { return fd_ >= 0 && !readToEnd_ && !closed_ && !cancelled_ && read_ - parsed_ < kChunks; }

    static constexpr uint64_t kBatches = 3;
    static constexpr uint64_t kChunks = 3;
    std::array<Bytes, kBatches> batches_;
    std::array<Chunk, kChunks> chunks_;
    const int fd_;
    std::mutex mutex_;
    std::condition_variable toStore_, toParser_;  // each side waits on its own
    uint64_t filled_ = 0, consumed_ = 0;
    uint64_t read_ = 0, parsed_ = 0;
    static constexpr uint64_t kNever = ~uint64_t{0};
    uint64_t splitAt_ = kNever;
    bool readToEnd_ = false, closed_ = false, cancelled_ = false;
};

}  // namespace bearfix::gpx
