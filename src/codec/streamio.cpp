#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace {

EStreamError ReadError() {
    return EStreamError(QStringLiteral("Stream read error"));
}

} // namespace

namespace streamio {

void SeekToEnd(QIODevice& destination) {
    destination.seek(destination.size());
}

void WriteBytes(QIODevice& destination, QByteArrayView bytes) {
    if (destination.write(bytes.data(), bytes.size()) != bytes.size()) {
        throw EStreamError(QStringLiteral("Stream write error"));
    }
}

qint64 AppendRead(QIODevice& source, QByteArray& buffer, qint64 maxBytes) {
    const qsizetype held = buffer.size();
    buffer.resize(held + maxBytes);
    const qint64 delivered = source.read(buffer.data() + held, maxBytes);
    if (delivered < 0) {
        buffer.resize(held);
        throw ReadError();
    }
    buffer.resize(held + delivered);
    return delivered;
}

void AppendExactly(QIODevice& source, QByteArray& buffer, qint64 count) {
    while (count > 0) {
        const qint64 delivered = AppendRead(source, buffer, count);
        if (delivered == 0) {
            throw ReadError();
        }
        count -= delivered;
    }
}

} // namespace streamio

TByteReader::TByteReader(QIODevice& source) : window_(source), cursor_(window_.Cursor()) {}

void TByteReader::Take(char* to, qint64 count) {
    while (count > 0) {
        if (cursor_ == window_.End()) {
            LoadNextWindow();
        }
        const qint64 part = std::min<qint64>(count, window_.End() - cursor_);
        std::memcpy(to, cursor_, static_cast<size_t>(part));
        cursor_ += part;
        to += part;
        count -= part;
        consumed_ += part;
    }
}

void TByteReader::LoadNextWindow() {
    if (!window_.NextMemoryBuffer(nullptr, 0) || window_.Cursor() == window_.End()) {
        throw ReadError();
    }
    cursor_ = window_.Cursor();
}

TLineReader::TLineReader(QIODevice& source, QByteArrayView lineEnds)
    : source_(source), unread_(std::max<qint64>(source.size() - source.pos(), 0)) {
    for (const char end : lineEnds) {
        isLineEnd_[static_cast<uchar>(end)] = true;
    }
    block_.reserve(kBlockSize);
}

bool TLineReader::Next(QByteArrayView& line) {
    for (;;) {
        const qsizetype end = FindLineEnd(scanFrom_);
        if (end >= 0) {
            line = QByteArrayView(block_).sliced(lineStart_, end - lineStart_);
            lineStart_ = scanFrom_ = end + 1;
            return true;
        }
        if (unread_ > 0) {
            // The block ended inside a line: carry that part to the front and read behind it.
            block_.remove(0, lineStart_);
            lineStart_ = 0;
            scanFrom_ = block_.size();
            ReadBlock();
            continue;
        }
        if (lineStart_ < block_.size()) {
            line = QByteArrayView(block_).sliced(lineStart_);
            lineStart_ = scanFrom_ = block_.size();
            return true;
        }
        return false;
    }
}

void TLineReader::ReadBlock() {
    const qint64 carried = block_.size();
    const qint64 room = carried < kBlockSize ? kBlockSize - carried : kBlockSize;
    const qint64 delivered = streamio::AppendRead(source_, block_, std::min(room, unread_));
    if (delivered == 0) {
        throw ReadError();
    }
    unread_ -= delivered;
}

qsizetype TLineReader::FindLineEnd(qsizetype from) const {
    const auto begin = block_.cbegin() + from;
    const auto found = std::find_if(begin, block_.cend(),
                                    [this](char c) { return isLineEnd_[static_cast<uchar>(c)]; });
    return found == block_.cend() ? -1 : from + (found - begin);
}
