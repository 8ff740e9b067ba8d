#include "codec/qr64encode.h"

#include "codec/streamio.h"

#include <QIODevice>

namespace {

constexpr TTripleEncoder kEncoder("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
// RFC 2045 allows up to 76 characters a line; 60 keeps a line to a whole 45 input bytes.
constexpr qsizetype kBytesPerLine = 45;
constexpr qsizetype kCharsPerLine = 60;
// Whole lines only, so that only the last block can end in a short line.
constexpr qsizetype kLinesPerBlock = 1456;
constexpr qsizetype kBytesPerBlock = kLinesPerBlock * kBytesPerLine;
constexpr qsizetype kCharsPerBlock = kLinesPerBlock * (kCharsPerLine + 2);

// The full lines of the block, each with CR LF, then the rest as a last line without a line
// end, its last group padded with "=" when it holds fewer than 3 bytes.
char* EncodeBlock(QByteArrayView plain, char* out, bool) {
    const auto* bytes = reinterpret_cast<const uchar*>(plain.data());
    const uchar* const end = bytes + plain.size();
    for (; end - bytes >= kBytesPerLine; bytes += kBytesPerLine) {
        for (int group = 0; group < kBytesPerLine; group += 3) {
            out = kEncoder.Encode(bytes + group, out);
        }
        *out++ = '\r';
        *out++ = '\n';
    }
    for (; end - bytes >= 3; bytes += 3) {
        out = kEncoder.Encode(bytes, out);
    }
    if (const qsizetype rest = end - bytes; rest > 0) {
        const uchar group[3] = {bytes[0], rest > 1 ? bytes[1] : uchar(0), 0};
        out = kEncoder.Encode(group, out);
        out[-1] = '=';
        if (rest == 1) {
            out[-2] = '=';
        }
    }
    return out;
}

} // namespace

bool B64Encode(QIODevice& source, QIODevice& destination) {
    streamio::EncodeBlocks(source, destination, kBytesPerBlock, kCharsPerBlock, EncodeBlock);
    return true;
}
