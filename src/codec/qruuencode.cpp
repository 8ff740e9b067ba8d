#include "codec/qruuencode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr int kBytesPerLine = 45;
constexpr int kCharsPerLine = 61;

// 1..63 become "!".."_"; 0 becomes the backquote rather than a blank, which mailers and news
// servers are free to strip from line ends.
char UUChar(uint value) {
    return value == 0 ? '`' : static_cast<char>(value + 32);
}

QByteArray EncodeLine(TByteReader& reader, int count) {
    QByteArray line;
    line.reserve(kCharsPerLine);
    line.append(UUChar(static_cast<uint>(count)));
    for (int done = 0; done < count; done += 3) {
        uint group[3] = {0, 0, 0};
        for (int i = 0; i < 3 && done + i < count; ++i) {
            group[i] = reader.Take();
        }
        line.append(UUChar(group[0] >> 2));
        line.append(UUChar(((group[0] << 4) & 63) | (group[1] >> 4)));
        line.append(UUChar(((group[1] << 2) & 60) | (group[2] >> 6)));
        line.append(UUChar(group[2] & 63));
    }
    return line;
}

} // namespace

bool UUEEncode(QIODevice& source, QIODevice& destination) {
    streamio::SeekToEnd(destination);
    TByteReader reader(source);
    int count = 0;
    do {
        count = static_cast<int>(std::min<qint64>(reader.Remaining(), kBytesPerLine));
        streamio::WriteBytes(destination, EncodeLine(reader, count));
        streamio::WriteBytes(destination, "\r\n");
    } while (count == kBytesPerLine);
    return true;
}
