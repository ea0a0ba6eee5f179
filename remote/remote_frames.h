// Reading the frames of one connection: uint32 code, uint32 length (both
// little-endian), then `length` bytes. Toolkit-free, so that it can be tested
// and fuzzed without a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bearfix {

// A frame as a sender writes it, and the reply as it arrives.
std::string encodeFrame(uint32_t code, std::string_view bytes);
uint32_t decodeReply(const unsigned char bytes[4]);

class FrameReader {
public:
    static constexpr uint32_t kMaxText = 1024;      // longer frames are refused and drained
    static constexpr uint32_t kMaxDropped = 65536;  // longer still close the connection

    using FrameHandler = std::function<uint32_t(uint32_t code, int32_t length, const char* bytes)>;
    using ReplySink = std::function<void(uint32_t reply)>;

    // Consumes all `size` bytes: complete frames go to `handler`, whose
    // answer goes to `reply`; a refused frame is answered 0x83000001. After a
    // frame that announces more than kMaxDropped bytes the reader is closed
    // and ignores the rest.
    void feed(const char* data, std::size_t size, const FrameHandler& handler, const ReplySink& reply);

    bool closed() const { return closed_; }
    // Part of a frame has arrived and the rest has not.
    bool inFrame() const { return headerFill_ > 0 || toDrop_ > 0; }

private:
    uint8_t header_[8] = {};
    int headerFill_ = 0;
    uint32_t code_ = 0;
    uint32_t length_ = 0;
    std::vector<char> text_;
    uint32_t toDrop_ = 0;
    bool closed_ = false;
};

}  // namespace bearfix
