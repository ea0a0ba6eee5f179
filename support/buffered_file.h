// Buffered reading of large files: raw bytes with seeking (elevation tiles)
// and text lines (track files).
//
// Everything goes through one 64 KiB buffer inside the object, so a text file
// costs one system call per 64 KiB and a seek inside the buffered range costs
// none. Lines come back as Windows-1252; a file that starts with a UTF-8
// byte-order mark is decoded from UTF-8 on the fly.
#pragma once

#include <cstdint>
#include <string>

namespace bearfix {

class BufferedFile {
public:
    static constexpr int kBufferSize = 65536;

    BufferedFile() = default;
    ~BufferedFile() { close(); }
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    // Opens an existing file for reading; any previous file is closed first.
    bool open(const std::string& path);

    // Copies up to `count` bytes from the read position; fewer only at the end
    // of the file (or on a read error).
    int readBytes(void* destination, int count);

    // Reads the next line into `destination`, which must hold maxLength + 1
    // bytes and is always NUL-terminated. Returns the number of characters
    // stored, or -1 at the end of the file. A line longer than maxLength comes
    // back in pieces. CR, LF and CR LF end a line, and so do the other control
    // characters 0x00..0x0D except TAB.
    int readLine(char* destination, int maxLength);

    // origin 0: from the start, 1: from the read position, 2: from the end.
    // Returns the new position or -1.
    int64_t seek(int64_t offset, int origin);

    void close();

    bool isOpen() const { return isOpen_ != 0; }
    bool hasByteOrderMark() const { return encoding_ == kUtf8; }

private:
    static constexpr int kUtf8 = 8;

    bool loadBuffer();
    // Feeds one byte of a UTF-8 sequence; returns the Windows-1252 character
    // once a sequence is complete, -1 while it is not.
    int decodeUtf8(uint8_t byte);

    int handle_ = -1;
    uint8_t buffer_[kBufferSize];
    uint8_t previousByte_ = 0;
    int64_t bufferStart_ = 0;   // file offset of buffer_[0]
    int64_t filePosition_ = 0;  // file offset where the next load reads
    int32_t index_ = 0;         // next unread byte in buffer_
    int32_t fill_ = 0;          // valid bytes in buffer_
    int32_t isOpen_ = 0;
    int32_t encoding_ = 0;
    int32_t utf8State_ = 0;
    uint8_t utf8Bytes_[3] = {0, 0, 0};
};

}  // namespace bearfix
