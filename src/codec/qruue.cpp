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
#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <tmmintrin.h>
#endif

namespace {

// Both directions read large chunks: the blocks below handle a few bytes per cycle, and the
// cost of each read through QIODevice has to spread over many of them.
constexpr qint64 kChunkSize = 65536;
constexpr qint64 kCopyBlockSize = 65536;
// A TAB or blank looks for what decides its form within a window of the input: the windows
// are 1024 bytes long, each starting where the one before it ended, and a look-ahead that
// reaches its window's end before examining 76 bytes widens the window by 76 bytes. The
// windows depend on nothing but the input, so neither does the encoding.
constexpr qsizetype kWindowSize = 1024;
constexpr qsizetype kLookAheadSize = 76;
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

// An encoding under way: the chunk of input being encoded, where the current look-ahead window
// ends (counted from the chunk's start, so it may lie before or after it), the output written
// so far for the chunk, and the length of the output's last line.
struct TQPEncoding {
    explicit TQPEncoding(QIODevice& source) : input(source) {}

    QIODevice& input;
    QByteArray chunk;
    qsizetype windowEnd = 0;
    QByteArray encoded;
    char* out = nullptr;
    int lineLength = 0;
};

// Moves the window on to the one that holds the byte at at.
void CatchUpWindow(TQPEncoding& encoding, qsizetype at) {
    while (encoding.windowEnd <= at) {
        encoding.windowEnd += kWindowSize;
    }
}

// RFC 2045, rule 3: white space may stand as itself only where a printed character follows it
// on its line, since transports strip white space from line ends. Looks past TABs, blanks, LF
// and bytes that will be encoded, reading on from the input when the chunk ends first.
bool WhiteSpaceStaysAsIs(TQPEncoding& encoding, qsizetype at) {
    CatchUpWindow(encoding, at);
    for (qsizetype next = at + 1;; ++next) {
        if (next == encoding.windowEnd) {
            if (next - at - 1 >= kLookAheadSize) {
                return false;
            }
            encoding.windowEnd += kLookAheadSize;
        }
        if (next == encoding.chunk.size() &&
            streamio::AppendRead(encoding.input, encoding.chunk, kLookAheadSize) == 0) {
            return false;
        }
        const uchar c = static_cast<uchar>(encoding.chunk[next]);
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

// Encodes the byte at at, after a soft line break when one is due.
void EncodeByte(TQPEncoding& encoding, qsizetype at) {
    const uchar c = static_cast<uchar>(encoding.chunk[at]);
    char*& out = encoding.out;
    int& length = encoding.lineLength;
    if (length > kSoftBreakAfter && c != '\r') {
        out = std::copy_n("=\r\n", 3, out);
        length = 0;
    }
    const TQPCode& code = kQPCodes[c];
    const bool lineEnd = c == '\r' || c == '\n';
    if (!code.needsContext) {
        std::memcpy(out, code.chars.data(), 4);
        out += code.length;
        length += code.length;
    } else if (lineEnd || WhiteSpaceStaysAsIs(encoding, at)) {
        *out++ = static_cast<char>(c);
        length = lineEnd ? 0 : length + 1;
    } else {
        out = std::copy_n(code.chars.data(), 3, out);
        length += 3;
    }
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

// Encoding works through blocks of 16 bytes too. A block is spread to its bytes and escapes
// four bytes at a time, and keeps the bytes before the first one it cannot settle alone (white
// space whose deciding byte lies past the block or across a window's end) or that a soft line
// break has to precede, and at most up to the end of its first run of line ends. EncodeByte
// takes white space where a block stops, and the bytes too few for a block.
constexpr int kEncodeBlockSize = 16;
constexpr unsigned kBlockBits = 0xFFFF;

// For each set of escapes among 4 bytes: the pshufb indices that take from the 4 bytes, each
// laid out as itself, "=" and its two digits, either the byte or its escape; and how many
// characters they take.
struct TSpread {
    std::array<std::array<uchar, 16>, 16> indices{};
    std::array<uchar, 16> counts{};
};

constexpr TSpread MakeSpread() {
    TSpread spread;
    for (int escapes = 0; escapes < 16; ++escapes) {
        int count = 0;
        for (int byte = 0; byte < 4; ++byte) {
            const bool escaped = (escapes >> byte) & 1;
            for (int part = escaped ? 1 : 0; part < (escaped ? 4 : 1); ++part) {
                spread.indices[escapes][count++] = static_cast<uchar>(4 * byte + part);
            }
        }
        spread.counts[escapes] = static_cast<uchar>(count);
    }
    return spread;
}

constexpr TSpread kSpread = MakeSpread();

// The bytes of a block by kind, bit i standing for byte i.
struct TBlockKinds {
    unsigned printed;
    unsigned returns;
    unsigned lineEnds;
    unsigned white;
};

unsigned MaskOf(__m128i found) {
    return static_cast<unsigned>(_mm_movemask_epi8(found));
}

TBlockKinds KindsOf(__m128i bytes) {
    const auto equal = [bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    // The signed compares leave out 0x80..0xFF.
    const auto within = [bytes](char low, char high) {
        return _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(static_cast<char>(low - 1))),
                             _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(high + 1)), bytes));
    };
    const unsigned returns = MaskOf(equal('\r'));
    return {MaskOf(_mm_or_si128(within(0x23, 0x3C), within(0x3F, 0x7D))), returns,
            returns | MaskOf(equal('\n')), MaskOf(_mm_or_si128(equal('\t'), equal(' ')))};
}

// The bits whose nearest bit at or above them in from or walls is one of from.
unsigned FillDown(unsigned from, unsigned walls) {
    unsigned filled = from;
    unsigned open = ~(from | walls) & kBlockBits;
    filled |= open & (filled >> 1);
    open &= open >> 1;
    filled |= open & (filled >> 2);
    open &= open >> 2;
    filled |= open & (filled >> 4);
    open &= open >> 4;
    return filled | (open & (filled >> 8));
}

// The white space of a block that the block settles alone, and the part of it that stands as
// itself: the first byte after it that is printed or a CR lies within the block, and is printed
// or a CR respectively.
struct TWhiteSettled {
    unsigned settled = 0;
    unsigned asIs = 0;
};

TWhiteSettled SettleWhite(const TBlockKinds& kinds) {
    if (kinds.white == 0) {
        return {};
    }
    const unsigned asIs = kinds.white & FillDown(kinds.printed, kinds.returns);
    return {asIs | (kinds.white & FillDown(kinds.returns, kinds.printed)), asIs};
}

// The characters the first count bytes take, escapes being those whose bit is set.
int CharactersOf(unsigned escapes, int count) {
    const unsigned taken = escapes & ((1U << count) - 1);
    return count + 2 * (kGather.counts[taken & 0xFF] + kGather.counts[taken >> 8]);
}

// All ones at the bytes whose bit is set in bits.
__attribute__((target("ssse3"))) __m128i BytesOfBits(unsigned bits) {
    const __m128i halves = _mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(bits)),
                                            _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1,
                                                          1, 1, 1));
    const __m128i bit = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    return _mm_cmpeq_epi8(_mm_and_si128(halves, bit), bit);
}

// How many bytes of a block a line of length characters takes before a soft line break is
// due: byte i + 1 wants the break when the line exceeds the limit at byte i.
__attribute__((target("ssse3"))) int BytesBeforeBreak(unsigned escapes, int length) {
    const __m128i escaped = BytesOfBits(escapes);
    __m128i totals = _mm_sub_epi8(_mm_set1_epi8(1), _mm_add_epi8(escaped, escaped));
    totals = _mm_add_epi8(totals, _mm_slli_si128(totals, 1));
    totals = _mm_add_epi8(totals, _mm_slli_si128(totals, 2));
    totals = _mm_add_epi8(totals, _mm_slli_si128(totals, 4));
    totals = _mm_add_epi8(totals, _mm_slli_si128(totals, 8));
    const unsigned exceeding = MaskOf(
        _mm_cmpgt_epi8(totals, _mm_set1_epi8(static_cast<char>(kSoftBreakAfter - length))));
    return std::countr_zero(exceeding | 0x8000U) + 1;
}

// Writes 4 bytes, laid out in group as for kSpread, at out, each as itself or, where its bit is
// set in escapes, as its escape; returns the end of what they take.
__attribute__((target("ssse3"))) char* SpreadGroup(__m128i group, unsigned escapes, char* out) {
    const __m128i indices =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSpread.indices[escapes].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(group, indices));
    return out + kSpread.counts[escapes];
}

// Writes the 16 bytes at out, each as itself or, where its bit is set in escapes, as its
// escape, and returns the end of what they take; writes up to 4 characters of padding past it.
__attribute__((target("ssse3"))) char* Spread(__m128i bytes, unsigned escapes, char* out) {
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A',
                                         'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
    const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(bytes, nibble));
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i frontHeads = _mm_unpacklo_epi8(bytes, equals);
    const __m128i frontDigits = _mm_unpacklo_epi8(high, low);
    const __m128i backHeads = _mm_unpackhi_epi8(bytes, equals);
    const __m128i backDigits = _mm_unpackhi_epi8(high, low);
    out = SpreadGroup(_mm_unpacklo_epi16(frontHeads, frontDigits), escapes & 15, out);
    out = SpreadGroup(_mm_unpackhi_epi16(frontHeads, frontDigits), (escapes >> 4) & 15, out);
    out = SpreadGroup(_mm_unpacklo_epi16(backHeads, backDigits), (escapes >> 8) & 15, out);
    return SpreadGroup(_mm_unpackhi_epi16(backHeads, backDigits), escapes >> 12, out);
}

// Encodes the block at text up to the first white space it cannot settle alone, the end of the
// first run of line ends (after which a line starts afresh) or the first byte that a soft line
// break has to precede, with the break due before its first byte; returns how many bytes it
// took. White space stays unsettled when windowEndsNear. Writes up to 55 characters at out,
// however few it keeps.
__attribute__((target("ssse3"))) int EncodeBlock(const char* text, bool windowEndsNear,
                                                 char*& out, int& length) {
    const __m128i bytes = Load16(text);
    const TBlockKinds kinds = KindsOf(bytes);
    const TWhiteSettled white = windowEndsNear ? TWhiteSettled() : SettleWhite(kinds);
    const unsigned unsettled = kinds.white & ~white.settled;
    if ((unsettled & 1) != 0) {
        return 0;
    }
    if (length > kSoftBreakAfter && (kinds.returns & 1) == 0) {
        out = std::copy_n("=\r\n", 3, out);
        length = 0;
    }
    const unsigned escapes = ~(kinds.printed | kinds.lineEnds | white.asIs) & kBlockBits;
    const int whole = static_cast<int>(Spread(bytes, escapes, out) - out);
    const int firstLineEnd = std::countr_zero(kinds.lineEnds | (1U << kEncodeBlockSize));
    const int lineEndsRun = std::countr_zero(~(kinds.lineEnds >> firstLineEnd));
    int taken = std::min(std::countr_zero(unsettled | (1U << kEncodeBlockSize)),
                         firstLineEnd + lineEndsRun);
    // Counting on past line ends overstates the line: it only ever cuts the block short.
    const int lastCharacters = (escapes >> (kEncodeBlockSize - 1)) != 0 ? 3 : 1;
    if (length + whole - lastCharacters > kSoftBreakAfter) {
        taken = std::min(taken, BytesBeforeBreak(escapes, length));
    }
    const int written = taken == kEncodeBlockSize ? whole : CharactersOf(escapes, taken);
    out += written;
    length = ((kinds.lineEnds >> (taken - 1)) & 1) != 0 ? 0 : length + written;
    return taken;
}

// Encodes blocks from at on while the chunk holds one, and returns where it stopped: at a byte
// the blocks leave to EncodeByte or near the chunk's end. Without SSSE3 it leaves everything
// to EncodeByte.
__attribute__((target("ssse3"))) qsizetype EncodeBlocks(TQPEncoding& encoding, qsizetype at) {
    if (!HasGather()) {
        return at;
    }
    const char* text = encoding.chunk.constData();
    char* out = encoding.out;
    int length = encoding.lineLength;
    for (const qsizetype size = encoding.chunk.size(); at + kEncodeBlockSize <= size;) {
        CatchUpWindow(encoding, at);
        const bool windowEndsNear = encoding.windowEnd - at <= kEncodeBlockSize;
        const int taken = EncodeBlock(text + at, windowEndsNear, out, length);
        if (taken == 0) {
            break;
        }
        at += taken;
    }
    encoding.out = out;
    encoding.lineLength = length;
    return at;
}
#endif

// Encodes the chunk, and what its look-ahead adds to it, at encoding.encoded.
void EncodeChunk(TQPEncoding& encoding) {
    encoding.out = RoomFor(encoding.encoded, encoding.encoded.data(),
                           kMaxEncodedPerByte * encoding.chunk.size());
    for (qsizetype at = 0; at < encoding.chunk.size(); ++at) {
#ifdef __SSE2__
        at = EncodeBlocks(encoding, at);
        if (at == encoding.chunk.size()) {
            break;
        }
#endif
        const qsizetype size = encoding.chunk.size();
        EncodeByte(encoding, at);
        if (encoding.chunk.size() != size) {
            encoding.out = RoomFor(encoding.encoded, encoding.out,
                                   kMaxEncodedPerByte * (encoding.chunk.size() - at));
        }
    }
}

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
    TQPEncoding encoding(input);
    while (streamio::AppendRead(input, encoding.chunk, kChunkSize) > 0) {
        EncodeChunk(encoding);
        streamio::WriteBytes(output, QByteArrayView(encoding.encoded.constData(), encoding.out));
        encoding.windowEnd -= encoding.chunk.size();
        encoding.chunk.resize(0);
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
