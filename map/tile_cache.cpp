#include "map/tile_cache.h"

namespace bearfix {

namespace {

constexpr std::size_t kEntryOverhead = 96;  // list node, index slot, picture header

}  // namespace

uint64_t TileCache::pack(const TileKey& key) {
    return uint64_t(uint32_t(key.z)) << 56 | uint64_t(uint32_t(key.x) & 0x0FFFFFFF) << 28 |
           (uint32_t(key.y) & 0x0FFFFFFF);
}

void TileCache::setLimitMb(std::size_t megabytes) {
    limit_ = megabytes << 20;
    trim();
}

void TileCache::clear() {
    entries_.clear();
    index_.clear();
    bytes_ = 0;
}

void TileCache::put(const TileKey& key, const QImage& picture) {
    const uint64_t k = pack(key);
    if (auto it = index_.find(k); it != index_.end()) {
        bytes_ -= it->second->bytes;
        entries_.erase(it->second);
        index_.erase(it);
    }
    const std::size_t size = kEntryOverhead + static_cast<std::size_t>(picture.sizeInBytes());
    entries_.push_front({k, picture, size});
    index_[k] = entries_.begin();
    bytes_ += size;
    trim();
}

const QImage* TileCache::find(const TileKey& key) {
    auto it = index_.find(pack(key));
    if (it == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, it->second);
    return &it->second->picture;
}

void TileCache::trim() {
    while (bytes_ > limit_ && !entries_.empty()) {
        bytes_ -= entries_.back().bytes;
        index_.erase(entries_.back().key);
        entries_.pop_back();
    }
}

}  // namespace bearfix
