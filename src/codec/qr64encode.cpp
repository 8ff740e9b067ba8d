#include "codec/qr64encode.h"

#include "codec/streamio.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// RFC 2045 allows up to 76 characters a line; 60 keeps a line to a whole 45 input bytes.
constexpr int kBytesPerLine = 45;
constexpr int kCharsPerLine = 60;

// Takes up to 3 bytes and appends their 4 characters, padded with "=" when fewer came.
void EncodeGroup(TByteReader& reader, QByteArray& line) {
    const int count = static_cast<int>(std::min<qint64>(reader.Remaining(), 3));
    uint group[3] = {0, 0, 0};
    for (int i = 0; i < count; ++i) {
        group[i] = reader.Take();
    }
    line.append(kAlphabet[group[0] >> 2]);
    line.append(kAlphabet[((group[0] << 4) & 63) | (group[1] >> 4)]);
    line.append(count > 1 ? kAlphabet[((group[1] << 2) & 60) | (group[2] >> 6)] : '=');
    line.append(count > 2 ? kAlphabet[group[2] & 63] : '=');
}

} // namespace

bool B64Encode(QIODevice& source, QIODevice& destination) {
    streamio::SeekToEnd(destination);
    TByteReader reader(source);
    QByteArray line;
    line.reserve(kCharsPerLine + 2);
    while (reader.Remaining() > 0) {
        EncodeGroup(reader, line);
        if (line.endsWith('=')) {
            break;
        }
        if (reader.Consumed() % kBytesPerLine == 0) {
            line.append("\r\n");
            streamio::WriteBytes(destination, line);
            line.clear();
        }
    }
    if (!line.isEmpty()) {
        streamio::WriteBytes(destination, line);
    }
    return true;
}
