#pragma once

#include <QtGlobal>
#include <memory>

class QIODevice;

// A read-ahead window over a stream for the encoders: up to 65533 bytes at a time, one byte
// into a 65535-byte block. The encoders consume from Cursor() towards End() and hand their
// unconsumed tail back as the carry of the next NextMemoryBuffer call.
class TQRFileBuffer {
public:
    static constexpr int kBlockSize = 65535;
    static constexpr int kWindowSize = 65533;

    explicit TQRFileBuffer(QIODevice& stream);
    TQRFileBuffer(const TQRFileBuffer&) = delete;
    TQRFileBuffer& operator=(const TQRFileBuffer&) = delete;

    // Loads the next window: the carry (which may lie inside this buffer's own block) first,
    // then fresh bytes from the stream. False, with nothing changed, once the stream is spent.
    bool NextMemoryBuffer(const char* carry, int carryLength);

    const char* Cursor() const { return cursor_; }
    const char* End() const { return end_; }
    // kWindowSize when the last read filled its request, else the bytes that read delivered.
    int FillCount() const { return fillCount_; }
    qint64 StreamSize() const { return size_; }

private:
    QIODevice& stream_;
    qint64 size_;
    std::unique_ptr<char[]> block_;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
    int fillCount_ = 0;
};
