#include "aprs/tnc2.h"

namespace bearfix {

namespace {

bool isAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool allAlnum(std::string_view text, std::size_t min, std::size_t max) {
    if (text.size() < min || text.size() > max) return false;
    for (char c : text)
        if (!isAlnum(c)) return false;
    return true;
}

}  // namespace

std::string printableExcerpt(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 24)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "<0x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            out += '>';
        }
    }
    return text.size() > 24 ? out + "..." : out;
}

bool isAprsAddress(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return allAlnum(text, 1, 9);
    return allAlnum(text.substr(0, dash), 1, 9) && allAlnum(text.substr(dash + 1), 1, 2);
}

bool parseTnc2(std::string_view line, Tnc2Packet& out, std::string& why) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() > kMaxAprsLineBytes) {
        why = "the line is longer than " + std::to_string(kMaxAprsLineBytes) + " bytes";
        return false;
    }
    for (char c : line) {
        if (c == '\0' || c == '\r' || c == '\n') {
            why = "a NUL, CR or LF inside the line";
            return false;
        }
    }
    const std::size_t colon = line.find(':');
    const std::size_t gt = line.find('>');
    if (colon == std::string_view::npos || gt == std::string_view::npos || gt > colon) {
        why = "no \"SOURCE>DESTINATION:\" header in \"" + printableExcerpt(line) + "\"";
        return false;
    }
    Tnc2Packet packet;
    packet.source = std::string(line.substr(0, gt));
    if (!isAprsAddress(packet.source)) {
        why = "the source \"" + printableExcerpt(packet.source) + "\" is no callsign";
        return false;
    }
    std::string_view rest = line.substr(gt + 1, colon - gt - 1);
    bool first = true;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        if (first) {
            if (!isAprsAddress(part)) {
                why = "the destination \"" + printableExcerpt(part) + "\" is no callsign";
                return false;
            }
            packet.destination = std::string(part);
            first = false;
        } else {
            const std::string_view bare = !part.empty() && part.back() == '*' ? part.substr(0, part.size() - 1) : part;
            if (!isAprsAddress(bare)) {
                why = "the path element \"" + printableExcerpt(part) + "\" is no callsign";
                return false;
            }
            if (packet.path.size() == kMaxAprsPath) {
                why = "more than " + std::to_string(kMaxAprsPath) + " path elements";
                return false;
            }
            packet.path.emplace_back(part);
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    packet.info = std::string(line.substr(colon + 1));
    if (packet.info.empty()) {
        why = "an empty information field";
        return false;
    }
    out = std::move(packet);
    return true;
}

std::string formatTnc2(const Tnc2Packet& packet) {
    std::string out = packet.source + ">" + packet.destination;
    for (const std::string& p : packet.path) out += "," + p;
    return out + ":" + packet.info;
}

}  // namespace bearfix
