// Switches the test process to a German locale (decimal comma), built into a
// private temporary directory so that nothing on the machine changes.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace bearfix::testing {

// True when the process now runs under de_DE.UTF-8.
inline bool useGermanLocale() {
    static const bool built = [] {
        if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
        auto dir = std::filesystem::temp_directory_path() / ("bearfix-locale-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        std::string command = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        const bool made = std::system(command.c_str()) == 0;
        if (made) setenv("LOCPATH", dir.c_str(), 1);
        // The C library keeps a locale once loaded; the directory can go.
        const bool loaded = made && std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return loaded;
    }();
    return built && std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

}  // namespace bearfix::testing
