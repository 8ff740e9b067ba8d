#pragma once

#include "store/articleranges.h"
#include "store/sqlite.h"
#include "store/storedsummary.h"
#include "store/summarysearch.h"
#include "store/threads.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// A group of a server's group list as stored: the server's low and high marks when last asked,
// whether the person subscribed to it, and how many of low..high are not marked read.
struct TStoredGroup {
    QByteArray name;
    qint64 low = 0;
    qint64 high = 0;
    bool subscribed = false;
    qint64 unread = 0;
};

// The server last connected to, to fill the connection fields at start-up. The password is
// never stored here.
struct TServerProfile {
    QString host;
    quint16 port = 0;
    QString security;
    QString user;
    bool operator==(const TServerProfile&) const = default;
};

// The local news store: one SQLite file that holds, per server (host and port), the group list
// with low and high marks, subscriptions, read marks, the summaries as the server sent them and
// the articles fetched, plus the last server profile. It knows records and bytes only, never
// the news protocol. Several processes may share the file: one writes at a time, the others
// wait on the busy time-out.
//
// Servers and groups are named by row ids that ServerId and GroupId hand out (and create on
// first use); every other call takes those ids.
class TNewsStore {
public:
    // How many bytes of articles TrimArticles keeps unless told otherwise.
    static constexpr qint64 kDefaultArticleLimit = qint64(2) << 30;

    // Opens or creates the store at path and brings its schema up to date. A file that is not
    // a store, is damaged or is newer than this program fails with an EStoreError naming it.
    explicit TNewsStore(const QString& path);
    ~TNewsStore();
    TNewsStore(const TNewsStore&) = delete;
    TNewsStore& operator=(const TNewsStore&) = delete;

    const QString& Path() const { return db_.Path(); }
    TSqlite& Database() { return db_; }

    // The schema steps from the first release on; the file's user_version counts those run.
    static const QList<const char*>& SchemaSteps();

    qint64 ServerId(const QString& host, quint16 port);
    qint64 GroupId(qint64 server, QByteArrayView name);

    // Stores the low and high marks of each group in one transaction, adding groups not yet
    // known; subscriptions and read marks stay as they are.
    void SaveGroupList(qint64 server, const QList<TStoredGroup>& groups);
    // The server's groups in name order.
    QList<TStoredGroup> GroupList(qint64 server);
    void SetGroupMarks(qint64 group, qint64 low, qint64 high);

    void SetSubscribed(qint64 group, bool subscribed);
    // Whether the group's summary is laid out in thread order rather than by number; false
    // until set.
    bool ThreadedSummary(qint64 group);
    void SetThreadedSummary(qint64 group, bool threaded);
    // The names of the subscribed groups in name order.
    QList<QByteArray> Subscriptions(qint64 server);

    TArticleRanges ReadMarks(qint64 group);
    void SetReadMarks(qint64 group, const TArticleRanges& marks);
    void MarkRead(qint64 group, qint64 first, qint64 last);
    void MarkUnread(qint64 group, qint64 first, qint64 last);
    // Marks every number of the set unread in one transaction.
    void MarkUnread(qint64 group, const TArticleRanges& numbers);
    // The numbers between the group's low and high marks that are not marked read.
    qint64 UnreadCount(qint64 group);

    // Stores a batch of summaries in one transaction, indexing their Subject and From for
    // Search; a number already stored is replaced.
    void AddSummaries(qint64 group, const QList<TStoredSummary>& batch);
    // The stored summaries numbered from on, in number order; at most limit of them when limit
    // is not negative, so that a large group can be read a part at a time.
    QList<TStoredSummary> Summaries(qint64 group, qint64 from = 0, qint64 limit = -1);
    // The lowest and highest numbers stored from from on; nullopt when none is.
    std::optional<std::pair<qint64, qint64>> SummaryRange(qint64 group, qint64 from);
    qint64 SummaryCount(qint64 group);
    // The highest number stored, 0 when none is.
    qint64 StoredHigh(qint64 group);
    // The group's stored summaries in thread order (TThreader), built from what the store holds
    // when asked, so that it always takes in every summary stored up to then.
    QList<TThreadPlace> ThreadOrder(qint64 group);
    // Drops the summaries and articles numbered below low (expired on the server); returns how
    // many summaries went.
    qint64 DropExpired(qint64 group, qint64 low);

    // Every stored summary of the server's groups (only of group when it is not empty) whose
    // Subject or From match the query as FTS5 reads it (words, "phrases", prefix*, AND/OR/NOT),
    // newest first; at most limit hits when limit is not negative. An empty or blank query
    // has no hits; text FTS5 cannot read fails with an EStoreSearchError.
    QList<TSearchHit> Search(qint64 server, const QString& query, QByteArrayView group = {},
                             qsizetype limit = -1);

    // Stores an article's exact bytes, replacing an earlier copy.
    void StoreArticle(qint64 group, qint64 number, QByteArrayView messageId, QByteArrayView bytes);
    std::optional<QByteArray> Article(qint64 group, qint64 number);
    std::optional<QByteArray> ArticleByMessageId(qint64 server, QByteArrayView messageId);
    // Records that the stored article was read now, which keeps it longest when trimming.
    void NoteArticleRead(qint64 group, qint64 number);
    // The bytes of all stored articles of every server.
    qint64 ArticleBytes();
    // Removes stored articles until their bytes are at most limit: those read longest ago
    // first, then those never read, oldest stored first. Returns the bytes removed.
    qint64 TrimArticles(qint64 limit = kDefaultArticleLimit);

    // The server's clock (seconds, UTC) when its group list was last asked for, whole or the
    // groups created since; nullopt before the first time.
    std::optional<QDateTime> GroupListTime(qint64 server);
    void SetGroupListTime(qint64 server, const QDateTime& time);

    void SaveLastProfile(const TServerProfile& profile);
    std::optional<TServerProfile> LastProfile();

private:
    struct Statements;

    TSqlite db_;
    std::unique_ptr<Statements> statements_;
    std::unique_ptr<TSummaryIndex> index_;
};
