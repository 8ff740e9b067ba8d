#include "nntp/storecache.h"

#include "nntp/decodedarticle.h"

#include <algorithm>

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
        client_.GetArticleList(false, static_cast<int>(from));
        count.fresh = KeepListing();
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

qint64 TStoreCache::KeepListing() {
    const qint64 group = GroupId(client_.CurrentGroup);
    store_.SetGroupMarks(group, client_.FirstArticleNo, client_.LastArticleNo);
    QList<TStoredSummary> batch;
    batch.reserve(client_.SummaryLines.Count());
    for (int i = 0; i < client_.SummaryLines.Count(); ++i) {
        const QByteArray& line = client_.SummaryLines[i];
        // The "." line that ends the reply, and anything else without a number, is no summary.
        if (const qint64 number = SummaryNumber(line); number > 0) {
            batch.append(TStoredSummary{number, line});
        }
    }
    store_.AddSummaries(group, batch);
    return batch.size();
}

void TStoreCache::FetchArticles(qint64 group, qint64 from) {
    for (const TStoredSummary& summary : store_.Summaries(group, from)) {
        try {
            client_.GetArticle(static_cast<int>(summary.number));
        } catch (const Exception&) {
            // Cancelled or expired since the listing: its summary stays, the article is not
            // there to keep. A connection that broke fails the next retrieval as well.
            if (!client_.Connected) {
                throw;
            }
            continue;
        }
        KeepArticle(static_cast<int>(summary.number));
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
