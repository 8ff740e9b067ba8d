#include "store/newsstore.h"

#include "store/migrations.h"

#include <QTimeZone>

namespace {

// Version 1, the first release. Summaries keep only the number and the raw overview line: the
// fields are read from the line, which keeps the file near the size of what the server sent.
constexpr const char* kSchemaVersion1 = R"(
CREATE TABLE server (
  id INTEGER PRIMARY KEY,
  host TEXT NOT NULL,
  port INTEGER NOT NULL,
  UNIQUE (host, port));
CREATE TABLE newsgroup (
  id INTEGER PRIMARY KEY,
  server INTEGER NOT NULL REFERENCES server (id) ON DELETE CASCADE,
  name BLOB NOT NULL,
  low INTEGER NOT NULL DEFAULT 0,
  high INTEGER NOT NULL DEFAULT 0,
  subscribed INTEGER NOT NULL DEFAULT 0,
  read_marks BLOB NOT NULL DEFAULT x'',
  UNIQUE (server, name));
CREATE TABLE summary (
  newsgroup INTEGER NOT NULL,
  number INTEGER NOT NULL,
  line BLOB NOT NULL,
  PRIMARY KEY (newsgroup, number));
CREATE TABLE article (
  id INTEGER PRIMARY KEY,
  newsgroup INTEGER NOT NULL REFERENCES newsgroup (id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  message_id BLOB NOT NULL,
  size INTEGER NOT NULL,
  read_order INTEGER,
  bytes BLOB NOT NULL,
  UNIQUE (newsgroup, number));
CREATE INDEX article_by_message_id ON article (message_id);
CREATE INDEX article_by_read_order ON article (read_order);
CREATE TABLE last_profile (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  host TEXT NOT NULL,
  port INTEGER NOT NULL,
  security TEXT NOT NULL,
  user TEXT NOT NULL);
)";

// Version 2: the server's clock when its group list was last asked for, whole or the groups
// created since the time before, so that the next time asks only for newer groups.
constexpr const char* kGroupListTimes = R"(
CREATE TABLE group_list_time (
  server INTEGER PRIMARY KEY REFERENCES server (id) ON DELETE CASCADE,
  listed_at INTEGER NOT NULL);
)";

// Version 3: summaries keyed by group and number alone. A rowid table kept a second b-tree,
// the (newsgroup, number) index, beside the rows, and every stored summary went into both.
constexpr const char* kSummaryByNumber = R"(
CREATE TABLE summary_by_number (
  newsgroup INTEGER NOT NULL,
  number INTEGER NOT NULL,
  line BLOB NOT NULL,
  PRIMARY KEY (newsgroup, number)) WITHOUT ROWID;
INSERT INTO summary_by_number (newsgroup, number, line)
  SELECT newsgroup, number, line FROM summary;
DROP TABLE summary;
ALTER TABLE summary_by_number RENAME TO summary;
)";

// Version 4: how the window lays out each group's summary, by number (0) or by thread (1).
constexpr const char* kSummaryOrder = R"(
ALTER TABLE newsgroup ADD COLUMN summary_order INTEGER NOT NULL DEFAULT 0;
)";

} // namespace

// Prepared once per store and reused for every call.
struct TNewsStore::Statements {
    explicit Statements(TSqlite& db)
        : findServer(db, "SELECT id FROM server WHERE host = ?1 AND port = ?2"),
          addServer(db, "INSERT INTO server (host, port) VALUES (?1, ?2)"),
          findGroup(db, "SELECT id FROM newsgroup WHERE server = ?1 AND name = ?2"),
          addGroup(db, "INSERT INTO newsgroup (server, name) VALUES (?1, ?2)"),
          saveGroup(db, "INSERT INTO newsgroup (server, name, low, high) VALUES (?1, ?2, ?3, ?4) "
                        "ON CONFLICT (server, name) DO UPDATE SET low = ?3, high = ?4"),
          groupList(db, "SELECT name, low, high, subscribed, read_marks FROM newsgroup "
                        "WHERE server = ?1 ORDER BY name"),
          setMarks(db, "UPDATE newsgroup SET low = ?2, high = ?3 WHERE id = ?1"),
          setSubscribed(db, "UPDATE newsgroup SET subscribed = ?2 WHERE id = ?1"),
          subscriptions(db, "SELECT name FROM newsgroup WHERE server = ?1 AND subscribed "
                            "ORDER BY name"),
          groupState(db, "SELECT low, high, read_marks FROM newsgroup WHERE id = ?1"),
          setReadMarks(db, "UPDATE newsgroup SET read_marks = ?2 WHERE id = ?1"),
          addSummary(db, "INSERT OR REPLACE INTO summary (newsgroup, number, line) "
                         "VALUES (?1, ?2, ?3)"),
          summaries(db, "SELECT number, line FROM summary WHERE newsgroup = ?1 AND number >= ?2 "
                        "ORDER BY number LIMIT ?3"),
          // Each in a query of its own: SQLite looks up a lone min or max in the key, but reads
          // every row to find both at once.
          summaryRange(db, "SELECT (SELECT min(number) FROM summary "
                           "WHERE newsgroup = ?1 AND number >= ?2), "
                           "(SELECT max(number) FROM summary "
                           "WHERE newsgroup = ?1 AND number >= ?2)"),
          threadFields(db, "SELECT number, line FROM summary WHERE newsgroup = ?1"),
          summaryCount(db, "SELECT count(*) FROM summary WHERE newsgroup = ?1"),
          storedHigh(db, "SELECT coalesce(max(number), 0) FROM summary WHERE newsgroup = ?1"),
          dropSummaries(db, "DELETE FROM summary WHERE newsgroup = ?1 AND number < ?2"),
          dropArticles(db, "DELETE FROM article WHERE newsgroup = ?1 AND number < ?2"),
          storeArticle(db, "INSERT OR REPLACE INTO article (newsgroup, number, message_id, size, "
                           "bytes) VALUES (?1, ?2, ?3, ?4, ?5)"),
          article(db, "SELECT bytes FROM article WHERE newsgroup = ?1 AND number = ?2"),
          articleByMessageId(db, "SELECT bytes FROM article JOIN newsgroup "
                                 "ON newsgroup.id = article.newsgroup "
                                 "WHERE message_id = ?2 AND server = ?1 LIMIT 1"),
          noteRead(db, "UPDATE article SET read_order = "
                       "(SELECT coalesce(max(read_order), 0) + 1 FROM article) "
                       "WHERE newsgroup = ?1 AND number = ?2"),
          articleBytes(db, "SELECT coalesce(sum(size), 0) FROM article"),
          trimOrder(db, "SELECT id, size FROM article "
                        "ORDER BY read_order IS NULL, read_order, id"),
          dropArticle(db, "DELETE FROM article WHERE id = ?1"),
          saveProfile(db, "INSERT OR REPLACE INTO last_profile (id, host, port, security, user) "
                          "VALUES (1, ?1, ?2, ?3, ?4)"),
          lastProfile(db, "SELECT host, port, security, user FROM last_profile WHERE id = 1"),
          summaryOrder(db, "SELECT summary_order FROM newsgroup WHERE id = ?1"),
          setSummaryOrder(db, "UPDATE newsgroup SET summary_order = ?2 WHERE id = ?1") {}

    TStatement findServer, addServer, findGroup, addGroup, saveGroup, groupList, setMarks,
        setSubscribed, subscriptions, groupState, setReadMarks, addSummary, summaries, summaryRange,
        threadFields, summaryCount, storedHigh, dropSummaries, dropArticles, storeArticle, article,
        articleByMessageId, noteRead, articleBytes, trimOrder, dropArticle, saveProfile,
        lastProfile, summaryOrder, setSummaryOrder;
};

namespace {

// The unread count of a group with those marks. Articles are numbered from 1: the marks 0..0
// of a group not yet listed, or of an empty one, hold no article.
qint64 UnreadOf(const TArticleRanges& read, qint64 low, qint64 high) {
    return read.CountMissing(std::max<qint64>(low, 1), high);
}

// The single integer the bound statement returns, and the statement reset.
qint64 ScalarOf(TStatement& statement) {
    const qint64 value = statement.Step() ? statement.Int(0) : 0;
    statement.Reset();
    return value;
}

// The first column's bytes of the bound statement's first row, if there is one.
std::optional<QByteArray> BytesOf(TStatement& statement) {
    std::optional<QByteArray> bytes;
    if (statement.Step()) {
        bytes = statement.Bytes(0);
    }
    statement.Reset();
    return bytes;
}

} // namespace

TNewsStore::TNewsStore(const QString& path) : db_(path) {
    TSummaryIndex::AddTextFunction(db_);
    MigrateSchema(db_, SchemaSteps());
    statements_ = std::make_unique<Statements>(db_);
    index_ = std::make_unique<TSummaryIndex>(db_);
}

TNewsStore::~TNewsStore() = default;

const QList<const char*>& TNewsStore::SchemaSteps() {
    static const QList<const char*> steps = {kSchemaVersion1, kGroupListTimes, kSummaryByNumber,
                                             kSummaryOrder, TSummaryIndex::SchemaStep()};
    return steps;
}

qint64 TNewsStore::ServerId(const QString& host, quint16 port) {
    TStatement& find = statements_->findServer;
    find.BindText(1, host).Bind(2, port);
    if (const qint64 id = ScalarOf(find)) {
        return id;
    }
    statements_->addServer.BindText(1, host).Bind(2, port).Run();
    return db_.LastInsertRowId();
}

qint64 TNewsStore::GroupId(qint64 server, QByteArrayView name) {
    TStatement& find = statements_->findGroup;
    find.Bind(1, server).Bind(2, name);
    if (const qint64 id = ScalarOf(find)) {
        return id;
    }
    statements_->addGroup.Bind(1, server).Bind(2, name).Run();
    return db_.LastInsertRowId();
}

void TNewsStore::SaveGroupList(qint64 server, const QList<TStoredGroup>& groups) {
    TTransaction transaction(db_);
    TStatement& save = statements_->saveGroup;
    for (const TStoredGroup& group : groups) {
        save.Bind(1, server).Bind(2, group.name).Bind(3, group.low).Bind(4, group.high).Run();
    }
    transaction.Commit();
}

QList<TStoredGroup> TNewsStore::GroupList(qint64 server) {
    TStatement& list = statements_->groupList;
    list.Bind(1, server);
    QList<TStoredGroup> groups;
    QList<QByteArray> marks;
    while (list.Step()) {
        groups.append({list.Bytes(0), list.Int(1), list.Int(2), list.Int(3) != 0, 0});
        marks.append(list.Bytes(4));
    }
    // Done reading before the marks are parsed, which may fail.
    list.Reset();
    for (qsizetype i = 0; i < groups.size(); ++i) {
        groups[i].unread =
            UnreadOf(TArticleRanges::Parse(marks[i]), groups[i].low, groups[i].high);
    }
    return groups;
}

void TNewsStore::SetGroupMarks(qint64 group, qint64 low, qint64 high) {
    statements_->setMarks.Bind(1, group).Bind(2, low).Bind(3, high).Run();
}

void TNewsStore::SetSubscribed(qint64 group, bool subscribed) {
    statements_->setSubscribed.Bind(1, group).Bind(2, subscribed ? 1 : 0).Run();
}

bool TNewsStore::ThreadedSummary(qint64 group) {
    TStatement& order = statements_->summaryOrder;
    order.Bind(1, group);
    const bool threaded = order.Step() && order.Int(0) != 0;
    order.Reset();
    return threaded;
}

void TNewsStore::SetThreadedSummary(qint64 group, bool threaded) {
    statements_->setSummaryOrder.Bind(1, group).Bind(2, threaded ? 1 : 0).Run();
}

QList<QByteArray> TNewsStore::Subscriptions(qint64 server) {
    TStatement& list = statements_->subscriptions;
    list.Bind(1, server);
    QList<QByteArray> names;
    while (list.Step()) {
        names.append(list.Bytes(0));
    }
    list.Reset();
    return names;
}

TArticleRanges TNewsStore::ReadMarks(qint64 group) {
    TStatement& state = statements_->groupState;
    state.Bind(1, group);
    const QByteArray marks = state.Step() ? state.Bytes(2) : QByteArray();
    state.Reset();
    return TArticleRanges::Parse(marks);
}

void TNewsStore::SetReadMarks(qint64 group, const TArticleRanges& marks) {
    const QByteArray text = marks.Format();
    statements_->setReadMarks.Bind(1, group).Bind(2, text).Run();
}

void TNewsStore::MarkRead(qint64 group, qint64 first, qint64 last) {
    TTransaction transaction(db_);
    TArticleRanges marks = ReadMarks(group);
    marks.Add(first, last);
    SetReadMarks(group, marks);
    transaction.Commit();
}

void TNewsStore::MarkUnread(qint64 group, qint64 first, qint64 last) {
    TTransaction transaction(db_);
    TArticleRanges marks = ReadMarks(group);
    marks.Remove(first, last);
    SetReadMarks(group, marks);
    transaction.Commit();
}

void TNewsStore::MarkUnread(qint64 group, const TArticleRanges& numbers) {
    TTransaction transaction(db_);
    TArticleRanges marks = ReadMarks(group);
    for (const TArticleRanges::Range& range : numbers.Ranges()) {
        marks.Remove(range.first, range.last);
    }
    SetReadMarks(group, marks);
    transaction.Commit();
}

qint64 TNewsStore::UnreadCount(qint64 group) {
    TStatement& state = statements_->groupState;
    state.Bind(1, group);
    if (!state.Step()) {
        state.Reset();
        return 0;
    }
    const qint64 low = state.Int(0);
    const qint64 high = state.Int(1);
    const QByteArray marks = state.Bytes(2);
    state.Reset();
    return UnreadOf(TArticleRanges::Parse(marks), low, high);
}

void TNewsStore::AddSummaries(qint64 group, const QList<TStoredSummary>& batch) {
    TTransaction transaction(db_);
    // Only a number not above the highest stored may replace a summary, whose index entry
    // goes first: the usual batch, all above it, costs no look-up.
    qint64 high = StoredHigh(group);
    TStatement& add = statements_->addSummary;
    for (const TStoredSummary& summary : batch) {
        if (summary.number <= high) {
            index_->RemoveStored(group, summary.number);
        }
        add.Bind(1, group).Bind(2, summary.number).Bind(3, summary.line).Run();
        index_->Add(group, summary.number, summary.line);
        high = std::max(high, summary.number);
    }
    transaction.Commit();
}

QList<TStoredSummary> TNewsStore::Summaries(qint64 group, qint64 from, qint64 limit) {
    TStatement& list = statements_->summaries;
    list.Bind(1, group).Bind(2, from).Bind(3, limit);
    QList<TStoredSummary> summaries;
    while (list.Step()) {
        summaries.append({list.Int(0), list.Bytes(1)});
    }
    list.Reset();
    return summaries;
}

std::optional<std::pair<qint64, qint64>> TNewsStore::SummaryRange(qint64 group, qint64 from) {
    TStatement& range = statements_->summaryRange;
    range.Bind(1, group).Bind(2, from);
    std::optional<std::pair<qint64, qint64>> numbers;
    if (range.Step() && !range.IsNull(0)) {
        numbers = std::make_pair(range.Int(0), range.Int(1));
    }
    range.Reset();
    return numbers;
}

QList<TThreadPlace> TNewsStore::ThreadOrder(qint64 group) {
    // Not reserved by the group's count: counting reads every row once more.
    TThreader threader;
    TStatement& fields = statements_->threadFields;
    fields.Bind(1, group);
    while (fields.Step()) {
        const QByteArrayView line = fields.BytesView(1);
        threader.Add(fields.Int(0), TStoredSummary::FieldOf(line, 4),
                     TStoredSummary::FieldOf(line, 5));
    }
    fields.Reset();
    return threader.Order();
}

qint64 TNewsStore::SummaryCount(qint64 group) {
    statements_->summaryCount.Bind(1, group);
    return ScalarOf(statements_->summaryCount);
}

qint64 TNewsStore::StoredHigh(qint64 group) {
    statements_->storedHigh.Bind(1, group);
    return ScalarOf(statements_->storedHigh);
}

qint64 TNewsStore::DropExpired(qint64 group, qint64 low) {
    TTransaction transaction(db_);
    index_->RemoveBelow(group, low);
    statements_->dropSummaries.Bind(1, group).Bind(2, low).Run();
    const qint64 dropped = db_.Changes();
    statements_->dropArticles.Bind(1, group).Bind(2, low).Run();
    transaction.Commit();
    return dropped;
}

QList<TSearchHit> TNewsStore::Search(qint64 server, const QString& query, QByteArrayView group,
                                     qsizetype limit) {
    return index_->Search(server, query, group, limit);
}

void TNewsStore::StoreArticle(qint64 group, qint64 number, QByteArrayView messageId,
                              QByteArrayView bytes) {
    statements_->storeArticle.Bind(1, group)
        .Bind(2, number)
        .Bind(3, messageId)
        .Bind(4, bytes.size())
        .Bind(5, bytes)
        .Run();
}

std::optional<QByteArray> TNewsStore::Article(qint64 group, qint64 number) {
    statements_->article.Bind(1, group).Bind(2, number);
    return BytesOf(statements_->article);
}

std::optional<QByteArray> TNewsStore::ArticleByMessageId(qint64 server, QByteArrayView messageId) {
    statements_->articleByMessageId.Bind(1, server).Bind(2, messageId);
    return BytesOf(statements_->articleByMessageId);
}

void TNewsStore::NoteArticleRead(qint64 group, qint64 number) {
    statements_->noteRead.Bind(1, group).Bind(2, number).Run();
}

qint64 TNewsStore::ArticleBytes() {
    return ScalarOf(statements_->articleBytes);
}

qint64 TNewsStore::TrimArticles(qint64 limit) {
    TTransaction transaction(db_);
    qint64 excess = ArticleBytes() - limit;
    qint64 removed = 0;
    TStatement& order = statements_->trimOrder;
    QList<qint64> doomed;
    while (excess > 0 && order.Step()) {
        doomed.append(order.Int(0));
        excess -= order.Int(1);
        removed += order.Int(1);
    }
    order.Reset();
    for (const qint64 id : doomed) {
        statements_->dropArticle.Bind(1, id).Run();
    }
    transaction.Commit();
    return removed;
}

void TNewsStore::SaveLastProfile(const TServerProfile& profile) {
    statements_->saveProfile.BindText(1, profile.host)
        .Bind(2, profile.port)
        .BindText(3, profile.security)
        .BindText(4, profile.user)
        .Run();
}

std::optional<TServerProfile> TNewsStore::LastProfile() {
    TStatement& last = statements_->lastProfile;
    std::optional<TServerProfile> profile;
    if (last.Step()) {
        profile = TServerProfile{last.Text(0), static_cast<quint16>(last.Int(1)), last.Text(2),
                                 last.Text(3)};
    }
    last.Reset();
    return profile;
}

std::optional<QDateTime> TNewsStore::GroupListTime(qint64 server) {
    TStatement time(db_, "SELECT listed_at FROM group_list_time WHERE server = ?1");
    time.Bind(1, server);
    std::optional<QDateTime> listedAt;
    if (time.Step()) {
        listedAt = QDateTime::fromSecsSinceEpoch(time.Int(0), QTimeZone::utc());
    }
    time.Reset();
    return listedAt;
}

void TNewsStore::SetGroupListTime(qint64 server, const QDateTime& time) {
    TStatement(db_, "INSERT OR REPLACE INTO group_list_time (server, listed_at) VALUES (?1, ?2)")
        .Bind(1, server)
        .Bind(2, time.toSecsSinceEpoch())
        .Run();
}
