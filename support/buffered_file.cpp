#include "support/buffered_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/cp1252.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bearfix {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kTab = 0x09;
constexpr uint8_t kUnknown = 0xBF;  // inverted question mark

bool endsLine(uint8_t c) { return c <= kCr && c != kTab; }
bool isContinuation(uint8_t c) { return (c & 0xC0) == 0x80; }

// Length of the leading run of bytes that are copied unchanged: everything but
// the line-ending controls and, in a UTF-8 file, the bytes from 0x80 on.
// Lines are mostly such runs, so this is where reading spends its time.
int plainRun(const uint8_t* p, int n, bool utf8) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8(static_cast<char>(kCr));
    const __m128i tab = _mm_set1_epi8(static_cast<char>(kTab));
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, cr), v);  // v <= 0x0D
        control = _mm_andnot_si128(_mm_cmpeq_epi8(v, tab), control);
        int mask = _mm_movemask_epi8(control);
        if (utf8) mask |= _mm_movemask_epi8(v);
        if (mask != 0) return i + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; i < n; ++i) {
        if (endsLine(p[i]) || (utf8 && p[i] >= 0x80)) break;
    }
    return i;
}

}  // namespace

bool BufferedFile::open(const std::string& path) {
    close();
    previousByte_ = 0;
    bufferStart_ = filePosition_ = 0;
    index_ = fill_ = 0;
    encoding_ = utf8State_ = 0;
    std::memset(utf8Bytes_, 0, sizeof utf8Bytes_);
    do {
        handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (handle_ < 0 && errno == EINTR);
    isOpen_ = handle_ >= 0 ? 1 : 0;
    return isOpen_ != 0;
}

void BufferedFile::close() {
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
    isOpen_ = 0;
}

bool BufferedFile::loadBuffer() {
    index_ = 0;
    fill_ = 0;
    if (handle_ < 0) return false;
    ssize_t n;
    do {
        n = ::read(handle_, buffer_, kBufferSize);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    bufferStart_ = filePosition_;
    filePosition_ += n;
    fill_ = static_cast<int32_t>(n);
    return true;
}

int BufferedFile::readBytes(void* destination, int count) {
    auto* out = static_cast<uint8_t*>(destination);
    int copied = 0;
    while (copied < count) {
        if (index_ >= fill_ && !loadBuffer()) break;
        int chunk = std::min(count - copied, fill_ - index_);
        std::memcpy(out + copied, buffer_ + index_, static_cast<size_t>(chunk));
        index_ += chunk;
        copied += chunk;
    }
    return copied;
}

int BufferedFile::decodeUtf8(uint8_t b) {
    switch (utf8State_) {
        case 0:
            if (b >= 0xC2 && b <= 0xDF) {
                utf8Bytes_[0] = b;
                utf8State_ = 1;
            } else if (b >= 0xE0 && b <= 0xEF) {
                utf8Bytes_[0] = b;
                utf8State_ = 2;
            } else if (b >= 0xF0 && b <= 0xF4) {
                utf8Bytes_[0] = b;
                utf8State_ = 4;
            } else {
                return b;
            }
            return -1;
        case 1:
            utf8State_ = 0;
            if (!isContinuation(b)) return kUnknown;
            return unicodeToCp1252(static_cast<char32_t>(((utf8Bytes_[0] & 0x1F) << 6) | (b & 0x3F)), kUnknown);
        case 2:
            utf8Bytes_[1] = b;
            utf8State_ = 3;
            return -1;
        case 3: {
            utf8State_ = 0;
            uint8_t lead = utf8Bytes_[0], first = utf8Bytes_[1];
            if ((lead & 0xF0) != 0xE0 || !isContinuation(first) || !isContinuation(b)) return kUnknown;
            auto cp = static_cast<char32_t>(((lead & 0x0F) << 12) | ((first & 0x3F) << 6) | (b & 0x3F));
            // An overlong form would smuggle a NUL or a line end into the line.
            if (cp < 0x800) return kUnknown;
            return unicodeToCp1252(cp, kUnknown);
        }
        case 4:
            utf8Bytes_[1] = b;
            utf8State_ = 5;
            return -1;
        case 5:
            utf8Bytes_[2] = b;
            utf8State_ = 6;
            return -1;
        default:  // four-byte sequences lie outside the code page
            utf8State_ = 0;
            return kUnknown;
    }
}

int BufferedFile::readLine(char* destination, int maxLength) {
    int stored = 0;
    destination[0] = '\0';
    for (;;) {
        while (index_ < fill_ && stored < maxLength) {
            if (index_ == 0 && bufferStart_ == 0 && fill_ >= 3 && buffer_[0] == 0xEF && buffer_[1] == 0xBB &&
                buffer_[2] == 0xBF) {
                encoding_ = kUtf8;
                index_ = 3;
                continue;
            }
            if (utf8State_ == 0) {
                int run = plainRun(buffer_ + index_, std::min(fill_ - index_, maxLength - stored), encoding_ == kUtf8);
                if (run > 0) {
                    std::memcpy(destination + stored, buffer_ + index_, static_cast<size_t>(run));
                    stored += run;
                    index_ += run;
                    previousByte_ = buffer_[index_ - 1];
                    continue;
                }
            }
            uint8_t c = buffer_[index_++];
            uint8_t previous = previousByte_;
            previousByte_ = c;
            if (utf8State_ == 0 && endsLine(c)) {
                if (c == kLf && previous == kCr) continue;  // second half of a CR LF split across loads
                destination[stored] = '\0';
                if (index_ < fill_) {
                    uint8_t next = buffer_[index_];
                    if (next < kCr && next != kTab && next != c) {
                        previousByte_ = next;
                        ++index_;
                    }
                }
                return stored;
            }
            int ch = c;
            if (encoding_ == kUtf8 && (utf8State_ != 0 || c >= 0x80)) ch = decodeUtf8(c);
            if (ch >= 0) destination[stored++] = static_cast<char>(ch);
        }
        if (stored >= maxLength) {
            destination[stored] = '\0';
            return stored;
        }
        if (!loadBuffer()) {
            destination[stored] = '\0';
            return stored > 0 ? stored : -1;
        }
    }
}

int64_t BufferedFile::seek(int64_t offset, int origin) {
    int64_t target;
    switch (origin) {
        case 0:
            target = offset;
            break;
        case 1:
            target = bufferStart_ + index_ + offset;
            if (offset == 0) return target;
            break;
        case 2: {
            off_t result = handle_ >= 0 ? ::lseek(handle_, static_cast<off_t>(offset), SEEK_END) : -1;
            if (result < 0) return -1;
            index_ = fill_ = 0;
            bufferStart_ = filePosition_ = result;
            return result;
        }
        default:
            return -1;
    }
    if (target >= bufferStart_ && target < bufferStart_ + fill_) {
        index_ = static_cast<int32_t>(target - bufferStart_);
        return target;
    }
    // A failed seek leaves the read position where it was.
    off_t result = handle_ >= 0 && target >= 0 ? ::lseek(handle_, static_cast<off_t>(target), SEEK_SET) : -1;
    if (result < 0) return -1;
    index_ = fill_ = 0;
    bufferStart_ = filePosition_ = result;
    return result;
}

}  // namespace bearfix
