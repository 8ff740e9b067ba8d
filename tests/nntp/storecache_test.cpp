// The link between the news client and the local store: what a sync asks the server for, and
// that the store keeps the summaries and articles exactly as the server sent them.
#include "nntp/storecache.h"
#include "script.h"
#include "scriptedclient.h"
#include "testfiles.h"

#include <gtest/gtest.h>

namespace {

struct StoreCacheTest : ::testing::Test {
    TestDir dir;
    TNewsStore store{dir.Path("news.db")};

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
        {"empty group", 0, 0, 1, 0, 0},     {"first", 1, 4, 1, 4, 4},
        {"no change", 1, 4, 5, 0, 4},       {"two new", 1, 6, 5, 2, 6},
        {"3 expired", 4, 6, 7, 0, 3},       {"all expired", 10, 12, 10, 3, 3},
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
