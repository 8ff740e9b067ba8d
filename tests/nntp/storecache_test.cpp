// The link between the news client and the local store: what a sync asks the server for, and
// that the store keeps the summaries and articles exactly as the server sent them.
#include "nntp/storecache.h"
#include "script.h"
#include "scriptedclient.h"
#include "storefailure.h"
#include "testfiles.h"

#include <gtest/gtest.h>

namespace {

struct StoreCacheTest : ::testing::Test {
    TestDir dir;
    TNewsStore store{dir.Path("news.db")};

    // The pages that the first batch of a sync adds to a store of its own: the summaries and
    // their entries in the full-text index.
    qint64 PagesOfTheFirstBatch() {
        TNewsStore scratch(dir.Path("scratch.db"));
        const qint64 before = scratch.Database().QueryInt("PRAGMA page_count");
        QList<TStoredSummary> batch;
        for (int n = 1; n <= TStoreCache::kSyncBatch; ++n) {
            const QByteArray line = script::Summary(n, "Subject " + QByteArray::number(n),
                                                    "user" + QByteArray::number(n) + "@example");
            // Without the script's "S: " and line end.
            batch.append({n, line.sliced(3).chopped(1)});
        }
        scratch.AddSummaries(scratch.GroupId(scratch.ServerId(QStringLiteral("h"), 119), "g"),
                             batch);
        return scratch.Database().QueryInt("PRAGMA page_count") - before;
    }

    QList<QByteArray> StoredLines(TStoreCache& cache, const QByteArray& group) {
        QList<QByteArray> lines;
        for (const TStoredSummary& summary : store.Summaries(cache.GroupId(group))) {
            lines << summary.line;
        }
        return lines;
    }
};

} // namespace

// One connection, one sync after another, each as the server's marks then say.
TEST_F(StoreCacheTest, SyncAsksForWhatIsAboveTheStoredHighMarkOnly) {
    struct Step {
        const char* what;
        int low;
        int high;
        int xoverFrom; // past high: no XOVER
        qint64 fresh;
        qint64 stored;
    };
    const Step steps[] = {
        {"empty group", 0, 0, 1, 0, 0}, {"first", 1, 4, 1, 4, 4},
        {"no change", 1, 4, 5, 0, 4},   {"two new", 1, 6, 5, 2, 6},
        {"3 expired", 4, 6, 7, 0, 3},   {"all expired", 10, 12, 10, 3, 3},
        {"renumbered", 1, 2, 1, 2, 2},
    };
    QByteArray conversation = script::Greeting();
    for (const Step& step : steps) {
        conversation += script::Group("g", step.low, step.high);
        if (step.xoverFrom <= step.high && step.high > 0) {
            conversation += script::Overview(step.xoverFrom, step.high,
                                             script::Summaries(step.xoverFrom, step.high));
        }
    }
    ScriptedNntp client({conversation});
    client.nntp.Connect();
    TStoreCache cache(client.nntp, store);
    store.MarkRead(cache.GroupId("g"), 1, 11);
    for (const Step& step : steps) {
        const TStoreCache::TSyncCount count = cache.Sync("g", false);
        EXPECT_EQ(count.fresh, step.fresh) << step.what;
        EXPECT_EQ(count.stored, step.stored) << step.what;
        EXPECT_EQ(store.SummaryCount(cache.GroupId("g")), step.stored) << step.what;
        client.ExpectScriptPlayed();
    }
    // The renumbered group's read marks were about other articles.
    EXPECT_TRUE(store.ReadMarks(cache.GroupId("g")).IsEmpty());
    EXPECT_EQ(store.UnreadCount(cache.GroupId("g")), 2);
}

TEST_F(StoreCacheTest, TheStoreKeepsTheServersBytes) {
    const QByteArray overview =
        "S: 3\tSubject\twith tab\tann@x\tdate\t<3@x>\t\t10\t1\tXref: h g:3\n"
        "S: junk without a number\n"
        "S: 4\tRe: Subject\tbob@x\tdate\t<4@x>\t<3@x>\t20\t2\n";
    ScriptedNntp client({script::Greeting() + script::Group("g", 3, 4) +
                         script::Overview(3, 4, overview) +
                         "C: ARTICLE 3\nS: 430 no such article\n" +
                         script::Article(4, "Subject: Re: Subject\nMessage-ID: <4@x>",
                                         "..starts with a dot\n\nend")});
    client.nntp.Connect();
    TStoreCache cache(client.nntp, store);
    EXPECT_EQ(cache.Sync("g", true).fresh, 2);
    client.ExpectScriptPlayed();
    EXPECT_EQ(StoredLines(cache, "g"),
              (QList<QByteArray>{"3\tSubject\twith tab\tann@x\tdate\t<3@x>\t\t10\t1\tXref: h g:3",
                                 "4\tRe: Subject\tbob@x\tdate\t<4@x>\t<3@x>\t20\t2"}));
    const QByteArray article = "Subject: Re: Subject\r\nMessage-ID: <4@x>\r\n\r\n"
                               ".starts with a dot\r\n\r\nend\r\n";
    EXPECT_EQ(store.Article(cache.GroupId("g"), 4), article);
    EXPECT_EQ(store.ArticleByMessageId(cache.ServerId(), "<4@x>"), article);
    // Article 3 was gone by the time it was asked for: its summary stays.
    EXPECT_EQ(store.Article(cache.GroupId("g"), 3), std::nullopt);
}

// A listing of several batches is stored whole and in order while it arrives; the client's own
// progress handler still hears of it and is the client's again afterwards.
TEST_F(StoreCacheTest, LongListingIsStoredWholeBatchByBatch) {
    constexpr int kLast = 2 * TStoreCache::kSyncBatch + 500;
    ScriptedNntp client({script::Greeting() + script::Group("g", 1, kLast) +
                         script::Overview(1, kLast, script::Summaries(1, kLast))});
    client.nntp.Connect();
    qint64 lastReported = 0;
    client.nntp.OnListProgress = [&](qint64 received, qint64) { lastReported = received; };
    TStoreCache cache(client.nntp, store);
    const TStoreCache::TSyncCount count = cache.Sync("g", false);
    client.ExpectScriptPlayed();
    EXPECT_EQ(count.fresh, kLast);
    EXPECT_EQ(count.stored, kLast);
    EXPECT_EQ(lastReported, kLast);
    const QList<TStoredSummary> stored = store.Summaries(cache.GroupId("g"));
    ASSERT_EQ(stored.size(), kLast);
    for (int i = 0; i < kLast; ++i) {
        ASSERT_EQ(stored[i].number, i + 1);
        ASSERT_EQ(stored[i].line, client.nntp.SummaryLines[i]);
    }
    client.nntp.OnListProgress(7, 0);
    EXPECT_EQ(lastReported, 7);
}

// The disk fills up in the middle of a long sync: the listing is still read to its end (the
// connection stays in step for the next command), the sync fails naming the file, and the
// batches stored before the failure stay whole.
TEST_F(StoreCacheTest, ASyncOnAFullDiskKeepsTheBatchesBeforeAndReadsTheReplyToItsEnd) {
    constexpr int kLast = 4 * TStoreCache::kSyncBatch;
    ScriptedNntp client({script::Greeting() + script::Group("g", 1, kLast) +
                         script::Overview(1, kLast, script::Summaries(1, kLast)) +
                         script::Group("g", 1, kLast)});
    client.nntp.Connect();
    TStoreCache cache(client.nntp, store);
    cache.GroupId("g");
    // Room for a batch and a half: the second batch cannot be stored.
    const qint64 room =
        store.Database().QueryInt("PRAGMA page_count") + PagesOfTheFirstBatch() * 3 / 2;
    store.Database().Execute(("PRAGMA max_page_count=" + QByteArray::number(room)).constData());
    const QString message = StoreFailureOf([&] { cache.Sync("g", false); });
    EXPECT_TRUE(message.contains(store.Path())) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("the disk is full"))) << message.toStdString();
    const qint64 stored = store.SummaryCount(cache.GroupId("g"));
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, kLast);
    EXPECT_EQ(stored % TStoreCache::kSyncBatch, 0);
    client.nntp.SetGroup("g");
    client.ExpectScriptPlayed();
}

// The store knows servers by host and port: two servers' groups of one name stay apart.
TEST_F(StoreCacheTest, EachServerHasItsOwnGroups) {
    ScriptedNntp first({script::Greeting() + script::Group("g", 1, 1) +
                        script::Overview(1, 1, script::Summaries(1, 1))});
    ScriptedNntp second({script::Greeting() + script::Group("g", 1, 2) +
                         script::Overview(1, 2, script::Summaries(1, 2))});
    first.nntp.Connect();
    second.nntp.Connect();
    TStoreCache one(first.nntp, store);
    TStoreCache two(second.nntp, store);
    EXPECT_NE(one.ServerId(), two.ServerId());
    EXPECT_EQ(one.Sync("g", false).stored, 1);
    EXPECT_EQ(two.Sync("g", false).stored, 2);
    EXPECT_EQ(StoredGroupNamed(store, one.ServerId(), "g")->high, 1);
    EXPECT_EQ(StoredGroupNamed(store, two.ServerId(), "g")->high, 2);
    EXPECT_EQ(StoredGroupNamed(store, two.ServerId(), "h"), std::nullopt);
}

// Attached, the link keeps every article the client retrieves whole and answers the next
// retrieval of it, in each form, as the server did; cmMixed still asks the server.
TEST_F(StoreCacheTest, AnAttachedStoreKeepsArticlesAndAnswersThemAgain) {
    const QByteArray header = "From: ann@x\nSubject: Five\nMessage-ID: <5@x>";
    const QByteArray body = "..dotted\n\nlast";
    const QByteArray conversation = script::Greeting() + script::Group("g", 1, 5) +
                                    script::Article(5, header, body) +
                                    "C: HEAD 5\nS: 221 5 <5@x>\nS: From: ann@x\nS: Subject: Five\n"
                                    "S: Message-ID: <5@x>\nS: .\n" +
                                    script::Article(5, header, body);
    ScriptedNntp client({conversation});
    client.nntp.Connect();
    TStoreCache cache(client.nntp, store);
    cache.Attach();
    client.nntp.CacheMode = TCacheMode::cmRemote;
    client.nntp.SetGroup("g");
    client.nntp.GetArticle(5);
    const QByteArray fromServerHeader = client.nntp.HeaderLines.Text();
    const QByteArray fromServerBody = client.nntp.BodyLines.Text();
    EXPECT_EQ(store.ArticleByMessageId(cache.ServerId(), "<5@x>"),
              "From: ann@x\r\nSubject: Five\r\nMessage-ID: <5@x>\r\n\r\n.dotted\r\n\r\nlast\r\n");

    // Answered by the store: the server's script holds no second ARTICLE before the HEAD.
    client.nntp.HeaderLines.Clear();
    client.nntp.BodyLines.Clear();
    client.nntp.GetArticle(5);
    EXPECT_EQ(client.nntp.HeaderLines.Text(), fromServerHeader);
    EXPECT_EQ(client.nntp.BodyLines.Text(), fromServerBody);
    client.nntp.BodyLines.Clear();
    client.nntp.GetArticleBody(5);
    EXPECT_EQ(client.nntp.BodyLines.Text(), fromServerBody);
    client.nntp.GetArticleHeader(5);
    const QByteArray fromStoreHead = client.nntp.HeaderLines.Text();
    EXPECT_EQ(client.events.count(QStringLiteral("article")), 2);
    EXPECT_EQ(client.events.count(QStringLiteral("body")), 1);
    EXPECT_EQ(client.events.count(QStringLiteral("header")), 1);

    // The server's HEAD gives the same lines; cmMixed asks the server again.
    client.nntp.CacheMode = TCacheMode::cmMixed;
    client.nntp.GetArticleHeader(5);
    EXPECT_EQ(client.nntp.HeaderLines.Text(), fromStoreHead);
    client.nntp.GetArticle(5);
    EXPECT_EQ(client.nntp.BodyLines.Text(), fromServerBody);
    client.ExpectScriptPlayed();
}

// A stored article comes from the store with cmRemote and cmLocal, from the server with cmMixed.
TEST_F(StoreCacheTest, TheCacheModeSaysWhetherAStoredArticleComesFromTheStore) {
    struct Case {
        const char* name;
        TCacheMode mode;
        bool fromStore;
    };
    const Case cases[] = {{"mixed", TCacheMode::cmMixed, false},
                          {"remote", TCacheMode::cmRemote, true},
                          {"local", TCacheMode::cmLocal, true}};
    for (const Case& c : cases) {
        const QByteArray serverArticle = script::Article(7, "Subject: from the server", "server");
        ScriptedNntp client(
            {script::Greeting() + script::Group("g", 1, 7) + (c.fromStore ? "" : serverArticle)});
        client.nntp.Connect();
        TStoreCache cache(client.nntp, store);
        cache.Attach();
        client.nntp.SetGroup("g");
        store.StoreArticle(cache.GroupId("g"), 7, "<7@x>", "Subject: stored\r\n\r\nstored\r\n");
        client.nntp.CacheMode = c.mode;
        client.nntp.GetArticle(7);
        EXPECT_EQ(client.nntp.BodyLines[0], c.fromStore ? "stored" : "server") << c.name;
        client.ExpectScriptPlayed();
    }
}

// With cmLocal the listing comes from the store, as the server sent it; without a store
// attached (once the link is gone) it stays empty, as before.
TEST_F(StoreCacheTest, ALocalClientListsFromTheStore) {
    ScriptedNntp client({script::Greeting() + script::Group("g", 1, 4) +
                         script::Overview(1, 4, script::Summaries(1, 4))});
    client.nntp.Connect();
    QStringList subjects;
    client.nntp.OnHeaderList = [&](QObject*) {
        subjects << QString::fromLatin1(client.nntp.HeaderLines.GetValue("Subject"));
    };
    {
        TStoreCache cache(client.nntp, store);
        ASSERT_EQ(cache.Sync("g", false).stored, 4);
        client.ExpectScriptPlayed();
        subjects.clear();
        cache.Attach();
        client.nntp.CacheMode = TCacheMode::cmLocal;
        client.nntp.GetArticleList(false, 3);
        EXPECT_EQ(subjects,
                  (QStringList{QStringLiteral("Subject 3"), QStringLiteral("Subject 4")}));
        EXPECT_EQ(client.nntp.LastArticleNo, 4);
        client.nntp.CurrentGroup = "unknown";
        subjects.clear();
        client.nntp.GetArticleList(true, 0);
        EXPECT_TRUE(subjects.isEmpty());
    }
    EXPECT_FALSE(client.nntp.OnHeaderListCacheUpdate);
    EXPECT_FALSE(client.nntp.OnBodyCacheUpdate);
    EXPECT_FALSE(client.nntp.OnArticleCacheUpdate);
    client.nntp.CurrentGroup = "g";
    client.nntp.GetArticleList(true, 0);
    EXPECT_TRUE(subjects.isEmpty());
}

// With articles, a sync asks for many at a time: the server holds back its replies until it
// has all four commands. An article refused in the middle is passed over as one that is gone,
// and the others are kept.
TEST_F(StoreCacheTest, ASyncWithArticlesAsksForThemPipelinedAndPassesOverOneRefused) {
    const auto reply = [](int number) {
        const QByteArray n = QByteArray::number(number);
        return script::ArticleReply(number, "Subject: s" + n + "\nMessage-ID: <" + n + "@example>",
                                    "body " + n);
    };
    ScriptedNntp client({script::Greeting() + script::Group("g", 1, 4) +
                         script::Overview(1, 4, script::Summaries(1, 4)) +
                         "C: ARTICLE 1\nC: ARTICLE 2\nC: ARTICLE 3\nC: ARTICLE 4\n" + reply(1) +
                         "S: 502 not for you\n" + reply(3) + reply(4) +
                         "C: ARTICLE 3\nC: ARTICLE 4\n" + reply(3) + reply(4) + script::Quit()});
    client.nntp.Connect();
    TStoreCache cache(client.nntp, store);
    EXPECT_EQ(cache.Sync("g", true).fresh, 4);
    const qint64 group = cache.GroupId("g");
    EXPECT_EQ(store.Article(group, 1), "Subject: s1\r\nMessage-ID: <1@example>\r\n\r\nbody 1\r\n");
    EXPECT_EQ(store.Article(group, 2), std::nullopt);
    EXPECT_EQ(store.Article(group, 4), "Subject: s4\r\nMessage-ID: <4@example>\r\n\r\nbody 4\r\n");
    client.nntp.Disconnect();
    client.ExpectScriptPlayed();
}
