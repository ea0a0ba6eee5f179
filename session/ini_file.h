// A settings file of sections and keys, read and written without losing
// anything the program does not know: unknown sections and keys, comments and
// the order of lines survive a rewrite byte for byte.
//
// Section and key names match without regard to letter case; the first
// occurrence wins. Values are taken exactly as they stand (only the blanks
// around them are dropped), so a text ending in '"' comes back unchanged.
// Texts are written in UTF-8; a value that is not valid UTF-8 is read as
// Windows-1252, as the old Windows program wrote it. Texts cross this
// interface as Windows-1252 bytes, file names as the file system's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bearfix {

class IniFile {
public:
    static constexpr std::size_t kMaxText = 2047;
    // A settings file is a few kilobytes; anything this large is no settings
    // file, and reading it would cost seconds and gigabytes.
    static constexpr std::uintmax_t kMaxFileSize = 1 << 20;

    enum class Load { Read, Missing, Unreadable };
    // Replaces the content with the file's. Missing: there is no file (the
    // content is empty). Unreadable: something is there that cannot be read
    // as a settings file (no permission, not a regular file, larger than
    // kMaxFileSize); `reason` says what.
    Load load(const std::string& path, std::string* reason = nullptr);
    void parse(std::string_view bytes);

    bool has(std::string_view section, std::string_view key) const;
    // At most kMaxText characters.
    std::string getString(std::string_view section, std::string_view key, const std::string& fallback) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else gives `fallback`.
    int32_t getInt(std::string_view section, std::string_view key, int32_t fallback) const;

    void setString(std::string_view section, std::string_view key, std::string_view value);
    // The same for file names and directories, which are kept as the file
    // system's bytes (escaped as session/path_text.h says). A text is read and
    // stored up to its first CR, LF or NUL, which a line cannot hold.
    std::string getPath(std::string_view section, std::string_view key, const std::string& fallback) const;
    void setPath(std::string_view section, std::string_view key, std::string_view bytes);
    void setInt(std::string_view section, std::string_view key, int32_t value);

    // The file content.
    std::string text() const;

    // Writes a temporary file beside `path` and renames it over, so that the
    // old file survives any failure. A symbolic link is followed. Refuses
    // (false) to replace anything but a regular file.
    bool save(const std::string& path) const;

    // Removes the temporary files a save interrupted by a kill left beside
    // `path`: regular files of this user named like save's, untouched for a
    // minute. Their number.
    static int removeStaleTemporaries(const std::string& path);

private:
    // Index of the key's line, or -1.
    int findKey(std::string_view section, std::string_view key) const;
    int findSection(std::string_view section) const;
    std::string_view rawValue(std::string_view section, std::string_view key, bool* found) const;
    void setValue(std::string_view section, std::string_view key, const std::string& value);

    std::vector<std::string> lines_;  // as the file has them, without line ends
};

}  // namespace bearfix
