#pragma once

#include "nntp/qrnntp.h"
#include "store/newsstore.h"

#include <QByteArray>
#include <functional>
#include <optional>

// The stored marks of the server's named group; nullopt when the store does not know it.
std::optional<TStoredGroup> StoredGroupNamed(TNewsStore& store, qint64 server, QByteArrayView name);

// The link between a news client and the local store: what the client fetches is kept in the
// store under the client's server (host and port), and what the store holds can be answered
// without the server. The command line and the window share it; it owns neither the client nor
// the store, which must outlive it.
class TStoreCache {
public:
    // What one group's synchronisation did: the summaries that were new, and how many the
    // store holds of the group afterwards.
    struct TSyncCount {
        qint64 fresh = 0;
        qint64 stored = 0;
    };

    TStoreCache(TQRNNTP& client, TNewsStore& store);
    ~TStoreCache();
    TStoreCache(const TStoreCache&) = delete;
    TStoreCache& operator=(const TStoreCache&) = delete;

    // Sets the client's cache hooks to this store, until this is destroyed: every article
    // retrieved whole is kept, an article the store holds is answered from it (with cmRemote
    // and cmLocal; cmMixed asks the server), and with cmLocal a listing of CurrentGroup is
    // answered from the store.
    void Attach();
    // With the hooks attached, a failure of the store (a full disk, a read-only file) is handed
    // here and the retrieval goes on from the server as without a store; unset, it is raised.
    std::function<void(const EStoreError& error)> OnStoreFailure;

    qint64 ServerId() const { return server_; }
    qint64 GroupId(QByteArrayView name) { return store_.GroupId(server_, name); }
    // Selects the group on the server and stores the summaries above the stored high mark.
    // Summaries below the server's low mark are expired and dropped. A server whose numbers
    // went backwards (its high mark below the stored one) has renumbered the group: the stored
    // summaries, articles and read marks no longer mean those articles and are fetched anew.
    // withArticles also stores each new article whole. The summaries are stored in batches
    // while the listing arrives.
    TSyncCount Sync(const QByteArray& name, bool withArticles);

    // Drops what the store holds of a group that is expired or renumbered on the server, as the
    // server's marks low and high say: summaries and articles below low; everything, read marks
    // included, when high is below the highest number stored.
    void ForgetOutdated(qint64 group, qint64 low, qint64 high);

    // Keeps the client's selected-group marks and the summaries of its last listing
    // (GetArticleList) in the store; answers how many summaries it kept.
    qint64 KeepListing();
    // Keeps the article the client retrieved last with GetArticle.
    void KeepArticle(int number);

    // An article as the store holds it: the header lines, an empty line and the body lines,
    // each ending in CR LF, dots doubled for transmission undone.
    static QByteArray ArticleBytes(const TStringList& headerLines, const TStringList& bodyLines);
    // The reverse: the header lines up to the empty line and the body lines after it, without
    // line ends (and without the empty line and a "." line).
    static void SplitArticle(const QByteArray& bytes, TStringList& headerLines,
                             TStringList& bodyLines);

    // How many summaries of a sync's listing are stored in one transaction while the rest of
    // the listing arrives.
    static constexpr int kSyncBatch = 10000;

private:
    // Lists the group from from on and stores its summaries, batch by batch as they arrive;
    // answers how many were stored.
    qint64 ListAndKeep(qint64 group, qint64 from);
    // The summaries among the client's listed lines first..end - 1.
    QList<TStoredSummary> SummariesListed(int first, int end) const;
    void FetchArticles(qint64 group, qint64 from);
    // The hooks' answers: true when the store held what was asked for.
    bool AnswerListing();
    bool AnswerArticle();
    // Runs a hook's work; a failure of the store goes to OnStoreFailure when that is set, and
    // then answers false.
    bool Guarded(const std::function<bool()>& work);
    // The article the client asks for, by number of CurrentGroup or by Message-ID in any group
    // of the server; nullopt when the store lacks it.
    std::optional<QByteArray> StoredArticleRequested();

    TQRNNTP& client_;
    TNewsStore& store_;
    qint64 server_;
    bool attached_ = false;
};
