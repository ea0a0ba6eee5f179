#include "aprs/aprs_is.h"

#include <cmath>
#include <cstdio>

#include "aprs/tnc2.h"

namespace bearfix {

namespace {

bool isAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// A software version as one word of printable ASCII (the login line's
// "vers" takes two words: the name and this).
bool isVersionWord(std::string_view text) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c <= 0x20 || c > 0x7E) return false;
    return true;
}

}  // namespace

int aprsPasscode(std::string_view call) {
    unsigned char root[10] = {};
    std::size_t len = 0;
    while (len < call.size() && len < 9 && call[len] != '-') {
        root[len] = static_cast<unsigned char>(upper(call[len]));
        ++len;
    }
    unsigned hash = 0x73e2;
    for (std::size_t i = 0; i < len; i += 2) {
        hash ^= static_cast<unsigned>(root[i]) << 8;
        hash ^= root[i + 1];  // 0 past the end
    }
    return static_cast<int>(hash & 0x7fff);
}

bool isLoginCall(std::string_view call) {
    if (call.size() > 9) return false;
    for (char c : call)
        if (!isAlnum(c) && c != '-') return false;
    return isAprsAddress(call);
}

std::string aprsRangeFilter(double latDeg, double lonDeg, double rangeKm) {
    char text[64];
    if (rangeKm < 1.0)
        std::snprintf(text, sizeof text, "r/%.4f/%.4f/%.1f", latDeg, lonDeg, rangeKm);
    else
        std::snprintf(text, sizeof text, "r/%.4f/%.4f/%.0f", latDeg, lonDeg, rangeKm);
    return text;
}

bool aprsIsLogin(std::string_view call, int passcode, std::string_view version, std::optional<double> latDeg,
                 std::optional<double> lonDeg, std::optional<double> rangeKm, std::string& line, std::string& why) {
    if (!isLoginCall(call)) {
        why = "\"" + printableExcerpt(call) + "\" is no callsign (1 to 6 letters and digits, -SSID, 9 at most)";
        return false;
    }
    if (passcode != kReceiveOnlyPasscode && passcode != aprsPasscode(call)) {
        why = "the passcode " + std::to_string(passcode) + " is not that of " + std::string(call);
        return false;
    }
    if (!isVersionWord(version)) {
        why = "the version is no single word";
        return false;
    }
    line = "user " + std::string(call) + " pass " + std::to_string(passcode) + " vers Bearfix " + std::string(version);
    if (rangeKm) {
        if (!latDeg || !lonDeg || !(std::fabs(*latDeg) <= 90) || !(std::fabs(*lonDeg) <= 180) ||
            !(*rangeKm >= kMinFilterRangeKm && *rangeKm <= kMaxFilterRangeKm)) {
            why = "the range filter needs a position and 0.1 to 20000 km";
            return false;
        }
        line += " filter " + aprsRangeFilter(*latDeg, *lonDeg, *rangeKm);
    }
    line += "\r\n";
    return true;
}

AprsIsLineKind classifyAprsIsLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty() || line[0] != '#') return AprsIsLineKind::Packet;
    std::string_view text = line.substr(1);
    while (!text.empty() && text[0] == ' ') text.remove_prefix(1);
    if (startsWith(text, "logresp ")) {
        // "logresp CALL verified, server NAME" / "logresp CALL unverified, ..."
        text.remove_prefix(8);
        const std::size_t blank = text.find(' ');
        if (blank != std::string_view::npos) {
            const std::string_view word = text.substr(blank + 1);
            if (startsWith(word, "verified")) return AprsIsLineKind::Verified;
            if (startsWith(word, "unverified")) return AprsIsLineKind::Unverified;
        }
        return AprsIsLineKind::Refused;
    }
    if (startsWith(text, "Invalid ") || startsWith(text, "Login by user not allowed")) return AprsIsLineKind::Refused;
    return AprsIsLineKind::Comment;
}

}  // namespace bearfix
