#include "nntp/nntpwire.h"

#include "net/nwire.h"
#include "util/exception.h"

namespace nntpwire {

const char* const kSummaryPrefixes[9] = {
    "Artid: ",      "Subject: ",    "From: ",  "Date: ",           "Message-Id: ",
    "References: ", "Bytecount: ", "Lines: ", "Optional-Header: ",
};

QByteArray StripLineEnd(const QByteArray& line) {
    if (line.endsWith("\r\n")) {
        return line.left(line.size() - 2);
    }
    if (line.endsWith('\n')) {
        return line.left(line.size() - 1);
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
    qsizetype start = 0;
    while (fields.size() < 9) {
        const qsizetype tab = line.indexOf('\t', start);
        const qsizetype end = tab < 0 ? line.size() : tab;
        fields.append(kSummaryPrefixes[fields.size()] + line.mid(start, end - start));
        if (tab < 0) {
            break;
        }
        start = tab + 1;
    }
    return fields;
}

} // namespace nntpwire
