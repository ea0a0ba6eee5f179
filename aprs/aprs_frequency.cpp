#include "aprs/aprs_frequency.h"

#include <cmath>
#include <cstdio>

namespace bearfix {

namespace {

// The hundreds of MHz the letters A..O stand for.
constexpr int kLetterBaseMhz[] = {1200, 2300, 2400, 3400, 5600, 5700, 5800, 10100,
                                  10200, 10300, 10400, 10500, 24000, 24100, 24200};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::optional<double> commentFrequency(std::string_view comment) {
    if (!comment.empty() && (comment[0] == '/' || comment[0] == ' ')) comment.remove_prefix(1);
    if (comment.size() < 10) return std::nullopt;
    const std::string_view f = comment.substr(0, 10);
    const bool lettered = f[0] >= 'A' && f[0] <= 'O';
    if (!(isDigit(f[0]) || lettered) || !isDigit(f[1]) || !isDigit(f[2]) || f[3] != '.' || !isDigit(f[4]) ||
        !isDigit(f[5]) || !(isDigit(f[6]) || f[6] == ' ') || lower(f[7]) != 'm' || lower(f[8]) != 'h' ||
        lower(f[9]) != 'z')
        return std::nullopt;
    const int khz = (f[1] - '0') * 10000 + (f[2] - '0') * 1000 + (f[4] - '0') * 100 + (f[5] - '0') * 10 +
                    (f[6] == ' ' ? 0 : f[6] - '0');
    const int base = lettered ? kLetterBaseMhz[f[0] - 'A'] : (f[0] - '0') * 100;
    return (base * 1000 + khz) / 1000.0;
}

std::optional<double> nameFrequency(std::string_view name) {
    if (name.size() < 6 || !isDigit(name[0]) || !isDigit(name[1]) || !isDigit(name[2]) || name[3] != '.' ||
        !isDigit(name[4]) || !isDigit(name[5]))
        return std::nullopt;
    int khz = (name[0] - '0') * 100000 + (name[1] - '0') * 10000 + (name[2] - '0') * 1000 + (name[4] - '0') * 100 +
              (name[5] - '0') * 10;
    if (name.size() > 6 && isDigit(name[6])) khz += name[6] - '0';
    return khz / 1000.0;
}

std::optional<std::string> formatFrequency(double mhz) {
    if (!std::isfinite(mhz) || mhz < 0) return std::nullopt;
    if (mhz >= 25000.0) return std::nullopt;
    const long khz = std::lround(mhz * 1000.0);
    char text[48];
    if (khz <= 999999) {
        std::snprintf(text, sizeof text, "%03ld.%03ldMHz", khz / 1000, khz % 1000);
        return std::string(text);
    }
    for (std::size_t i = 0; i < std::size(kLetterBaseMhz); ++i) {
        const long rest = khz - kLetterBaseMhz[i] * 1000L;
        if (rest >= 0 && rest <= 99999) {
            std::snprintf(text, sizeof text, "%c%02ld.%03ldMHz", static_cast<char>('A' + i), rest / 1000, rest % 1000);
            return std::string(text);
        }
    }
    return std::nullopt;
}

}  // namespace bearfix
