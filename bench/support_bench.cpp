#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/buffered_file.h"

namespace bearfix {
namespace {

// 50 MB of short lines such as an auxiliary track file holds, written once.
const std::string& lineFile() {
    static const std::string path = [] {
        auto file = std::filesystem::temp_directory_path() / ("bearfix-bench-lines-" + std::to_string(getpid()));
        std::ofstream out(file, std::ios::binary);
        std::string line;
        for (long written = 0, i = 0; written < 50'000'000; ++i) {
            line = std::to_string(i) + " 1262304000.25 52.1234 8.5678 115.0 4.5\r\n";
            out << line;
            written += static_cast<long>(line.size());
        }
        std::atexit([] { std::filesystem::remove(path); });
        return file.string();
    }();
    return path;
}

void BM_ReadLine(benchmark::State& state) {
    const std::string& path = lineFile();
    auto file = std::make_unique<BufferedFile>();
    char line[256];
    for (auto _ : state) {
        file->open(path);
        long lines = 0;
        while (file->readLine(line, 255) >= 0) ++lines;
        file->close();
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReadLine)->Unit(benchmark::kMillisecond);

// What `wc -l` does: read big blocks and count the newlines with memchr.
void BM_CountNewlinesLikeWc(benchmark::State& state) {
    const std::string& path = lineFile();
    std::vector<char> block(128 * 1024);
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY);
        long lines = 0;
        ssize_t n;
        while ((n = ::read(fd, block.data(), block.size())) > 0) {
            for (const char* p = block.data(); (p = static_cast<const char*>(std::memchr(p, '\n', block.data() + n - p)));
                 ++p)
                ++lines;
        }
        ::close(fd);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_CountNewlinesLikeWc)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
