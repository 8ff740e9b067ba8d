#include "store/newsstore.h"
#include "store/migrations.h"
#include "store/storepath.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimeZone>
#include <csignal>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A store in a fresh file per test, with one server and one group, reopened on request the way
// the next run of the program finds it.
class NewsStoreTest : public ::testing::Test {
protected:
    TestDir dir;
    QString path = dir.Path("news.db");
    std::unique_ptr<TNewsStore> store = std::make_unique<TNewsStore>(path);
    qint64 server = store->ServerId(QStringLiteral("news.example.com"), 119);
    qint64 group = store->GroupId(server, "comp.lang.c++");

    void Reopen() {
        store.reset();
        store = std::make_unique<TNewsStore>(path);
    }

    // Summaries numbered first..last with distinct lines.
    static QList<TStoredSummary> Generated(qint64 first, qint64 last) {
        QList<TStoredSummary> summaries;
        for (qint64 n = first; n <= last; ++n) {
            summaries.append({n, QByteArray::number(n) + "\tSubject " + QByteArray::number(n) +
                                     "\tfrom@example\tdate\t<" + QByteArray::number(n) +
                                     "@x>\t\t100\t2"});
        }
        return summaries;
    }

    QList<qint64> StoredNumbers() {
        QList<qint64> numbers;
        for (const TStoredSummary& summary : store->Summaries(group)) {
            numbers.append(summary.number);
        }
        return numbers;
    }
};

// What the server sent comes back byte for byte after the program is started again: 8-bit
// bytes, tabs, empty fields, a line of only a number.
TEST_F(NewsStoreTest, SummariesRoundTripByteForByte) {
    const QList<TStoredSummary> sent = {
        {3, "3\tRe: caf\xe9 \xc3\xa9t\xc3\xa9\t\"M\xfcller\" <m@example.de>\tMon, 1 Jan 2024 "
            "00:00:00 +0000\t<a@b>\t<x@y> <z@w>\t1234\t20\tXref: news.example.com "
            "comp.lang.c++:3"},
        {4, "4\t\t\t\t<empty@fields>\t\t0\t0\t"},
        {5, "5"},
        {7,
         QByteArray("7\tcontrol \x01\x7f\xff bytes\tx\ty\t<c@d>\t\t9\t1\tXref: a b:7\textra", 42)},
    };
    store->AddSummaries(group, sent);
    Reopen();
    EXPECT_EQ(store->Summaries(group), sent);
    EXPECT_EQ(store->Summaries(group, 5), sent.mid(2));
    EXPECT_EQ(store->SummaryCount(group), 4);
    EXPECT_EQ(store->StoredHigh(group), 7);
    EXPECT_EQ(store->StoredHigh(store->GroupId(server, "other")), 0);
}

struct FieldCase {
    QByteArray line;
    const char* subject;
    const char* messageId;
    const char* bytes;
    const char* lines;
    const char* xref;
};

TEST(StoredSummaryTest, ReadsFieldsFromTheRawLine) {
    const FieldCase cases[] = {
        {"1\tS\tF\tD\t<m>\t<r>\t10\t2\tXref: h g:1", "S", "<m>", "10", "2", "h g:1"},
        {"1\tS\tF\tD\t<m>\t<r>\t10\t2\tX-Other: v\txref:  h g:1 ", "S", "<m>", "10", "2", "h g:1"},
        {"1\tS\tF\tD\t<m>\t<r>\t10\t2", "S", "<m>", "10", "2", ""},
        {"1\tS\tF\tD\t<m>\t<r>\t10\t2\t", "S", "<m>", "10", "2", ""},
        {"1\tXref: in subject", "Xref: in subject", "", "", "", ""},
        {"1", "", "", "", "", ""},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.line.constData());
        const TStoredSummary summary{1, c.line};
        EXPECT_EQ(summary.Subject(), QByteArrayView(c.subject));
        EXPECT_EQ(summary.MessageId(), QByteArrayView(c.messageId));
        EXPECT_EQ(summary.Bytes(), QByteArrayView(c.bytes));
        EXPECT_EQ(summary.Lines(), QByteArrayView(c.lines));
        EXPECT_EQ(summary.Xref(), QByteArrayView(c.xref));
    }
    const TStoredSummary full{1, "1\tS\tF\tD\t<m>\t<r1> <r2>\t10\t2"};
    EXPECT_EQ(full.From(), QByteArrayView("F"));
    EXPECT_EQ(full.Date(), QByteArrayView("D"));
    EXPECT_EQ(full.References(), QByteArrayView("<r1> <r2>"));
}

TEST_F(NewsStoreTest, LaterBatchReplacesNumbersAlreadyStored) {
    store->AddSummaries(group, Generated(1, 10));
    store->AddSummaries(group, {{5, "5\tnew"}, {11, "11\tnewer"}});
    const QList<TStoredSummary> summaries = store->Summaries(group);
    ASSERT_EQ(summaries.size(), 11);
    EXPECT_EQ(summaries[4].line, QByteArray("5\tnew"));
    EXPECT_EQ(summaries[10].line, QByteArray("11\tnewer"));
}

// The thread order takes in every summary stored up to the moment it is asked for, of this
// group only: a reply stored before its parent joins the parent once that arrives, and a
// replaced summary counts with its new References.
TEST_F(NewsStoreTest, ThreadOrderFollowsTheSummariesAsTheyArrive) {
    const auto line = [](qint64 number, const char* id, const char* references) {
        return TStoredSummary{number, QByteArray::number(number) + "\tS\tF\tD\t" + id + '\t' +
                                          references + "\t10\t1\tXref: h g:1"};
    };
    const auto spelled = [this] {
        QByteArray text;
        for (const TThreadPlace& place : store->ThreadOrder(group)) {
            text += QByteArray::number(place.number) + '/' + QByteArray::number(place.depth) + ' ';
        }
        return text;
    };
    store->AddSummaries(store->GroupId(server, "other"), {line(9, "<c>", "<a>")});
    EXPECT_EQ(spelled(), "");
    store->AddSummaries(group, {line(1, "<a>", ""), line(3, "<c>", "<a> <b>")});
    EXPECT_EQ(spelled(), "1/0 3/1 ");
    store->AddSummaries(group, {line(2, "<b>", "<a>"), line(4, "<d>", "<gone>")});
    EXPECT_EQ(spelled(), "1/0 2/1 3/2 4/0 ");
    store->AddSummaries(group, {line(4, "<d>", "<c>")});
    Reopen();
    EXPECT_EQ(spelled(), "1/0 2/1 3/2 4/3 ");
    store->DropExpired(group, 3);
    EXPECT_EQ(spelled(), "3/0 4/1 ");
}

// A large group is read a part at a time: from a number on, at most so many, and the first
// and last numbers stored from a number on, other groups left out.
TEST_F(NewsStoreTest, SummariesAreReadAPartAtATime) {
    store->AddSummaries(group, Generated(5, 20));
    store->AddSummaries(store->GroupId(server, "other"), Generated(1, 30));
    const struct {
        qint64 from;
        qint64 limit;
        qint64 first;
        qint64 last;
    } parts[] = {{0, -1, 5, 20}, {0, 3, 5, 7}, {8, 5, 8, 12}, {19, 5, 19, 20}, {21, 5, 0, -1}};
    for (const auto& part : parts) {
        SCOPED_TRACE(part.from);
        EXPECT_EQ(store->Summaries(group, part.from, part.limit), Generated(part.first, part.last));
    }
    const std::pair<qint64, qint64> range{9, 20};
    EXPECT_EQ(store->SummaryRange(group, 9), range);
    EXPECT_EQ(store->SummaryRange(group, 21), std::nullopt);
}

TEST_F(NewsStoreTest, ServersAndGroupsAreKeptApart) {
    const qint64 sameHostOtherPort = store->ServerId(QStringLiteral("news.example.com"), 563);
    EXPECT_NE(sameHostOtherPort, server);
    EXPECT_EQ(store->ServerId(QStringLiteral("news.example.com"), 119), server);
    const qint64 sameNameOtherServer = store->GroupId(sameHostOtherPort, "comp.lang.c++");
    EXPECT_NE(sameNameOtherServer, group);
    EXPECT_EQ(store->GroupId(server, "comp.lang.c++"), group);

    store->AddSummaries(group, Generated(1, 3));
    store->MarkRead(group, 1, 2);
    EXPECT_TRUE(store->Summaries(sameNameOtherServer).isEmpty());
    EXPECT_TRUE(store->ReadMarks(sameNameOtherServer).IsEmpty());
}

TEST_F(NewsStoreTest, GroupListSubscriptionsAndUnreadCountsSurviveRestart) {
    store->SaveGroupList(server, {{"alt.test", 1, 50}, {"comp.lang.c++", 100, 300}});
    store->SetSubscribed(group, true);
    store->SetThreadedSummary(group, true);
    store->MarkRead(group, 1, 150);
    store->MarkRead(group, 200, 200);
    // A later list changes the marks but keeps subscriptions, summary orders and read marks.
    store->SaveGroupList(server, {{"alt.test", 10, 60}, {"comp.lang.c++", 100, 310}});
    Reopen();

    const QList<TStoredGroup> groups = store->GroupList(server);
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0].name, QByteArray("alt.test"));
    EXPECT_EQ(groups[0].low, 10);
    EXPECT_EQ(groups[0].high, 60);
    EXPECT_FALSE(groups[0].subscribed);
    EXPECT_EQ(groups[0].unread, 51);
    EXPECT_EQ(groups[1].name, QByteArray("comp.lang.c++"));
    EXPECT_TRUE(groups[1].subscribed);
    // 100..310 less 100..150 and 200.
    EXPECT_EQ(groups[1].unread, 211 - 51 - 1);
    EXPECT_EQ(store->UnreadCount(group), 159);
    EXPECT_EQ(store->Subscriptions(server), QList<QByteArray>{"comp.lang.c++"});
    EXPECT_TRUE(store->ThreadedSummary(group));
    EXPECT_FALSE(store->ThreadedSummary(store->GroupId(server, "alt.test")));

    store->SetSubscribed(group, false);
    store->SetThreadedSummary(group, false);
    EXPECT_FALSE(store->ThreadedSummary(group));
    EXPECT_TRUE(store->Subscriptions(server).isEmpty());
}

TEST_F(NewsStoreTest, ReadMarksAddAndRemoveAcrossRestart) {
    store->SetGroupMarks(group, 1, 20);
    store->MarkRead(group, 1, 10);
    store->MarkUnread(group, 4, 5);
    Reopen();
    EXPECT_EQ(store->ReadMarks(group).Format(), QByteArray("1-3,6-10"));
    EXPECT_EQ(store->UnreadCount(group), 12);
    store->MarkUnread(group, TArticleRanges::Parse("2,7-8,15"));
    EXPECT_EQ(store->ReadMarks(group).Format(), QByteArray("1,3,6,9-10"));
    store->SetReadMarks(group, TArticleRanges::Parse("1-20"));
    EXPECT_EQ(store->UnreadCount(group), 0);
}

// Articles are numbered from 1: a group whose marks were never listed (0 and 0), or that a
// server reports empty as "0 0", has nothing unread, read marks or not.
TEST_F(NewsStoreTest, AGroupWithoutArticlesHasNoneUnread) {
    const qint64 unlisted = store->GroupId(server, "alt.unlisted");
    EXPECT_EQ(store->UnreadCount(unlisted), 0);
    store->MarkRead(unlisted, 1, 10);
    EXPECT_EQ(store->UnreadCount(unlisted), 0);
    store->SetGroupMarks(group, 0, 0);
    EXPECT_EQ(store->UnreadCount(group), 0);
    store->SetGroupMarks(group, 0, 3);
    EXPECT_EQ(store->UnreadCount(group), 3);
    for (const TStoredGroup& listed : store->GroupList(server)) {
        EXPECT_EQ(listed.unread, listed.name == "alt.unlisted" ? 0 : 3) << listed.name.constData();
    }
}

// Numbers below the server's low mark are gone there; they go here too, with their articles,
// and nothing at or above it is touched.
TEST_F(NewsStoreTest, DropsExpiredSummariesAndArticles) {
    store->AddSummaries(group, Generated(1, 20));
    store->StoreArticle(group, 5, "<5@x>", "old");
    store->StoreArticle(group, 15, "<15@x>", "kept");
    const qint64 other = store->GroupId(server, "alt.other");
    store->AddSummaries(other, Generated(1, 3));

    EXPECT_EQ(store->DropExpired(group, 11), 10);
    EXPECT_EQ(StoredNumbers().first(), 11);
    EXPECT_EQ(StoredNumbers().size(), 10);
    EXPECT_EQ(store->Article(group, 5), std::nullopt);
    EXPECT_EQ(store->Article(group, 15), QByteArray("kept"));
    EXPECT_EQ(store->SummaryCount(other), 3);
    EXPECT_EQ(store->DropExpired(group, 11), 0);
}

TEST_F(NewsStoreTest, ArticlesRoundTripByteForByte) {
    static constexpr char kHead[] = "Subject: x\r\nMessage-ID: <a@b>\r\n\r\n\0\x01\xff body\r\n";
    QByteArray bytes(kHead, sizeof kHead - 1);
    bytes += QByteArray(300000, '\0');
    store->StoreArticle(group, 9, "<a@b>", bytes);
    Reopen();
    EXPECT_EQ(store->Article(group, 9), bytes);
    EXPECT_EQ(store->ArticleByMessageId(server, "<a@b>"), bytes);
    EXPECT_EQ(store->Article(group, 10), std::nullopt);
    EXPECT_EQ(store->ArticleByMessageId(store->ServerId(QStringLiteral("other"), 119), "<a@b>"),
              std::nullopt);
    EXPECT_EQ(store->ArticleBytes(), bytes.size());
    store->StoreArticle(group, 9, "<a@b>", "");
    EXPECT_EQ(store->Article(group, 9), QByteArray(""));
    EXPECT_EQ(store->ArticleBytes(), 0);
}

// Over the limit, articles read longest ago go first, then those never read (fetched ahead for
// reading offline), oldest stored first.
TEST_F(NewsStoreTest, TrimsArticlesToTheLimitOldestReadFirst) {
    const QByteArray hundred(100, 'a');
    for (qint64 n = 1; n <= 6; ++n) {
        store->StoreArticle(group, n, "<" + QByteArray::number(n) + ">", hundred);
    }
    for (const qint64 n : {4, 2, 6, 1}) {
        store->NoteArticleRead(group, n);
    }
    store->NoteArticleRead(group, 4); // read again: now the latest
    EXPECT_EQ(store->TrimArticles(1000), 0);
    EXPECT_EQ(store->TrimArticles(350), 300);
    QList<qint64> kept;
    for (qint64 n = 1; n <= 6; ++n) {
        if (store->Article(group, n)) {
            kept.append(n);
        }
    }
    // Read in the order 2, 6, 1, 4; 3 and 5 never.
    EXPECT_EQ(kept, (QList<qint64>{3, 4, 5}));
    EXPECT_EQ(store->TrimArticles(150), 200);
    EXPECT_TRUE(store->Article(group, 5));
    EXPECT_EQ(store->TrimArticles(0), 100);
    EXPECT_EQ(store->ArticleBytes(), 0);
}

TEST_F(NewsStoreTest, KeepsTheLastServerProfile) {
    EXPECT_EQ(store->LastProfile(), std::nullopt);
    store->SaveLastProfile(
        {QStringLiteral("a.example"), 119, QStringLiteral("None"), QStringLiteral("user")});
    const TServerProfile last{QStringLiteral("b.example"), 563, QStringLiteral("TLS"),
                              QStringLiteral("J\u00f6rg")};
    store->SaveLastProfile(last);
    Reopen();
    EXPECT_EQ(store->LastProfile(), last);
}

// Each server's group list time is its own, to the second, and outlives the program.
TEST_F(NewsStoreTest, KeepsEachServersGroupListTime) {
    const qint64 other = store->ServerId(QStringLiteral("news.example.org"), 119);
    EXPECT_EQ(store->GroupListTime(server), std::nullopt);
    const QDateTime first(QDate(2026, 3, 29), QTime(1, 30, 5), QTimeZone::utc());
    store->SetGroupListTime(server, first);
    store->SetGroupListTime(other, first.addDays(-400));
    store->SetGroupListTime(server, first.addSecs(90));
    Reopen();
    EXPECT_EQ(store->GroupListTime(server), first.addSecs(90));
    EXPECT_EQ(store->GroupListTime(other), first.addDays(-400));
}

// A file of the first release gains the group list times and the search index and keeps
// what it held.
TEST_F(NewsStoreTest, AFileOfTheFirstVersionIsBroughtUpToDate) {
    store.reset();
    QFile::remove(path);
    {
        TSqlite db(path);
        MigrateSchema(db, {TNewsStore::SchemaSteps().first()});
        db.Execute("INSERT INTO server (id, host, port) VALUES (7, 'old.example', 119);"
                   "INSERT INTO newsgroup (server, name, high) VALUES (7, 'old.group', 12);"
                   "INSERT INTO summary (newsgroup, number, line) VALUES (1, 12, CAST("
                   "'12' || char(9) || '=?UTF-8?Q?Gr=C3=BCn?= tea' || char(9) || 'x' AS BLOB));");
    }
    Reopen();
    const qint64 old = store->ServerId(QStringLiteral("old.example"), 119);
    EXPECT_EQ(old, 7);
    ASSERT_EQ(store->GroupList(old).size(), 1);
    EXPECT_EQ(store->GroupList(old)[0].high, 12);
    EXPECT_EQ(store->GroupListTime(old), std::nullopt);
    const QList<TSearchHit> found = store->Search(old, QStringLiteral("grun"));
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].subject, QStringLiteral("Gr\u00fcn tea"));
    EXPECT_EQ(store->Database().QueryInt("PRAGMA user_version"), TNewsStore::SchemaSteps().size());
}

// Two stores on one file, as the window and a sync from cron: both write, both see the other's
// committed work.
TEST_F(NewsStoreTest, TwoStoresShareOneFile) {
    TNewsStore second(path);
    const qint64 secondGroup =
        second.GroupId(second.ServerId(QStringLiteral("news.example.com"), 119), "comp.lang.c++");
    EXPECT_EQ(secondGroup, group);
    store->AddSummaries(group, Generated(1, 100));
    second.AddSummaries(group, Generated(101, 150));
    second.MarkRead(group, 1, 10);
    store->MarkRead(group, 20, 30);
    EXPECT_EQ(store->SummaryCount(group), 150);
    EXPECT_EQ(second.ReadMarks(group).Format(), QByteArray("1-10,20-30"));
}

// Read marks written by something else that cannot be read fail clearly instead of reading as
// nothing read, and once they are set right the store goes on as before.
TEST_F(NewsStoreTest, DamagedReadMarksFailClearlyAndCanBeSetRight) {
    store->SaveGroupList(server, {{"alt.a", 1, 10}, {"comp.lang.c++", 1, 10}, {"z.z", 1, 10}});
    store->Database().Execute(
        ("UPDATE newsgroup SET read_marks = 'junk' WHERE id = " + QByteArray::number(group))
            .constData());
    for (const auto& call : {std::function<void()>([&] { store->UnreadCount(group); }),
                             std::function<void()>([&] { store->GroupList(server); })}) {
        try {
            call();
            ADD_FAILURE() << "accepted";
        } catch (const EStoreError& error) {
            EXPECT_TRUE(error.Message().contains(QStringLiteral("junk"))) << error.what();
        }
    }
    store->SetReadMarks(group, TArticleRanges::Parse("1-4"));
    EXPECT_EQ(store->UnreadCount(group), 6);
    const QList<TStoredGroup> groups = store->GroupList(server);
    ASSERT_EQ(groups.size(), 3);
    EXPECT_EQ(groups[1].unread, 6);
}

// A writer killed (SIGKILL) in the middle of writing batches: every batch committed before
// stays whole, none is half there, the file checks out, and the next writer goes on from the
// stored high mark.
TEST_F(NewsStoreTest, WriterKilledMidwayKeepsWhatWasCommitted) {
    constexpr qint64 kBatch = 1000;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        // The child writes forever on its own connection; only the kill ends it. A failure
        // ends the child at once, without running the rest of the tests a second time.
        try {
            TNewsStore child(path);
            for (qint64 first = 1;; first += kBatch) {
                child.AddSummaries(group, Generated(first, first + kBatch - 1));
            }
        } catch (const EStoreError& error) {
            std::fprintf(stderr, "writer: %s\n", error.what());
        }
        _exit(1);
    }
    // Waits for the event (three batches committed), bounded only against a hung child.
    QElapsedTimer waited;
    waited.start();
    while (store->SummaryCount(group) < 3 * kBatch && waited.elapsed() < 60000) {
    }
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    Reopen();
    TStatement check(store->Database(), "PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), QStringLiteral("ok"));
    const qint64 high = store->StoredHigh(group);
    EXPECT_GE(high, 3 * kBatch);
    EXPECT_EQ(high % kBatch, 0);
    EXPECT_EQ(store->SummaryCount(group), high);
    store->AddSummaries(group, Generated(high + 1, high + 10));
    EXPECT_EQ(store->SummaryCount(group), high + 10);
}

class StorePathTest : public ::testing::Test {
protected:
    TestDir dir;
    QByteArray savedStore = qgetenv("ZKNEWS_STORE");
    QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    QByteArray savedHome = qgetenv("HOME");

    ~StorePathTest() override {
        qputenv("ZKNEWS_STORE", savedStore);
        qputenv("XDG_DATA_HOME", savedDataHome);
        qputenv("HOME", savedHome);
    }
};

TEST_F(StorePathTest, EnvironmentChoosesTheFileAndTheFolderIsMade) {
    qputenv("ZKNEWS_STORE", "");
    qputenv("XDG_DATA_HOME", dir.Path("data").toUtf8());
    EXPECT_EQ(NewsStorePath(), dir.Path("data/zknews/news.db"));
    EXPECT_TRUE(QDir(dir.Path("data/zknews")).exists());

    qputenv("ZKNEWS_STORE", dir.Path("elsewhere/my.db").toUtf8());
    EXPECT_EQ(NewsStorePath(), dir.Path("elsewhere/my.db"));
    EXPECT_TRUE(QDir(dir.Path("elsewhere")).exists());

    // The fallback folder is made in the home folder, here one of the test's own.
    qputenv("HOME", dir.Path("home").toUtf8());
    qputenv("ZKNEWS_STORE", "");
    qputenv("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(NewsStorePath(), dir.Path("home/.local/share/zknews/news.db"));
}

TEST_F(StorePathTest, FolderThatCannotBeMadeFailsNamingIt) {
    dir.Write("file", "not a folder");
    qputenv("ZKNEWS_STORE", dir.Path("file/news.db").toUtf8());
    try {
        NewsStorePath();
        ADD_FAILURE() << "accepted";
    } catch (const EStoreError& error) {
        EXPECT_TRUE(error.Message().contains(dir.Path("file"))) << error.what();
    }
}

} // namespace
