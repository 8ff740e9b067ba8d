#pragma once

// yEnc as posting programs write it, for test data: the reader itself only decodes. The CRC32
// is computed bit by bit here, apart from the library the decoder uses.

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// The place of one part of a multi-part post: its number, how many there are, and its bytes
// of the file, 1-based and inclusive.
struct YEncPart {
    int number;
    int total;
    qint64 begin;
    qint64 end;
};

inline quint32 BitwiseCrc32(QByteArrayView data) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= static_cast<uchar>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// The data lines, each ending with CR LF, lineLength characters long (one more where the last
// is an escape). NUL, LF, CR and "=" are always escaped, TAB and blank at either end of a line,
// "." at its start.
inline QByteArray YEncDataLines(QByteArrayView data, int lineLength) {
    QByteArray lines;
    int column = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = static_cast<char>(static_cast<uchar>(data[i]) + 42);
        const bool first = column == 0;
        const bool last = column + 1 >= lineLength || i + 1 == data.size();
        const bool escaped = c == '\0' || c == '\n' || c == '\r' || c == '=' ||
                             ((first || last) && (c == '\t' || c == ' ')) || (first && c == '.');
        if (escaped) {
            lines += '=';
            lines += static_cast<char>(c + 64);
            column += 2;
        } else {
            lines += c;
            ++column;
        }
        if (column >= lineLength || i + 1 == data.size()) {
            lines += "\r\n";
            column = 0;
        }
    }
    return lines;
}

inline QByteArray Hex8(quint32 value) {
    return QByteArray::number(value, 16).rightJustified(8, '0');
}

// A whole block for file, or for one part of it: "=ybegin", "=ypart" for a part, the data
// lines and "=yend" with the part's and the file's CRC32.
inline QByteArray YEncBlock(const QByteArray& file, const QByteArray& name, int lineLength = 128,
                            std::optional<YEncPart> part = std::nullopt) {
    const QByteArray data = part ? file.mid(part->begin - 1, part->end - part->begin + 1) : file;
    QByteArray block = "=ybegin ";
    if (part) {
        block += "part=" + QByteArray::number(part->number) +
                 " total=" + QByteArray::number(part->total) + ' ';
    }
    block += "line=" + QByteArray::number(lineLength) + " size=" + QByteArray::number(file.size()) +
             " name=" + name + "\r\n";
    if (part) {
        block += "=ypart begin=" + QByteArray::number(part->begin) +
                 " end=" + QByteArray::number(part->end) + "\r\n";
    }
    block += YEncDataLines(data, lineLength);
    block += "=yend size=" + QByteArray::number(data.size());
    if (part) {
        block +=
            " part=" + QByteArray::number(part->number) + " pcrc32=" + Hex8(BitwiseCrc32(data));
    }
    return block + " crc32=" + Hex8(BitwiseCrc32(file)) + "\r\n";
}
