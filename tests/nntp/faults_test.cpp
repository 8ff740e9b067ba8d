// A server that dies or crawls in the middle of an operation: the operation ends with a clear
// message, Busy is released, nothing the caller composed is lost, and a new Connect works.
#include "nntp/qrnntp.h"

#include "fakeserver.h"
#include "testhelpers.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr char kAgain[] = "S: 200 back again\nC: GROUP a.b\nS: 211 1 1 1 a.b";

struct Client {
    FakeServer server;
    TQRNNTP nntp;

    explicit Client(const QByteArray& conversation) {
        server.AddScript(conversation);
        server.AddScript(kAgain);
        nntp.Host = QStringLiteral("127.0.0.1");
        nntp.Port = server.Port();
        nntp.TimeOut = 0; // nothing but the close may end the waits
        nntp.Connect();
    }

    void ExpectUsableAgain() {
        EXPECT_FALSE(nntp.Busy);
        EXPECT_FALSE(nntp.Connected);
        nntp.Connect();
        nntp.SetGroup("a.b");
        EXPECT_EQ(nntp.LastArticleNo, 1);
    }
};

} // namespace

TEST(NntpFaults, AServerDyingDuringAListingEndsItAtOnce) {
    Client c("S: 200 ready\nC: GROUP a.b\nS: 211 9 1 9 a.b\nC: XOVER 1-9\nS: 224 follows\n"
             "R: 1\\ts\\tf\\td\\tm\\t\\t1\\t1\\r\\n\nX:");
    c.nntp.SetGroup("a.b");
    int summaries = 0;
    c.nntp.OnHeaderList = [&](QObject*) { ++summaries; };
    EXPECT_EQ(MessageOf<EAbortError>([&] { c.nntp.GetArticleList(true, 0); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_EQ(summaries, 0);
    EXPECT_EQ(c.nntp.SummaryLines.Count(), 1); // what had arrived is kept
    c.ExpectUsableAgain();
}

TEST(NntpFaults, AServerDyingDuringAnArticleEndsItWithoutTheArticleEvent) {
    Client c("S: 200 ready\nC: ARTICLE 4\nS: 220 4 <4@x>\nS: Subject: half\nS: \nS: first line\nX:");
    int articles = 0;
    c.nntp.OnArticle = [&](QObject*) { ++articles; };
    EXPECT_EQ(MessageOf<EAbortError>([&] { c.nntp.GetArticle(4); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_EQ(articles, 0);
    c.ExpectUsableAgain();
}

TEST(NntpFaults, AServerDyingDuringAPostKeepsThePost) {
    Client c("S: 200 ready\nC: POST\nS: 340 send\nX:");
    c.nntp.PostHeader.Add("Subject: keep me");
    c.nntp.PostBody.Add("body");
    c.nntp.PostAttachments.Add("/tmp/zk-does-not-matter.bin");
    QStringList failures;
    c.nntp.OnPostFailed = [&](QObject*, quint16, const QString& reply) { failures << reply; };
    EXPECT_THROW(c.nntp.PostArticle(), Exception);
    EXPECT_EQ(failures.size(), 1);
    EXPECT_EQ(c.nntp.PostHeader.Text(), "Subject: keep me\r\n");
    EXPECT_EQ(c.nntp.PostBody.Text(), "body\r\n");
    EXPECT_EQ(c.nntp.PostAttachments.Count(), 1);
    c.ExpectUsableAgain();
}

TEST(NntpFaults, ACrawlingServerIsEndedByAbortAtOnceOrByTheTimeOut) {
    const QByteArray crawling = "S: 200 ready\nC: LIST\nT: 100\nS~ 215 list follows, very slowly";
    Client aborted(crawling);
    QTimer::singleShot(350, &aborted.nntp, [&] { aborted.nntp.Abort(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(MessageOf<EAbortError>([&] { aborted.nntp.GetGroupList(); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_LT(elapsed.elapsed(), 1500);
    EXPECT_FALSE(aborted.nntp.Busy);

    Client timed(crawling);
    timed.nntp.TimeOut = 800;
    elapsed.restart();
    EXPECT_EQ(MessageOf<EAbortError>([&] { timed.nntp.GetGroupList(); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_GE(elapsed.elapsed(), 700);
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_FALSE(timed.nntp.Busy);
}

TEST(NntpFaults, AnOperationEndedInsideAReplyDropsTheConnectionAndTheNextReadsItsOwnReply) {
    const QByteArray slowArticle = "C: ARTICLE 1\nS: 220 1 <1@x>\nS: Subject: one\nS: \n"
                                   "S: first of one\nW: 1500\nS: tail of one\nS: .\n";
    struct Case {
        const char* name;
        QByteArray conversation;
        std::function<void(TQRNNTP&)> interrupted;
    };
    const QList<Case> cases = {
        {"abort", "S: 200 ready\n" + slowArticle,
         [](TQRNNTP& nntp) {
             QTimer::singleShot(300, &nntp, [&nntp] { nntp.Abort(); });
             nntp.GetArticle(1);
         }},
        {"time-out", "S: 200 ready\n" + slowArticle,
         [](TQRNNTP& nntp) {
             nntp.TimeOut = 500;
             nntp.GetArticle(1);
         }},
        {"failure",
         "S: 200 ready\nC: LIST\nS: 215 list\nS: a.b 2 1 y\nS: c.d x y y\nW: 300\n"
         "S: e.f 2 1 y\nS: .\n",
         [](TQRNNTP& nntp) {
             nntp.OnGroupListUpdate = [](const QByteArray&, int, int, bool) {};
             nntp.GetGroupList();
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        FakeServer server;
        server.AddScript(test.conversation);
        server.AddScript("S: 200 again\nC: ARTICLE 2\nS: 220 2 <2@x>\nS: Subject: two\nS: \n"
                         "S: body of two\nS: .");
        TQRNNTP nntp;
        nntp.Host = QStringLiteral("127.0.0.1");
        nntp.Port = server.Port();
        nntp.TimeOut = 3000;
        QStringList statuses;
        nntp.OnDisconnect = [&](QObject*) { statuses << QStringLiteral("Disconnected"); };
        nntp.OnConnectionRequired = [&](bool& handled) {
            nntp.Connect();
            handled = true;
        };
        nntp.Connect();
        EXPECT_THROW(test.interrupted(nntp), Exception);
        EXPECT_FALSE(nntp.Busy);
        EXPECT_FALSE(nntp.Connected);
        EXPECT_EQ(statuses, QStringList{QStringLiteral("Disconnected")});

        nntp.TimeOut = 3000;
        nntp.GetArticle(2);
        EXPECT_EQ(nntp.HeaderLines.Text(), "Subject: two\r\n\r\nArtId: 2\r\n");
        EXPECT_EQ(nntp.BodyLines.Text(), "body of two\r\n.\r\n");
        EXPECT_FALSE(server.Received().contains("QUIT")); // no command into a half-read reply
        EXPECT_TRUE(server.Failures().isEmpty()) << server.Failures().join(u'\n').toStdString();
    }
}

TEST(NntpFaults, AReplyThatNeverEndsIsEndedByTheTimeOut) {
    Client c("S: 200 ready\nC: LIST\nS: 215 list follows\nS: a.b 2 1 y\nS: c.d 2 1 y");
    c.nntp.TimeOut = 600;
    int groups = 0;
    c.nntp.OnGroupListUpdate = [&](const QByteArray&, int, int, bool) { ++groups; };
    EXPECT_EQ(MessageOf<EAbortError>([&] { c.nntp.GetGroupList(); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_EQ(groups, 2);
    EXPECT_FALSE(c.nntp.Busy);
}

TEST(NntpFaults, AGreetingThatIsNoReplyIsNoNewsServer) {
    FakeServer server;
    server.AddScript("R: \\x01\\xff garbage without a code\\r\\nC: QUIT\nS: 205 bye");
    TQRNNTP nntp;
    nntp.Host = QStringLiteral("127.0.0.1");
    nntp.Port = server.Port();
    nntp.TimeOut = 5000;
    int connects = 0;
    nntp.OnConnect = [&](QObject*) { ++connects; };
    EXPECT_EQ(MessageOf<ESockError>([&] { nntp.Connect(); }), QStringLiteral("Log in to server failed"));
    EXPECT_EQ(connects, 0);
    EXPECT_FALSE(nntp.Connected);
}

TEST(NntpFaults, HugeLinesAndArticlesAreReadWhole) {
    // A 20 MB line, then a 50 MB article through a receive buffer of 1 MiB, so that most of
    // it passes through the overflow file.
    const QByteArray hugeLine(20'000'000, 'x');
    QByteArray article = "220 1 <1@x>\r\nSubject: big\r\n\r\n";
    const QByteArray bodyLine = QByteArray(78, 'y') + "\r\n";
    for (int i = 0; i < 50'000'000 / 80; ++i) {
        article += bodyLine;
    }
    article += ".\r\n";
    FakeServer server;
    server.AddScript("S: 200 ready\nC: HELP\nR: 100 " + hugeLine + "\\r\\n\nC: ARTICLE 1\nR: " +
                     article.replace("\r\n", "\\r\\n"));
    TQRNNTP nntp;
    nntp.Host = QStringLiteral("127.0.0.1");
    nntp.Port = server.Port();
    nntp.TimeOut = 60000;
    nntp.Connect();
    nntp.SetFifoCapacity(1 << 20);
    EXPECT_EQ(nntp.Transaction("HELP").size(), 4 + hugeLine.size() + 2);
    nntp.GetArticle(1);
    EXPECT_EQ(nntp.BodyLines.Count(), 50'000'000 / 80 + 1);
    EXPECT_EQ(nntp.BodyLines[0], bodyLine.chopped(2));
    EXPECT_EQ(nntp.BodyLines.Last(), ".");
}
