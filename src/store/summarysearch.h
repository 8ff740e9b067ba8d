#pragma once

#include "store/storeerror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class TSqlite;

// A stored summary that matched a search.
struct TSearchHit {
    QByteArray group; // the group's name
    qint64 number = 0;
    QDateTime date;  // UTC; invalid when the Date field cannot be read
    QString from;    // decoded
    QString subject; // decoded

    bool operator==(const TSearchHit&) const = default;
};

// Search text FTS5 cannot read ("AND" alone, a lone quote, ...): the message says so for a
// person, naming the text.
class EStoreSearchError : public EStoreError {
public:
    using EStoreError::EStoreError;
};

// The full-text index of the Subject and From of every stored summary: an FTS5 table that
// holds no copy of the text (the summary table has it), only the words, each field's encoded
// words decoded. Its rowid is the group's row id shifted left by 40 bits, or'ed with the
// article number, so that the entries of one group are one rowid range in number order.
// Numbers outside 0 to 2^40 - 1 are stored but not indexed, and group row ids stay below
// 2^23 (eight million groups).
//
// The index holds no text to delete by: an entry goes only by giving FTS5 the same words it
// was added with, so every change to the summary table must come through Add and Remove, in
// the transaction that makes it.
class TSummaryIndex {
public:
    // The schema step that makes the index and fills it from the summaries stored before it,
    // through the function that AddTextFunction gives the connection.
    static const char* SchemaStep();
    static void AddTextFunction(TSqlite& db);

    // Prepares the statements; the schema step must have run.
    explicit TSummaryIndex(TSqlite& db);
    ~TSummaryIndex();
    TSummaryIndex(const TSummaryIndex&) = delete;
    TSummaryIndex& operator=(const TSummaryIndex&) = delete;

    // Indexes a summary about to be stored.
    void Add(qint64 group, qint64 number, QByteArrayView line);
    // Takes out the entry of the summary stored under the number, if there is one.
    void RemoveStored(qint64 group, qint64 number);
    // Takes out the entries of the group's stored summaries numbered below low.
    void RemoveBelow(qint64 group, qint64 low);

    // See TNewsStore::Search.
    QList<TSearchHit> Search(qint64 server, const QString& query, QByteArrayView group,
                             qsizetype limit);

private:
    struct Statements;
    struct TGroupRow {
        qint64 id;
        QByteArray name;
    };
    // A hit before its fields are read: its group (an index into the searched groups), its
    // number and its Date in seconds since the epoch.
    struct TCandidate {
        qsizetype group;
        qint64 number;
        qint64 seconds;
    };

    // What the passes over the index have found so far.
    struct TCandidatePass {
        const QList<TGroupRow>& groups;
        qsizetype limit;
        QHash<qint64, qsizetype> indexOf; // by group row id
        QList<qsizetype> taken;           // per group
        qsizetype groupsFull;
        QList<TCandidate> candidates;
    };

    void Remove(qint64 group, qint64 number, QByteArrayView line);
    void CheckQuery(const QByteArray& query);
    // The search text as FTS5 is to read it: as typed when it can, else with the words that
    // hold punctuation quoted; EStoreSearchError, about the text as typed, when neither reads.
    QByteArray ReadableQuery(const QByteArray& typed);
    QList<TGroupRow> SearchedGroups(qint64 server, QByteArrayView group);
    QList<TCandidate> Candidates(const QList<TGroupRow>& groups, const QByteArray& query,
                                 qsizetype limit);
    std::optional<qint64> PassOver(TCandidatePass& pass, const QByteArray& query, qint64 lowest,
                                   qint64 below);
    QList<TSearchHit> HitsOf(const QList<TGroupRow>& groups, const QList<TCandidate>& candidates);

    TSqlite& db_;
    std::unique_ptr<Statements> statements_;
};
