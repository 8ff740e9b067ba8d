#include "store/newsrc.h"

#include "store/storeerror.h"

namespace {

[[noreturn]] void RefuseLine(int lineNumber, const QString& reason) {
    throw EStoreError(QStringLiteral("line %1: %2").arg(lineNumber).arg(reason));
}

// The entry of one line, already trimmed and not empty.
TNewsrcEntry ParseLine(QByteArrayView text, int lineNumber) {
    qsizetype end = 0;
    while (end < text.size() && text[end] != ':' && text[end] != '!' && text[end] != ' ' &&
           text[end] != '\t') {
        ++end;
    }
    if (end == 0 || end == text.size() || (text[end] != ':' && text[end] != '!')) {
        RefuseLine(lineNumber,
                   QStringLiteral("not a .newsrc line: ") + QString::fromLocal8Bit(text));
    }
    try {
        return TNewsrcEntry{text.first(end).toByteArray(), text[end] == ':',
                            TArticleRanges::Parse(text.sliced(end + 1))};
    } catch (const EStoreError& error) {
        RefuseLine(lineNumber, error.Message());
    }
}

} // namespace

QList<TNewsrcEntry> ParseNewsrc(QByteArrayView text) {
    QList<TNewsrcEntry> entries;
    int lineNumber = 0;
    for (qsizetype start = 0; start <= text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0) {
            end = text.size();
        }
        ++lineNumber;
        const QByteArrayView line = text.sliced(start, end - start).trimmed();
        if (!line.isEmpty()) {
            entries.append(ParseLine(line, lineNumber));
        }
        start = end + 1;
    }
    return entries;
}

QByteArray NewsrcLine(const TNewsrcEntry& entry) {
    const QByteArray ranges = entry.marks.Format();
    return entry.name + (entry.subscribed ? ':' : '!') + (ranges.isEmpty() ? "" : " " + ranges);
}
