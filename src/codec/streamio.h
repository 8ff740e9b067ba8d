#pragma once

#include "net/qrfilebuffer.h"
#include "util/exception.h"
#include "util/finally.h"

#include <QByteArray>
#include <QByteArrayView>
#include <algorithm>
#include <array>
#include <cstring>

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

// Hands out a stream's bytes, from position 0 up to the size the stream had when the reader
// was made, through the 65533-byte read-ahead window of a TQRFileBuffer.
class TByteReader {
public:
    explicit TByteReader(QIODevice& source);

    qint64 Consumed() const { return consumed_; }
    qint64 Remaining() const { return window_.StreamSize() - consumed_; }

    // Copies the next count bytes (at most Remaining()) to the caller's buffer. A stream that
    // delivers fewer bytes than its size promised raises EStreamError "Stream read error"
    // instead of handing out stale window contents.
    void Take(char* to, qint64 count);

private:
    void LoadNextWindow();

    TQRFileBuffer window_;
    const char* cursor_;
    qint64 consumed_ = 0;
};

// Turns 3 bytes into 4 characters of a 64-character alphabet (6 bits each, high bits first)
// with two look-ups of 12 bits, each giving a pair of characters.
class TTripleEncoder {
public:
    explicit constexpr TTripleEncoder(const char (&alphabet)[65]) {
        for (int value = 0; value < 4096; ++value) {
            pairs_[2 * value] = alphabet[value >> 6];
            pairs_[2 * value + 1] = alphabet[value & 63];
        }
    }

    // Writes the 4 characters of bytes[0..2] at out and returns the position after them.
    char* Encode(const uchar* bytes, char* out) const {
        const uint triple = (uint(bytes[0]) << 16) | (uint(bytes[1]) << 8) | bytes[2];
        std::memcpy(out, &pairs_[2 * (triple >> 12)], 2);
        std::memcpy(out + 2, &pairs_[2 * (triple & 4095)], 2);
        return out + 4;
    }

private:
    std::array<char, 8192> pairs_{};
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

// Room a line decoder may use beyond the length of the line it decodes.
constexpr qsizetype kLineDecodeSlack = 64;
// Decoded bytes are gathered up to about this many before they go to the destination.
constexpr qsizetype kWriteBlockSize = 65536;

// Appends to destination what decodeLine makes of each line of source, the lines ending at
// any of lineEnds: the loop both line-based decoders share. decodeLine(line, out) writes the
// line's bytes at out, at most line.size() + kLineDecodeSlack of them, and returns the
// position after them. The bytes are written in large blocks; when a line raises, the bytes
// of the lines before it are still written.
template <typename DecodeLine>
void DecodeLines(QIODevice& source, QIODevice& destination, QByteArrayView lineEnds,
                 DecodeLine decodeLine) {
    SeekToEnd(destination);
    TLineReader lines(source, lineEnds);
    QByteArray decoded(kWriteBlockSize + kLineDecodeSlack, Qt::Uninitialized);
    qsizetype held = 0;
    const auto writeHeld = [&] {
        const QByteArrayView bytes(decoded.constData(), held);
        held = 0;
        if (!bytes.isEmpty()) {
            WriteBytes(destination, bytes);
        }
    };
    WithFinally(
        [&] {
            QByteArrayView line;
            while (lines.Next(line)) {
                const qsizetype room = line.size() + kLineDecodeSlack;
                if (held + room > decoded.size()) {
                    writeHeld();
                    decoded.resize(std::max(decoded.size(), room));
                }
                held = decodeLine(line, decoded.data() + held) - decoded.constData();
            }
        },
        writeHeld);
}

// Reads the whole source, from position 0, in blocks of bytesPerBlock and appends what
// encodeBlock makes of each: encodeBlock(plain, out, last) writes at most charsPerBlock
// characters at out and returns the position after them. The last block, shorter or even
// empty, comes with last set, so an empty source gives one empty last block.
template <typename EncodeBlock>
void EncodeBlocks(QIODevice& source, QIODevice& destination, qsizetype bytesPerBlock,
                  qsizetype charsPerBlock, EncodeBlock encodeBlock) {
    SeekToEnd(destination);
    TByteReader reader(source);
    QByteArray plain(bytesPerBlock, Qt::Uninitialized);
    QByteArray text(charsPerBlock, Qt::Uninitialized);
    do {
        const qsizetype count = std::min<qint64>(reader.Remaining(), bytesPerBlock);
        reader.Take(plain.data(), count);
        const char* end = encodeBlock(QByteArrayView(plain.constData(), count), text.data(),
                                      reader.Remaining() == 0);
        if (end != text.constData()) {
            WriteBytes(destination, QByteArrayView(text.constData(), end));
        }
    } while (reader.Remaining() > 0);
}

} // namespace streamio
