#include "remote/remote_frames.h"

#include <algorithm>

namespace bearfix {

namespace {

uint32_t littleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::string encodeFrame(uint32_t code, std::string_view bytes) {
    std::string frame(8, '\0');
    const auto length = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<char>(code >> (8 * i));
        frame[static_cast<std::size_t>(4 + i)] = static_cast<char>(length >> (8 * i));
    }
    frame += bytes;
    return frame;
}

uint32_t decodeReply(const unsigned char bytes[4]) { return littleEndian(bytes); }

void FrameReader::feed(const char* data, std::size_t size, const FrameHandler& handler, const ReplySink& reply) {
    std::size_t i = 0;
    while (i < size && !closed_) {
        if (toDrop_ > 0) {
            const std::size_t n = std::min<std::size_t>(toDrop_, size - i);
            toDrop_ -= static_cast<uint32_t>(n);
            i += n;
            continue;
        }
        if (headerFill_ < 8) {
            const std::size_t n = std::min<std::size_t>(8 - headerFill_, size - i);
            std::copy(data + i, data + i + n, header_ + headerFill_);
            headerFill_ += static_cast<int>(n);
            i += n;
            if (headerFill_ < 8) break;
            code_ = littleEndian(header_);
            length_ = littleEndian(header_ + 4);
            text_.clear();
            if (length_ > kMaxText) {
                reply(0x83000001);
                headerFill_ = 0;
                if (length_ > kMaxDropped) {
                    closed_ = true;
                    break;
                }
                toDrop_ = length_;
                continue;
            }
        }
        const std::size_t n = std::min<std::size_t>(length_ - text_.size(), size - i);
        text_.insert(text_.end(), data + i, data + i + n);
        i += n;
        if (text_.size() < length_) break;
        reply(handler(code_, static_cast<int32_t>(length_), text_.data()));
        headerFill_ = 0;
        text_.clear();
    }
}

}  // namespace bearfix
