// A file that grows by appends, written on a thread of its own so that no
// write or sync holds up the caller (the window's thread). Appends are
// written in the order they are queued; a replacement swaps in a whole new
// file atomically (replaceFileAtomically), and a truncation cuts a torn tail
// before the next append. The file's directory is made when it is missing.
//
// What write() took survives a killed program at once; a power loss loses
// at most kSyncInterval of it, after which the data is synced to the disk
// (and always at finish()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace bearfix {

class AppendFile {
public:
    static constexpr std::chrono::seconds kSyncInterval{5};

    explicit AppendFile(std::string path);
    ~AppendFile();  // finish()
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    const std::string& path() const { return path_; }

    // Queued; the thread starts with the first.
    void append(std::string bytes);
    void replace(std::string bytes);
    void truncate(uint64_t size);
    // Waits until everything queued is written and synced, and ends the
    // thread (the next call starts it again).
    void finish();

    // The first failure since the last call ("cannot write PATH: reason"),
    // empty when none.
    std::string takeError();
    // A failed append may have left a torn piece at the end that could not be
    // cut: what follows must come by replace(), not append().
    bool broken();

private:
    struct Op {
        enum Kind { kAppend, kReplace, kTruncate } kind;
        std::string bytes;
        uint64_t size = 0;
    };
    void enqueue(Op op);
    void run();
    void perform(Op& op);
    void fail(const std::string& what);
    void makeDirectory();  // the file's, when it is missing
    bool openForAppend();
    void closeFile();

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Op> ops_;
    bool stop_ = false;
    std::string error_;
    bool broken_ = false;
    std::thread thread_;
    // The thread's own.
    int fd_ = -1;
    bool unsynced_ = false;
    std::chrono::steady_clock::time_point lastSync_;
};

}  // namespace bearfix
