// The buffered reader on any file: lines (with UTF-8 decoding after a
// byte-order mark), raw reads and seeks.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "support/buffered_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    if (size < 2) return 0;
    const int maxLength = 1 + data[0] % 300;  // the first byte chooses the line length
    fuzz::MemoryFile file(data + 1, size - 1);
    auto reader = std::make_unique<BufferedFile>();
    if (!reader->open(file.path())) return 0;
    std::vector<char> line(static_cast<std::size_t>(maxLength) + 1);
    std::size_t lines = 0;
    for (int n; (n = reader->readLine(line.data(), maxLength)) >= 0;) {
        if (n > maxLength || std::strlen(line.data()) != static_cast<std::size_t>(n)) std::abort();
        if (++lines > size + 1) std::abort();  // every line consumes at least one byte
    }
    char bytes[64];
    for (std::size_t i = 1; i + 1 < std::min<std::size_t>(size, 32); i += 2) {
        const int64_t target = reader->seek(static_cast<int64_t>(data[i]) - 64, data[i + 1] % 3);
        if (target >= 0 && reader->readBytes(bytes, 1 + data[i + 1] % 64) < 0) std::abort();
    }
    reader->close();
    return 0;
}
