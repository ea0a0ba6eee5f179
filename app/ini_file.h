// A settings file of sections and keys, read and written without losing
// anything the program does not know: unknown sections and keys, comments and
// the order of lines survive a rewrite.
//
// Section and key names match without regard to letter case; the first
// occurrence wins. Values are taken exactly as they stand (only the blanks
// around them are dropped), so a text ending in '"' comes back unchanged.
// The file is UTF-8; a line that is not valid UTF-8 is read as Windows-1252,
// as the old Windows program wrote it. Values cross this interface as
// Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bearfix {

class IniFile {
public:
    static constexpr std::size_t kMaxText = 2047;
    static constexpr std::uintmax_t kMaxFileSize = 64 << 20;  // larger is no settings file

    // Replaces the content with the file's; false (and empty) when there is no
    // regular file of at most kMaxFileSize bytes to read.
    bool load(const std::string& path);
    void parse(std::string_view bytes);

    bool has(std::string_view section, std::string_view key) const;
    // At most kMaxText characters.
    std::string getString(std::string_view section, std::string_view key, const std::string& fallback) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else gives `fallback`.
    int32_t getInt(std::string_view section, std::string_view key, int32_t fallback) const;

    void setString(std::string_view section, std::string_view key, std::string_view value);
    // The same for file names and directories, which stay in the file system's
    // UTF-8 rather than the program's Windows-1252. A value is read and
    // stored up to its first CR, LF or NUL, which a line cannot hold.
    std::string getPath(std::string_view section, std::string_view key, const std::string& fallback) const;
    void setPath(std::string_view section, std::string_view key, std::string_view utf8);
    void setInt(std::string_view section, std::string_view key, int32_t value);

    // The file content, UTF-8.
    std::string text() const;

    // Writes a temporary file beside `path` and renames it over, so that the
    // old file survives any failure. A symbolic link is followed.
    bool save(const std::string& path) const;

private:
    // Index of the key's line, or -1.
    int findKey(std::string_view section, std::string_view key) const;
    int findSection(std::string_view section) const;

    std::vector<std::string> lines_;  // UTF-8, without line ends
};

}  // namespace bearfix
