#include "codec/qruue.h"

#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qint64 kChunkSize = 1024;
constexpr qint64 kCopyBlockSize = 65536;
// How far a TAB or blank looks past the end of its chunk for what decides its form.
constexpr qint64 kLookAheadSize = 76;
// RFC 2045 asks for lines of at most 76 characters; the break comes once a line exceeds that.
constexpr int kSoftBreakAfter = 76;

// What quoted-printable makes of a byte: itself or its escape "=XY", padded to 4 characters
// so that either is copied as one word. Line ends and white space need a look at their
// surroundings first.
struct TQPCode {
    std::array<char, 4> chars;
    uchar length;
    bool needsContext;
};

constexpr bool IsPrintedAsIs(int c) {
    return (c >= 0x23 && c <= 0x3C) || (c >= 0x3F && c <= 0x7D);
}

constexpr std::array<TQPCode, 256> MakeQPCodes() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<TQPCode, 256> codes{};
    for (int c = 0; c < 256; ++c) {
        codes[c] = IsPrintedAsIs(c) ? TQPCode{{static_cast<char>(c), 0, 0, 0}, 1, false}
                        : TQPCode{{'=', kDigits[c >> 4], kDigits[c & 15], 0}, 3, false};
    }
    for (const char c : {'\r', '\n', '\t', ' '}) {
        codes[static_cast<uchar>(c)].needsContext = true;
    }
    return codes;
}

constexpr std::array<TQPCode, 256> kQPCodes = MakeQPCodes();

// The most a byte's encoding takes: a soft line break, an escape and its padding.
constexpr qsizetype kMaxEncodedPerByte = 7;

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

// Makes room for count more bytes behind out in buffer; returns where out now points.
char* RoomFor(QByteArray& buffer, char* out, qsizetype count) {
    const qsizetype used = out - buffer.constData();
    if (used + count > buffer.size()) {
        buffer.resize(used + count);
    }
    return buffer.data() + used;
}

// Encodes a chunk into encoded and returns the end of what it wrote. Bytes that need no look
// around them go through the table in a tight loop; line ends and white space stop it.
const char* EncodeChunk(QIODevice& input, QByteArray& chunk, QByteArray& encoded,
                        int& lineLength) {
    encoded.resize(kMaxEncodedPerByte * chunk.size());
    char* out = encoded.data();
    int length = lineLength;
    for (qsizetype at = 0; at < chunk.size(); ++at) {
        const auto* text = reinterpret_cast<const uchar*>(chunk.constData());
        for (const qsizetype size = chunk.size(); at < size; ++at) {
            if (length > kSoftBreakAfter && text[at] != '\r') {
                out = std::copy_n("=\r\n", 3, out);
                length = 0;
            }
            const TQPCode& code = kQPCodes[text[at]];
            if (code.needsContext) {
                break;
            }
            std::memcpy(out, code.chars.data(), 4);
            out += code.length;
            length += code.length;
        }
        if (at == chunk.size()) {
            break;
        }
        const uchar c = text[at];
        const bool lineEnd = c == '\r' || c == '\n';
        if (lineEnd || WhiteSpaceStaysAsIs(input, chunk, at)) {
            *out++ = static_cast<char>(c);
            length = lineEnd ? 0 : length + 1;
        } else {
            out = std::copy_n(kQPCodes[c].chars.data(), 3, out);
            length += 3;
        }
        // The look-ahead may have made the chunk longer.
        out = RoomFor(encoded, out, kMaxEncodedPerByte * (chunk.size() - at));
    }
    lineLength = length;
    return out;
}

// The value of each character as a digit of an escape, to 8 bits: "0".."9" are 0..9 and any
// other character c is c - 55, which makes "A".."F" 10..15.
constexpr std::array<uchar, 256> MakeHexValues() {
    std::array<uchar, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[c] = static_cast<uchar>(c >= '0' && c <= '9' ? c - '0' : c - 55);
    }
    return values;
}

constexpr std::array<uchar, 256> kHexValues = MakeHexValues();

// The byte an escape's two digits stand for.
char EscapedByte(const char* digits) {
    return static_cast<char>(kHexValues[static_cast<uchar>(digits[0])] * 16 +
                             kHexValues[static_cast<uchar>(digits[1])]);
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
        const char* end = EncodeChunk(input, chunk, encoded, lineLength);
        streamio::WriteBytes(output, QByteArrayView(encoded.constData(), end));
        chunk.clear();
    }
}

void TQRUUProcessor::QPDecode(QIODevice& input, QIODevice& output) {
    QByteArray chunk;
    QByteArray decoded;
    while (streamio::AppendRead(input, chunk, kChunkSize) > 0) {
        // What a chunk decodes to is never longer than the chunk, even when an escape cut by
        // its end completes it.
        decoded.resize(chunk.size() + 2);
        char* out = decoded.data();
        for (qsizetype at = 0; at < chunk.size();) {
            const char c = chunk.constData()[at];
            if (c != '=') {
                *out++ = c;
                ++at;
                continue;
            }
            const qsizetype missing = at + 3 - chunk.size();
            if (missing > 0) {
                streamio::AppendExactly(input, chunk, missing);
            }
            // "=" CR LF is a soft line break: the encoder's, not the text's.
            if (chunk.constData()[at + 1] != '\r') {
                *out++ = EscapedByte(chunk.constData() + at + 1);
            }
            at += 3;
        }
        streamio::WriteBytes(output, QByteArrayView(decoded.constData(), out));
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
