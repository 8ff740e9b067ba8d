// zknews-cli against the local news server (INN) and its seeded groups.
#include "clirun.h"
#include "newsserver.h"
#include "testfiles.h"
#include "testhelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace NewsServer;

namespace {

QStringList Words(const QByteArray& text) {
    return QString::fromLatin1(text).split(u' ');
}

CliResult Cli(const QByteArray& command) {
    return RunCliWith(Words("--timeout 30000 " + command));
}

QByteArray Number(int number) {
    return QByteArray::number(number);
}

} // namespace

TEST(CliInn, GroupsAndSummaryOfTheSeededGroups) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const CliResult groups = Cli("groups TEST.SMALL");
    EXPECT_EQ(groups.status, kExitSuccess) << groups.err.constData();
    EXPECT_EQ(groups.out, QByteArray(kSmallGroup) + "\n");

    const CliResult summary = Cli("summary " + QByteArray(kSmallGroup));
    ASSERT_EQ(summary.status, kExitSuccess) << summary.err.constData();
    const QList<QByteArray> lines = summary.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), kSmallCount);
    for (const QByteArray& line : lines) {
        EXPECT_EQ(line.count('\t'), 7) << line.constData();
    }
    const QList<QByteArray> reply = lines[kThreadReply1.number - 1].split('\t');
    EXPECT_EQ(reply[0], Number(kThreadReply1.number));
    EXPECT_EQ(reply[2], kThreadReply1.subject);
    EXPECT_EQ(reply[4], kThreadReply1.messageId);
    EXPECT_EQ(reply[5], kThreadStart.messageId);
    EXPECT_GT(reply[6].toInt(), 0);
    EXPECT_GT(reply[7].toInt(), 0);
}

TEST(CliInn, ArticleIsHeadEmptyLineAndBodyWithDotLinesIntact) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const QByteArray where = QByteArray(kSmallGroup) + " " + Number(kDotLines.number);
    const CliResult article = Cli("article " + where);
    const CliResult head = Cli("head " + where);
    const CliResult body = Cli("body " + where);
    ASSERT_EQ(article.status, kExitSuccess) << article.err.constData();
    EXPECT_EQ(article.out, head.out + "\r\n" + body.out);
    EXPECT_TRUE(head.out.contains("Message-ID: " + QByteArray(kDotLines.messageId) + "\r\n"));
    EXPECT_TRUE(body.out.contains("\r\n.profile is read by the login shell\r\n..double dot\r\n"
                                  ".\r\n"));
    EXPECT_TRUE(body.out.endsWith("Last line.\r\n"));
}

TEST(CliInn, LoginRefusedGroupAndMissingArticleFailWithTheirTexts) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const QStringList login = Words("--port " + Number(kAuthPort) + " --user " + kUser + " groups");
    const CliResult wrong =
        RunCliWith(login + QStringList{QStringLiteral("zk.test.small")}, {}, "not-the-password");
    EXPECT_EQ(wrong.status, kExitFailure);
    EXPECT_EQ(wrong.err, "zknews-cli: Authentication failed\n");
    const CliResult right =
        RunCliWith(login + QStringList{QStringLiteral("zk.test.small")}, {}, kPassword);
    EXPECT_EQ(right.status, kExitSuccess) << right.err.constData();
    EXPECT_EQ(right.out, QByteArray(kSmallGroup) + "\n");

    const CliResult group = Cli("article zk.test.no-such-group 1");
    EXPECT_EQ(group.status, kExitFailure);
    EXPECT_EQ(group.err, "zknews-cli: Invalid Group\n");
    const CliResult article =
        Cli("article " + QByteArray(kSmallGroup) + " " + Number(kSmallCount + 100));
    EXPECT_EQ(article.status, kExitFailure);
    EXPECT_EQ(article.err, "zknews-cli: Article not Found\n");
}

TEST(CliInn, APostedAttachmentIsExtractedAgainByteForByte) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    QTemporaryDir dir;
    const QByteArray subject =
        "zknews-cli attachment " + Number(QDateTime::currentMSecsSinceEpoch());
    const QByteArray bytes = RandomBytes(5000, 9);
    const QString attachment = dir.filePath(QStringLiteral("zk-cli.bin"));
    const QString article = dir.filePath(QStringLiteral("article.txt"));
    for (const auto& [path, content] :
         {std::pair{attachment, bytes},
          std::pair{article, "Newsgroups: " + QByteArray(kPostGroup) +
                                 "\nFrom: Tester <tester@zk.test>\nSubject: " + subject +
                                 "\n\nOne file follows.\n.\nStill the body.\n"}}) {
        WriteFile(path, content);
    }
    const CliResult posted =
        RunCliWith({QStringLiteral("post"), article, QStringLiteral("--attach"), attachment});
    ASSERT_EQ(posted.status, kExitSuccess) << posted.err.constData();
    EXPECT_TRUE(posted.out.startsWith("240 ")) << posted.out.constData();

    // Its number, from the summary by its subject.
    const CliResult summary = Cli("summary " + QByteArray(kPostGroup) + " --all");
    QByteArray number;
    for (const QByteArray& line : summary.out.split('\n')) {
        if (line.split('\t').value(2) == subject) {
            number = line.split('\t').value(0);
        }
    }
    ASSERT_FALSE(number.isEmpty()) << summary.out.constData();

    QTemporaryDir into;
    const CliResult extracted =
        RunCliWith({QStringLiteral("extract"), QString::fromLatin1(kPostGroup),
                    QString::fromLatin1(number), into.path()});
    ASSERT_EQ(extracted.status, kExitSuccess) << extracted.err.constData();
    EXPECT_EQ(extracted.out, "zk-cli.bin\n");
    EXPECT_EQ(FileBytes(into.filePath(QStringLiteral("zk-cli.bin"))), bytes);

    const CliResult body = Cli("body " + QByteArray(kPostGroup) + " " + number);
    EXPECT_TRUE(body.out.startsWith("\r\nOne file follows.\r\n.\r\nStill the body.\r\n"))
        << body.out.left(80).constData();
}

TEST(CliInn, TlsAndStartTlsWithTheLocalCaAndACertificateNotTrustedEndsWithStatus1) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const QByteArray ca = " --ca-file " + QByteArray(kCaFile);
    for (const QByteArray& security : {"--tls" + ca, "--starttls" + ca}) {
        const CliResult groups = Cli(security + " groups TEST.SMALL");
        EXPECT_EQ(groups.status, kExitSuccess) << groups.err.constData();
        EXPECT_EQ(groups.out, QByteArray(kSmallGroup) + "\n");
    }

    const CliResult untrusted = Cli("--tls groups");
    EXPECT_EQ(untrusted.status, kExitFailure);
    EXPECT_TRUE(untrusted.err.startsWith("zknews-cli: Server certificate not trusted: "))
        << untrusted.err.constData();
    EXPECT_TRUE(untrusted.out.isEmpty());

    // The digest the refusal names is the one to trust.
    const qsizetype start = untrusted.err.indexOf("(SHA256:") + 1;
    const QByteArray fingerprint = untrusted.err.mid(start, untrusted.err.indexOf(')', start) - start);
    const CliResult pinned = Cli("--tls --trust-fingerprint " + fingerprint + " groups TEST.SMALL");
    EXPECT_EQ(pinned.status, kExitSuccess) << pinned.err.constData();
    EXPECT_EQ(pinned.out, QByteArray(kSmallGroup) + "\n");
}

TEST(CliInn, DecodedOutputReadsEveryCharsetOfTheDemoGroup) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const struct {
        SeededArticle article;
        QByteArray firstBodyLine;
    } cases[] = {
        {kUtf8Article, kUtf8FirstLine},
        {kUtf8QuotedPrintable,
         "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \xE2\x80\x94 quoted-printable UTF-8."},
        {kKoi8r, kKoi8rFirstLine},
        {kIso2022jp, "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\xE3\x80\x81"
                     "\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x82"},
        {kLatin1Base64, "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, caf\xC3\xA9 cr\xC3\xA8me."},
    };
    for (const auto& c : cases) {
        const QByteArray where = QByteArray(kCharsetsGroup) + " " + Number(c.article.number);
        const CliResult body = Cli("body " + where + " --decoded");
        ASSERT_EQ(body.status, kExitSuccess) << body.err.constData();
        EXPECT_EQ(body.out.split('\n').value(0), c.firstBodyLine) << c.article.messageId;
        // Without --decoded, the server's bytes.
        EXPECT_TRUE(Cli("head " + where).out.contains(c.article.subject)) << c.article.messageId;
    }
    const CliResult summary = Cli("summary " + QByteArray(kCharsetsGroup) + " --decoded");
    const QList<QByteArray> lines = summary.out.split('\n');
    ASSERT_GE(lines.size(), kCharsetsCount);
    EXPECT_EQ(lines[kUtf8Article.number - 1].split('\t').value(2), kUtf8Subject);
    EXPECT_EQ(lines[kTwoCharsets.number - 1].split('\t').value(2),
              "Gr\xC3\xBC\xC3\x9F" "e \xD0\xB8 \xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_TRUE(lines[kLongEncodedSubject.number - 1].contains(
        "Gr\xC3\xB6\xC3\x9F" "en\xC3\xA4nderung, \xC3\x9C" "bersicht"));
    const CliResult head =
        Cli("head " + QByteArray(kCharsetsGroup) + " " + Number(kKoi8r.number) + " --decoded");
    EXPECT_TRUE(head.out.contains("\nMessage-ID: <charsets.3@zk.test>\n")) << head.out.constData();
}

TEST(CliInn, AUtf8FileIsPostedDeclaredAndReadsBackTheSame) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    QTemporaryDir dir;
    const QByteArray stamp = Number(QDateTime::currentMSecsSinceEpoch());
    const QByteArray subject = "Gr\xC3\xBC\xC3\x9F" "e " + stamp;
    const QByteArray body = "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 Zo\xC3\xAB\n";
    const QString article = dir.filePath(QStringLiteral("article.txt"));
    WriteFile(article, "Newsgroups: " + QByteArray(kPostGroup) +
                           "\nFrom: Zo\xC3\xAB <zoe@zk.test>\nSubject: " + subject + "\n\n" + body);
    const CliResult posted = RunCliWith({QStringLiteral("post"), article});
    ASSERT_EQ(posted.status, kExitSuccess) << posted.err.constData();

    const CliResult summary = Cli("summary " + QByteArray(kPostGroup) + " --all --decoded");
    QByteArray number;
    for (const QByteArray& line : summary.out.split('\n')) {
        if (line.split('\t').value(2) == subject) {
            number = line.split('\t').value(0);
            EXPECT_EQ(line.split('\t').value(1), "Zo\xC3\xAB <zoe@zk.test>");
        }
    }
    ASSERT_FALSE(number.isEmpty()) << summary.out.constData();
    const QByteArray where = QByteArray(kPostGroup) + " " + number;
    const CliResult head = Cli("head " + where);
    EXPECT_TRUE(head.out.contains("Content-Type: text/plain; charset=UTF-8\r\n"));
    EXPECT_TRUE(head.out.contains("Subject: =?UTF-8?B?"));
    EXPECT_EQ(Cli("body " + where + " --decoded").out, "\n" + body);
}

TEST(CliInn, AYEncPartWaitsForItsFileWhichTheLastPartWritesWhole) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    QTemporaryDir into;
    const QString beside = into.filePath(QLatin1String(kYEncTwoPartsFileName));
    const auto extract = [&](const SeededArticle& part) {
        return RunCliWith({QStringLiteral("extract"), QString::fromLatin1(kYEncGroup),
                           QString::number(part.number), into.path()});
    };
    // The first part says on standard error what waits; a script may go on.
    const CliResult first = extract(kYEncPart1);
    EXPECT_EQ(first.status, kExitSuccess) << first.err.constData();
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(first.err, "zknews-cli: " + QByteArray(kYEncTwoPartsFileName) +
                             " waits for its other parts: 2560 of its 5000 bytes are here\n");
    EXPECT_FALSE(QFileInfo::exists(beside));

    const CliResult second = extract(kYEncPart2);
    EXPECT_EQ(second.status, kExitSuccess) << second.err.constData();
    EXPECT_EQ(second.out, QByteArray(kYEncTwoPartsFileName) + "\n");
    EXPECT_EQ(second.err, "");
    QFile file(beside);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == YEncDemoBytes(5000, 7));
    // The parts' working folder goes with them.
    EXPECT_EQ(QDir(into.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QLatin1String(kYEncTwoPartsFileName)});
}

// A Message-ID taken from an article's header (HEAD) names the same article in any group,
// without the group: the server's ARTICLE <id>, HEAD <id> and BODY <id> answer as by number.
TEST(CliInn, ArticlesByTheMessageIdsTheirHeadersGive) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    for (const QByteArray& article : {QByteArray(kSmallGroup) + " 1", QByteArray(kSmallGroup) + " 9",
                                      QByteArray(kMiscGroup) + " 2"}) {
        SCOPED_TRACE(article.constData());
        const CliResult head = Cli("head " + article);
        ASSERT_EQ(head.status, kExitSuccess) << head.err.constData();
        const qsizetype field = head.out.indexOf("\r\nMessage-ID: ");
        ASSERT_GE(field, 0) << head.out.constData();
        const qsizetype start = field + 14;
        const QByteArray id = head.out.mid(start, head.out.indexOf("\r\n", start) - start);
        for (const char* command : {"article ", "head ", "body "}) {
            const CliResult byNumber = Cli(command + article);
            const CliResult byId = Cli(command + id);
            EXPECT_EQ(byId.status, kExitSuccess) << byId.err.constData();
            EXPECT_EQ(byId.out, byNumber.out) << command;
        }
    }
    const CliResult unknown = Cli("article <never.posted@zk.test>");
    EXPECT_EQ(unknown.status, kExitFailure);
    EXPECT_EQ(unknown.err, "zknews-cli: No such article <never.posted@zk.test>\n");
}
