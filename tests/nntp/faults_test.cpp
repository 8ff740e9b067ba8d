// A server that dies or crawls in the middle of an operation: the operation ends with a clear
// message, Busy is released, nothing the caller composed is lost, and a new Connect works.
#include "nntp/qrnntp.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "wait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr char kAgain[] = "S: 200 back again\nC: GROUP a.b\nS: 211 1 1 1 a.b";

// A connected client without a time-out, so that nothing but the close may end its waits, and
// a server that plays conversation and then, to the next connection, kAgain.
struct Client : ScriptedNntp {
    explicit Client(const QByteArray& conversation) : ScriptedNntp({conversation, kAgain}) {
        nntp.TimeOut = 0;
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
    // The reply line takes 10 s to arrive. A wait slice is 300 ms, so a working abort or
    // time-out ends the read well inside the 3 s allowed below, which leave room for a busy
    // machine and still catch a read that went on to the end of the line.
    const QByteArray crawling =
        "S: 200 ready\nC: LIST\nT: 200\nS~ 215 list follows, very slowly, a byte at a time";
    Client aborted(crawling);
    QElapsedTimer elapsed;
    qint64 abortedAt = -1;
    QTimer::singleShot(350, &aborted.nntp, [&] {
        abortedAt = elapsed.elapsed();
        aborted.nntp.Abort();
    });
    elapsed.start();
    EXPECT_EQ(MessageOf<EAbortError>([&] { aborted.nntp.GetGroupList(); }),
              QStringLiteral("Socket readln aborted"));
    ASSERT_GE(abortedAt, 0);
    EXPECT_LT(elapsed.elapsed() - abortedAt, 3000);
    EXPECT_FALSE(aborted.nntp.Busy);

    Client timed(crawling);
    timed.nntp.TimeOut = 800;
    elapsed.restart();
    EXPECT_EQ(MessageOf<EAbortError>([&] { timed.nntp.GetGroupList(); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_GE(elapsed.elapsed(), 700);
    EXPECT_LT(elapsed.elapsed(), 800 + 3000);
    EXPECT_FALSE(timed.nntp.Busy);
}

TEST(NntpFaults, AnOperationEndedInsideAReplyDropsTheConnectionAndTheNextReadsItsOwnReply) {
    // The tail of the article is held back far longer than the time-out below, and the abort
    // comes with the first body line: the reply is never complete when the operation ends.
    const QByteArray slowArticle = "C: ARTICLE 1\nS: 220 1 <1@x>\nS: Subject: one\nS: \n"
                                   "S: first of one\nW: 60000\nS: tail of one\nS: .\n";
    struct Case {
        const char* name;
        QByteArray conversation;
        std::function<void(TQRNNTP&)> interrupted;
    };
    const QList<Case> cases = {
        {"abort", "S: 200 ready\n" + slowArticle,
         [](TQRNNTP& nntp) {
             nntp.OnPacketRecvd = [&nntp](QObject*) { nntp.Abort(); };
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
        ScriptedNntp c({test.conversation,
                        "S: 200 again\nC: ARTICLE 2\nS: 220 2 <2@x>\nS: Subject: two\nS: \n"
                        "S: body of two\nS: ."});
        TQRNNTP& nntp = c.nntp;
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
        nntp.OnPacketRecvd = nullptr;
        nntp.GetArticle(2);
        EXPECT_EQ(nntp.HeaderLines.Text(), "Subject: two\r\n\r\nArtId: 2\r\n");
        EXPECT_EQ(nntp.BodyLines.Text(), "body of two\r\n.\r\n");
        EXPECT_FALSE(c.server.Received().contains("QUIT")); // no command into a half-read reply
        c.ExpectScriptPlayed();
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
    ScriptedNntp c({"R: \\x01\\xff garbage without a code\\r\\nC: QUIT\nS: 205 bye"});
    c.nntp.TimeOut = 5000;
    EXPECT_EQ(MessageOf<ESockError>([&] { c.nntp.Connect(); }),
              QStringLiteral("Log in to server failed"));
    EXPECT_TRUE(c.events.isEmpty());
    EXPECT_FALSE(c.nntp.Connected);
}

TEST(NntpFaults, HugeLinesAndArticlesAreReadWhole) {
    // The longest line a reply may have, then a 50 MB article through a receive buffer of
    // 1 MiB, so that most of both passes through the overflow file.
    const QByteArray hugeLine(TNetwire::kMaxLineLength - 6, 'x');
    QByteArray article = "220 1 <1@x>\r\nSubject: big\r\n\r\n";
    const QByteArray bodyLine = QByteArray(78, 'y') + "\r\n";
    for (int i = 0; i < 50'000'000 / 80; ++i) {
        article += bodyLine;
    }
    article += ".\r\n";
    ScriptedNntp c({"S: 200 ready\nC: HELP\nR: 100 " + hugeLine + "\\r\\n\nC: ARTICLE 1\nR: " +
                    article.replace("\r\n", "\\r\\n")});
    TQRNNTP& nntp = c.nntp;
    nntp.TimeOut = 60000;
    nntp.Connect();
    nntp.SetFifoCapacity(1 << 20);
    EXPECT_EQ(nntp.Transaction("HELP").size(), TNetwire::kMaxLineLength);
    nntp.GetArticle(1);
    EXPECT_EQ(nntp.BodyLines.Count(), 50'000'000 / 80 + 1);
    EXPECT_EQ(nntp.BodyLines[0], bodyLine.chopped(2));
    EXPECT_EQ(nntp.BodyLines.Last(), ".");
}

namespace {

// n bytes of header lines, without the empty line that would end the header.
QByteArray EndlessHeader(qint64 n) {
    const QByteArray line = "X-Junk: " + QByteArray(90, 'j') + "\\r\\n";
    QByteArray lines;
    lines.reserve(n / 100 * line.size() + line.size());
    for (qint64 sent = 0; sent < n; sent += 100) {
        lines += line;
    }
    return lines;
}

} // namespace

// A server that sends a line or a header without end: the operation ends as soon as the limit
// is passed, with the connection dropped (its replies can no longer be read in step), and the
// next operation connects anew. The server holds the connection open, and the time-out is far
// above what reading the bytes on loopback takes: only a client that waits for the end reaches
// it.
TEST(NntpFaults, ALineOrAHeaderWithoutEndIsCutAtItsLimitAndTheConnectionDropped) {
    const QByteArray pastLineLimit(TNetwire::kMaxLineLength + 1, 'a');
    const QByteArray pastHeaderLimit = EndlessHeader(TQRNNTP::kMaxHeaderBytes + 1000);
    struct Case {
        const char* what;
        QByteArray conversation;
        std::function<void(TQRNNTP&)> operation;
        const char* message;
        qint64 fifoCapacity = 0; // 0: as it comes
    };
    const Case cases[] = {
        {"a line without an end", "C: LIST\nS: 215 list follows\nR: " + pastLineLimit,
         [](TQRNNTP& nntp) { nntp.GetGroupList(); }, "Reply line too long"},
        {"the same through the overflow file", "C: LIST\nS: 215 list follows\nR: " + pastLineLimit,
         [](TQRNNTP& nntp) { nntp.GetGroupList(); }, "Reply line too long", 1 << 20},
        {"a reply line too long that ends", "C: GROUP a.b\nR: 211 " + pastLineLimit + "\\r\\n",
         [](TQRNNTP& nntp) { nntp.SetGroup("a.b"); }, "Reply line too long"},
        {"an article header without end",
         "C: ARTICLE 1\nS: 220 1 <1@x>\nR: " + pastHeaderLimit,
         [](TQRNNTP& nntp) { nntp.GetArticle(1); }, "Article header too long"},
        {"a HEAD reply without end", "C: HEAD 1\nS: 221 1 <1@x>\nR: " + pastHeaderLimit,
         [](TQRNNTP& nntp) { nntp.GetArticleHeader(1); }, "Article header too long"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        Client c("S: 200 ready\n" + test.conversation);
        c.nntp.TimeOut = 60000;
        if (test.fifoCapacity > 0) {
            c.nntp.SetFifoCapacity(test.fifoCapacity);
        }
        EXPECT_EQ(MessageOf<NNTPError>([&] { test.operation(c.nntp); }),
                  QString::fromLatin1(test.message));
        // Memory stays bounded: at most the limit and the one line that passed it are kept.
        EXPECT_LE(c.nntp.HeaderLines.Text().size(),
                  TQRNNTP::kMaxHeaderBytes + TNetwire::kMaxLineLength);
        EXPECT_FALSE(c.server.Received().contains("QUIT"));
        c.ExpectUsableAgain();
        c.ExpectScriptPlayed();
    }
}

TEST(NntpFaults, AGreetingLineTooLongEndsTheConnectWithoutQuit) {
    ScriptedNntp c({"R: 200 " + QByteArray(TNetwire::kMaxLineLength, 'g') + "\nC: QUIT\nS: 205 bye"});
    c.nntp.TimeOut = 60000; // far above reading 8 MiB on loopback: only a hang reaches it
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.Connect(); }),
              QStringLiteral("Reply line too long"));
    EXPECT_FALSE(c.nntp.Connected);
    EXPECT_TRUE(c.events.isEmpty());
    EXPECT_TRUE(WaitUntil([&] { return c.server.OpenConnections() == 0; }));
    EXPECT_TRUE(c.server.Received().isEmpty());
}
