#include "nntp/nntpwire.h"

#include "net/nwire.h"
#include "util/exception.h"

#include <cstring>

namespace nntpwire {

const char* const kSummaryPrefixes[9] = {
    "Artid: ",      "Subject: ",    "From: ",  "Date: ",           "Message-Id: ",
    "References: ", "Bytecount: ", "Lines: ", "Optional-Header: ",
};

QByteArray StripLineEnd(QByteArray line) {
    // Chopped in place: the line read is not copied.
    if (line.endsWith("\r\n")) {
        line.chop(2);
    } else if (line.endsWith('\n')) {
        line.chop(1);
    }
    return line;
}

QByteArray Unstuff(const QByteArray& line) {
    return line.startsWith('.') ? line.mid(1) : line;
}

int StrToInt(const QByteArray& word) {
    bool ok = false;
    const int value = word.toInt(&ok);
    if (!ok) {
        throw Exception(QStringLiteral("'%1' is not a valid integer value")
                            .arg(QString::fromLatin1(word)));
    }
    return value;
}

int StrToIntDef(const QByteArray& word, int fallback) {
    bool ok = false;
    const int value = word.toInt(&ok);
    return ok ? value : fallback;
}

GroupLine ParseGroupLine(const QByteArray& line) {
    GroupLine group;
    group.name = NthWord(line, ' ', 1);
    group.last = StrToInt(NthWord(line, ' ', 2));
    group.first = StrToInt(NthWord(line, ' ', 3));
    const QByteArray status = NthWord(line, ' ', 4);
    group.posting = status == "y" || status == "m";
    return group;
}

GroupRange ParseGroupReply(const QByteArray& reply) {
    const QByteArray line = StripLineEnd(reply);
    return {StrToIntDef(NthWord(line, ' ', 3), 0), StrToIntDef(NthWord(line, ' ', 4), 0)};
}

QList<QByteArray> SplitSummaryLine(QByteArray line) {
    const qsizetype cr = line.indexOf('\r');
    if (cr >= 0) {
        line[cr] = '\0';
    }
    // Every field is kept whole: References lines of several hundred characters are common.
    QList<QByteArray> fields;
    fields.reserve(9);
    qsizetype start = 0;
    while (fields.size() < 9) {
        const qsizetype tab = line.indexOf('\t', start);
        const qsizetype end = tab < 0 ? line.size() : tab;
        // Built in one allocation: this runs nine times for every summary of a listing.
        const QByteArrayView prefix(kSummaryPrefixes[fields.size()]);
        QByteArray field(prefix.size() + end - start, Qt::Uninitialized);
        std::memcpy(field.data(), prefix.data(), static_cast<size_t>(prefix.size()));
        std::memcpy(field.data() + prefix.size(), line.constData() + start,
                    static_cast<size_t>(end - start));
        fields.append(std::move(field));
        if (tab < 0) {
            break;
        }
        start = tab + 1;
    }
    return fields;
}

QByteArray DotStuff(const QByteArray& text) {
    QByteArray stuffed;
    stuffed.reserve(text.size() + text.size() / 64 + 1);
    bool atLineStart = true;
    for (const char c : text) {
        if (atLineStart && c == '.') {
            stuffed += '.';
        }
        stuffed += c;
        atLineStart = c == '\n';
    }
    return stuffed;
}

QByteArray BoundaryOf(const QByteArray& contentType) {
    const qsizetype at = contentType.indexOf("dary=");
    if (at < 0) {
        return QByteArray();
    }
    const QByteArray text = contentType.mid(at + 5, 256);
    if (!text.startsWith('"')) {
        return text;
    }
    const qsizetype close = text.indexOf('"', 1);
    return close < 0 ? text.mid(1) : text.mid(1, close - 1);
}

QString SafeFileName(const QByteArray& name, const QString& fallback) {
    QByteArray plain = name.trimmed();
    const qsizetype slash = std::max(plain.lastIndexOf('/'), plain.lastIndexOf('\\'));
    plain = plain.mid(slash + 1);
    QByteArray kept;
    for (const char c : plain) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
            kept += c;
        }
    }
    kept = kept.trimmed();
    if (kept.isEmpty() || kept == "." || kept == "..") {
        return fallback;
    }
    return QString::fromLocal8Bit(kept);
}

QString NumberedFileName(const QString& name, int n) {
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char('_') + QString::number(n);
    return dot < 0 ? name + suffix : name.left(dot) + suffix + name.mid(dot);
}

} // namespace nntpwire
