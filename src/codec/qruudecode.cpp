#include "codec/qruudecode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr uint kMissing = 255;

uint UUValue(char c) {
    return (static_cast<uchar>(c) - 32u) & 63u;
}

QByteArray DecodeLine(QByteArrayView line) {
    QByteArray bytes;
    if (line.isEmpty()) {
        return bytes;
    }
    const qsizetype count = UUValue(line[0]);
    qsizetype at = 1;
    const auto next = [&]() { return at < line.size() ? UUValue(line[at++]) : kMissing; };
    while (bytes.size() < count) {
        const uint v1 = next();
        const uint v2 = next();
        const uint v3 = next();
        const uint v4 = next();
        const char group[3] = {static_cast<char>((v1 << 2) | (v2 >> 4)),
                               static_cast<char>((v2 << 4) | (v3 >> 2)),
                               static_cast<char>((v3 << 6) | v4)};
        bytes.append(group, std::min<qsizetype>(3, count - bytes.size()));
    }
    return bytes;
}

} // namespace

bool UUEDecode(QIODevice& source, QIODevice& destination) {
    streamio::DecodeLines(source, destination, "\r\n", DecodeLine);
    return true;
}
