#include "support/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "support/whole_file.h"

namespace bearfix {

AppendFile::AppendFile(std::string path) : path_(std::move(path)) {}

AppendFile::~AppendFile() { finish(); }

void AppendFile::append(std::string bytes) { enqueue({Op::kAppend, std::move(bytes), 0}); }
void AppendFile::replace(std::string bytes) { enqueue({Op::kReplace, std::move(bytes), 0}); }
void AppendFile::truncate(uint64_t size) { enqueue({Op::kTruncate, {}, size}); }

void AppendFile::enqueue(Op op) {
    std::lock_guard lock(mutex_);
    ops_.push_back(std::move(op));
    if (!thread_.joinable()) {
        stop_ = false;
        thread_ = std::thread(&AppendFile::run, this);
    }
    wake_.notify_one();
}

void AppendFile::finish() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        stop_ = true;
        wake_.notify_one();
    }
    thread_.join();
}

std::string AppendFile::takeError() {
    std::lock_guard lock(mutex_);
    return std::exchange(error_, {});
}

bool AppendFile::broken() {
    std::lock_guard lock(mutex_);
    return broken_;
}

void AppendFile::fail(const std::string& what) {
    std::lock_guard lock(mutex_);
    if (error_.empty()) error_ = "cannot write " + path_ + ": " + what;
}

void AppendFile::makeDirectory() {
    std::error_code ec;  // a failure shows when the file is written
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
}

bool AppendFile::openForAppend() {
    if (fd_ >= 0) return true;
    makeDirectory();
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) fail(std::strerror(errno));
    return fd_ >= 0;
}

void AppendFile::closeFile() {
    if (fd_ < 0) return;
    if (unsynced_) ::fdatasync(fd_);
    ::close(fd_);
    fd_ = -1;
    unsynced_ = false;
}

void AppendFile::perform(Op& op) {
    switch (op.kind) {
        case Op::kReplace: {
            closeFile();
            makeDirectory();
            errno = 0;
            const bool ok = replaceFileAtomically(path_, op.bytes);  // synced before it is renamed
            if (!ok) fail(errno ? std::strerror(errno) : "the file system refused it");
            std::lock_guard lock(mutex_);
            broken_ = !ok;
            return;
        }
        case Op::kTruncate:
            if (openForAppend() && ::ftruncate(fd_, static_cast<off_t>(op.size)) != 0) fail(std::strerror(errno));
            unsynced_ = true;
            return;
        case Op::kAppend: {
            struct stat info;
            if (!openForAppend() || ::fstat(fd_, &info) != 0) return;
            for (std::size_t done = 0; done < op.bytes.size();) {
                const ssize_t n = ::write(fd_, op.bytes.data() + done, op.bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    fail(n < 0 ? std::strerror(errno) : "nothing written");
                    // A piece of it would be read as a torn tail: cut it off,
                    // or have the next writer replace the file.
                    if (::ftruncate(fd_, info.st_size) != 0) {
                        std::lock_guard lock(mutex_);
                        broken_ = true;
                    }
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            unsynced_ = true;
            return;
        }
    }
}

void AppendFile::run() {
    lastSync_ = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (ops_.empty() && !stop_) {
            if (unsynced_) {
                wake_.wait_until(lock, lastSync_ + kSyncInterval);
            } else {
                wake_.wait(lock);
            }
        }
        while (!ops_.empty()) {
            Op op = std::move(ops_.front());
            ops_.pop_front();
            lock.unlock();
            perform(op);
            lock.lock();
        }
        const auto now = std::chrono::steady_clock::now();
        if (unsynced_ && fd_ >= 0 && (stop_ || now - lastSync_ >= kSyncInterval)) {
            lock.unlock();
            ::fdatasync(fd_);
            lock.lock();
            unsynced_ = false;
            lastSync_ = now;
        }
        if (stop_ && ops_.empty()) break;
    }
    lock.unlock();
    closeFile();
}

}  // namespace bearfix
