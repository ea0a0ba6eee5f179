// Decoded tiles, the most recently used kept within a bound in megabytes.
// Also remembers which tiles the source lacks, so that they are not asked
// for again. Used by one thread.
#pragma once

#include <QImage>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "map/tile_source.h"

namespace bearfix {

class TileCache {
public:
    explicit TileCache(std::size_t limitMb = 192) { setLimitMb(limitMb); }

    void setLimitMb(std::size_t megabytes);
    void clear();

    // A tile and its picture; a null picture records that the source lacks it.
    void put(const TileKey& key, const QImage& picture);
    // Null when not cached; otherwise the entry, now the most recent.
    const QImage* find(const TileKey& key);

    std::size_t bytes() const { return bytes_; }
    std::size_t limitBytes() const { return limit_; }
    std::size_t size() const { return index_.size(); }

private:
    struct Entry {
        uint64_t key;
        QImage picture;
        std::size_t bytes;
    };
    static uint64_t pack(const TileKey& key);
    void trim();

    std::list<Entry> entries_;  // the most recent first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> index_;
    std::size_t bytes_ = 0;
    std::size_t limit_ = 0;
};

}  // namespace bearfix
