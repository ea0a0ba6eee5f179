#include "map/tile_source.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "support/whole_file.h"

namespace bearfix {

namespace {

// A statement of a hostile file (a view that recurses without end) is cut
// off after this many virtual machine steps.
constexpr int kStepBudget = 5'000'000;
constexpr int kStepsPerCall = 1000;

// A whole number 0..limit as the whole text.
bool numberIn(std::string_view text, int32_t limit, int32_t* number) {
    int32_t value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > limit) return false;
    *number = value;
    return true;
}

bool zoomIn(std::string_view text, int32_t* zoom) { return numberIn(text, kMaxTileZoom, zoom); }

// A file name as an SQLite URI path: every byte but the plain ones escaped.
std::string uriPath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (plain || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

class MbtilesSource : public TileSource {
public:
    ~MbtilesSource() override {
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }

    // `uri` names a file; without it, `image` is the database.
    bool open(const std::string& uri, std::string_view image, std::string* reason) {
        const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
        const int rc = sqlite3_open_v2(uri.empty() ? ":memory:" : uri.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK) return fail(reason);
        if (uri.empty()) {
            // Read-only and not owned: SQLite neither writes nor frees the bytes.
            auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(image.data()));
            if (sqlite3_deserialize(db_, "main", data, static_cast<sqlite3_int64>(image.size()),
                                    static_cast<sqlite3_int64>(image.size()), SQLITE_DESERIALIZE_READONLY) != SQLITE_OK)
                return fail(reason);
        }
        // Defences for a database from anywhere: no blob or text beyond the
        // tile limit, no functions with side effects in its views, no
        // statement without end.
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, static_cast<int>(kMaxTileBytes) + 1);
        sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_progress_handler(db_, kStepsPerCall, &MbtilesSource::tooLong, this);

        steps_ = 0;
        if (sqlite3_prepare_v3(db_, "SELECT tile_data FROM tiles WHERE zoom_level=?1 AND tile_column=?2 AND tile_row=?3",
                               -1, SQLITE_PREPARE_PERSISTENT, &select_, nullptr) != SQLITE_OK)
            return fail(reason);
        std::string format;
        if (!readMetadata(reason, &format)) return false;
        if (format == "pbf") {
            *reason = "it holds vector tiles (pbf), which cannot be drawn; pictures (png, jpg) are needed";
            return false;
        }
        return true;
    }

    TileRead read(const TileKey& key, std::string& bytes, std::string* reason) override {
        bytes.clear();
        if (key.z < 0 || key.z > kMaxTileZoom) return TileRead::Missing;
        const int32_t n = int32_t{1} << key.z;
        if (key.x < 0 || key.x >= n || key.y < 0 || key.y >= n) return TileRead::Missing;
        std::lock_guard lock(mutex_);
        if (broken_) {
            *reason = brokenReason_;
            return TileRead::Broken;
        }
        steps_ = 0;
        sqlite3_reset(select_);
        sqlite3_bind_int(select_, 1, key.z);
        sqlite3_bind_int(select_, 2, key.x);
        sqlite3_bind_int(select_, 3, n - 1 - key.y);  // TMS rows count from the south
        const int rc = sqlite3_step(select_);
        TileRead result = TileRead::Found;
        if (rc == SQLITE_ROW) {
            const int type = sqlite3_column_type(select_, 0);
            const void* data = sqlite3_column_blob(select_, 0);
            const int size = sqlite3_column_bytes(select_, 0);
            if (type != SQLITE_BLOB && type != SQLITE_TEXT) {
                *reason = "the tile is no picture";
                result = TileRead::BadTile;
            } else if (size > static_cast<int>(kMaxTileBytes)) {
                *reason = tooLarge();
                result = TileRead::BadTile;
            } else if (data && size > 0) {
                bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(size));
            } else {
                result = TileRead::Missing;  // an empty row stands for no tile
            }
        } else if (rc == SQLITE_DONE) {
            result = TileRead::Missing;
        } else if (rc == SQLITE_TOOBIG) {
            *reason = tooLarge();
            result = TileRead::BadTile;
        } else {
            brokenReason_ = message();
            broken_ = true;
            *reason = brokenReason_;
            result = TileRead::Broken;
        }
        sqlite3_reset(select_);
        return result;
    }

    std::vector<TileKey> someTiles(int limit) override {
        std::vector<TileKey> keys;
        std::lock_guard lock(mutex_);
        sqlite3_stmt* list = nullptr;
        steps_ = 0;
        if (sqlite3_prepare_v2(db_, "SELECT zoom_level, tile_column, tile_row FROM tiles LIMIT ?1", -1, &list,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_int(list, 1, limit);
            while (sqlite3_step(list) == SQLITE_ROW) {
                const sqlite3_int64 z = sqlite3_column_int64(list, 0), x = sqlite3_column_int64(list, 1),
                                    row = sqlite3_column_int64(list, 2);
                if (z < 0 || z > kMaxTileZoom || x < 0 || row < 0 || x >> z != 0 || row >> z != 0) continue;
                keys.push_back({static_cast<int32_t>(z), static_cast<int32_t>(x),
                                static_cast<int32_t>((sqlite3_int64{1} << z) - 1 - row)});
            }
        }
        sqlite3_finalize(list);
        return keys;
    }

private:
    static int tooLong(void* self) {
        auto* source = static_cast<MbtilesSource*>(self);
        return (source->steps_ += kStepsPerCall) > kStepBudget ? 1 : 0;
    }

    std::string message() const {
        const int code = sqlite3_extended_errcode(db_);
        if ((code & 0xFF) == SQLITE_INTERRUPT) return "reading it takes too long";
        if ((code & 0xFF) == SQLITE_NOTADB) return "it is no MBTiles (SQLite) file";
        return db_ ? sqlite3_errmsg(db_) : "out of memory";
    }

    bool fail(std::string* reason) {
        *reason = message();
        return false;
    }

    static std::string tooLarge() { return "the tile is larger than " + std::to_string(kMaxTileBytes >> 20) + " MB"; }

    // The zoom levels: from the metadata when it says them, else from the
    // tiles themselves. The metadata table is optional.
    bool readMetadata(std::string* reason, std::string* format) {
        int32_t low = -1, high = -1;
        sqlite3_stmt* meta = nullptr;
        steps_ = 0;
        if (sqlite3_prepare_v2(db_, "SELECT name, value FROM metadata WHERE name IN ('minzoom','maxzoom','format')", -1,
                               &meta, nullptr) == SQLITE_OK) {
            int rc;
            while ((rc = sqlite3_step(meta)) == SQLITE_ROW) {
                const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(meta, 0));
                const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(meta, 1));
                if (!name || !value) continue;
                const std::string_view v(value, static_cast<std::size_t>(sqlite3_column_bytes(meta, 1)));
                if (std::strcmp(name, "minzoom") == 0) zoomIn(v, &low);
                if (std::strcmp(name, "maxzoom") == 0) zoomIn(v, &high);
                if (std::strcmp(name, "format") == 0) *format = std::string(v.substr(0, 16));
            }
            sqlite3_finalize(meta);
            if (rc != SQLITE_DONE) return fail(reason);
        }
        if (low < 0 || high < low) {
            sqlite3_stmt* range = nullptr;
            steps_ = 0;
            if (sqlite3_prepare_v2(db_, "SELECT min(zoom_level), max(zoom_level) FROM tiles", -1, &range, nullptr) !=
                SQLITE_OK)
                return fail(reason);
            const int rc = sqlite3_step(range);
            if (rc == SQLITE_ROW && sqlite3_column_type(range, 0) != SQLITE_NULL) {
                low = static_cast<int32_t>(std::clamp<sqlite3_int64>(sqlite3_column_int64(range, 0), 0, kMaxTileZoom));
                high = static_cast<int32_t>(std::clamp<sqlite3_int64>(sqlite3_column_int64(range, 1), 0, kMaxTileZoom));
            }
            sqlite3_finalize(range);
            if (rc != SQLITE_ROW) return fail(reason);
            if (low < 0) {
                *reason = "it holds no tiles";
                return false;
            }
        }
        minZoom_ = low;
        maxZoom_ = std::max(low, high);
        return true;
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
    std::mutex mutex_;  // one statement, one connection: one reader at a time
    int steps_ = 0;
    bool broken_ = false;
    std::string brokenReason_;
};

class XyzSource : public TileSource {
public:
    bool open(const std::string& directory, std::string* reason) {
        directory_ = directory;
        std::error_code ec;
        int32_t low = kMaxTileZoom + 1, high = -1;
        for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
            int32_t z;
            if (zoomIn(it->path().filename().native(), &z) && it->is_directory(ec)) {
                low = std::min(low, z);
                high = std::max(high, z);
            }
        }
        if (ec) {
            *reason = ec.message();
            return false;
        }
        if (high < 0) {
            *reason = "it holds no zoom level folders (0, 1, 2 ...) of {z}/{x}/{y}.png tiles";
            return false;
        }
        minZoom_ = low;
        maxZoom_ = high;
        return true;
    }

    TileRead read(const TileKey& key, std::string& bytes, std::string* reason) override {
        bytes.clear();
        const std::string stem = directory_ + "/" + std::to_string(key.z) + "/" + std::to_string(key.x) + "/" +
                                 std::to_string(key.y);
        for (const char* extension : {".png", ".jpg", ".jpeg"}) {
            std::string why;
            switch (readWholeFile(stem + extension, kMaxTileBytes, bytes, &why)) {
                case WholeFileRead::Read:
                    return TileRead::Found;
                case WholeFileRead::Missing:
                    break;
                case WholeFileRead::Unreadable:
                    *reason = why;
                    return TileRead::BadTile;
            }
        }
        return TileRead::Missing;
    }

    std::vector<TileKey> someTiles(int limit) override {
        std::vector<TileKey> keys;
        std::error_code ec;
        const int32_t n = (int32_t{1} << minZoom_) - 1;
        const std::string level = directory_ + "/" + std::to_string(minZoom_);
        for (std::filesystem::directory_iterator column(level, ec), end; !ec && column != end; column.increment(ec)) {
            int32_t x, y;
            if (!numberIn(column->path().filename().native(), n, &x)) continue;
            for (std::filesystem::directory_iterator row(column->path(), ec); !ec && row != end; row.increment(ec)) {
                if (!numberIn(row->path().stem().native(), n, &y)) continue;
                keys.push_back({minZoom_, x, y});
                if (static_cast<int>(keys.size()) >= limit) return keys;
            }
        }
        return keys;
    }

private:
    std::string directory_;
};

}  // namespace

std::unique_ptr<TileSource> TileSource::open(const std::string& path, std::string* reason) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        *reason = std::strerror(errno);
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        auto source = std::make_unique<XyzSource>();
        if (!source->open(path, reason)) return nullptr;
        return source;
    }
    if (!S_ISREG(info.st_mode)) {
        *reason = "it is neither a file nor a directory";
        return nullptr;
    }
    // Immutable: no locks and no journal are looked for, so a file on a
    // read-only medium or in a read-only directory opens as well.
    auto source = std::make_unique<MbtilesSource>();
    if (!source->open("file:" + uriPath(path) + "?mode=ro&immutable=1", {}, reason)) return nullptr;
    return source;
}

std::unique_ptr<TileSource> TileSource::openMbtilesImage(std::string_view bytes, std::string* reason) {
    auto source = std::make_unique<MbtilesSource>();
    if (bytes.empty()) {
        *reason = "it is empty";
        return nullptr;
    }
    if (!source->open({}, bytes, reason)) return nullptr;
    return source;
}

}  // namespace bearfix
