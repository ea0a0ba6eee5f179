// A Wavemill auxiliary track file of any content.
#include <cstdlib>

#include "fuzz_input.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    clearTracks();
    fuzz::MemoryFile file(data, size);
    importAux(file.path());
    if (trackRecordCount() > static_cast<int32_t>(size / 2 + 2)) std::abort();
    clearTracks();
    return 0;
}
