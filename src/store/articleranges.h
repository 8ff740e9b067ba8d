#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <limits>

// A set of article numbers kept as sorted, disjoint, non-adjacent ranges, written as in a
// .newsrc file: "1-100,105,110-120". Holds the numbers a person has read in one group.
class TArticleRanges {
public:
    struct Range {
        qint64 first;
        qint64 last;
        bool operator==(const Range&) const = default;
    };

    // Numbers run from 0 to this; larger ones are refused rather than wrapped.
    static constexpr qint64 kMaxNumber = std::numeric_limits<qint64>::max();

    TArticleRanges() = default;

    // Reads "1-100,105"; blanks around the whole and around each element are allowed, an empty
    // text is the empty set, overlapping or unordered elements are merged. A reversed range
    // ("9-3"), a number too large, or anything else than digits, '-' and ',' fails with an
    // EStoreError that quotes the text and says what is wrong.
    static TArticleRanges Parse(QByteArrayView text);
    // The shortest .newsrc text: ranges in order, a single number without "-".
    QByteArray Format() const;

    // Adds or removes first..last; a reversed range changes nothing.
    void Add(qint64 first, qint64 last);
    void Remove(qint64 first, qint64 last);
    bool Contains(qint64 number) const;

    // How many of low..high are not in the set: the unread count of a group with those marks.
    qint64 CountMissing(qint64 low, qint64 high) const;

    const QList<Range>& Ranges() const { return ranges_; }
    bool IsEmpty() const { return ranges_.isEmpty(); }
    bool operator==(const TArticleRanges&) const = default;

private:
    // The index of the first range whose last number is at least number.
    qsizetype FirstEndingAtOrAfter(qint64 number) const;

    QList<Range> ranges_;
};
