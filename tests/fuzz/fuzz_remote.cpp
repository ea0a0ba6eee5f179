// Bytes arriving on a connection, in chunks of any size, through the frame
// reader and the mailbox to the commands.
#include <cstdlib>

#include "remote/remote_frames.h"
#include "remote/remote_mailbox.h"
#include "fuzz_input.h"
#include "tracks/track_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    if (size < 1) return 0;
    clearTracks();
    RemoteMailbox mailbox;
    resetMailbox(mailbox);
    FrameReader reader;
    // The first byte chooses how the bytes arrive, and how many chunks come
    // between two ticks of the timer (up to 128: enough to fill the mailbox).
    const std::size_t chunk = 1 + (data[0] & 0x1F) % 17, tickEvery = std::size_t{1} << (data[0] >> 5);
    std::size_t replies = 0, frames = 0;
    const auto handler = [&](uint32_t code, int32_t length, const char* bytes) {
        ++frames;
        if (length < 0 || length > 1024) std::abort();
        return postToMailbox(mailbox, 1, code, length, bytes);
    };
    const auto reply = [&](uint32_t value) {
        ++replies;
        if (value != 0 && value != 1 && value != 0x83000001 && (value & 0xFF000000) != 0x82000000) std::abort();
    };
    for (std::size_t i = 1, n = 1; i < size && !reader.closed(); i += chunk, ++n) {
        reader.feed(reinterpret_cast<const char*>(data) + i, std::min(chunk, size - i), handler, reply);
        if (n % tickEvery == 0) processRemoteCommands(mailbox, [](int, const std::string&) {});
    }
    processRemoteCommands(mailbox, [](int, const std::string&) {});
    if (replies < frames || replies > size / 8 + 1) std::abort();  // one reply per frame, frames have 8-byte headers
    clearTracks();
    return 0;
}
