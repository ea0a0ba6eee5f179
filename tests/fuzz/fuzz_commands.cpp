// Remote command texts through the mailbox into the track store.
#include <cstdlib>
#include <cstring>

#include "app/remote_mailbox.h"
#include "fuzz_input.h"
#include "tracks/track_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    const std::string input = fuzz::text(data, size);
    runSetCommand(input.c_str());
    runTrackCommand(input.c_str());
    RemoteMailbox mailbox;
    resetMailbox(mailbox);
    for (const char* prefix : {"track ", "TRACK addpoint ", "set ", "track segment "}) {
        const std::string message = prefix + input;
        postToMailbox(mailbox, 1, 0, static_cast<int32_t>(std::min<std::size_t>(message.size(), 1024)), message.data());
    }
    processRemoteCommands(mailbox, [](int field, const std::string& value) {
        if ((field != 1 && field != 2) || value.size() > 1023) std::abort();
    });
    if (trackRecordCount() > 10) std::abort();  // at most one record per command
    clearTracks();
    return 0;
}
