#include "codec/qruuencode.h"

#include "codec/streamio.h"

#include <QIODevice>

namespace {

// 1..63 become "!".."_"; 0 becomes the backquote rather than a blank, which mailers and news
// servers are free to strip from line ends.
constexpr char kAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr TTripleEncoder kEncoder(kAlphabet);
constexpr qsizetype kBytesPerLine = 45;
constexpr qsizetype kCharsPerLine = 61;
// Whole lines only, so that only the last block can end in a short line.
constexpr qsizetype kLinesPerBlock = 1456;
constexpr qsizetype kBytesPerBlock = kLinesPerBlock * kBytesPerLine;
constexpr qsizetype kCharsPerBlock = (kLinesPerBlock + 1) * (kCharsPerLine + 2);

// One line: the count character, 4 characters per started group of 3 bytes (bytes missing
// from the last group count as 0), CR LF.
char* EncodeLine(const uchar* bytes, qsizetype count, char* out) {
    *out++ = kAlphabet[count];
    qsizetype done = 0;
    for (; count - done >= 3; done += 3) {
        out = kEncoder.Encode(bytes + done, out);
    }
    if (done < count) {
        const uchar group[3] = {bytes[done], done + 1 < count ? bytes[done + 1] : uchar(0), 0};
        out = kEncoder.Encode(group, out);
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// The full lines of the block; the last block adds the short rest, which is a line holding
// only the backquote when nothing is left.
char* EncodeBlock(QByteArrayView plain, char* out, bool last) {
    const auto* bytes = reinterpret_cast<const uchar*>(plain.data());
    const uchar* const end = bytes + plain.size();
    for (; end - bytes >= kBytesPerLine; bytes += kBytesPerLine) {
        out = EncodeLine(bytes, kBytesPerLine, out);
    }
    return last ? EncodeLine(bytes, end - bytes, out) : out;
}

} // namespace

bool UUEEncode(QIODevice& source, QIODevice& destination) {
    streamio::EncodeBlocks(source, destination, kBytesPerBlock, kCharsPerBlock, EncodeBlock);
    return true;
}
