#include "session/ini_file.h"

#include <charconv>
#include <cstring>

#include "session/path_text.h"
#include "support/cp1252.h"
#include "support/whole_file.h"

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
    std::string bytes;
    switch (readWholeFile(path, kMaxFileSize, bytes, reason)) {
        case WholeFileRead::Missing: return Load::Missing;
        case WholeFileRead::Unreadable: return Load::Unreadable;
        case WholeFileRead::Read: break;
    }
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

bool IniFile::save(const std::string& path) const { return replaceFileAtomically(path, text()); }

int IniFile::removeStaleTemporaries(const std::string& path) { return bearfix::removeStaleTemporaries(path); }

}  // namespace bearfix
