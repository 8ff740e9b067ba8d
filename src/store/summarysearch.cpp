#include "store/summarysearch.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"
#include "codec/headerdate.h"
#include "store/sqlite.h"
#include "store/storedsummary.h"

#include <algorithm>
#include <limits>
#include <sqlite3.h>

namespace {

constexpr int kNumberBits = 40;
constexpr qint64 kNumberLimit = qint64(1) << kNumberBits;
constexpr int kSubjectField = 1;
constexpr int kFromField = 2;

// Version 4: the full-text index. unicode61 folds letter case and, with remove_diacritics 2,
// accents ("cafe" finds "Café"); the positions it keeps answer phrases. Without a prefix
// index a prefix query merges the words it covers when asked, which costs a few
// milliseconds at a million summaries. Each commit adds a segment to the index; FTS5 merges
// them once 16 stand at one level rather than 4, which writes each entry fewer times over and
// leaves a search a few more segments to read.
constexpr const char* kSummaryText = R"(
CREATE VIRTUAL TABLE summary_text USING fts5 (
  subject, "from",
  content = '', columnsize = 0, tokenize = 'unicode61 remove_diacritics 2');
INSERT INTO summary_text (summary_text, rank) VALUES ('automerge', 16);
INSERT INTO summary_text (rowid, subject, "from")
  SELECT (newsgroup << 40) | number, zk_summary_text(line, 1), zk_summary_text(line, 2)
  FROM summary WHERE number >= 0 AND number < (1 << 40);
)";

bool IsIndexed(qint64 number) {
    return number >= 0 && number < kNumberLimit;
}

qint64 RowIdOf(qint64 group, qint64 number) {
    return (group << kNumberBits) | number;
}

// The text the index holds of a field: encoded words decoded, in UTF-8. Most fields are
// plain ASCII and are taken as they stand.
class TIndexedText {
public:
    explicit TIndexedText(QByteArrayView field) : text_(field) {
        if (!IsAscii(field) || MayHoldEncodedWords(field)) {
            decoded_ = DecodeEncodedWords(field).toUtf8();
            text_ = decoded_;
        }
    }
    QByteArrayView View() const { return text_; }

private:
    QByteArray decoded_;
    QByteArrayView text_;
};

// zk_summary_text(line, field): the indexed text of the overview line's field.
void SummaryTextFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    const QByteArrayView line(static_cast<const char*>(sqlite3_value_blob(arguments[0])),
                              sqlite3_value_bytes(arguments[0]));
    const int field = sqlite3_value_int(arguments[1]);
    const TIndexedText text(TStoredSummary::FieldOf(line, field));
    sqlite3_result_text64(context, text.View().isEmpty() ? "" : text.View().data(),
                          static_cast<sqlite3_uint64>(text.View().size()), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
}

// Newest first: by date, a date that cannot be read counting as the oldest; then by number.
bool IsNewer(const TSearchHit& a, const TSearchHit& b) {
    constexpr qint64 kUndated = std::numeric_limits<qint64>::min();
    const qint64 aSeconds = a.date.isValid() ? a.date.toSecsSinceEpoch() : kUndated;
    const qint64 bSeconds = b.date.isValid() ? b.date.toSecsSinceEpoch() : kUndated;
    if (aSeconds != bSeconds) {
        return aSeconds > bSeconds;
    }
    if (a.number != b.number) {
        return a.number > b.number;
    }
    return a.group < b.group;
}

} // namespace

struct TSummaryIndex::Statements {
    explicit Statements(TSqlite& db)
        : add(db, "INSERT INTO summary_text (rowid, subject, \"from\") VALUES (?1, ?2, ?3)"),
          remove(db, "INSERT INTO summary_text (summary_text, rowid, subject, \"from\") "
                     "VALUES ('delete', ?1, ?2, ?3)"),
          storedLine(db, "SELECT line FROM summary WHERE newsgroup = ?1 AND number = ?2"),
          linesBelow(db, "SELECT number, line FROM summary WHERE newsgroup = ?1 AND number < ?2"),
          checkQuery(db, "SELECT rowid FROM summary_text WHERE summary_text MATCH ?1 "
                         "AND rowid = 0"),
          // The groups that hold summaries, found by skipping from one to the next in the
          // summary table's key rather than reading each of its rows or asking each of the
          // server's (perhaps hundred thousand) listed groups.
          storedGroups(db, "WITH RECURSIVE stored (id) AS ("
                           "  SELECT (SELECT min(newsgroup) FROM summary) "
                           "  UNION ALL "
                           "  SELECT (SELECT min(newsgroup) FROM summary "
                           "          WHERE newsgroup > stored.id) "
                           "  FROM stored WHERE stored.id IS NOT NULL) "
                           "SELECT newsgroup.id, newsgroup.name FROM stored "
                           "JOIN newsgroup ON newsgroup.id = stored.id "
                           "WHERE newsgroup.server = ?1"),
          namedGroup(db, "SELECT id, name FROM newsgroup WHERE server = ?1 AND name = ?2"),
          // A rowid range in descending order: FTS5 reads only the group's part of each
          // word's entries, from the newest number down, and stops at the limit.
          matches(db, "SELECT rowid FROM summary_text WHERE summary_text MATCH ?1 "
                      "AND rowid BETWEEN ?2 AND ?3 ORDER BY rowid DESC LIMIT ?4") {}

    TStatement add, remove, storedLine, linesBelow, checkQuery, storedGroups, namedGroup, matches;
};

const char* TSummaryIndex::SchemaStep() {
    return kSummaryText;
}

void TSummaryIndex::AddTextFunction(TSqlite& db) {
    db.Check(sqlite3_create_function_v2(db.Handle(), "zk_summary_text", 2,
                                        SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                        SummaryTextFunction, nullptr, nullptr, nullptr),
             "adding the summary text function");
}

TSummaryIndex::TSummaryIndex(TSqlite& db)
    : db_(db), statements_(std::make_unique<Statements>(db)) {}

TSummaryIndex::~TSummaryIndex() = default;

void TSummaryIndex::Add(qint64 group, qint64 number, QByteArrayView line) {
    if (!IsIndexed(number)) {
        return;
    }
    const TIndexedText subject(TStoredSummary::FieldOf(line, kSubjectField));
    const TIndexedText from(TStoredSummary::FieldOf(line, kFromField));
    statements_->add.Bind(1, RowIdOf(group, number))
        .BindUtf8(2, subject.View())
        .BindUtf8(3, from.View())
        .Run();
}

void TSummaryIndex::Remove(qint64 group, qint64 number, QByteArrayView line) {
    if (!IsIndexed(number)) {
        return;
    }
    const TIndexedText subject(TStoredSummary::FieldOf(line, kSubjectField));
    const TIndexedText from(TStoredSummary::FieldOf(line, kFromField));
    statements_->remove.Bind(1, RowIdOf(group, number))
        .BindUtf8(2, subject.View())
        .BindUtf8(3, from.View())
        .Run();
}

void TSummaryIndex::RemoveStored(qint64 group, qint64 number) {
    TStatement& stored = statements_->storedLine;
    stored.Bind(1, group).Bind(2, number);
    if (stored.Step()) {
        // Read from SQLite's copy: the statement stays open until the entry is gone.
        Remove(group, number, stored.BytesView(0));
    }
    stored.Reset();
}

void TSummaryIndex::RemoveBelow(qint64 group, qint64 low) {
    TStatement& lines = statements_->linesBelow;
    lines.Bind(1, group).Bind(2, low);
    while (lines.Step()) {
        Remove(group, lines.Int(0), lines.BytesView(1));
    }
    lines.Reset();
}

QList<TSearchHit> TSummaryIndex::Search(qint64 server, const QString& query,
                                        QByteArrayView group, qsizetype limit) {
    if (query.trimmed().isEmpty() || limit == 0) {
        return {};
    }
    const QByteArray utf8 = query.toUtf8();
    CheckQuery(utf8);
    QList<TSearchHit> hits;
    for (const TGroupRow& searched : SearchedGroups(server, group)) {
        AddGroupHits(searched, utf8, limit, hits);
    }
    std::sort(hits.begin(), hits.end(), IsNewer);
    if (limit >= 0 && hits.size() > limit) {
        hits.resize(limit);
    }
    return hits;
}

// Asked of a rowid no entry has, which costs FTS5 a seek per word, so that text it cannot
// read fails alike whether or not any group holds summaries.
void TSummaryIndex::CheckQuery(const QByteArray& query) {
    TStatement& check = statements_->checkQuery;
    check.BindUtf8(1, query);
    try {
        check.Step();
        check.Reset();
    } catch (const EStoreError&) {
        // Only the text itself is SQLITE_ERROR here; a damaged or unreadable file is not.
        if (sqlite3_errcode(db_.Handle()) != SQLITE_ERROR) {
            throw;
        }
        QString reason = QString::fromUtf8(sqlite3_errmsg(db_.Handle()));
        reason.remove(QStringLiteral("fts5: "));
        reason.replace(QStringLiteral("syntax error near \"\""),
                       QStringLiteral("it ends where more is needed"));
        throw EStoreSearchError(QStringLiteral("Search text not understood: %1 (%2)")
                                    .arg(QString::fromUtf8(query), reason));
    }
}

QList<TSummaryIndex::TGroupRow> TSummaryIndex::SearchedGroups(qint64 server,
                                                              QByteArrayView group) {
    TStatement& groups = group.isEmpty() ? statements_->storedGroups : statements_->namedGroup;
    groups.Bind(1, server);
    if (!group.isEmpty()) {
        groups.Bind(2, group);
    }
    QList<TGroupRow> rows;
    while (groups.Step()) {
        rows.append({groups.Int(0), groups.Bytes(1)});
    }
    groups.Reset();
    return rows;
}

void TSummaryIndex::AddGroupHits(const TGroupRow& group, const QByteArray& query,
                                 qsizetype limit, QList<TSearchHit>& hits) {
    TStatement& matches = statements_->matches;
    matches.BindUtf8(1, query)
        .Bind(2, RowIdOf(group.id, 0))
        .Bind(3, RowIdOf(group.id, kNumberLimit - 1))
        .Bind(4, limit);
    QList<qint64> numbers;
    while (matches.Step()) {
        numbers.append(matches.Int(0) - RowIdOf(group.id, 0));
    }
    matches.Reset();
    TStatement& stored = statements_->storedLine;
    for (const qint64 number : numbers) {
        stored.Bind(1, group.id).Bind(2, number);
        // An entry whose summary is gone is passed over rather than shown empty.
        if (stored.Step()) {
            const QByteArrayView line = stored.BytesView(0);
            hits.append({group.name, number,
                         ParseHeaderDate(TStoredSummary::FieldOf(line, 3)),
                         DecodeEncodedWords(TStoredSummary::FieldOf(line, kFromField)),
                         DecodeEncodedWords(TStoredSummary::FieldOf(line, kSubjectField))});
        }
        stored.Reset();
    }
}
