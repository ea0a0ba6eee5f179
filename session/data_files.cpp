#include "session/data_files.h"

#include <filesystem>

#ifndef BEARFIX_DATA_DIR
#define BEARFIX_DATA_DIR "/usr/share/bearfix"
#endif

namespace bearfix {

std::string findDataFile(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(name, ec)) return name;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    for (const fs::path& directory : {program.parent_path().parent_path() / "share/bearfix", fs::path(BEARFIX_DATA_DIR)}) {
        if (!ec && fs::exists(directory / name, ec)) return (directory / name).string();
    }
    return name;
}

}  // namespace bearfix
