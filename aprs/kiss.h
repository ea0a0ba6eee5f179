// A TNC's KISS stream (Chepponis & Karn, "KISS - A Simple Host-to-TNC
// Communications Protocol"): frames between FEND bytes (0xC0), FEND and
// FESC inside a frame sent as FESC TFEND and FESC TFESC (0xDB 0xDC, 0xDB
// 0xDD); the first byte of a frame is port << 4 | command, command 0 a data
// frame. A data frame holds an AX.25 frame without flags and FCS; APRS uses
// UI frames (AX.25 2.2: addresses of 7 bytes, six characters shifted left by
// one and the SSID byte, control 0x03, PID 0xF0), which become TNC-2 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "aprs/tnc2.h"

namespace bearfix {

inline constexpr unsigned char kFend = 0xC0;
inline constexpr unsigned char kFesc = 0xDB;
inline constexpr unsigned char kTfend = 0xDC;
inline constexpr unsigned char kTfesc = 0xDD;
// An AX.25 frame of ten addresses and 256 bytes of information is 328 bytes.
inline constexpr std::size_t kMaxKissFrameBytes = 1024;
inline constexpr std::size_t kMaxAx25InfoBytes = 256;

struct KissFrame {
    int port = 0;      // 0..15
    std::string data;  // the AX.25 frame
};

// Takes the stream in pieces of any size; keeps at most kMaxKissFrameBytes.
class KissDeframer {
public:
    // The data frames completed by `bytes`. Frames that are too long or hold
    // a FESC followed by anything but TFEND or TFESC are dropped and
    // counted, and `problem` (when given) gets the reason of the last one;
    // frames of other commands (TXDELAY ...) are passed over.
    std::vector<KissFrame> feed(std::string_view bytes, std::string* problem = nullptr);
    uint64_t dropped() const { return dropped_; }

private:
    std::string frame_;
    bool escaped_ = false;
    std::string broken_;  // why the frame under way is dropped
    uint64_t dropped_ = 0;
};

// A data frame for port `port` (0..15), escaped, between FENDs.
std::string kissFrame(std::string_view ax25, int port = 0);

// The TNC-2 form of an AX.25 UI frame: the digipeaters after the source,
// '*' after the last one whose has-been-repeated bit is set, the SSID after
// '-' when not 0; a CR or LF at the end of the information is dropped. False
// with `why` for anything else (too short, an address that is none, more
// than 8 digipeaters, not UI or not PID 0xF0, a NUL, CR or LF inside the
// information or more than kMaxAx25InfoBytes of it).
bool ax25ToTnc2(std::string_view frame, Tnc2Packet& out, std::string& why);

// The AX.25 UI frame of a packet, for sending to a TNC: every address of
// 1..6 upper-case letters or digits and an SSID 0..15, at most 8
// digipeaters (those up to a '*' marked as repeated).
bool tnc2ToAx25(const Tnc2Packet& packet, std::string& frame, std::string& why);

}  // namespace bearfix
