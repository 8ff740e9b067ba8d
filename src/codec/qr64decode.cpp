#include "codec/qr64decode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <array>

namespace {

constexpr uint kNotInAlphabet = 255;

constexpr std::array<uchar, 256> MakeDecodingTable() {
    std::array<uchar, 256> table{};
    table.fill(kNotInAlphabet);
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<uchar>(i);
        table['a' + i] = static_cast<uchar>(26 + i);
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<uchar>(52 + i);
    }
    table['+'] = 62;
    table['/'] = 63;
    return table;
}

constexpr std::array<uchar, 256> kDecodingTable = MakeDecodingTable();

QByteArray DecodeLine(QByteArrayView line) {
    QByteArray bytes;
    qsizetype budget = line.size() * 3 / 4;
    qsizetype at = 0;
    // A character outside the alphabet is consumed; the line's end is not.
    const auto next = [&]() -> uint {
        return at < line.size() ? kDecodingTable[static_cast<uchar>(line[at++])] : kNotInAlphabet;
    };
    while (budget > 0) {
        const uint w = next();
        const uint x = next();
        const uint y = next();
        const uint z = next();
        if (w == kNotInAlphabet || x == kNotInAlphabet) {
            throw Exception(QStringLiteral("Invalid data encountered within stream"));
        }
        const qsizetype before = bytes.size();
        bytes.append(static_cast<char>((w << 2) | (x >> 4)));
        if (y != kNotInAlphabet) {
            bytes.append(static_cast<char>((x << 4) | (y >> 2)));
            if (z != kNotInAlphabet) {
                bytes.append(static_cast<char>((y << 6) | z));
            }
        }
        budget -= bytes.size() - before;
    }
    return bytes;
}

} // namespace

bool B64Decode(QIODevice& source, QIODevice& destination) {
    streamio::DecodeLines(source, destination, "\r\n=", DecodeLine);
    return true;
}
