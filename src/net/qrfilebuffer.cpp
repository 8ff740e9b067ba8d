#include "net/qrfilebuffer.h"

#include <QIODevice>
#include <cstring>

TQRFileBuffer::TQRFileBuffer(QIODevice& stream)
    : stream_(stream), size_(stream.size()), block_(new char[kBlockSize]()) {
    cursor_ = end_ = block_.get() + 1;
    stream_.seek(0);
    NextMemoryBuffer(nullptr, 0);
}

bool TQRFileBuffer::NextMemoryBuffer(const char* carry, int carryLength) {
    if (stream_.pos() >= size_) {
        return false;
    }
    cursor_ = block_.get() + 1;
    if (carryLength > 0) {
        std::memmove(cursor_, carry, static_cast<size_t>(carryLength));
    }
    const qint64 wanted = kWindowSize - carryLength;
    const qint64 delivered = std::max<qint64>(stream_.read(cursor_ + carryLength, wanted), 0);
    fillCount_ = kWindowSize;
    if (delivered < wanted) {
        cursor_[carryLength + delivered] = 0;
        fillCount_ = static_cast<int>(delivered);
    }
    end_ = cursor_ + carryLength + delivered;
    return true;
}
