// How long ago this process was started, for start-up figures. Bearfix and
// the minimal window it is measured against read it the same way.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace bearfix {

// Milliseconds since this process was started, from the kernel's record or
// the launcher's (BEARFIX_LAUNCHED_NS: nanoseconds since the epoch). The
// kernel counts in ticks of 10 ms; a launcher that says when it started the
// program makes the figure exact.
inline double millisecondsSinceStart() {
    if (const char* launched = std::getenv("BEARFIX_LAUNCHED_NS")) {
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        return (static_cast<double>(now.tv_sec) * 1e9 + now.tv_nsec - std::strtod(launched, nullptr)) / 1e6;
    }
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t field = 3, i = text.rfind(')') + 2;  // field 3 follows the command name
    while (field < 22 && i < text.size()) field += text[i++] == ' ' ? 1 : 0;
    const double startTicks = std::stod(text.substr(i));
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / sysconf(_SC_CLK_TCK)) * 1000.0;
}

}  // namespace bearfix
