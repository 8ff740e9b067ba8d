#include "codec/qruudecode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>
#include <array>

namespace {

constexpr uint kMissing = 255;

constexpr uint UUValue(uchar c) {
    return (c - 32u) & 63u;
}

// For each place in a group of 4 characters, every character's 6 bits already shifted to
// their place in the group's 24 bits: OR-ing the four look-ups gives the group's 3 bytes.
using TGroupTables = std::array<std::array<quint32, 256>, 4>;

constexpr TGroupTables MakeGroupTables() {
    TGroupTables tables{};
    for (int place = 0; place < 4; ++place) {
        for (int c = 0; c < 256; ++c) {
            tables[place][c] = UUValue(static_cast<uchar>(c)) << (18 - 6 * place);
        }
    }
    return tables;
}

constexpr TGroupTables kGroupTables = MakeGroupTables();

// The count character says how many bytes the line holds; whole groups of 4 characters come
// through the tables while the count wants all 3 of their bytes, and the last group takes
// characters missing from the line as 255.
char* DecodeLine(QByteArrayView line, char* out) {
    if (line.isEmpty()) {
        return out;
    }
    const auto* text = reinterpret_cast<const uchar*>(line.data());
    char* const end = out + UUValue(text[0]);
    qsizetype at = 1;
    for (; line.size() - at >= 4 && end - out >= 3; at += 4) {
        const quint32 group = kGroupTables[0][text[at]] | kGroupTables[1][text[at + 1]] |
                              kGroupTables[2][text[at + 2]] | kGroupTables[3][text[at + 3]];
        out[0] = static_cast<char>(group >> 16);
        out[1] = static_cast<char>(group >> 8);
        out[2] = static_cast<char>(group);
        out += 3;
    }
    const auto next = [&]() { return at < line.size() ? UUValue(text[at++]) : kMissing; };
    while (out < end) {
        const uint v1 = next();
        const uint v2 = next();
        const uint v3 = next();
        const uint v4 = next();
        const char group[3] = {static_cast<char>((v1 << 2) | (v2 >> 4)),
                               static_cast<char>((v2 << 4) | (v3 >> 2)),
                               static_cast<char>((v3 << 6) | v4)};
        const qsizetype wanted = std::min<qsizetype>(3, end - out);
        out = std::copy_n(group, wanted, out);
    }
    return out;
}

} // namespace

bool UUEDecode(QIODevice& source, QIODevice& destination) {
    streamio::DecodeLines(source, destination, "\r\n", DecodeLine);
    return true;
}
