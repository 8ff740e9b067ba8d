#include "codec/qruue.h"

#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr qint64 kChunkSize = 1024;
constexpr qint64 kCopyBlockSize = 65536;
// How far a TAB or blank looks past the end of its chunk for what decides its form.
constexpr qint64 kLookAheadSize = 76;
// RFC 2045 asks for lines of at most 76 characters; the break comes once a line exceeds that.
constexpr int kSoftBreakAfter = 76;

bool IsPrintedAsIs(uchar c) {
    return (c >= 0x23 && c <= 0x3C) || (c >= 0x3F && c <= 0x7D);
}

bool IsWhiteSpace(uchar c) {
    return c == '\t' || c == ' ';
}

// RFC 2045, rule 3: white space may stand as itself only where a printed character follows it
// on its line, since transports strip white space from line ends. Looks past TABs, blanks, LF
// and bytes that will be encoded; when the chunk ends within 76 examined bytes, up to 76 more
// input bytes join the chunk first.
bool WhiteSpaceStaysAsIs(QIODevice& input, QByteArray& chunk, qsizetype at) {
    for (qsizetype next = at + 1;; ++next) {
        if (next == chunk.size()) {
            const qsizetype examined = next - at - 1;
            if (examined >= kLookAheadSize ||
                streamio::AppendRead(input, chunk, kLookAheadSize) == 0) {
                return false;
            }
        }
        const uchar c = static_cast<uchar>(chunk[next]);
        if (IsPrintedAsIs(c)) {
            return true;
        }
        if (c == '\r') {
            return false;
        }
    }
}

void AppendEscape(QByteArray& encoded, uchar c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    encoded.append('=');
    encoded.append(kDigits[c >> 4]);
    encoded.append(kDigits[c & 15]);
}

// "0".."9" are 0..9; any other character c is c - 55, which makes "A".."F" 10..15.
uint HexValue(char c) {
    const uint code = static_cast<uchar>(c);
    return c >= '0' && c <= '9' ? code - '0' : code - 55;
}

// Copies the input from its current position to its size, writing at the output's position.
void CopyStream(QIODevice& input, QIODevice& output) {
    QByteArray block;
    for (qint64 left = input.size() - input.pos(); left > 0; left -= block.size()) {
        block.clear();
        streamio::AppendExactly(input, block, std::min(left, kCopyBlockSize));
        streamio::WriteBytes(output, block);
    }
}

} // namespace

TQRUUProcessor::TQRUUProcessor(QObject* owner) : QObject(owner) {}

void TQRUUProcessor::Encode() {
    Convert(true);
}

void TQRUUProcessor::Decode() {
    Convert(false);
}

void TQRUUProcessor::Convert(bool encoding) {
    RequireStreams();
    InputStream->seek(0);
    Fire(encoding ? OnBeginEncode : OnBeginDecode);
    switch (Method) {
    case uuMime:
        encoding ? B64Encode(*InputStream, *OutputStream) : B64Decode(*InputStream, *OutputStream);
        break;
    case uuCode:
        encoding ? UUEEncode(*InputStream, *OutputStream) : UUEDecode(*InputStream, *OutputStream);
        break;
    case uuQP:
        encoding ? QPEncode(*InputStream, *OutputStream) : QPDecode(*InputStream, *OutputStream);
        break;
    case uuNONE:
        CopyStream(*InputStream, *OutputStream);
        break;
    }
    InputStream->seek(0);
    OutputStream->seek(0);
    Fire(encoding ? OnEndEncode : OnEndDecode);
}

void TQRUUProcessor::QPEncode(QIODevice& input, QIODevice& output) {
    QByteArray chunk;
    QByteArray encoded;
    int lineLength = 0; // runs on across chunks
    while (streamio::AppendRead(input, chunk, kChunkSize) > 0) {
        for (qsizetype at = 0; at < chunk.size(); ++at) {
            const uchar c = static_cast<uchar>(chunk[at]);
            if (lineLength > kSoftBreakAfter && c != '\r') {
                encoded.append("=\r\n");
                lineLength = 0;
            }
            if (c == '\r' || c == '\n') {
                encoded.append(static_cast<char>(c));
                lineLength = 0;
            } else if (IsPrintedAsIs(c) ||
                       (IsWhiteSpace(c) && WhiteSpaceStaysAsIs(input, chunk, at))) {
                encoded.append(static_cast<char>(c));
                ++lineLength;
            } else {
                AppendEscape(encoded, c);
                lineLength += 3;
            }
        }
        streamio::WriteBytes(output, encoded);
        encoded.clear();
        chunk.clear();
    }
}

void TQRUUProcessor::QPDecode(QIODevice& input, QIODevice& output) {
    QByteArray chunk;
    QByteArray decoded;
    while (streamio::AppendRead(input, chunk, kChunkSize) > 0) {
        for (qsizetype at = 0; at < chunk.size();) {
            if (chunk[at] != '=') {
                decoded.append(chunk[at++]);
                continue;
            }
            const qsizetype missing = at + 3 - chunk.size();
            if (missing > 0) {
                streamio::AppendExactly(input, chunk, missing);
            }
            // "=" CR LF is a soft line break: the encoder's, not the text's.
            if (chunk[at + 1] != '\r') {
                decoded.append(
                    static_cast<char>(HexValue(chunk[at + 1]) * 16 + HexValue(chunk[at + 2])));
            }
            at += 3;
        }
        streamio::WriteBytes(output, decoded);
        decoded.clear();
        chunk.clear();
    }
}

void TQRUUProcessor::Fire(const TNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

void TQRUUProcessor::RequireStreams() const {
    if (InputStream == nullptr || OutputStream == nullptr) {
        throw Exception(QStringLiteral("No input or output stream for the codec"));
    }
}
