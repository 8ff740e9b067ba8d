#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <vector>

// An article's place in the thread order: its number, and its depth in its thread, 0 for the
// thread's first article.
struct TThreadPlace {
    qint64 number = 0;
    int depth = 0;

    bool operator==(const TThreadPlace&) const = default;
};

// The threads of a group, built from each summary's Message-ID and References. The last
// Message-ID of References that names an article of the group is its parent: a missing parent
// joins the nearest ancestor present, and an article without any starts a thread. Only
// "<...>" tokens without blanks count as Message-IDs; anything else in the fields is skipped.
// A Message-ID that refers to itself is skipped too; a loop of parents (A refers to B, B to
// A) is broken at its lowest-numbered article, which starts a thread.
//
// Nothing here recurses: hostile chains of any depth, loops and huge References headers cost
// time in proportion to their bytes and no stack.
class TThreader {
public:
    // One summary's number and its Message-ID and References fields; the bytes are copied.
    void Add(qint64 number, QByteArrayView messageId, QByteArrayView references);
    // Room for that many summaries, so that adding them does not copy the ones added before.
    void Reserve(qsizetype summaries) { records_.reserve(summaries); }
    // Forgets every summary and keeps the memory for the next ones.
    void Clear() {
        bytes_.resize(0);
        records_.clear();
    }

    // Every number added, in thread order: each thread in the order of its first article's
    // number, replies after their parent, siblings in number order.
    QList<TThreadPlace> Order() const;

private:
    // The id's bytes start at start, the References' right after them. A field of a summary
    // line is far shorter than 4 GiB (the connection takes lines of a few MiB at most), and
    // small records keep a group of a million summaries small.
    struct TRecord {
        qint64 number;
        qsizetype start;
        quint32 idSize;
        quint32 referencesSize;
    };

    QByteArrayView IdOf(const TRecord& record) const;
    QByteArrayView ReferencesOf(const TRecord& record) const;
    // Per record (in number order) the index of its parent, -1 for a thread's first article.
    std::vector<qsizetype> Parents(const std::vector<qsizetype>& byNumber) const;

    QByteArray bytes_;
    std::vector<TRecord> records_;
};
