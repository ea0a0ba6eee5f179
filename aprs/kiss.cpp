#include "aprs/kiss.h"

#include <cstdio>

namespace bearfix {

namespace {

constexpr std::size_t kAddressBytes = 7;
constexpr std::size_t kMaxDigipeaters = 8;
constexpr unsigned char kControlUi = 0x03;
constexpr unsigned char kPollFinal = 0x10;
constexpr unsigned char kPidNoLayer3 = 0xF0;

std::string hexByte(unsigned char b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", b);
    return text;
}

// One address: "CALL" or "CALL-SSID"; false for characters that are none.
bool readAddress(std::string_view bytes, std::string& out) {
    out.clear();
    bool blank = false;
    for (std::size_t i = 0; i < 6; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const char c = static_cast<char>(b >> 1);
        if (b & 1) return false;
        if (c == ' ') {
            blank = true;
            continue;
        }
        if (blank || !((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        out += c;
    }
    const int ssid = (static_cast<unsigned char>(bytes[6]) >> 1) & 0x0F;
    if (ssid) out += "-" + std::to_string(ssid);
    return !out.empty();
}

// The 7 bytes of an address of a TNC-2 header; false when it does not fit.
bool writeAddress(std::string_view text, unsigned char ssidBits, std::string& frame) {
    const std::size_t dash = text.find('-');
    const std::string_view call = text.substr(0, dash);
    int ssid = 0;
    if (dash != std::string_view::npos) {
        const std::string_view s = text.substr(dash + 1);
        if (s.empty() || s.size() > 2) return false;
        for (char c : s) {
            if (c < '0' || c > '9') return false;
            ssid = ssid * 10 + (c - '0');
        }
        if (ssid > 15) return false;
    }
    if (call.empty() || call.size() > 6) return false;
    for (std::size_t i = 0; i < 6; ++i) {
        const char c = i < call.size() ? call[i] : ' ';
        if (i < call.size() && !((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        frame += static_cast<char>(static_cast<unsigned char>(c) << 1);
    }
    frame += static_cast<char>(ssidBits | 0x60 | (ssid << 1));
    return true;
}

}  // namespace

std::vector<KissFrame> KissDeframer::feed(std::string_view bytes, std::string* problem) {
    std::vector<KissFrame> frames;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == kFend) {
            if (escaped_ && broken_.empty()) broken_ = "a FESC at the end of a frame";
            if (!broken_.empty()) {
                ++dropped_;
                if (problem) *problem = broken_;
            } else if (frame_.size() > 1 && (static_cast<unsigned char>(frame_[0]) & 0x0F) == 0) {
                frames.push_back({static_cast<unsigned char>(frame_[0]) >> 4, frame_.substr(1)});
            }
            frame_.clear();
            escaped_ = false;
            broken_.clear();
            continue;
        }
        if (!broken_.empty()) continue;
        unsigned char data = b;
        if (escaped_) {
            escaped_ = false;
            if (b == kTfend) {
                data = kFend;
            } else if (b == kTfesc) {
                data = kFesc;
            } else {
                broken_ = "a FESC followed by " + hexByte(b) + ", not TFEND or TFESC";
                continue;
            }
        } else if (b == kFesc) {
            escaped_ = true;
            continue;
        }
        if (frame_.size() >= kMaxKissFrameBytes) {
            broken_ = "a frame longer than " + std::to_string(kMaxKissFrameBytes) + " bytes";
            frame_.clear();
            continue;
        }
        frame_ += static_cast<char>(data);
    }
    return frames;
}

std::string kissFrame(std::string_view ax25, int port) {
    std::string out;
    out += static_cast<char>(kFend);
    const auto put = [&out](unsigned char b) {
        if (b == kFend) {
            out += static_cast<char>(kFesc);
            out += static_cast<char>(kTfend);
        } else if (b == kFesc) {
            out += static_cast<char>(kFesc);
            out += static_cast<char>(kTfesc);
        } else {
            out += static_cast<char>(b);
        }
    };
    put(static_cast<unsigned char>((port & 0x0F) << 4));
    for (char c : ax25) put(static_cast<unsigned char>(c));
    out += static_cast<char>(kFend);
    return out;
}

bool ax25ToTnc2(std::string_view frame, Tnc2Packet& out, std::string& why) {
    std::vector<std::string> addresses;
    std::size_t at = 0;
    int lastRepeated = -1;
    while (true) {
        if (frame.size() < at + kAddressBytes) {
            why = "the frame ends inside its addresses";
            return false;
        }
        std::string address;
        if (!readAddress(frame.substr(at, kAddressBytes), address)) {
            why = "address " + std::to_string(addresses.size() + 1) + " is no callsign";
            return false;
        }
        const auto ssidByte = static_cast<unsigned char>(frame[at + 6]);
        if (addresses.size() >= 2 && (ssidByte & 0x80)) lastRepeated = static_cast<int>(addresses.size());
        addresses.push_back(address);
        at += kAddressBytes;
        if (ssidByte & 1) break;
        if (addresses.size() == 2 + kMaxDigipeaters) {
            why = "more than " + std::to_string(kMaxDigipeaters) + " digipeaters";
            return false;
        }
    }
    if (addresses.size() < 2) {
        why = "fewer than two addresses";
        return false;
    }
    if (frame.size() < at + 2) {
        why = "no control and PID bytes";
        return false;
    }
    const auto control = static_cast<unsigned char>(frame[at]), pid = static_cast<unsigned char>(frame[at + 1]);
    if ((control & ~kPollFinal) != kControlUi || pid != kPidNoLayer3) {
        why = "not an APRS frame (control " + hexByte(control) + ", PID " + hexByte(pid) + ")";
        return false;
    }
    std::string_view info = frame.substr(at + 2);
    while (!info.empty() && (info.back() == '\r' || info.back() == '\n')) info.remove_suffix(1);
    if (info.empty() || info.size() > kMaxAx25InfoBytes || info.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
        why = "an information field that is empty, longer than " + std::to_string(kMaxAx25InfoBytes) +
              " bytes or holds a NUL, CR or LF";
        return false;
    }
    Tnc2Packet packet;
    packet.destination = addresses[0];
    packet.source = addresses[1];
    for (std::size_t i = 2; i < addresses.size(); ++i)
        packet.path.push_back(addresses[i] + (static_cast<int>(i) == lastRepeated ? "*" : ""));
    packet.info = std::string(info);
    out = std::move(packet);
    return true;
}

bool tnc2ToAx25(const Tnc2Packet& packet, std::string& frame, std::string& why) {
    if (packet.path.size() > kMaxDigipeaters) {
        why = "more than " + std::to_string(kMaxDigipeaters) + " digipeaters";
        return false;
    }
    if (packet.info.empty() || packet.info.size() > kMaxAx25InfoBytes) {
        why = "an information field that is empty or longer than " + std::to_string(kMaxAx25InfoBytes) + " bytes";
        return false;
    }
    std::size_t repeatedUpTo = 0;  // digipeaters before this one have repeated
    for (std::size_t i = 0; i < packet.path.size(); ++i)
        if (!packet.path[i].empty() && packet.path[i].back() == '*') repeatedUpTo = i + 1;
    std::string out;
    const bool noPath = packet.path.empty();
    bool ok = writeAddress(packet.destination, 0x80, out) && writeAddress(packet.source, noPath ? 0x01 : 0x00, out);
    for (std::size_t i = 0; ok && i < packet.path.size(); ++i) {
        std::string_view digi = packet.path[i];
        if (!digi.empty() && digi.back() == '*') digi.remove_suffix(1);
        const unsigned char bits = (i < repeatedUpTo ? 0x80 : 0x00) | (i + 1 == packet.path.size() ? 0x01 : 0x00);
        ok = writeAddress(digi, bits, out);
    }
    if (!ok) {
        why = "an address that AX.25 cannot carry (1 to 6 upper-case letters or digits, SSID 0..15)";
        return false;
    }
    out += static_cast<char>(kControlUi);
    out += static_cast<char>(kPidNoLayer3);
    frame = out + packet.info;
    return true;
}

}  // namespace bearfix
