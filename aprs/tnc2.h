// APRS packets as text, the TNC-2 monitor form of direwolf, the APRS-IS
// servers and most TNCs:
//   SRC[-SSID]>DEST[-SSID][,DIGI[-SSID][*]]...:information field
// (APRS Protocol Reference 1.0.1, ch. 17). The line is untrusted: at most
// kMaxAprsLineBytes, every address checked, no control character but a
// trailing CR/LF (dropped).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace bearfix {

// What APRS-IS passes on (aprsc's PACKETLEN_MAX), line end included.
inline constexpr std::size_t kMaxAprsLineBytes = 512;
// Eight digipeaters on the air, and on APRS-IS the q construct and the
// server behind them.
inline constexpr std::size_t kMaxAprsPath = 10;

struct Tnc2Packet {
    std::string source;               // "N0CALL-9"
    std::string destination;          // "APRS"
    std::vector<std::string> path;    // "WIDE1-1", "RELAY*", "qAC", ...
    std::string info;                 // the information field, from its data type byte
};

// An address of the header: 1 to 9 letters or digits, then optionally '-'
// and an SSID of 1 or 2 letters or digits (APRS-IS takes more than AX.25's
// six upper-case characters and SSID 0..15). A path element may end in '*'.
bool isAprsAddress(std::string_view text);

// False with `why` for a line that is too long, has no "SRC>DEST...:", an
// address that is none, too long a path or a control character.
bool parseTnc2(std::string_view line, Tnc2Packet& out, std::string& why);

// Up to 24 bytes of untrusted text for a message: printable ASCII as it
// is, anything else as <0xNN>, "..." when cut.
std::string printableExcerpt(std::string_view text);

// The monitor line of a packet (no line end).
std::string formatTnc2(const Tnc2Packet& packet);

}  // namespace bearfix
