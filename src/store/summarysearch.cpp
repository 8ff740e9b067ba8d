#include "store/summarysearch.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"
#include "codec/headerdate.h"
#include "store/sqlite.h"
#include "store/storedsummary.h"

#include <QHash>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <sqlite3.h>

namespace {

constexpr int kNumberBits = 40;
constexpr qint64 kNumberLimit = qint64(1) << kNumberBits;
constexpr int kSubjectField = 1;
constexpr int kFromField = 2;

// Version 5: the full-text index. unicode61 folds letter case and, with remove_diacritics 2,
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

// What FTS5 says of search text it cannot read, in words for the person who typed it.
QString ReasonNotUnderstood(QString message) {
    message.remove(QStringLiteral("fts5: "));
    if (message == QLatin1String("syntax error near \"\"")) {
        return QStringLiteral("it ends where more is needed");
    }
    if (message == QLatin1String("unterminated string")) {
        return QStringLiteral("a double quote is not closed");
    }
    if (message.startsWith(QLatin1String("syntax error near "))) {
        return message.sliced(18) + QStringLiteral(" cannot stand there");
    }
    return message;
}

// A byte FTS5 takes into a bare word: letters and digits, "_", and anything not ASCII.
bool IsBareWordByte(char byte) {
    const auto code = static_cast<unsigned char>(byte);
    return code >= 0x80 || std::isalnum(code) || byte == '_';
}

// One blank-separated word of search text outside double quotes, put in double quotes when it
// holds punctuation FTS5 would read as syntax ("c++", "3.5", "e-mail", "ann@example.org",
// "Re:"); what stands around the word (parentheses, "^", a final "*", a "subject:" or
// "from:" before it) stays syntax.
QByteArray QuotedWord(QByteArrayView word) {
    qsizetype start = 0;
    qsizetype end = word.size();
    while (start < end && (word[start] == '(' || word[start] == '^')) {
        ++start;
    }
    while (end > start && (word[end - 1] == ')' || word[end - 1] == '*')) {
        --end;
    }
    for (const QByteArrayView field : {QByteArrayView("subject:"), QByteArrayView("from:")}) {
        if (word.sliced(start, end - start).toByteArray().toLower().startsWith(field)) {
            start += field.size();
        }
    }
    const QByteArrayView core = word.sliced(start, end - start);
    if (std::all_of(core.begin(), core.end(), IsBareWordByte)) {
        return word.toByteArray();
    }
    return word.first(start).toByteArray() + '"' + core.toByteArray() + '"' +
           word.sliced(end).toByteArray();
}

// The search text with every word outside double quotes passed through QuotedWord.
QByteArray WithPunctuatedWordsQuoted(const QByteArray& text) {
    QByteArray quoted;
    qsizetype at = 0;
    while (at < text.size()) {
        if (text[at] == '"') {
            const qsizetype close = text.indexOf('"', at + 1);
            const qsizetype next = close < 0 ? text.size() : close + 1;
            quoted += text.sliced(at, next - at);
            at = next;
        } else if (std::isspace(static_cast<unsigned char>(text[at]))) {
            quoted += text[at++];
        } else {
            qsizetype end = at;
            while (end < text.size() && text[end] != '"' &&
                   !std::isspace(static_cast<unsigned char>(text[end]))) {
                ++end;
            }
            quoted += QuotedWord(QByteArrayView(text).sliced(at, end - at));
            at = end;
        }
    }
    return quoted;
}

// Runs the statement, which adds or deletes an entry of the index, for the summary's rowid
// and fields; nothing for a number the index has no room for.
void RunWithEntry(TStatement& statement, qint64 group, qint64 number, QByteArrayView line) {
    if (!IsIndexed(number)) {
        return;
    }
    const TIndexedText subject(TStoredSummary::FieldOf(line, kSubjectField));
    const TIndexedText from(TStoredSummary::FieldOf(line, kFromField));
    statement.Bind(1, RowIdOf(group, number))
        .BindUtf8(2, subject.View())
        .BindUtf8(3, from.View())
        .Run();
}

// A summary whose Date cannot be read counts as the oldest.
constexpr qint64 kUndated = std::numeric_limits<qint64>::min();

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
          // A rowid range in descending order: FTS5 reads only the groups' part of each
          // word's entries, from the newest number down, as far as the caller steps.
          matches(db, "SELECT rowid FROM summary_text WHERE summary_text MATCH ?1 "
                      "AND rowid BETWEEN ?2 AND ?3 ORDER BY rowid DESC") {}

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
    RunWithEntry(statements_->add, group, number, line);
}

void TSummaryIndex::Remove(qint64 group, qint64 number, QByteArrayView line) {
    RunWithEntry(statements_->remove, group, number, line);
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

QList<TSearchHit> TSummaryIndex::Search(qint64 server, const QString& query, QByteArrayView group,
                                        qsizetype limit) {
    if (query.trimmed().isEmpty() || limit == 0) {
        return {};
    }
    const QByteArray utf8 = ReadableQuery(query.toUtf8());
    const QList<TGroupRow> groups = SearchedGroups(server, group);
    QList<TCandidate> candidates = Candidates(groups, utf8, limit);
    // Newest first: by date, then by number, then by group.
    const auto newer = [&groups](const TCandidate& a, const TCandidate& b) {
        if (a.seconds != b.seconds) {
            return a.seconds > b.seconds;
        }
        if (a.number != b.number) {
            return a.number > b.number;
        }
        return groups[a.group].name < groups[b.group].name;
    };
    const qsizetype kept = limit >= 0 ? std::min(limit, candidates.size()) : candidates.size();
    std::partial_sort(candidates.begin(), candidates.begin() + kept, candidates.end(), newer);
    candidates.resize(kept);
    return HitsOf(groups, candidates);
}

QByteArray TSummaryIndex::ReadableQuery(const QByteArray& typed) {
    try {
        CheckQuery(typed);
        return typed;
    } catch (const EStoreSearchError&) {
        // People type "c++", "3.5" or an address as the words they are, not as FTS5 syntax:
        // taken as phrases they can be searched. Text that is wrong even so is reported as typed.
        const QByteArray quoted = WithPunctuatedWordsQuoted(typed);
        if (quoted == typed) {
            throw;
        }
        try {
            CheckQuery(quoted);
        } catch (const EStoreSearchError&) {
            CheckQuery(typed);
        }
        return quoted;
    }
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
        const QString reason = ReasonNotUnderstood(QString::fromUtf8(sqlite3_errmsg(db_.Handle())));
        throw EStoreSearchError(QStringLiteral("Search text not understood: %1 (%2)")
                                    .arg(QString::fromUtf8(query), reason));
    }
}

QList<TSummaryIndex::TGroupRow> TSummaryIndex::SearchedGroups(qint64 server, QByteArrayView group) {
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

// The newest numbers of each group that match, at most limit of each, with their dates: a
// pass over the index in descending rowid order across the groups' rowid ranges, rather than
// a query per group, which for a prefix would merge every word it covers once per group. The
// entries of a group already full, or of another server's group, are passed over; once many
// of them come in a row the pass starts again below that group, which FTS5 seeks to at once.
QList<TSummaryIndex::TCandidate> TSummaryIndex::Candidates(const QList<TGroupRow>& groups,
                                                           const QByteArray& query,
                                                           qsizetype limit) {
    TCandidatePass pass{groups, limit, {}, QList<qsizetype>(groups.size(), 0), 0, {}};
    if (groups.isEmpty()) {
        return {};
    }
    qint64 lowest = groups[0].id;
    qint64 highest = groups[0].id;
    for (qsizetype i = 0; i < groups.size(); ++i) {
        pass.indexOf.insert(groups[i].id, i);
        lowest = std::min(lowest, groups[i].id);
        highest = std::max(highest, groups[i].id);
    }
    std::optional<qint64> below = highest + 1;
    while (below && *below > lowest) {
        below = PassOver(pass, query, lowest, *below);
    }
    return pass.candidates;
}

// One pass over the rowids of the groups numbered from lowest to below - 1; the group to pass
// below next when the pass stopped early.
std::optional<qint64> TSummaryIndex::PassOver(TCandidatePass& pass, const QByteArray& query,
                                              qint64 lowest, qint64 below) {
    // Passing over entries costs about a tenth of a microsecond each; starting again costs
    // FTS5 a seek per word, but for a prefix the merge of every word it covers.
    constexpr int kPassedOverBeforeSkipping = 10000;
    TStatement& matches = statements_->matches;
    matches.BindUtf8(1, query).Bind(2, RowIdOf(lowest, 0)).Bind(3, RowIdOf(below, 0) - 1);
    // Each line is read while the pass is still open, which keeps one read transaction for
    // all of them instead of taking the file's lock anew for each.
    TStatement& stored = statements_->storedLine;
    int passedOver = 0;
    std::optional<qint64> skipBelow;
    while (pass.groupsFull < pass.groups.size() && matches.Step()) {
        const qint64 rowId = matches.Int(0);
        const qint64 group = rowId >> kNumberBits;
        const auto index = pass.indexOf.constFind(group);
        if (index == pass.indexOf.cend() || pass.taken[*index] == pass.limit) {
            if (++passedOver == kPassedOverBeforeSkipping) {
                skipBelow = group;
                break;
            }
            continue;
        }
        passedOver = 0;
        const qint64 number = rowId & (kNumberLimit - 1);
        stored.Bind(1, group).Bind(2, number);
        // An entry whose summary is gone is passed over rather than shown empty.
        if (stored.Step()) {
            const QDateTime date = ParseHeaderDate(TStoredSummary::FieldOf(stored.BytesView(0), 3));
            pass.candidates.append(
                {*index, number, date.isValid() ? date.toSecsSinceEpoch() : kUndated});
            if (++pass.taken[*index] == pass.limit) {
                ++pass.groupsFull;
            }
        }
        stored.Reset();
    }
    matches.Reset();
    return skipBelow;
}

QList<TSearchHit> TSummaryIndex::HitsOf(const QList<TGroupRow>& groups,
                                        const QList<TCandidate>& candidates) {
    QList<TSearchHit> hits;
    hits.reserve(candidates.size());
    TStatement& stored = statements_->storedLine;
    for (const TCandidate& candidate : candidates) {
        stored.Bind(1, groups[candidate.group].id).Bind(2, candidate.number);
        if (stored.Step()) {
            const QByteArrayView line = stored.BytesView(0);
            hits.append({groups[candidate.group].name, candidate.number,
                         candidate.seconds == kUndated
                             ? QDateTime()
                             : QDateTime::fromSecsSinceEpoch(candidate.seconds, QTimeZone::utc()),
                         DecodeEncodedWords(TStoredSummary::FieldOf(line, kFromField)),
                         DecodeEncodedWords(TStoredSummary::FieldOf(line, kSubjectField))});
        }
        stored.Reset();
    }
    return hits;
}
