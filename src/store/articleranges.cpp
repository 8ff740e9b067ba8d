#include "store/articleranges.h"

#include "store/storeerror.h"

#include <algorithm>

namespace {

[[noreturn]] void Refuse(QByteArrayView text, const char* reason) {
    throw EStoreError(
        QStringLiteral("Bad article ranges \"%1\": %2")
            .arg(QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 200))),
                 QString::fromUtf8(reason)));
}

// The number of digits at the start of element, read into value; refuses an empty or too large
// number.
qint64 ReadNumber(QByteArrayView whole, QByteArrayView digits) {
    if (digits.isEmpty()) {
        Refuse(whole, "a number is missing");
    }
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            Refuse(whole, "only digits, '-' and ',' are allowed");
        }
        const int digit = c - '0';
        if (value > (TArticleRanges::kMaxNumber - digit) / 10) {
            Refuse(whole, "a number is too large");
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

TArticleRanges TArticleRanges::Parse(QByteArrayView text) {
    TArticleRanges ranges;
    const QByteArrayView trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return ranges;
    }
    qsizetype start = 0;
    while (start <= trimmed.size()) {
        qsizetype comma = trimmed.indexOf(',', start);
        if (comma < 0) {
            comma = trimmed.size();
        }
        const QByteArrayView element = trimmed.sliced(start, comma - start).trimmed();
        const qsizetype dash = element.indexOf('-');
        const qint64 first = ReadNumber(text, dash < 0 ? element : element.first(dash).trimmed());
        const qint64 last = dash < 0 ? first : ReadNumber(text, element.sliced(dash + 1).trimmed());
        if (last < first) {
            Refuse(text, "a range runs backwards");
        }
        ranges.Add(first, last);
        start = comma + 1;
    }
    return ranges;
}

QByteArray TArticleRanges::Format() const {
    QByteArray text;
    for (const Range& range : ranges_) {
        if (!text.isEmpty()) {
            text += ',';
        }
        text += QByteArray::number(range.first);
        if (range.last != range.first) {
            text += '-' + QByteArray::number(range.last);
        }
    }
    return text;
}

qsizetype TArticleRanges::FirstEndingAtOrAfter(qint64 number) const {
    return std::partition_point(ranges_.cbegin(), ranges_.cend(),
                                [number](const Range& range) { return range.last < number; }) -
           ranges_.cbegin();
}

void TArticleRanges::Add(qint64 first, qint64 last) {
    if (last < first) {
        return;
    }
    // Ranges that overlap first..last or touch it (end at first - 1, start at last + 1) merge
    // with it; the subtraction and addition stay inside qint64 by the guards.
    qsizetype from = FirstEndingAtOrAfter(first > 0 ? first - 1 : first);
    qsizetype to = from;
    Range merged{first, last};
    while (to < ranges_.size() && (last == kMaxNumber || ranges_[to].first <= last + 1)) {
        merged.first = std::min(merged.first, ranges_[to].first);
        merged.last = std::max(merged.last, ranges_[to].last);
        ++to;
    }
    ranges_.remove(from, to - from);
    ranges_.insert(from, merged);
}

void TArticleRanges::Remove(qint64 first, qint64 last) {
    if (last < first) {
        return;
    }
    QList<Range> kept;
    const qsizetype from = FirstEndingAtOrAfter(first);
    qsizetype to = from;
    while (to < ranges_.size() && ranges_[to].first <= last) {
        const Range range = ranges_[to];
        if (range.first < first) {
            kept.append({range.first, first - 1});
        }
        if (range.last > last) {
            kept.append({last + 1, range.last});
        }
        ++to;
    }
    ranges_.remove(from, to - from);
    for (qsizetype i = 0; i < kept.size(); ++i) {
        ranges_.insert(from + i, kept[i]);
    }
}

bool TArticleRanges::Contains(qint64 number) const {
    const qsizetype index = FirstEndingAtOrAfter(number);
    return index < ranges_.size() && ranges_[index].first <= number;
}

qint64 TArticleRanges::CountMissing(qint64 low, qint64 high) const {
    if (high < low) {
        return 0;
    }
    qint64 present = 0;
    for (qsizetype i = FirstEndingAtOrAfter(low); i < ranges_.size() && ranges_[i].first <= high;
         ++i) {
        present += std::min(ranges_[i].last, high) - std::max(ranges_[i].first, low) + 1;
    }
    // high - low + 1 overflows only for the full range 0..max, whose count does not fit anyway.
    return high - low - present + 1;
}
