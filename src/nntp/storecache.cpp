#include "nntp/storecache.h"

#include "nntp/decodedarticle.h"

#include <QScopeGuard>
#include <algorithm>
#include <exception>

namespace {

// The article number that starts an overview line; 0 when the line has none.
qint64 SummaryNumber(const QByteArray& line) {
    const qsizetype tab = line.indexOf('\t');
    bool ok = false;
    const qint64 number = QByteArrayView(line).first(tab < 0 ? line.size() : tab).toLongLong(&ok);
    return ok && number > 0 ? number : 0;
}

} // namespace

TStoreCache::TStoreCache(TQRNNTP& client, TNewsStore& store)
    : client_(client), store_(store),
      server_(store.ServerId(client.Host, static_cast<quint16>(client.Port))) {}

TStoreCache::~TStoreCache() {
    if (attached_) {
        client_.OnHeaderListCacheUpdate = nullptr;
        client_.OnBodyCacheUpdate = nullptr;
        client_.OnArticleCacheUpdate = nullptr;
    }
}

void TStoreCache::Attach() {
    attached_ = true;
    client_.OnHeaderListCacheUpdate = [this](bool& handled) {
        handled = Guarded([this] { return AnswerListing(); });
    };
    client_.OnBodyCacheUpdate = [this](bool& handled) {
        handled = Guarded([this] { return AnswerArticle(); });
    };
    client_.OnArticleCacheUpdate = [this](bool&, int, const QByteArray&, const QByteArray&,
                                          const QByteArray&, const QByteArray&, int number) {
        Guarded([this, number] {
            KeepArticle(number);
            return true;
        });
    };
}

bool TStoreCache::Guarded(const std::function<bool()>& work) {
    try {
        return work();
    } catch (const EStoreError& error) {
        if (!OnStoreFailure) {
            throw;
        }
        OnStoreFailure(error);
        return false;
    }
}

bool TStoreCache::AnswerListing() {
    const std::optional<TStoredGroup> group =
        StoredGroupNamed(store_, server_, client_.CurrentGroup);
    if (!group) {
        return false;
    }
    client_.FirstArticleNo = static_cast<int>(group->low);
    client_.LastArticleNo = static_cast<int>(group->high);
    client_.SummaryLines.Clear();
    for (const TStoredSummary& summary :
         store_.Summaries(GroupId(group->name), std::max<qint64>(client_.ListingStart(), 0))) {
        client_.SummaryLines.Add(summary.line);
    }
    client_.SummaryLines.Add(".");
    return true;
}

bool TStoreCache::AnswerArticle() {
    // Attachments are decoded as the article arrives from the server.
    if (client_.ParseAttachments) {
        return false;
    }
    const std::optional<QByteArray> bytes = StoredArticleRequested();
    if (!bytes) {
        return false;
    }
    TStringList header;
    TStringList body;
    SplitArticle(*bytes, header, body);
    body.Add(".");
    const TQRNNTP::TRetrieval part = client_.RequestedPart();
    const QByteArray number = QByteArray::number(client_.RequestedArticle());
    // As the retrieval leaves them: HEAD's lines end with the "." line, ARTICLE's header with
    // the empty line; BODY leaves the header lines alone.
    if (part != TQRNNTP::TRetrieval::Body) {
        header.Add(part == TQRNNTP::TRetrieval::Header ? QByteArray(".") : QByteArray());
        client_.HeaderLines.Assign(header);
        client_.HeaderLines.SetValue("ArtId", number);
    }
    if (part != TQRNNTP::TRetrieval::Header) {
        client_.BodyLines.Assign(body);
    }
    return true;
}

std::optional<QByteArray> TStoreCache::StoredArticleRequested() {
    if (!client_.RequestedMessageId().isEmpty()) {
        return store_.ArticleByMessageId(server_, client_.RequestedMessageId());
    }
    const std::optional<TStoredGroup> group =
        StoredGroupNamed(store_, server_, client_.CurrentGroup);
    return group ? store_.Article(GroupId(group->name), client_.RequestedArticle()) : std::nullopt;
}

std::optional<TStoredGroup> StoredGroupNamed(TNewsStore& store, qint64 server,
                                             QByteArrayView name) {
    for (const TStoredGroup& group : store.GroupList(server)) {
        if (group.name == name) {
            return group;
        }
    }
    return std::nullopt;
}

TStoreCache::TSyncCount TStoreCache::Sync(const QByteArray& name, bool withArticles) {
    const qint64 group = GroupId(name);
    client_.SetGroup(name);
    const qint64 low = client_.FirstArticleNo;
    const qint64 high = client_.LastArticleNo;
    ForgetOutdated(group, low, high);
    const qint64 from = std::max(store_.StoredHigh(group) + 1, low);
    store_.SetGroupMarks(group, low, high);
    TSyncCount count;
    if (from <= high && high > 0) {
        count.fresh = ListAndKeep(group, from);
        if (withArticles) {
            FetchArticles(group, from);
        }
    }
    count.stored = store_.SummaryCount(group);
    return count;
}

void TStoreCache::ForgetOutdated(qint64 group, qint64 low, qint64 high) {
    const qint64 storedHigh = store_.StoredHigh(group);
    if (high < storedHigh) {
        store_.DropExpired(group, storedHigh + 1);
        store_.SetReadMarks(group, TArticleRanges());
        return;
    }
    store_.DropExpired(group, low);
}

qint64 TStoreCache::ListAndKeep(qint64 group, qint64 from) {
    // Each batch is stored as soon as it is in, while the server goes on sending the rest into
    // the socket's buffers, instead of all of it after the listing. A failure of the store
    // stops the storing, not the listing, and is raised once the reply is read: the
    // connection stays in step and the batches before it stay committed.
    int taken = 0;
    qint64 stored = 0;
    std::optional<EStoreError> failure;
    const auto storeListed = [&] {
        const QList<TStoredSummary> batch = SummariesListed(taken, client_.SummaryLines.Count());
        taken = client_.SummaryLines.Count();
        if (failure) {
            return;
        }
        try {
            store_.AddSummaries(group, batch);
            stored += batch.size();
        } catch (const EStoreError& error) {
            failure = error;
        }
    };
    const TListProgressEvent progress = client_.OnListProgress;
    const auto restoreProgress = qScopeGuard([&] { client_.OnListProgress = progress; });
    client_.OnListProgress = [&](qint64 received, qint64 announced) {
        if (progress) {
            progress(received, announced);
        }
        if (client_.SummaryLines.Count() - taken >= kSyncBatch) {
            storeListed();
        }
    };
    client_.GetArticleList(false, static_cast<int>(from));
    storeListed();
    if (failure) {
        throw *failure;
    }
    return stored;
}

qint64 TStoreCache::KeepListing() {
    const qint64 group = GroupId(client_.CurrentGroup);
    store_.SetGroupMarks(group, client_.FirstArticleNo, client_.LastArticleNo);
    const QList<TStoredSummary> batch = SummariesListed(0, client_.SummaryLines.Count());
    store_.AddSummaries(group, batch);
    return batch.size();
}

QList<TStoredSummary> TStoreCache::SummariesListed(int first, int end) const {
    QList<TStoredSummary> batch;
    batch.reserve(end - first);
    for (int i = first; i < end; ++i) {
        const QByteArray& line = client_.SummaryLines[i];
        // The "." line that ends the reply, and anything else without a number, is no summary.
        if (const qint64 number = SummaryNumber(line); number > 0) {
            batch.append(TStoredSummary{number, line});
        }
    }
    return batch;
}

void TStoreCache::FetchArticles(qint64 group, qint64 from) {
    QList<int> numbers;
    for (const TStoredSummary& summary : store_.Summaries(group, from)) {
        numbers.append(static_cast<int>(summary.number));
    }
    // A store that fails stops the retrieval (the replies on their way are read) and ends the
    // sync with its own error.
    std::exception_ptr storeFailure;
    while (!numbers.isEmpty()) {
        qsizetype reported = 0;
        const auto keep = [&](int number, bool found) {
            ++reported;
            // An attached cache has kept it already. One cancelled or expired since the
            // listing keeps its summary, without an article.
            if (found && !attached_) {
                try {
                    KeepArticle(number);
                } catch (...) {
                    storeFailure = std::current_exception();
                    return false;
                }
            }
            return true;
        };
        try {
            client_.FetchArticles(numbers, TQRNNTP::TRetrieval::Whole, keep);
        } catch (const Exception&) {
            // An article the server refuses is passed over, with the connection in step. A
            // connection that broke fails the next retrieval as well.
            if (!client_.Connected) {
                throw;
            }
            numbers.remove(0, std::min(reported + 1, numbers.size()));
            continue;
        }
        if (storeFailure) {
            std::rethrow_exception(storeFailure);
        }
        return;
    }
}

void TStoreCache::KeepArticle(int number) {
    store_.StoreArticle(GroupId(client_.CurrentGroup), number,
                        client_.HeaderLines.GetValue("Message-ID"),
                        ArticleBytes(client_.HeaderLines, client_.BodyLines));
}

QByteArray TStoreCache::ArticleBytes(const TStringList& headerLines, const TStringList& bodyLines) {
    const TDecodedArticle article(headerLines, bodyLines);
    return article.Header() + "\r\n" + article.Body();
}

void TStoreCache::SplitArticle(const QByteArray& bytes, TStringList& headerLines,
                               TStringList& bodyLines) {
    const qsizetype blank = bytes.startsWith("\r\n") ? 0 : bytes.indexOf("\r\n\r\n") + 2;
    const qsizetype headerEnd = std::max<qsizetype>(blank, 0);
    const auto addLines = [](QByteArrayView text, TStringList& lines) {
        // Every line ends in CR LF.
        for (qsizetype start = 0; start < text.size();) {
            const qsizetype end = text.indexOf("\r\n", start);
            const qsizetype lineEnd = end < 0 ? text.size() : end;
            lines.Add(text.sliced(start, lineEnd - start).toByteArray());
            start = lineEnd + 2;
        }
    };
    addLines(QByteArrayView(bytes).first(headerEnd), headerLines);
    addLines(QByteArrayView(bytes).sliced(std::min(headerEnd + 2, bytes.size())), bodyLines);
}
