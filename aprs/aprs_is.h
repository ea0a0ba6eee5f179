// The APRS-IS side of the conversation (aprsc's login.c and worker.c,
// aprs-is.net): the client logs in with one line
//   user CALL pass PASSCODE vers Bearfix VERSION filter r/LAT/LON/KM
// and the server answers with comment lines starting with '#' (its banner,
// "# logresp CALL verified, server NAME", keepalives every 20 s) between
// the packets, one TNC-2 line each.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bearfix {

inline constexpr int kDefaultAprsIsPort = 14580;  // the port that takes a filter
inline constexpr int kReceiveOnlyPasscode = -1;
inline constexpr double kMinFilterRangeKm = 0.1;  // what aprsc takes
inline constexpr double kMaxFilterRangeKm = 20000.0;

// The passcode of a callsign: its part before '-', in upper case, at most
// 9 characters, hashed as aprsc's passcode.c does; 0..32767.
int aprsPasscode(std::string_view call);

// A callsign for logging in: 1..9 letters or digits, optionally -SSID of 1
// or 2; not "N0CALL" or the like when sending (checked by the caller).
bool isLoginCall(std::string_view call);

// The login line with its CRLF. `passcode` is -1 (receive only) or the
// callsign's; false with `why` for a callsign that is none, a passcode
// that belongs to another callsign or a range out of 0.1..20000 km.
// Without a range the server sends nothing but what is addressed to us.
bool aprsIsLogin(std::string_view call, int passcode, std::string_view version, std::optional<double> latDeg,
                 std::optional<double> lonDeg, std::optional<double> rangeKm, std::string& line, std::string& why);

// "r/50.1235/8.6000/50": the range filter, four decimals, the range in whole
// kilometres (at least 0.1 as one decimal).
std::string aprsRangeFilter(double latDeg, double lonDeg, double rangeKm);

enum class AprsIsLineKind {
    Packet,      // a TNC-2 line
    Comment,     // the banner, a keepalive, anything after '#'
    Verified,    // "# logresp CALL verified, ..."
    Unverified,  // "# logresp CALL unverified, ...": received, never sent on
    Refused,     // "# Invalid login ...", "# Invalid username format", "# Login by user not allowed"
};

AprsIsLineKind classifyAprsIsLine(std::string_view line);

}  // namespace bearfix
