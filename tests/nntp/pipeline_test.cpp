// Pipelined retrieval and listing: several commands in flight, their replies read in order,
// each checked against its command, and a connection that is either left in step or dropped.
#include "nntp/qrnntp.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "wait.h"

#include <functional>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray Numbered(const char* text, int number) {
    return text + QByteArray::number(number);
}

QByteArray Command(int number) {
    return "C: ARTICLE " + QByteArray::number(number) + '\n';
}

QByteArray Reply(int number) {
    return script::ArticleReply(number, Numbered("Subject: s", number), Numbered("body ", number));
}

QByteArray Commands(int first, int last) {
    QByteArray lines;
    for (int number = first; number <= last; ++number) {
        lines += Command(number);
    }
    return lines;
}

QList<int> Range(int first, int last) {
    QList<int> numbers;
    for (int number = first; number <= last; ++number) {
        numbers.append(number);
    }
    return numbers;
}

// The first case pauses after its first reply, while the client's next command arrives.
// After every case article 9 is retrieved one by one: on the same connection when the
// pipeline left it in step, else on the next one.
const QByteArray kNine = Command(9) + Reply(9);
const QByteArray kAgain = "S: 200 again\n" + kNine;

// What FetchArticles reported: "1+" for an article found, "2-" for one missing, and for each
// article the lines the server had received from the client when it was reported.
struct Fetch {
    QStringList reported;
    QList<int> receivedWhenReported;
    QString error;
};

Fetch RunFetch(ScriptedNntp& c, const QList<int>& numbers,
               const std::function<bool(int)>& goOn = {}) {
    Fetch fetch;
    try {
        c.nntp.FetchArticles(numbers, TQRNNTP::TRetrieval::Whole, [&](int number, bool found) {
            fetch.reported << QString::number(number) + (found ? u'+' : u'-');
            fetch.receivedWhenReported << static_cast<int>(c.server.Received().size());
            EXPECT_EQ(found ? c.nntp.HeaderLines.GetValue("Subject") : QByteArray(),
                      found ? Numbered("s", number) : QByteArray());
            return !goOn || goOn(number);
        });
    } catch (const Exception& error) {
        fetch.error = error.Message();
    }
    return fetch;
}

} // namespace

TEST(NntpPipeline, FaultsInTheMiddleEndTheRetrievalOrAreSkippedAndTheConnectionStaysUsable) {
    const QString outOfStep = u"Reply out of step: ARTICLE 2 expects "_s;
    struct Case {
        const char* name;
        int depth;
        QList<int> numbers;
        QByteArray conversation;
        QString reported;
        QString error;
        bool dropped;
        // Called with each article reported; false stops.
        std::function<bool(TQRNNTP&, int)> goOn;
    };
    const QList<Case> cases = {
        {"all found, three in flight",
         3,
         Range(1, 5),
         Commands(1, 3) + Reply(1) + "W: 100\n" + Command(4) + Reply(2) + Command(5) + Reply(3) +
             Reply(4) + Reply(5) + kNine,
         u"1+ 2+ 3+ 4+ 5+"_s,
         QString(),
         false,
         {}},
        {"another article's reply",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + Reply(3),
         u"1+"_s,
         outOfStep + u"220 2; the server sent \"220 3 <3@example>\""_s,
         true,
         {}},
        {"a reply that fits no retrieval",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 215 list follows\n",
         u"1+"_s,
         outOfStep + u"220 or a refusal; the server sent \"215 list follows\""_s,
         true,
         {}},
        {"a reply cut short",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 220 2 <2@example>\nS: Subject: s2\nX:\n",
         u"1+"_s,
         u"The connection closed before the reply to ARTICLE 2 came whole"_s,
         true,
         {}},
        {"the connection closed between replies",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "X:\n",
         u"1+"_s,
         u"The connection closed before the reply to ARTICLE 2 came whole"_s,
         true,
         {}},
        {"the connection closed after the last reply, before the replies are read", 3, Range(1, 3),
         Commands(1, 3) + Reply(1) + Reply(2) + Reply(3) + "X:\n", u"1+ 2+ 3+"_s, QString(), true,
         [](TQRNNTP& nntp, int number) {
             if (number == 1) {
                 EXPECT_TRUE(WaitUntil([&] { return !nntp.Connected; }));
             }
             return true;
         }},
        {"a missing article in the middle",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 423 no such article\n" + Reply(3) + kNine,
         u"1+ 2- 3+"_s,
         QString(),
         false,
         {}},
        {"a refusal in the middle",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 502 not for you\n" + Reply(3) + kNine,
         u"1+"_s,
         u"Retreival Failed: ARTICLE 2 was answered \"502 not for you\""_s,
         false,
         {}},
        {"stopped with replies in flight", 3, Range(1, 5),
         Commands(1, 3) + Reply(1) + Command(4) + Reply(2) + Reply(3) + Reply(4) + kNine,
         u"1+ 2+"_s, QString(), false, [](TQRNNTP&, int number) { return number < 2; }},
        {"aborted in the middle", 3, Range(1, 3), Commands(1, 3) + Reply(1) + Reply(2) + Reply(3),
         u"1+"_s, u"Socket readln aborted"_s, true,
         [](TQRNNTP& nntp, int) {
             nntp.Abort();
             return true;
         }},
        {"login asked for in the middle",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 480 login\nS: 480 login\n" + Command(2) +
             "S: 480 login\nC: AUTHINFO USER u\nS: 381 more\nC: AUTHINFO PASS p\nS: 281 ok\n" +
             Command(2) + Reply(2) + Command(3) + Reply(3) + kNine,
         u"1+ 2+ 3+"_s,
         QString(),
         false,
         {}},
        {"the group lost in the middle",
         3,
         Range(1, 3),
         Commands(1, 3) + Reply(1) + "S: 412 no group\nS: 412 no group\n" + Command(2) +
             "S: 412 no group\n" + script::Group("a.b", 1, 9) + Command(2) + Reply(2) + Command(3) +
             Reply(3) + kNine,
         u"1+ 2+ 3+"_s,
         QString(),
         false,
         {}},
        {"depth 1 goes one by one",
         1,
         Range(1, 3),
         Command(1) + Reply(1) + Command(2) + Reply(2) + Command(3) + Reply(3) + kNine,
         u"1+ 2+ 3+"_s,
         QString(),
         false,
         {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedNntp c({"S: 200 ready\n" + test.conversation, kAgain});
        c.nntp.UserId = "u";
        c.nntp.Password = "p";
        c.nntp.CurrentGroup = "a.b";
        c.nntp.PipelineDepth = test.depth;
        c.nntp.OnConnectionRequired = [&](bool& handled) {
            c.nntp.Connect();
            handled = true;
        };
        c.nntp.Connect();
        const Fetch fetch = RunFetch(
            c, test.numbers, [&](int number) { return !test.goOn || test.goOn(c.nntp, number); });
        EXPECT_EQ(fetch.reported.join(u' '), test.reported);
        EXPECT_EQ(fetch.error, test.error);
        EXPECT_FALSE(c.nntp.Busy);
        EXPECT_EQ(c.nntp.Connected, !test.dropped);
        if (test.depth == 1) {
            // Each command went out once the reply before it was read.
            EXPECT_EQ(fetch.receivedWhenReported, (QList<int>{1, 2, 3}));
        }

        c.nntp.GetArticle(9);
        EXPECT_EQ(c.nntp.HeaderLines.GetValue("Subject"), "s9");
        EXPECT_EQ(c.server.Connections(), test.dropped ? 2 : 1);
        EXPECT_FALSE(c.server.Received().contains("QUIT"));
        c.ExpectScriptPlayed();
    }
}

TEST(NntpPipeline, SixteenCommandsGoOutBeforeTheFirstReplyIsRead) {
    // The server holds back its first reply until it has all sixteen commands: a client that
    // waited for a reply before sending the next command would wait until its time-out.
    QByteArray conversation = "S: 200 ready\n" + Commands(1, 16);
    for (int number = 1; number <= 20; ++number) {
        conversation += Reply(number);
        if (number + 16 <= 20) {
            conversation += Command(number + 16);
        }
    }
    ScriptedNntp c({conversation});
    QStringList events;
    c.nntp.OnArticle = [&](QObject*) {
        events << QString::fromLatin1(c.nntp.HeaderLines.GetValue("ArtId"));
    };
    QList<int> offered;
    c.nntp.OnArticleCacheUpdate = [&](bool&, int, const QByteArray&, const QByteArray&,
                                      const QByteArray&, const QByteArray&,
                                      int number) { offered << number; };
    c.nntp.Connect();
    ASSERT_EQ(c.nntp.PipelineDepth, 16);
    const Fetch fetch = RunFetch(c, Range(1, 20));
    EXPECT_EQ(fetch.error, QString());
    EXPECT_EQ(fetch.reported.size(), 20);
    EXPECT_EQ(fetch.receivedWhenReported.first(), 16);
    EXPECT_EQ(events.size(), 20);
    EXPECT_EQ(events.last(), u"20"_s);
    EXPECT_EQ(offered, Range(1, 20));
    EXPECT_EQ(c.nntp.LastArticleRequested, 20);
    EXPECT_EQ(c.nntp.BodyLines.Text(), "body 20\r\n.\r\n");
    EXPECT_TRUE(c.nntp.Connected);
    c.ExpectScriptPlayed();
}

TEST(NntpPipeline, ArticlesTheCacheHoldsAreNotAskedForAndAreReportedInTheirPlace) {
    ScriptedNntp c({"S: 200 ready\n" + Command(1) + Command(4) + Reply(1) + Reply(4)});
    c.nntp.CacheMode = TCacheMode::cmRemote;
    c.nntp.OnBodyCacheUpdate = [&](bool& handled) {
        const int number = c.nntp.RequestedArticle();
        if (number == 2 || number == 3) {
            c.nntp.HeaderLines.Clear();
            c.nntp.HeaderLines.Add(Numbered("Subject: s", number));
            c.nntp.BodyLines.Clear();
            c.nntp.BodyLines.Add("cached");
            handled = true;
        }
    };
    QStringList shown;
    c.nntp.OnArticle = [&](QObject*) {
        shown << QString::fromLatin1(c.nntp.HeaderLines.GetValue("Subject") + ' ' +
                                     c.nntp.BodyLines[0]);
    };
    c.nntp.Connect();
    const Fetch fetch = RunFetch(c, Range(1, 4));
    EXPECT_EQ(fetch.error, QString());
    EXPECT_EQ(fetch.reported.join(u' '), u"1+ 2+ 3+ 4+"_s);
    EXPECT_EQ(shown, (QStringList{u"s1 body 1"_s, u"s2 cached"_s, u"s3 cached"_s, u"s4 body 4"_s}));
    EXPECT_EQ(c.server.Received(), (QList<QByteArray>{"ARTICLE 1", "ARTICLE 4"}));
    c.ExpectScriptPlayed();
}

TEST(NntpPipeline, ALongListingInRangesGivesWhatOneXoverGives) {
    constexpr int kLast = 25000;
    const QByteArray summaries = script::Summaries(1, kLast);
    struct Listing {
        QByteArray lines;
        QList<qint64> progress;
        int reported = 0;
        // The commands the server had when the first thousand summaries were counted.
        QList<QByteArray> commandsAtFirstProgress;
    };
    const auto list = [&](int depth) {
        ScriptedNntp c({script::Greeting() + script::Group("g", 1, kLast) +
                        script::Overview(1, kLast, summaries, depth)});
        c.nntp.PipelineDepth = depth;
        Listing listing;
        c.nntp.OnListProgress = [&](qint64 received, qint64 announced) {
            EXPECT_EQ(announced, kLast);
            if (listing.progress.isEmpty()) {
                listing.commandsAtFirstProgress = c.server.Received();
                EXPECT_EQ(c.nntp.SummaryLines.Count(), received);
            }
            listing.progress << received;
        };
        c.nntp.OnHeaderList = [&](QObject*) { ++listing.reported; };
        c.nntp.Connect();
        c.nntp.SetGroup("g");
        c.nntp.GetArticleList(true, 0);
        listing.lines = c.nntp.SummaryLines.Text();
        c.ExpectScriptPlayed();
        return listing;
    };
    const Listing whole = list(1);
    const Listing ranged = list(16);
    EXPECT_EQ(whole.commandsAtFirstProgress.last(), "XOVER 1-25000");
    EXPECT_EQ(ranged.commandsAtFirstProgress.mid(1),
              (QList<QByteArray>{"XOVER 1-10000", "XOVER 10001-20000", "XOVER 20001-25000"}));
    EXPECT_TRUE(ranged.lines == whole.lines);
    EXPECT_TRUE(ranged.lines.endsWith("\t100\t3\r\n.\r\n"));
    EXPECT_EQ(ranged.progress, whole.progress);
    EXPECT_EQ(ranged.progress.size(), 26);
    EXPECT_EQ(ranged.reported, kLast);
}

TEST(NntpPipeline, AServerThatRefusesXoverGetsHeadForEveryArticleAsBefore) {
    // The shortest listing that goes in ranges: 10,001 numbers, two ranges.
    constexpr int kLast = TQRNNTP::kListingRange + 1;
    QByteArray conversation = script::Greeting() + script::Group("g", 1, kLast) +
                              script::XoverCommand(1, kLast - 1) +
                              script::XoverCommand(kLast, kLast) + "S: 500 what?\nS: 500 what?\n";
    for (int number = 1; number <= kLast; ++number) {
        conversation +=
            "C: HEAD " + QByteArray::number(number) + '\n' +
            (number == 2 ? "S: 221 2 <2@x>\nS: Subject: two\nS: .\n" : "S: 423 no such article\n");
    }
    ScriptedNntp c({conversation + "C: DATE\nS: 111 20260102030405\n"});
    int reported = 0;
    QByteArray second;
    c.nntp.OnHeaderList = [&](QObject*) {
        if (++reported == 2) {
            second = c.nntp.HeaderLines.GetValue("Subject");
        }
    };
    c.nntp.Connect();
    c.nntp.SetGroup("g");
    c.nntp.GetArticleList(true, 0);
    EXPECT_EQ(reported, kLast);
    EXPECT_EQ(second, "two");
    EXPECT_EQ(c.nntp.SummaryLines.Count(), 0);
    // The connection is in step for the next command.
    c.nntp.GetServerTime();
    c.ExpectScriptPlayed();
}
