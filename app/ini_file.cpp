#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "app/path_text.h"
#include "support/cp1252.h"

namespace bearfix {

namespace {

// A CR left over from a line ending such as CR CR LF counts as a blank.
std::string_view trim(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The name of a "[section]" line, or false.
bool sectionName(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return false;
    std::size_t close = line.find(']');
    name = trim(line.substr(1, (close == std::string_view::npos ? line.size() : close) - 1));
    return true;
}

// A value ends at the first character a line of the file cannot hold.
std::string_view cutAtLineBreak(std::string_view value) {
    return value.substr(0, value.find_first_of(std::string_view("\0\r\n", 3)));
}

}  // namespace

IniFile::Load IniFile::load(const std::string& path, std::string* reason) {
    lines_.clear();
    const auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return Load::Unreadable;
    };
    // Only a regular file, opened without waiting: a pipe or a device in its
    // place could block or deliver bytes forever.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? Load::Missing : refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Load::Missing : refuse(std::strerror(errno));
    const std::string tooLarge = "larger than " + std::to_string(kMaxFileSize >> 20) + " MB";
    std::string bytes;
    std::string why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) {
        why = tooLarge;
    } else {
        // One byte more than allowed tells a file that grew meanwhile.
        bytes.resize(kMaxFileSize + 1);
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) why = std::strerror(errno);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        if (why.empty() && got > kMaxFileSize) why = tooLarge;
    }
    ::close(fd);
    if (!why.empty()) return refuse(why);
    parse(bytes);
    return Load::Read;
}

void IniFile::parse(std::string_view bytes) {
    lines_.clear();
    // Some tools add a byte-order mark to a file that has one; a mark left
    // in front of the first section would hide it.
    while (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.emplace_back(line);
        start = end + 1;
    }
}

int IniFile::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string_view name;
        if (sectionName(lines_[i], name) && equalsNoCase(name, section)) return static_cast<int>(i);
    }
    return -1;
}

int IniFile::findKey(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string_view name;
        if (sectionName(lines_[i], name)) {
            inSection = equalsNoCase(name, section);
            continue;
        }
        if (!inSection) continue;
        std::string_view line = lines_[i];
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos && equalsNoCase(trim(line.substr(0, eq)), key)) return static_cast<int>(i);
    }
    return -1;
}

bool IniFile::has(std::string_view section, std::string_view key) const { return findKey(section, key) >= 0; }

std::string_view IniFile::rawValue(std::string_view section, std::string_view key, bool* found) const {
    const int i = findKey(section, key);
    *found = i >= 0;
    if (i < 0) return {};
    std::string_view line = lines_[static_cast<std::size_t>(i)];
    return trim(cutAtLineBreak(line.substr(line.find('=') + 1)));
}

// A value that is not UTF-8 was written by an earlier version as the file
// system's bytes, unescaped: those bytes are the name.
std::string IniFile::getPath(std::string_view section, std::string_view key, const std::string& fallback) const {
    bool found;
    const std::string_view value = rawValue(section, key, &found);
    if (!found) return fallback;
    return isStrictUtf8(value) ? unescapePath(value) : std::string(value);
}

std::string IniFile::getString(std::string_view section, std::string_view key, const std::string& fallback) const {
    bool found;
    const std::string_view raw = rawValue(section, key, &found);
    if (!found) return fallback;
    std::string value = isValidUtf8(raw) ? utf8ToCp1252(raw) : std::string(raw);
    if (value.size() > kMaxText) value.resize(kMaxText);
    return value;
}

int32_t IniFile::getInt(std::string_view section, std::string_view key, int32_t fallback) const {
    if (!has(section, key)) return fallback;
    std::string text = getString(section, key, {});
    std::string_view s = text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        uint32_t v = 0;
        auto [end, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), v, 16);
        return ec == std::errc() && end == s.data() + s.size() ? static_cast<int32_t>(v) : fallback;
    }
    int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    return ec == std::errc() && end == s.data() + s.size() ? v : fallback;
}

// A line break in a value (a directory name may hold one) would start lines
// of its own, even sections, the next time the file is read.
void IniFile::setString(std::string_view section, std::string_view key, std::string_view value) {
    setValue(section, key, cp1252ToUtf8(cutAtLineBreak(value)));
}

// A name holds no NUL; its line breaks are escaped, and so are blanks at its
// ends, which reading would take for the layout of the line.
void IniFile::setPath(std::string_view section, std::string_view key, std::string_view bytes) {
    std::string value = escapePath(bytes.substr(0, bytes.find('\0')));
    std::size_t lead = 0, trail = 0;
    while (lead < value.size() && (value[lead] == ' ' || value[lead] == '\t')) ++lead;
    while (trail < value.size() - lead && (value[value.size() - 1 - trail] == ' ' || value[value.size() - 1 - trail] == '\t'))
        ++trail;
    const auto escaped = [&value](std::size_t from, std::size_t count) {
        std::string out;
        for (std::size_t i = from; i < from + count; ++i) out += value[i] == ' ' ? "%20" : "%09";
        return out;
    };
    value = escaped(0, lead) + value.substr(lead, value.size() - lead - trail) + escaped(value.size() - trail, trail);
    setValue(section, key, value);
}

void IniFile::setValue(std::string_view section, std::string_view key, const std::string& value) {
    std::string line = std::string(key) + "=" + value;
    int i = findKey(section, key);
    if (i >= 0) {
        std::string& old = lines_[static_cast<std::size_t>(i)];
        old = std::string(trim(std::string_view(old).substr(0, old.find('=')))) + "=" + value;
        return;
    }
    int s = findSection(section);
    if (s < 0) {
        if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(std::move(line));
        return;
    }
    // After the section's last non-blank line.
    std::size_t insertAt = static_cast<std::size_t>(s) + 1, next = insertAt;
    for (; next < lines_.size(); ++next) {
        std::string_view name;
        if (sectionName(lines_[next], name)) break;
        if (!trim(lines_[next]).empty()) insertAt = next + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

void IniFile::setInt(std::string_view section, std::string_view key, int32_t value) {
    setString(section, key, std::to_string(value));
}

std::string IniFile::text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += '\n';
    }
    return out;
}

namespace {

bool writeAll(int fd, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

// Where a save of `path` writes: through a symbolic link to its target.
std::filesystem::path saveTarget(const std::string& path) {
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::canonical(target, ec);
        if (!ec) target = resolved;
    }
    return target;
}

constexpr std::string_view kTemporarySuffix = ".XXXXXX";  // mkstemp's letters and digits

}  // namespace

bool IniFile::save(const std::string& path) const {
    const std::filesystem::path target = saveTarget(path);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A pipe, a device or a directory is not replaced, and never opened:
    // opening a pipe to write waits for a reader.
    if (exists && !S_ISREG(old.st_mode)) return false;

    const std::string content = text();
    std::string tempName = target.string() + std::string(kTemporarySuffix);
    const int fd = mkstemp(tempName.data());
    if (fd < 0) return false;
    fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tempName.c_str());
    return ok;
}

namespace {
constexpr time_t kStaleAfterSeconds = 60;
}  // namespace

int IniFile::removeStaleTemporaries(const std::string& path) {
    const std::filesystem::path target = saveTarget(path);
    const std::string prefix = target.filename().string() + ".";
    const auto ours = [&prefix](const std::string& name) {
        if (name.size() != prefix.size() + kTemporarySuffix.size() - 1 || name.compare(0, prefix.size(), prefix) != 0)
            return false;
        for (std::size_t i = prefix.size(); i < name.size(); ++i) {
            const char c = name[i];
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        }
        return true;
    };
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
        struct stat info;
        const std::filesystem::path& file = entry.path();
        if (!ours(file.filename().string()) || ::lstat(file.c_str(), &info) != 0) continue;
        // A recent one may belong to a save that is still going on in
        // another instance; a save takes milliseconds.
        const bool old = info.st_mtime < ::time(nullptr) - kStaleAfterSeconds;
        if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && old && ::unlink(file.c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace bearfix
