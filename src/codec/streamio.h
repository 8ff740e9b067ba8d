#pragma once

#include "net/qrfilebuffer.h"
#include "util/exception.h"

#include <QByteArray>
#include <QByteArrayView>
#include <array>

class QIODevice;

// A stream that failed under a codec: a read that delivered less than the stream holds, or a
// write the device refused (a full disk, a device not open for writing). Qt devices report
// these through return values; the codecs turn them into this exception so that a failing
// stream can never be mistaken for a finished conversion.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

namespace streamio {

// Positions a destination at its end, so that a codec appends to what it already holds.
void SeekToEnd(QIODevice& destination);

// Writes every byte or raises EStreamError "Stream write error".
void WriteBytes(QIODevice& destination, QByteArrayView bytes);

// Appends up to maxBytes from the source's current position to buffer and returns how many
// came (0 at the end of the stream). A device failure raises EStreamError "Stream read error".
qint64 AppendRead(QIODevice& source, QByteArray& buffer, qint64 maxBytes);

// Appends exactly count bytes, or raises EStreamError "Stream read error" when the source ends
// first.
void AppendExactly(QIODevice& source, QByteArray& buffer, qint64 count);

} // namespace streamio

// Hands out a stream's bytes one at a time, from position 0 up to the size the stream had when
// the reader was made, through the 65533-byte read-ahead window of a TQRFileBuffer.
class TByteReader {
public:
    explicit TByteReader(QIODevice& source);

    qint64 Consumed() const { return consumed_; }
    qint64 Remaining() const { return window_.StreamSize() - consumed_; }

    // The next byte. A stream that delivers fewer bytes than its size promised raises
    // EStreamError "Stream read error" instead of handing out stale window contents.
    uchar Take() {
        if (cursor_ == window_.End()) {
            LoadNextWindow();
        }
        ++consumed_;
        return static_cast<uchar>(*cursor_++);
    }

private:
    void LoadNextWindow();

    TQRFileBuffer window_;
    const char* cursor_;
    qint64 consumed_ = 0;
};

// Splits a stream, from its current position to its size, into lines for the decoders. The
// stream is read in blocks of 65534 bytes less the partial line carried over from the previous
// block. A line ends at any one of the given end characters; two end characters in a row
// enclose an empty line, and the text after the last end character is the last line.
// Only the given characters end a line: a zero byte in the data is data, and a line longer
// than a block is carried on until its end rather than cut or lost.
class TLineReader {
public:
    static constexpr qint64 kBlockSize = 65534;

    TLineReader(QIODevice& source, QByteArrayView lineEnds);
    TLineReader(const TLineReader&) = delete;
    TLineReader& operator=(const TLineReader&) = delete;

    // The next line without its end character; false once the stream is spent. The view stays
    // valid until the next call.
    bool Next(QByteArrayView& line);

private:
    void ReadBlock();
    qsizetype FindLineEnd(qsizetype from) const;

    QIODevice& source_;
    std::array<bool, 256> isLineEnd_{};
    qint64 unread_;
    QByteArray block_;
    qsizetype lineStart_ = 0;
    qsizetype scanFrom_ = 0;
};

namespace streamio {

// Appends to destination what decodeLine makes of each line of source, the lines ending at
// any of lineEnds: the loop both line-based decoders share.
template <typename DecodeLine>
void DecodeLines(QIODevice& source, QIODevice& destination, QByteArrayView lineEnds,
                 DecodeLine decodeLine) {
    SeekToEnd(destination);
    TLineReader lines(source, lineEnds);
    QByteArrayView line;
    while (lines.Next(line)) {
        const QByteArray bytes = decodeLine(line);
        if (!bytes.isEmpty()) {
            WriteBytes(destination, bytes);
        }
    }
}

} // namespace streamio
