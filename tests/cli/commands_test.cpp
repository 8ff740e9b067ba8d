// The network commands against the scripted fake server: what each prints, what it sends, and
// how each failure ends.
#include "clirun.h"
#include "scriptedclient.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// One fake server playing one conversation, and zknews-cli run against it.
struct Session : ScriptedServer {
    explicit Session(const QByteArray& conversation) : ScriptedServer({conversation}) {}

    CliResult Run(const QStringList& command, const QByteArray& password = {}) {
        return RunCliWith(
            AtPort(server.Port(),
                   QStringList{QStringLiteral("--timeout"), QStringLiteral("10000")} + command),
            {}, password);
    }
};

QStringList Words(const char* text) {
    return QString::fromLatin1(text).split(u' ');
}

const QByteArray kBye = "C: QUIT\nS: 205 bye\n";

} // namespace

TEST(CliCommands, GroupsPrintsTheNamesThatContainTheFilterInAnyCase) {
    const QByteArray list = "S: 200 ready\nC: LIST\nS: 215 list follows\n"
                            "S: alt.Test 3 1 y\nS: comp.lang 10 2 y\nS: ALT.binaries 5 1 n\nS: .\n";
    Session all(list + kBye);
    const CliResult everything = all.Run({QStringLiteral("groups")});
    EXPECT_EQ(everything.status, kExitSuccess);
    EXPECT_EQ(everything.out, "alt.Test\ncomp.lang\nALT.binaries\n");
    all.ExpectScriptPlayed();

    Session filtered(list + kBye);
    EXPECT_EQ(filtered.Run(Words("groups aLt.")).out, "alt.Test\nALT.binaries\n");

    // A refused LIST is not an empty server.
    Session refused("S: 200 ready\nC: LIST\nS: 502 no list for you\n");
    const CliResult failed = refused.Run({QStringLiteral("groups")});
    EXPECT_EQ(failed.status, kExitFailure);
    EXPECT_EQ(failed.err, "zknews-cli: Group list refused: 502 no list for you\n");
}

TEST(CliCommands, SummaryPrintsEightTabSeparatedFieldsPerArticle) {
    Session session("S: 200 ready\nC: GROUP misc.test\nS: 211 2 1 1000 misc.test\n"
                    "C: XOVER 500-1000\nS: 224 overview\n"
                    "S: 999\tHello\tAnn <ann@x>\tMon, 1 Jan 2024\t<1@x>\t\t1234\t20\tXref: x\n"
                    "S: 1000\tRe: Hello\tbob@x\tTue, 2 Jan 2024\t<2@x>\t<1@x>\t99\t3\n"
                    "S: .\n" +
                    kBye);
    const CliResult result = session.Run(Words("summary misc.test"));
    EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
    EXPECT_EQ(result.out, "999\tAnn <ann@x>\tHello\tMon, 1 Jan 2024\t<1@x>\t\t1234\t20\n"
                          "1000\tbob@x\tRe: Hello\tTue, 2 Jan 2024\t<2@x>\t<1@x>\t99\t3\n");
    session.ExpectScriptPlayed();

    for (const auto& [options, range] :
         {std::pair{"--all", "1-1000"}, std::pair{"--from 990", "990-1000"}}) {
        Session ranged("S: 200 ready\nC: GROUP misc.test\nS: 211 2 1 1000 misc.test\nC: XOVER " +
                       QByteArray(range) + "\nS: 224 overview\nS: .\n" + kBye);
        EXPECT_EQ(ranged.Run(Words("summary misc.test") + Words(options)).status, kExitSuccess);
        ranged.ExpectScriptPlayed();
    }
}

TEST(CliCommands, SummaryOfAServerWithoutXoverNumbersTheHeadsItGets) {
    Session session("S: 200 ready\nC: GROUP misc.test\nS: 211 2 4 5 misc.test\n"
                    "C: XOVER 4-5\nS: 500 what?\n"
                    "C: HEAD 4\nS: 423 no such article\n"
                    "C: HEAD 5\nS: 221 5 <5@x> head\nS: From: ann@x\nS: Subject: Five\n"
                    "S: Message-ID: <5@x>\nS: Bytes: 321\nS: Lines: 4\nS: .\n" +
                    kBye);
    const CliResult result = session.Run(Words("summary misc.test"));
    EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
    EXPECT_EQ(result.out, "5\tann@x\tFive\t\t<5@x>\t\t321\t4\n");
}

TEST(CliCommands, ArticleHeadAndBodyPrintTheArticleWithDotStuffingUndone) {
    const QByteArray header = "S: From: ann@x\nS: Subject: Dots\n";
    const QByteArray body = "S: ..profile\nS: ..\nS: ...\nS: last\nS: .\n";
    const QByteArray group = "S: 200 ready\nC: GROUP misc.test\nS: 211 1 1 7 misc.test\n";
    const QByteArray expectedHeader = "From: ann@x\r\nSubject: Dots\r\n";
    const QByteArray expectedBody = ".profile\r\n.\r\n..\r\nlast\r\n";

    Session article(group + "C: ARTICLE 7\nS: 220 7 <7@x> article\n" + header + "S: \n" + body +
                    kBye);
    const CliResult whole = article.Run(Words("article misc.test 7"));
    EXPECT_EQ(whole.status, kExitSuccess) << whole.err.constData();
    EXPECT_EQ(whole.out, expectedHeader + "\r\n" + expectedBody);

    Session head(group + "C: HEAD 7\nS: 221 7 <7@x> head\n" + header + "S: .\n" + kBye);
    EXPECT_EQ(head.Run(Words("head misc.test 7")).out, expectedHeader);

    Session bodyOnly(group + "C: BODY 7\nS: 222 7 <7@x> body\n" + body + kBye);
    EXPECT_EQ(bodyOnly.Run(Words("body misc.test 7")).out, expectedBody);
    bodyOnly.ExpectScriptPlayed();
}

TEST(CliCommands, FailuresEndWithTheClientsTextAndExitStatus1) {
    const QByteArray group = "S: 200 ready\nC: GROUP misc.test\n";
    const struct {
        QByteArray conversation;
        const char* command;
        QByteArray message;
    } cases[] = {
        {group + "S: 411 no such group\n", "article misc.test 3", "Invalid Group"},
        {group + "S: 211 1 1 7 misc.test\nC: ARTICLE 3\nS: 423 no such article\n",
         "article misc.test 3", "Article not Found"},
        {group + "S: 211 1 1 7 misc.test\nC: BODY 3\nS: 423 no such article\n", "body misc.test 3",
         "Retreival Failed"},
        {"S: 200 ready\nC: LIST\nS: 480 log in\nC: AUTHINFO USER fred\nS: 381 more\n"
         "C: AUTHINFO PASS wrong\nS: 481 rejected\n",
         "--user fred groups", "Authentication failed"},
        {"S: 502 go away\n" + kBye, "groups", "Log in to server failed"},
        // A GROUP never answered: the time-out leaves the connection and the greeting room on a
        // busy machine, so that only the unanswered command reaches it.
        {group, "--timeout 2000 summary misc.test", "Socket readln aborted"},
    };
    for (const auto& failure : cases) {
        Session session(failure.conversation);
        const CliResult result = session.Run(Words(failure.command), "wrong");
        EXPECT_EQ(result.status, kExitFailure) << failure.command;
        EXPECT_EQ(result.err, "zknews-cli: " + failure.message + "\n");
        EXPECT_TRUE(result.out.isEmpty());
        session.ExpectScriptPlayed();
    }
}

TEST(CliCommands, StatusLinesGoToStandardErrorWithThePasswordMasked) {
    Session session("S: 200 ready\nC: LIST\nS: 480 log in\nC: AUTHINFO USER fred\nS: 381 more\n"
                    "C: AUTHINFO PASS s3cret!\nS: 481 password s3cret! is wrong\n");
    const CliResult result = session.Run(Words("-v --user fred groups"), "s3cret!");
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_TRUE(result.err.contains("200 ready\n")) << result.err.constData();
    EXPECT_TRUE(result.err.contains("481 password ******** is wrong\n")) << result.err.constData();
    EXPECT_TRUE(result.err.endsWith("zknews-cli: Authentication failed\n"));
    EXPECT_FALSE(result.err.contains("s3cret")) << result.err.constData();
}

TEST(CliCommands, PostSendsTheFileWithItsAttachmentsAndPrintsTheReply) {
    QTemporaryDir dir;
    const QString article = dir.filePath(QStringLiteral("article.txt"));
    WriteFile(article, "Newsgroups: misc.test\r\nSubject: Hello\r\n\r\nFirst line\n.dot line\n");
    const QString attachment = dir.filePath(QStringLiteral("a.bin"));
    WriteFile(attachment, "abc");

    const QByteArray posting = "S: 200 ready\nC: POST\nS: 340 send it\n"
                               "C: Newsgroups: misc.test\nC: Subject: Hello\nC: \nC: \n"
                               "C: First line\nC: ..dot line\n"
                               "C: \nC: \nC: begin 666 a.bin\nC: #86)C\nC: end\nC: \nC: \n"
                               "C: .\n";
    Session accepted(posting + "S: 240 article posted ok\n" + kBye);
    const CliResult posted =
        accepted.Run({QStringLiteral("post"), article, QStringLiteral("--attach"), attachment});
    EXPECT_EQ(posted.status, kExitSuccess) << posted.err.constData();
    EXPECT_EQ(posted.out, "240 article posted ok\n");
    accepted.ExpectScriptPlayed();

    Session refused(posting + "S: 441 posting failed\n");
    const CliResult failed =
        refused.Run({QStringLiteral("post"), article, QStringLiteral("--attach"), attachment});
    EXPECT_EQ(failed.status, kExitFailure);
    EXPECT_EQ(failed.err, "zknews-cli: Posting Failed: 441 posting failed\n");

    // An attachment that cannot be read stops the post before anything is sent.
    Session untouched("S: 200 ready\n");
    const CliResult missing =
        untouched.Run({QStringLiteral("post"), article, QStringLiteral("--attach"),
                       dir.filePath(QStringLiteral("nope.bin"))});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_TRUE(missing.err.startsWith("zknews-cli: Cannot open file ")) << missing.err.constData();
    EXPECT_EQ(untouched.server.Connections(), 0);
}

TEST(CliCommands, ExtractWritesTheAttachmentsIntoTheDirectoryAndPrintsTheirNames) {
    QTemporaryDir dir;
    Session session("S: 200 ready\nC: GROUP misc.test\nS: 211 1 1 7 misc.test\n"
                    "C: ARTICLE 7\nS: 220 7 <7@x> article\nS: Subject: file\nS: \n"
                    "S: begin 644 abc.txt\nS: #86)C\nS: `\nS: end\nS: .\n" +
                    kBye);
    const CliResult result = session.Run(
        {QStringLiteral("extract"), QStringLiteral("misc.test"), QStringLiteral("7"), dir.path()});
    EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
    EXPECT_EQ(result.out, "abc.txt\n");
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("abc.txt"))), "abc");

    QTemporaryDir emptyDir;
    Session noParts("S: 200 ready\nC: GROUP misc.test\nS: 211 1 1 7 misc.test\n"
                    "C: ARTICLE 7\nS: 220 7 <7@x> article\nS: Content-Type: multipart/mixed;\n"
                    "S: \tboundary=\"B\"\nS: \nS: --not B\nS: .\n");
    const CliResult none = noParts.Run({QStringLiteral("extract"), QStringLiteral("misc.test"),
                                        QStringLiteral("7"), emptyDir.path()});
    EXPECT_EQ(none.status, kExitFailure);
    EXPECT_EQ(none.err, "zknews-cli: The article is declared multipart, but no part was found\n");
    EXPECT_TRUE(QDir(emptyDir.path()).isEmpty());

    // A yEnc file whose CRC32 does not match is kept, and named on stderr with status 1.
    QTemporaryDir damagedDir;
    Session damaged("S: 200 ready\nC: GROUP misc.test\nS: 211 1 1 7 misc.test\n"
                    "C: ARTICLE 7\nS: 220 7 <7@x> article\nS: Subject: file\nS: \n"
                    "S: =ybegin line=128 size=3 name=abc.bin\nS: \x8b\x8c\x8e\n"
                    "S: =yend size=3 crc32=352441c2\nS: .\n" +
                    kBye);
    const CliResult kept = damaged.Run({QStringLiteral("extract"), QStringLiteral("misc.test"),
                                        QStringLiteral("7"), damagedDir.path()});
    EXPECT_EQ(kept.status, kExitFailure);
    EXPECT_EQ(kept.out, "abc.bin\n");
    EXPECT_EQ(kept.err, "zknews-cli: CRC32 mismatch in abc.bin; the file is kept as decoded\n");
    EXPECT_EQ(FileBytes(damagedDir.filePath(QStringLiteral("abc.bin"))), "abd");
    damaged.ExpectScriptPlayed();

    Session untouched("S: 200 ready\n");
    const CliResult missing =
        untouched.Run({QStringLiteral("extract"), QStringLiteral("misc.test"), QStringLiteral("7"),
                       dir.filePath(QStringLiteral("nowhere"))});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_TRUE(missing.err.startsWith("zknews-cli: No such directory: "))
        << missing.err.constData();
    EXPECT_EQ(untouched.server.Connections(), 0);
}

TEST(CliCommands, CompressionIsAskedForUnlessRefusedBeforeOrTurnedOff) {
    const TestCompressionMemory memory;
    const QByteArray offered = "S: 200 ready\nC: CAPABILITIES\nS: 101 list\nS: COMPRESS DEFLATE\n"
                               "S: .\n";
    const QByteArray list = "C: LIST\nS: 215 list follows\nS: a.b 3 1 y\nS: .\n";
    struct Run {
        const char* name;
        QByteArray conversation;
        QStringList options;
        QByteArray told;
    };
    const Run runs[] = {
        {"compressed, -v says so", offered + "C: COMPRESS DEFLATE\nS: 206 active\nZ:\n" + list + kBye,
         {QStringLiteral("-v")}, "Compressed: DEFLATE"},
        {"--no-compress asks nothing", "S: 200 ready\n" + list + kBye,
         {QStringLiteral("--no-compress")}, ""},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        Session session(run.conversation);
        const CliResult result = session.Run(run.options + QStringList{QStringLiteral("groups")});
        EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
        EXPECT_EQ(result.out, "a.b\n");
        EXPECT_TRUE(result.err.contains(run.told)) << result.err.constData();
        EXPECT_EQ(session.server.UnscriptedCapabilities(), 0);
        session.ExpectScriptPlayed();
    }
    EXPECT_FALSE(QFile::exists(memory.Path()));

    // The same server twice: refused, then not asked at all.
    Session refusing(offered + "C: COMPRESS DEFLATE\nS: 403 not now\n" + list + kBye);
    refusing.server.AddScript("S: 200 ready\n" + list + kBye);
    const CliResult refused = refusing.Run({QStringLiteral("-v"), QStringLiteral("groups")});
    EXPECT_EQ(refused.status, kExitSuccess) << refused.err.constData();
    EXPECT_TRUE(refused.err.contains("The server refused compression (403 not now); the "
                                     "connection goes on uncompressed"))
        << refused.err.constData();
    EXPECT_EQ(FileBytes(memory.Path()),
              "127.0.0.1 " + QByteArray::number(refusing.server.Port()) + '\n');
    const CliResult next = refusing.Run({QStringLiteral("groups")});
    EXPECT_EQ(next.status, kExitSuccess) << next.err.constData();
    EXPECT_EQ(next.out, "a.b\n");
    EXPECT_EQ(refusing.server.UnscriptedCapabilities(), 0);
    refusing.ExpectScriptPlayed();
}
