#include "codec/qruue.h"

#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codec/streamio.h"
#include "util/finally.h"

#include <QIODevice>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <tmmintrin.h>
#endif

namespace {

constexpr qint64 kChunkSize = 1024;
// Decoding reads larger chunks: the blocks below decode a few bytes per cycle, and the cost of
// each read through QIODevice has to spread over many of them.
constexpr qint64 kDecodeChunkSize = 65536;
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

// Decodes the tokens that start from at up to until and returns where the next one starts:
// every "=" takes the two bytes after it, reading them from the input when the chunk ends
// first.
qsizetype DecodeTokens(QIODevice& input, QByteArray& chunk, qsizetype at, qsizetype until,
                       char*& out) {
    while (at < until && at < chunk.size()) {
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
    return at;
}

// Quoted-printable of random data is two thirds escapes, and a walk that branches on each "="
// mispredicts on most of them. So text is decoded in blocks of 64 bytes, each starting at a
// token, with masks and no branch per byte. A block is regular when no "=" falls among the two
// bytes taken by another "=": then every "=" in it starts an escape or a soft line break, and
// the bytes the escapes take are known up front. Encoded text is always regular; what is not
// (an "=" among an escape's digits) is left to DecodeTokens.
constexpr qsizetype kBlockSize = 64;

#ifdef __SSE2__
__m128i Load16(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Bit i set where byte i of the block at text is c.
std::uint64_t Matches(const char* text, char c) {
    const __m128i wanted = _mm_set1_epi8(c);
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
        const __m128i equal = _mm_cmpeq_epi8(Load16(text + 16 * part), wanted);
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(equal)))
                << (16 * part);
    }
    return mask;
}

// kHexValues of 16 bytes: c - 48 for decimal digits, c - 55 for every other byte.
__m128i HexValues(__m128i digits) {
    const __m128i offset = _mm_sub_epi8(digits, _mm_set1_epi8('0'));
    const __m128i decimal = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
    return _mm_sub_epi8(offset, _mm_andnot_si128(decimal, _mm_set1_epi8(7)));
}

// EscapedByte of the two digits after each of 16 "=". SSE2 shifts 16-bit lanes only, so a
// byte's shift carries its top 4 bits into the byte after it; before an escape's first digit
// stands its "=", whose value 6 carries nothing.
__m128i EscapedBytes(__m128i firstDigits, __m128i secondDigits) {
    return _mm_add_epi8(_mm_slli_epi16(HexValues(firstDigits), 4), HexValues(secondDigits));
}

// Writes to values each byte of the block at text as itself, or, where it is an "=", as the
// byte its escape stands for.
void BlockValues(const char* text, char* values) {
    const __m128i equals = _mm_set1_epi8('=');
    for (int part = 0; part < 4; ++part) {
        const char* at = text + 16 * part;
        const __m128i bytes = Load16(at);
        const __m128i escape = _mm_cmpeq_epi8(bytes, equals);
        const __m128i escaped = EscapedBytes(Load16(at + 1), Load16(at + 2));
        const __m128i value =
            _mm_or_si128(_mm_and_si128(escape, escaped), _mm_andnot_si128(escape, bytes));
        _mm_store_si128(reinterpret_cast<__m128i*>(values + 16 * part), value);
    }
}

// For each pattern of 8 bits: the pshufb indices that gather the bytes whose bit is set to the
// front of 8, and how many there are.
struct TGather {
    std::array<std::array<uchar, 8>, 256> indices{};
    std::array<uchar, 256> counts{};
};

constexpr TGather MakeGather() {
    TGather gather;
    for (int bits = 0; bits < 256; ++bits) {
        int count = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if ((bits >> bit) & 1) {
                gather.indices[bits][count++] = static_cast<uchar>(bit);
            }
        }
        gather.counts[bits] = static_cast<uchar>(count);
    }
    return gather;
}

constexpr TGather kGather = MakeGather();

// Writes the values whose bit is set in kept, in order, 8 at a time. Each step stores 8 bytes,
// which stay within the block's length since the output never runs ahead of the text. pshufb
// is SSSE3, beyond the x86-64 baseline: hence the target, and the check in HasGather.
__attribute__((target("ssse3"))) char* Compact(const char* values, std::uint64_t kept, char* out) {
    for (int part = 0; part < 8; ++part, kept >>= 8) {
        const unsigned bits = kept & 0xFF;
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values + 8 * part));
        const __m128i indices =
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.indices[bits].data()));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, indices));
        out += kGather.counts[bits];
    }
    return out;
}

bool HasGather() {
    static const bool hasSsse3 = __builtin_cpu_supports("ssse3");
    return hasSsse3;
}

// Decodes regular blocks from at on while the chunk holds a block and the two bytes after it
// (an escape at its end takes them), and returns where it stopped: at an irregular block or
// near the chunk's end. Without SSSE3 it leaves everything to DecodeTokens.
qsizetype DecodeRegularBlocks(const QByteArray& chunk, qsizetype at, char*& out) {
    if (!HasGather()) {
        return at;
    }
    alignas(16) char values[kBlockSize];
    const char* text = chunk.constData();
    while (at + kBlockSize + 2 <= chunk.size()) {
        const char* block = text + at;
        const std::uint64_t escapes = Matches(block, '=');
        if (escapes == 0) {
            std::memcpy(out, block, kBlockSize);
            out += kBlockSize;
            at += kBlockSize;
            continue;
        }
        const std::uint64_t digits = (escapes << 1) | (escapes << 2);
        if ((escapes & digits) != 0) {
            break;
        }
        const std::uint64_t softBreaks = escapes & Matches(block + 1, '\r');
        BlockValues(block, values);
        out = Compact(values, ~(digits | softBreaks), out);
        // An "=" among the last two bytes takes one or two bytes past the block.
        at += kBlockSize + static_cast<qsizetype>(escapes >> 62);
    }
    return at;
}
#endif

// Decodes a chunk, and an escape its end cuts, at out.
void DecodeChunk(QIODevice& input, QByteArray& chunk, char*& out) {
    for (qsizetype at = 0; at < chunk.size();) {
#ifdef __SSE2__
        at = DecodeRegularBlocks(chunk, at, out);
#endif
        at = DecodeTokens(input, chunk, at, at + kBlockSize, out);
    }
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
    while (streamio::AppendRead(input, chunk, kDecodeChunkSize) > 0) {
        // What a chunk decodes to is never longer than the chunk, even when an escape cut by
        // its end completes it.
        decoded.resize(chunk.size() + 2);
        char* out = decoded.data();
        const auto writeDecoded = [&] {
            streamio::WriteBytes(output, QByteArrayView(decoded.constData(), out));
        };
        WithFinally([&] { DecodeChunk(input, chunk, out); }, writeDecoded);
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
