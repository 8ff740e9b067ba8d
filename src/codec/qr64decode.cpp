#include "codec/qr64decode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <array>

namespace {

constexpr uint kNotInAlphabet = 255;
// Set in a group's bits when one of its four characters is outside the alphabet.
constexpr quint32 kGroupInvalid = 1u << 24;

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

// For each place in a group of 4 characters, every character's 6 bits already shifted to
// their place in the group's 24 bits, or kGroupInvalid: OR-ing the four look-ups gives the
// group's 3 bytes, or a value with kGroupInvalid set.
using TGroupTables = std::array<std::array<quint32, 256>, 4>;

constexpr TGroupTables MakeGroupTables() {
    TGroupTables tables{};
    for (int place = 0; place < 4; ++place) {
        for (int c = 0; c < 256; ++c) {
            const quint32 value = kDecodingTable[c];
            tables[place][c] = value == kNotInAlphabet ? kGroupInvalid : value << (18 - 6 * place);
        }
    }
    return tables;
}

constexpr TGroupTables kGroupTables = MakeGroupTables();

// The part of a line from its first group that is not four alphabet characters on: a budget
// of (L * 3) div 4 bytes for its L characters, groups that a character outside the alphabet
// in the third or fourth place ends early (that character is consumed; the line's end is not).
char* DecodeIrregularRest(QByteArrayView rest, char* out) {
    qsizetype budget = rest.size() * 3 / 4;
    qsizetype at = 0;
    const auto next = [&]() -> uint {
        return at < rest.size() ? kDecodingTable[static_cast<uchar>(rest[at++])] : kNotInAlphabet;
    };
    while (budget > 0) {
        const uint w = next();
        const uint x = next();
        const uint y = next();
        const uint z = next();
        if (w == kNotInAlphabet || x == kNotInAlphabet) {
            throw Exception(QStringLiteral("Invalid data encountered within stream"));
        }
        char* const groupStart = out;
        *out++ = static_cast<char>((w << 2) | (x >> 4));
        if (y != kNotInAlphabet) {
            *out++ = static_cast<char>((x << 4) | (y >> 2));
            if (z != kNotInAlphabet) {
                *out++ = static_cast<char>((y << 6) | z);
            }
        }
        budget -= out - groupStart;
    }
    return out;
}

// Whole groups of four alphabet characters give 3 bytes each with one look-up per character;
// while they last, the budget of (L * 3) div 4 bytes of the line cannot run out before the
// line does, so it only matters for the rest.
char* DecodeLine(QByteArrayView line, char* out) {
    const auto* text = reinterpret_cast<const uchar*>(line.data());
    const qsizetype length = line.size();
    qsizetype at = 0;
    for (; length - at >= 4; at += 4) {
        const quint32 group = kGroupTables[0][text[at]] | kGroupTables[1][text[at + 1]] |
                              kGroupTables[2][text[at + 2]] | kGroupTables[3][text[at + 3]];
        if (group & kGroupInvalid) {
            break;
        }
        out[0] = static_cast<char>(group >> 16);
        out[1] = static_cast<char>(group >> 8);
        out[2] = static_cast<char>(group);
        out += 3;
    }
    return DecodeIrregularRest(line.sliced(at), out);
}

} // namespace

bool B64Decode(QIODevice& source, QIODevice& destination) {
    streamio::DecodeLines(source, destination, "\r\n=", DecodeLine);
    return true;
}
