// Whole files read and replaced safely: reading never blocks on a pipe or
// reads without end, and replacing never leaves a half-written file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bearfix {

enum class WholeFileRead { Read, Missing, Unreadable };

// Reads the regular file at `path` into `bytes` (emptied first). Missing:
// there is no file. Unreadable: no permission, not a regular file, or larger
// than `maxBytes` ("larger than N MB"); `reason` says what.
WholeFileRead readWholeFile(const std::string& path, std::uintmax_t maxBytes, std::string& bytes,
                            std::string* reason = nullptr);

// Writes a temporary file beside `path` and renames it over, so that the old
// file survives any failure. A symbolic link is followed. Refuses (false) to
// replace anything but a regular file. A new file gets mode 0644, a replaced
// one keeps its mode.
bool replaceFileAtomically(const std::string& path, std::string_view content);

// Removes the temporary files a replacement interrupted by a kill left beside
// `path`: regular files of this user named like replaceFileAtomically's and
// untouched for a minute. Their number.
int removeStaleTemporaries(const std::string& path);

}  // namespace bearfix
