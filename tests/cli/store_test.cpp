// The store commands of zknews-cli against the scripted fake server and without any server:
// what sync asks the server for, what the store then answers offline, read marks and .newsrc
// files, and how a missing or unusable store fails.
#include "clirun.h"
#include "script.h"
#include "scriptedclient.h"
#include "testfiles.h"

#include "store/newsstore.h"

#include <gtest/gtest.h>

namespace {

QStringList Words(const QByteArray& text) {
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

// A store of the test's own, and zknews-cli run with it, online against a fake server or
// offline. The server plays one conversation per connection, on one port: the store keeps
// what it holds per host and port, so every run of a test talks to the same server.
struct StoreSession : ScriptedServer {
    TestDir files;

    explicit StoreSession(std::initializer_list<QByteArray> conversations = {})
        : ScriptedServer(conversations) {}

    QString StorePath() const { return files.Path("news.db"); }

    CliResult Run(const QByteArray& command) {
        return RunCliWith(Words("--timeout 10000 --port " + QByteArray::number(server.Port()) +
                                " --store ") +
                          QStringList{StorePath()} + Words(command));
    }
    CliResult Offline(const QByteArray& command) { return Run("--offline " + command); }
};

const QByteArray kGroup = "misc.test";

QByteArray SyncConversation(int low, int high, int from) {
    return script::Greeting() + script::Group(kGroup, low, high) +
           (from <= high ? script::Overview(from, high, script::Summaries(from, high))
                         : QByteArray()) +
           script::Quit();
}

} // namespace

// Each sync asks for the numbers above the stored high mark only; numbers the server expired
// leave the store, and a group the server numbered anew is fetched again whole, its read marks
// forgotten with the articles they were about.
TEST(CliStore, SyncFetchesOnlyWhatIsNewAndFollowsExpiryAndRenumbering) {
    struct Step {
        const char* what;
        int low;
        int high;
        int xoverFrom; // past high: no XOVER at all
        const char* printed;
        const char* unread; // subscriptions after the step, with 1-2 marked read before it
    };
    const Step steps[] = {
        {"first sync", 1, 5, 1, "misc.test\t5\t5\n", "misc.test\t3\n"},
        {"nothing new", 1, 5, 6, "misc.test\t0\t5\n", "misc.test\t3\n"},
        {"three new", 1, 8, 6, "misc.test\t3\t8\n", "misc.test\t6\n"},
        {"1-3 expired", 4, 9, 9, "misc.test\t1\t6\n", "misc.test\t6\n"},
        {"renumbered", 1, 3, 1, "misc.test\t3\t3\n", "misc.test\t3\n"},
    };
    StoreSession session;
    for (const Step& step : steps) {
        session.server.AddScript(SyncConversation(step.low, step.high, step.xoverFrom));
    }
    ASSERT_EQ(session.Run("subscribe misc.test").status, kExitSuccess);
    bool marked = false;
    for (const Step& step : steps) {
        const CliResult sync = session.Run("sync");
        EXPECT_EQ(sync.status, kExitSuccess) << step.what << ": " << sync.err.constData();
        EXPECT_EQ(sync.out, step.printed) << step.what;
        if (!marked) {
            ASSERT_EQ(session.Run("mark-read misc.test 1-2").status, kExitSuccess);
            marked = true;
        }
        EXPECT_EQ(session.Run("subscriptions").out, step.unread) << step.what;
        session.ExpectScriptPlayed();
    }
    // What the renumbered group holds now is the server's new 1-3, nothing of before.
    EXPECT_EQ(session.Offline("summary misc.test --all").out.count('\n'), 3);
}

TEST(CliStore, OfflineAnswersAreWhatTheServerGaveByteForByte) {
    const QByteArray header = "From: Ann <ann@example>\nSubject: Hello\nMessage-ID: <7@example>";
    const QByteArray body = "first line\n..dotted line\n\nlast line";
    const QByteArray summaries =
        "S: 7\tHello\tAnn <ann@example>\tMon, 1 Jan 2024\t<7@example>\t\t120\t4\tXref: x 7\n"
        "S: 8\tRe: Hello\tbob@example\tTue, 2 Jan 2024\t<8@example>\t<7@example>\t99\t1\n";
    const QByteArray online = script::Greeting() + script::Group(kGroup, 7, 8) +
                              script::Overview(7, 8, summaries) + script::Quit();
    const QByteArray article =
        script::Greeting() + script::Group(kGroup, 7, 8) + script::Article(7, header, body) +
        script::Quit();
    StoreSession session({online, article});
    const CliResult listing = session.Run("summary misc.test --all");
    ASSERT_EQ(listing.status, kExitSuccess) << listing.err.constData();
    const CliResult fetched = session.Run("article misc.test 7");
    ASSERT_EQ(fetched.status, kExitSuccess) << fetched.err.constData();
    session.ExpectScriptPlayed();

    EXPECT_EQ(session.Offline("summary misc.test --all").out, listing.out);
    EXPECT_EQ(session.Offline("summary misc.test").out, listing.out);
    EXPECT_EQ(session.Offline("article misc.test 7").out, fetched.out);
    const QByteArray storedHeader = session.Offline("head misc.test 7").out;
    const QByteArray storedBody = session.Offline("body misc.test 7").out;
    EXPECT_EQ(storedHeader + "\r\n" + storedBody, fetched.out);
    EXPECT_EQ(storedBody, "first line\r\n.dotted line\r\n\r\nlast line\r\n");
    // Fetching an article does not mark it read.
    EXPECT_EQ(session.Offline("summary misc.test --new").out, listing.out);
    ASSERT_EQ(session.Run("mark-read misc.test 7").status, kExitSuccess);
    EXPECT_EQ(session.Offline("summary misc.test --new").out,
              listing.out.sliced(listing.out.indexOf('\n') + 1));
    ASSERT_EQ(session.Run("mark-unread misc.test 7-8").status, kExitSuccess);
    EXPECT_EQ(session.Offline("summary misc.test --new").out, listing.out);
}

// With a store named, an article it holds is printed from there: the next run asks the
// server only to select the group.
TEST(CliStore, AStoredArticleIsPrintedFromTheStore) {
    const QByteArray fetched = script::Greeting() + script::Group(kGroup, 1, 1) +
                               script::Article(1, "Subject: One", "body one") + script::Quit();
    const QByteArray selectedOnly = script::Greeting() + script::Group(kGroup, 1, 1) +
                                    script::Quit();
    StoreSession session({fetched, selectedOnly});
    const CliResult first = session.Run("article misc.test 1");
    ASSERT_EQ(first.status, kExitSuccess) << first.err.constData();
    const CliResult again = session.Run("article misc.test 1");
    EXPECT_EQ(again.status, kExitSuccess) << again.err.constData();
    EXPECT_EQ(again.out, first.out);
    session.ExpectScriptPlayed();
}

TEST(CliStore, SyncWithArticlesKeepsEachNewArticleAndSkipsOneThatIsGone) {
    const QByteArray conversation =
        script::Greeting() + script::Group(kGroup, 1, 2) +
        script::Overview(1, 2, script::Summaries(1, 2)) +
        script::Article(1, "Subject: One\nMessage-ID: <1@example>", "body one") +
        "C: ARTICLE 2\nS: 423 no such article\n" + script::Quit();
    StoreSession session({conversation});
    const CliResult sync = session.Run("sync misc.test --articles");
    EXPECT_EQ(sync.status, kExitSuccess) << sync.err.constData();
    EXPECT_EQ(sync.out, "misc.test\t2\t2\n");
    session.ExpectScriptPlayed();
    EXPECT_EQ(session.Offline("body misc.test 1").out, "body one\r\n");
    EXPECT_EQ(session.Offline("body misc.test 2").status, kExitFailure);
}

// --threads prints the listed lines in the thread order of every summary the store holds of
// the group, the depth in the thread as a ninth field: online after keeping the listing, and
// offline alike. --from and --new leave lines out, not their places in the threads.
TEST(CliStore, ThreadsOrderTheLinesByReferencesWithTheDepthLast) {
    const QByteArrayList summaries = {
        "S: 1\tHello\tann@example\tMon, 1 Jan 2024\t<1@x>\t\t10\t1\n",
        "S: 2\tRe: Hello\tbob@example\tMon, 1 Jan 2024\t<2@x>\t<1@x>\t10\t1\n",
        "S: 3\tOther\tcid@example\tMon, 1 Jan 2024\t<3@x>\t\t10\t1\n",
        "S: 4\tRe: Hello\tann@example\tMon, 1 Jan 2024\t<4@x>\t<1@x> <2@x> <gone@x>\t10\t1\n",
        "S: 5\tRe: Hello\tdan@example\tMon, 1 Jan 2024\t<5@x>\t<1@x>\t10\t1\n",
        "S: 6\tRe: Other\tann@example\tTue, 2 Jan 2024\t<6@x>\t<3@x>\t10\t1\n",
    };
    const auto listing = [&](int from) {
        return script::Greeting() + script::Group(kGroup, 1, 6) +
               script::Overview(from, 6, summaries.mid(from - 1).join()) + script::Quit();
    };
    StoreSession session({listing(1), listing(3)});
    const CliResult all = session.Run("summary misc.test --all --threads");
    ASSERT_EQ(all.status, kExitSuccess) << all.err.constData();
    const QByteArrayList plain = session.Offline("summary misc.test --all").out.split('\n');
    ASSERT_EQ(plain.size(), 7);
    const auto threaded = [&](std::initializer_list<std::pair<int, int>> places) {
        QByteArray lines;
        for (const auto& [number, depth] : places) {
            lines += plain[number - 1] + '\t' + QByteArray::number(depth) + '\n';
        }
        return lines;
    };
    EXPECT_EQ(all.out, threaded({{1, 0}, {2, 1}, {4, 2}, {5, 1}, {3, 0}, {6, 1}}));
    const CliResult fromThree = session.Run("summary misc.test --from 3 --threads");
    EXPECT_EQ(fromThree.out, threaded({{4, 2}, {5, 1}, {3, 0}, {6, 1}}))
        << fromThree.err.constData();
    session.ExpectScriptPlayed();

    EXPECT_EQ(session.Offline("summary misc.test --all --threads").out, all.out);
    ASSERT_EQ(session.Run("mark-read misc.test 1-2,6").status, kExitSuccess);
    EXPECT_EQ(session.Offline("summary misc.test --threads --new").out,
              threaded({{4, 2}, {5, 1}, {3, 0}}));
    EXPECT_TRUE(session.Offline("summary misc.test --threads --decoded").out.endsWith("\t1\n"));
}

// A server without overview data lists by HEAD, which the store does not keep: the listing
// makes its own threads, every line printed once.
TEST(CliStore, ThreadsOfAServerWithoutOverviewDataComeFromTheListing) {
    const auto head = [](int number, const char* asked, const char* fields) {
        return "C: HEAD " + QByteArray(asked) + "\nS: 221 " + QByteArray::number(number) +
               " <" + QByteArray::number(number) + "@x> head\n" + fields + "S: .\n";
    };
    StoreSession session({script::Greeting() + script::Group(kGroup, 4, 6) +
                          "C: XOVER 4-6\nS: 500 what?\n" +
                          head(4, "4", "S: Subject: Four\nS: Message-ID: <4@x>\n") +
                          head(5, "5", "S: Subject: Other\nS: Message-ID: <5@x>\n") +
                          head(6, "6",
                               "S: Subject: Re: Four\nS: Message-ID: <6@x>\n"
                               "S: References: <4@x>\n") +
                          script::Quit()});
    const CliResult result = session.Run("summary misc.test --threads");
    EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
    EXPECT_EQ(result.out, "4\t\tFour\t\t<4@x>\t\t\t\t0\n"
                          "6\t\tRe: Four\t\t<6@x>\t<4@x>\t\t\t1\n"
                          "5\t\tOther\t\t<5@x>\t\t\t\t0\n");
    session.ExpectScriptPlayed();
}

// A group the server does not have fails on its own; the others are synced all the same.
TEST(CliStore, SyncGoesOnPastAGroupTheServerDoesNotHave) {
    StoreSession session({script::Greeting() + "C: GROUP a.gone\nS: 411 no such group\n" +
                          script::Group("b.here", 1, 1) +
                          script::Overview(1, 1, script::Summaries(1, 1)) + script::Quit()});
    ASSERT_EQ(session.Run("subscribe a.gone b.here").status, kExitSuccess);
    const CliResult sync = session.Run("sync");
    EXPECT_EQ(sync.status, kExitFailure);
    EXPECT_EQ(sync.out, "b.here\t1\t1\n");
    EXPECT_EQ(sync.err, "zknews-cli: a.gone: Invalid Group\n");
    session.ExpectScriptPlayed();
}

// Nothing goes to any server offline (port 1 has none: a try would fail differently), and what
// the store lacks fails with a message that names it.
TEST(CliStore, OfflineWithNothingStoredFailsClearly) {
    TestDir files;
    const QString store = files.Path("news.db");
    const struct {
        const char* command;
        const char* message;
    } cases[] = {
        {"summary misc.test", "zknews-cli: --offline: the store %1 holds nothing of misc.test\n"},
        {"article misc.test 3", "zknews-cli: --offline: the store %1 holds nothing of misc.test\n"},
        {"head misc.test 3", "zknews-cli: --offline: the store %1 holds nothing of misc.test\n"},
        {"groups", "zknews-cli: --offline: groups needs the server\n"},
        {"sync", "zknews-cli: --offline: sync needs the server\n"},
        {"post x", "zknews-cli: --offline: post needs the server\n"},
    };
    for (const auto& test : cases) {
        const CliResult result = RunCliWith(QStringList{QStringLiteral("--port"), QStringLiteral("1"),
                                                        QStringLiteral("--store"), store,
                                                        QStringLiteral("--offline")} +
                                            Words(test.command));
        EXPECT_EQ(result.status, kExitFailure) << test.command;
        EXPECT_EQ(result.err, QString::fromLatin1(test.message).arg(store).toLocal8Bit())
            << test.command;
        EXPECT_TRUE(result.out.isEmpty()) << test.command;
    }
    // A group the store knows, without the article asked for.
    ASSERT_EQ(RunCliWith(QStringList{QStringLiteral("--store"), store} +
                         Words("mark-read misc.test 1-5"))
                  .status,
              kExitSuccess);
    const CliResult article = RunCliWith(QStringList{QStringLiteral("--store"), store,
                                                     QStringLiteral("--offline")} +
                                         Words("article misc.test 3"));
    EXPECT_EQ(article.err, "zknews-cli: --offline: article 3 of misc.test is not in the store " +
                               store.toLocal8Bit() + "\n");
}

// A file that is no store fails every command that needs it with a message naming the file;
// a listing that only keeps what it fetched still prints the server's answer.
TEST(CliStore, AJunkStoreFileFailsTheCommandsThatNeedItOnly) {
    StoreSession session({script::Greeting() + script::Group(kGroup, 1, 2) +
                          script::Overview(1, 2, script::Summaries(1, 2)) + script::Quit()});
    session.files.Write("news.db", QByteArray(4096, 'j'));
    for (const char* command : {"subscribe misc.test", "unsubscribe misc.test", "subscriptions",
                                "sync", "mark-read misc.test", "mark-unread misc.test 1",
                                "newsrc export", "summary misc.test --new",
                                "summary misc.test --threads",
                                "--offline summary misc.test"}) {
        const CliResult result = session.Run(command);
        EXPECT_EQ(result.status, kExitFailure) << command;
        EXPECT_TRUE(result.err.startsWith("zknews-cli: ")) << command;
        EXPECT_TRUE(result.err.contains(session.StorePath().toLocal8Bit()))
            << command << ": " << result.err.constData();
        EXPECT_EQ(result.err.count('\n'), 1) << command << ": " << result.err.constData();
    }
    const CliResult listing = session.Run("summary misc.test");
    EXPECT_EQ(listing.status, kExitSuccess);
    EXPECT_EQ(listing.out.count('\n'), 2);
    EXPECT_TRUE(listing.err.contains(session.StorePath().toLocal8Bit())) << listing.err.constData();
    session.ExpectScriptPlayed();
    EXPECT_EQ(session.files.Read("news.db"), QByteArray(4096, 'j'));
}

TEST(CliStore, NewsrcExportAndImportRoundTrip) {
    StoreSession first;
    for (const char* command : {"subscribe zk.b zk.a", "mark-read zk.a 1-100,105",
                                "mark-read zk.b", "mark-read zk.c 3-4,7", "unsubscribe zk.b"}) {
        ASSERT_EQ(first.Run(command).status, kExitSuccess) << command;
    }
    const QByteArray expected = "zk.a: 1-100,105\nzk.b!\nzk.c! 3-4,7\n";
    EXPECT_EQ(first.Run("newsrc export").out, expected);
    const QString newsrc = first.files.Path("newsrc");
    ASSERT_EQ(first.Run("newsrc export " + newsrc.toLocal8Bit()).status, kExitSuccess);
    EXPECT_EQ(first.files.Read("newsrc"), expected);

    // As tin and slrn write it: blanks and a CR here and there are no matter.
    StoreSession second;
    second.files.Write("newsrc", "zk.a:1-100, 105\r\n\nzk.b!\nzk.c!  3-4,7\n");
    const CliResult imported = second.Run("newsrc import " + second.files.Path("newsrc").toLocal8Bit());
    ASSERT_EQ(imported.status, kExitSuccess) << imported.err.constData();
    EXPECT_EQ(second.Run("newsrc export").out, expected);
    EXPECT_EQ(second.Run("subscriptions").out, "zk.a\t0\n");

    // A bad line anywhere changes nothing and names the file and the line.
    second.files.Write("bad", "zk.d: 1-3\nzk.a 1-5\n");
    const CliResult bad = second.Run("newsrc import " + second.files.Path("bad").toLocal8Bit());
    EXPECT_EQ(bad.status, kExitFailure);
    EXPECT_EQ(bad.err, "zknews-cli: " + second.files.Path("bad").toLocal8Bit() +
                           ", line 2: not a .newsrc line: zk.a 1-5\n");
    second.files.Write("bad", "zk.d: 5-1\n");
    EXPECT_EQ(second.Run("newsrc import " + second.files.Path("bad").toLocal8Bit()).status,
              kExitFailure);
    EXPECT_EQ(second.Run("newsrc export").out, expected);
}

// The store file: --store FILE, else $ZKNEWS_STORE, else $XDG_DATA_HOME/zknews/news.db.
TEST(CliStore, TheStoreFileComesFromTheOptionTheVariableOrTheDataFolder) {
    TestDir files;
    const QByteArray savedStore = qgetenv("ZKNEWS_STORE");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const struct {
        const char* variable; // empty: unset
        const char* option;   // empty: none
        const char* expected;
    } cases[] = {
        {"", "", "data/zknews/news.db"},
        {"variable.db", "", "variable.db"},
        {"variable.db", "option.db", "option.db"},
        {"", "option.db", "option.db"},
    };
    qputenv("XDG_DATA_HOME", files.Path("data").toLocal8Bit());
    for (const auto& test : cases) {
        if (*test.variable != '\0') {
            qputenv("ZKNEWS_STORE", files.Path(test.variable).toLocal8Bit());
        } else {
            qunsetenv("ZKNEWS_STORE");
        }
        const QStringList option = *test.option != '\0'
                                       ? QStringList{QStringLiteral("--store"), files.Path(test.option)}
                                       : QStringList();
        const QByteArray group = QByteArray("g.") + test.expected;
        EXPECT_EQ(RunCliWith(option + QStringList{QStringLiteral("subscribe"),
                                                  QString::fromLatin1(group)})
                      .status,
                  kExitSuccess);
        EXPECT_EQ(RunCliWith(QStringList{QStringLiteral("--store"), files.Path(test.expected),
                                         QStringLiteral("subscriptions")})
                      .out,
                  group + "\t0\n")
            << test.expected;
        QFile::remove(files.Path(test.expected));
    }
    qputenv("ZKNEWS_STORE", savedStore);
    if (savedStore.isNull()) {
        qunsetenv("ZKNEWS_STORE");
    }
    qputenv("XDG_DATA_HOME", savedData);
    if (savedData.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    }
}

// An argument that starts with "<" names the article by Message-ID alone: the store answers
// what it holds of the server, in any group, the server the rest (ARTICLE <id>), and an id
// neither has fails with exit status 1. Online or offline, the answer is byte for byte the
// same as by number.
TEST(CliStore, ArticlesByMessageIdFromTheStoreElseTheServer) {
    const QByteArray header = "From: Ann <ann@example>\nSubject: Hello\nMessage-ID: <7@example>";
    const QByteArray body = "first line\n..dotted line";
    const QByteArray fetchByNumber = script::Greeting() + script::Group(kGroup, 7, 7) +
                                     script::Article(7, header, body) + script::Quit();
    const QByteArray none = script::Greeting() + script::Quit();
    const QByteArray otherGroup =
        "C: ARTICLE <9@elsewhere>\nS: 220 0 <9@elsewhere>\nS: Subject: from elsewhere\nS: \n"
        "S: other body\nS: .\n";
    const QByteArray unknown = "C: ARTICLE <gone@x>\nS: 430 no such article\n";
    struct Step {
        const char* command;
        QByteArray conversation; // empty: no connection at all
        int status;
        const char* printed; // what out holds (0) or err starts with (else)
    };
    const Step steps[] = {
        {"article misc.test 7", fetchByNumber, kExitSuccess, nullptr},
        {"article <7@example>", none, kExitSuccess, "From: Ann"},
        {"head <7@example>", none, kExitSuccess, "From: Ann"},
        {"body <7@example>", none, kExitSuccess, "first line\r\n.dotted line\r\n"},
        {"--offline article <7@example>", {}, kExitSuccess, "From: Ann"},
        {"article <9@elsewhere>", script::Greeting() + otherGroup + script::Quit(), kExitSuccess,
         "Subject: from elsewhere\r\n\r\nother body\r\n"},
        {"article <gone@x>", script::Greeting() + unknown, kExitFailure,
         "zknews-cli: No such article <gone@x>\n"},
        {"--offline article <gone@x>", {}, kExitFailure, "zknews-cli: --offline: no article <gone@x>"},
        {"article <9@elsewhere> 3", {}, kExitUsage, "zknews-cli: usage: zknews-cli article"},
    };
    StoreSession session;
    for (const Step& step : steps) {
        if (!step.conversation.isEmpty()) {
            session.server.AddScript(step.conversation);
        }
    }
    QByteArray byNumber;
    for (const Step& step : steps) {
        const CliResult result = session.Run(step.command);
        SCOPED_TRACE(step.command);
        EXPECT_EQ(result.status, step.status) << result.err.constData();
        if (step.printed == nullptr) {
            byNumber = result.out;
        } else if (QByteArray(step.command).contains("article <7@example>")) {
            EXPECT_EQ(result.out, byNumber);
        } else if (step.status == kExitSuccess) {
            EXPECT_TRUE(result.out.startsWith(step.printed)) << result.out.constData();
        } else {
            EXPECT_TRUE(result.err.startsWith(step.printed)) << result.err.constData();
        }
        session.ExpectScriptPlayed();
    }
}

// A malformed Message-ID is refused with its reason before any server is asked.
TEST(CliStore, MalformedMessageIdsAreRefusedBeforeAnythingIsSent) {
    StoreSession session;
    for (const char* id : {"<a b@x>", "<a@x>\r\nQUIT", "<ab.x>", "<a@x", "<a\x7f@x>"}) {
        SCOPED_TRACE(id);
        for (const char* command : {"article", "head", "body"}) {
            const CliResult result = RunCliWith(
                Words("--timeout 10000 --port " + QByteArray::number(session.server.Port())) +
                QStringList{QString::fromLatin1(command), QString::fromLatin1(id)});
            EXPECT_EQ(result.status, kExitUsage);
            EXPECT_TRUE(result.err.startsWith("zknews-cli: Not a Message-ID: '"))
                << result.err.constData();
            EXPECT_FALSE(result.err.sliced(0, result.err.size() - 1).contains('\n'));
        }
    }
    EXPECT_TRUE(session.server.Received().isEmpty());
}

// search reads the store alone: one line per hit, newest first, decoded; no hit is no line
// and success; text the search cannot read is said on standard error.
TEST(CliStore, SearchPrintsTheStoredHitsNewestFirst) {
    StoreSession session;
    {
        TNewsStore store(session.StorePath());
        const qint64 server = store.ServerId(QStringLiteral("127.0.0.1"), session.server.Port());
        store.AddSummaries(
            store.GroupId(server, kGroup),
            {{1, "1\tKernel news\t=?UTF-8?Q?J=C3=BCrgen?= <j@example>\tMon, 7 Dec 2026 10:00:00 "
                 "+0000\t<1@x>\t\t100\t2"},
             {2, "2\tRe: Kernel news\tBob <b@example>\tTue, 8 Dec 2026 10:00:00 +0000\t<2@x>\t"
                 "<1@x>\t100\t2"}});
        store.AddSummaries(store.GroupId(server, "other.test"),
                           {{7, "7\tCaf\xc3\xa9 kernel\tEve <e@example>\tSun, 6 Dec 2026 "
                                "10:00:00 +0000\t<7@x>\t\t100\t2"}});
        store.AddSummaries(store.GroupId(store.ServerId(QStringLiteral("127.0.0.2"), 119), kGroup),
                           {{3, "3\tKernel elsewhere\tZed <z@example>\tx\t<3@x>\t\t100\t2"}});
    }
    const QByteArray bob = "misc.test\t2\tBob <b@example>\tRe: Kernel news\n";
    const QByteArray jurgen = "misc.test\t1\tJ\xc3\xbcrgen <j@example>\tKernel news\n";
    const QByteArray eve = "other.test\t7\tEve <e@example>\tCaf\xc3\xa9 kernel\n";
    struct Case {
        QList<const char*> command;
        int status;
        QByteArray out;
        QByteArray err;
    };
    const Case cases[] = {
        {{"search", "kernel"}, kExitSuccess, bob + jurgen + eve, ""},
        {{"search", "cafe"}, kExitSuccess, eve, ""},
        {{"search", "\"kernel news\" NOT re"}, kExitSuccess, jurgen, ""},
        {{"search", "kernel", "--group", "other.test"}, kExitSuccess, eve, ""},
        {{"search", "kernel", "--limit", "2"}, kExitSuccess, bob + jurgen, ""},
        {{"search", "elsewhere"}, kExitSuccess, "", ""},
        {{"search", "AND"}, kExitFailure, "",
         "zknews-cli: Search text not understood: AND (\"AND\" cannot stand there)\n"},
        {{"search"}, kExitUsage, "", ""},
        {{"search", "kernel", "--limit", "some"}, kExitUsage, "", ""},
    };
    for (const Case& test : cases) {
        QStringList command =
            Words("--offline --port " + QByteArray::number(session.server.Port()) + " --store");
        command << session.StorePath();
        for (const char* argument : test.command) {
            command << QString::fromUtf8(argument);
        }
        const CliResult result = RunCliWith(command);
        const QByteArray what = command.join(u' ').toUtf8();
        EXPECT_EQ(result.status, test.status) << what.constData() << ": " << result.err.constData();
        EXPECT_EQ(result.out, test.out) << what.constData();
        if (test.status != kExitUsage) {
            EXPECT_EQ(result.err, test.err) << what.constData();
        }
    }
}
