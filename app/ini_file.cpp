#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

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

bool IniFile::load(const std::string& path) {
    lines_.clear();
    // Only a file: a device or a pipe in its place could deliver bytes forever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > kMaxFileSize) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    parse(bytes.str());
    return true;
}

void IniFile::parse(std::string_view bytes) {
    lines_.clear();
    // Some tools add a byte-order mark to a file that has one; a mark left
    // in front of the first section would hide it.
    while (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    // Line by line, so that one line in another encoding does not change how
    // the others are read.
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.push_back(isValidUtf8(line) ? std::string(line) : cp1252ToUtf8(line));
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

std::string IniFile::getPath(std::string_view section, std::string_view key, const std::string& fallback) const {
    int i = findKey(section, key);
    if (i < 0) return fallback;
    std::string_view line = lines_[static_cast<std::size_t>(i)];
    return std::string(trim(cutAtLineBreak(line.substr(line.find('=') + 1))));
}

std::string IniFile::getString(std::string_view section, std::string_view key, const std::string& fallback) const {
    if (!has(section, key)) return fallback;
    std::string value = utf8ToCp1252(getPath(section, key, {}));
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

void IniFile::setString(std::string_view section, std::string_view key, std::string_view value) {
    setPath(section, key, cp1252ToUtf8(value));
}

void IniFile::setPath(std::string_view section, std::string_view key, std::string_view utf8) {
    // A line break in a value (a directory name may hold one) would start
    // lines of its own, even sections, the next time the file is read.
    utf8 = cutAtLineBreak(utf8);
    std::string line = std::string(key) + "=" + std::string(utf8);
    int i = findKey(section, key);
    if (i >= 0) {
        std::string& old = lines_[static_cast<std::size_t>(i)];
        old = std::string(trim(std::string_view(old).substr(0, old.find('=')))) + "=" + std::string(utf8);
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

bool IniFile::save(const std::string& path) const {
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::canonical(target, ec);
        if (!ec) target = resolved;
    }
    const std::string content = text();
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        // Not a file to be replaced (a device, a pipe): write into it as it is.
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = writeAll(fd, content);
        return (::close(fd) == 0) && ok;
    }

    std::string tempName = target.string() + ".XXXXXX";
    const int fd = mkstemp(tempName.data());
    if (fd < 0) return false;
    fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tempName.c_str());
    return ok;
}

}  // namespace bearfix
