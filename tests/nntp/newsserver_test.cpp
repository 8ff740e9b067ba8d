// Checks the local news server itself, with a plain socket: that it runs as the other tests
// expect, and that the facts in newsserver.h still match what the seeding put there.

#include "newsserver.h"

#include <QList>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr int kWaitMilliseconds = 10000;

// One reader connection, line by line, line ends removed.
class Session {
public:
    explicit Session(quint16 port) {
        socket_.connectToHost(NewsServer::HostName(), port);
        if (socket_.waitForConnected(kWaitMilliseconds)) {
            greeting_ = ReadLine();
        }
    }

    ~Session() {
        if (socket_.state() == QAbstractSocket::ConnectedState) {
            socket_.write("QUIT\r\n");
            socket_.waitForBytesWritten(kWaitMilliseconds);
        }
    }

    const QByteArray& Greeting() const { return greeting_; }

    QByteArray Command(const QByteArray& line) {
        socket_.write(line + "\r\n");
        socket_.flush();
        return ReadLine();
    }

    // Sends an article after a 340 reply; its lines must already be dot-stuffed.
    QByteArray SendArticle(const QByteArray& stuffedLines) {
        socket_.write(stuffedLines + ".\r\n");
        socket_.flush();
        return ReadLine();
    }

    // The lines of a multi-line reply up to the terminating ".", exactly as sent.
    QList<QByteArray> ReadDataLines() {
        QList<QByteArray> lines;
        for (QByteArray line = ReadLine(); line != "."; line = ReadLine()) {
            if (line.isNull()) {
                ADD_FAILURE() << "the multi-line reply ended without its \".\" line";
                break;
            }
            lines.append(line);
        }
        return lines;
    }

    // A null array when nothing arrives in time.
    QByteArray ReadLine() {
        while (!socket_.canReadLine()) {
            if (!socket_.waitForReadyRead(kWaitMilliseconds)) {
                return QByteArray();
            }
        }
        QByteArray line = socket_.readLine();
        line.chop(line.endsWith("\r\n") ? 2 : 1);
        return line;
    }

private:
    QTcpSocket socket_;
    QByteArray greeting_;
};

// The value of a header field in a list of header lines, continuation lines joined.
QByteArray HeaderValue(const QList<QByteArray>& head, const QByteArray& name) {
    QByteArray value;
    bool inField = false;
    for (const QByteArray& line : head) {
        if (inField && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += line;
            continue;
        }
        inField = line.toLower().startsWith(name.toLower() + ": ");
        if (inField) {
            value = line.mid(name.size() + 2);
        }
    }
    return value;
}

std::string GroupReply(Session& session, const char* group) {
    return session.Command("GROUP " + QByteArray(group)).toStdString();
}

// GROUP's reply for a group that holds articles 1 to count and nothing else.
std::string SeededGroupReply(const char* group, int count) {
    const std::string number = std::to_string(count);
    return "211 " + number + " 1 " + number + " " + group;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Uudecodes data lines: the check of what the seeded blocks hold.
QByteArray Uudecoded(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines) {
        const int count = (line[0] - ' ') & 63;
        const QByteArray data = line.mid(1).leftJustified((count + 2) / 3 * 4, ' ');
        const auto sextet = [&](int at) { return (data[at] - ' ') & 63; };
        QByteArray decoded;
        for (int i = 0; i + 3 < data.size(); i += 4) {
            const int group =
                sextet(i) << 18 | sextet(i + 1) << 12 | sextet(i + 2) << 6 | sextet(i + 3);
            decoded += static_cast<char>(group >> 16);
            decoded += static_cast<char>(group >> 8 & 0xff);
            decoded += static_cast<char>(group & 0xff);
        }
        bytes += decoded.left(count);
    }
    return bytes;
}

// The lines between the line that starts with begin and the next "end" line.
QList<QByteArray> BlockLines(const QList<QByteArray>& body, const QByteArray& begin) {
    QList<QByteArray> lines;
    bool inBlock = false;
    for (const QByteArray& line : body) {
        if (inBlock && line == "end") {
            break;
        }
        if (inBlock) {
            lines.append(line);
        }
        inBlock = inBlock || line.startsWith(begin);
    }
    return lines;
}

class LocalNewsServer : public ::testing::Test {
protected:
    void SetUp() override { ZK_REQUIRE_NEWS_SERVER_OR_SKIP(); }
};

} // namespace

TEST_F(LocalNewsServer, ReaderPortGreetsAndCarriesTheSeededGroups) {
    Session session(NewsServer::kPort);
    EXPECT_TRUE(session.Greeting().startsWith("200 ")) << session.Greeting().constData();
    EXPECT_EQ(GroupReply(session, NewsServer::kSmallGroup),
              SeededGroupReply(NewsServer::kSmallGroup, NewsServer::kSmallCount));
    EXPECT_EQ(GroupReply(session, NewsServer::kMiscGroup),
              SeededGroupReply(NewsServer::kMiscGroup, NewsServer::kMiscCount));
    EXPECT_EQ(GroupReply(session, NewsServer::kBinariesGroup),
              SeededGroupReply(NewsServer::kBinariesGroup, NewsServer::kBinariesCount));
    EXPECT_EQ(GroupReply(session, NewsServer::kYEncGroup),
              SeededGroupReply(NewsServer::kYEncGroup, NewsServer::kYEncCount));
    EXPECT_EQ(GroupReply(session, NewsServer::kManyGroup),
              SeededGroupReply(NewsServer::kManyGroup, NewsServer::kManyCount));
    EXPECT_EQ(GroupReply(session, NewsServer::kEmptyGroup), "211 0 1 0 zk.test.empty");
    // Tests post to this one, so only its start is fixed.
    const QList<QByteArray> post = session.Command("GROUP zk.test.post").split(' ');
    ASSERT_EQ(post.size(), 5);
    EXPECT_EQ(post[0], "211");
    EXPECT_GE(post[1].toInt(), NewsServer::kPostSeededCount);
    EXPECT_EQ(post[2], "1");
    // Seeded on request only, but always there.
    EXPECT_TRUE(StartsWith(GroupReply(session, NewsServer::kBigGroup), "211 "));
}

TEST_F(LocalNewsServer, AuthPortDemandsAuthinfoAndRejectsAWrongPassword) {
    Session session(NewsServer::kAuthPort);
    EXPECT_TRUE(session.Greeting().startsWith("200 ")) << session.Greeting().constData();
    EXPECT_EQ(GroupReply(session, NewsServer::kSmallGroup),
              "480 Authentication required for command");
    const QByteArray user = "AUTHINFO USER " + QByteArray(NewsServer::kUser);
    EXPECT_EQ(session.Command(user).toStdString(), "381 Enter password");
    EXPECT_EQ(session.Command("AUTHINFO PASS wrong-password").toStdString(),
              "481 Authentication failed");
    EXPECT_TRUE(StartsWith(GroupReply(session, NewsServer::kSmallGroup), "480 "));

    EXPECT_EQ(session.Command(user).toStdString(), "381 Enter password");
    EXPECT_EQ(session.Command("AUTHINFO PASS " + QByteArray(NewsServer::kPassword)).toStdString(),
              "281 Authentication succeeded");
    EXPECT_EQ(GroupReply(session, NewsServer::kSmallGroup),
              SeededGroupReply(NewsServer::kSmallGroup, NewsServer::kSmallCount));
}

TEST_F(LocalNewsServer, SeededArticlesSitAtTheNumbersTestsExpect) {
    const NewsServer::SeededArticle articles[] = {
        NewsServer::kWelcome,         NewsServer::kThreadStart,    NewsServer::kThreadReply1,
        NewsServer::kQuotedPrintable, NewsServer::kThreadReply2,   NewsServer::kBase64,
        NewsServer::kFoldedSubject,   NewsServer::kThreadReply3,   NewsServer::kDotLines,
        NewsServer::kUuencoded,       NewsServer::kLongReferences, NewsServer::kMultipart,
        NewsServer::kLatin1,          NewsServer::kCrosspost,      NewsServer::kNeedles,
        NewsServer::kSameNameTwice,   NewsServer::kBareLines,      NewsServer::kMode666,
        NewsServer::kYEncSingle,      NewsServer::kYEncPart1,      NewsServer::kYEncPart2,
    };
    Session session(NewsServer::kPort);
    for (const NewsServer::SeededArticle& article : articles) {
        SCOPED_TRACE(article.messageId);
        ASSERT_TRUE(StartsWith(GroupReply(session, article.group), "211 "));
        const std::string number = std::to_string(article.number);
        ASSERT_EQ(session.Command("HEAD " + QByteArray::number(article.number)).toStdString(),
                  "221 " + number + " " + article.messageId + " head");
        EXPECT_EQ(HeaderValue(session.ReadDataLines(), "Subject").toStdString(), article.subject);
    }
}

TEST_F(LocalNewsServer, SpecialHeadersArriveAsSeeded) {
    Session session(NewsServer::kPort);
    ASSERT_TRUE(StartsWith(GroupReply(session, NewsServer::kSmallGroup), "211 "));

    ASSERT_TRUE(session.Command("HEAD 11").startsWith("221 "));
    const QByteArray references = HeaderValue(session.ReadDataLines(), "References");
    EXPECT_EQ(references.size(), NewsServer::kLongReferencesLength);
    EXPECT_EQ(references.count('<'), NewsServer::kLongReferencesCount);

    ASSERT_TRUE(session.Command("HEAD 8").startsWith("221 "));
    EXPECT_EQ(HeaderValue(session.ReadDataLines(), "References").toStdString(),
              "<thread.1@zk.test> <thread.2@zk.test> <thread.3@zk.test>");

    ASSERT_TRUE(session.Command("HEAD 14").startsWith("221 "));
    EXPECT_EQ(HeaderValue(session.ReadDataLines(), "Xref").toStdString(),
              std::string(NewsServer::kPathHost) + " zk.test.small:14 zk.test.misc:9");
}

TEST_F(LocalNewsServer, BodyLinesStartingWithADotArriveDotStuffed) {
    Session session(NewsServer::kPort);
    ASSERT_TRUE(StartsWith(GroupReply(session, NewsServer::kSmallGroup), "211 "));
    ASSERT_EQ(session.Command("BODY 9").toStdString(), "222 9 <dots.1@zk.test> body");
    const QList<QByteArray> expected = {
        "The next lines start with a dot and are dot-stuffed on the wire.",
        "..profile is read by the login shell",
        "...double dot",
        "..",
        "The line above holds a single dot; the article does not end there.",
        "....",
        "Last line.",
    };
    EXPECT_TRUE(session.ReadDataLines() == expected);
}

TEST_F(LocalNewsServer, XoverGivesEightFieldsAndAFullXref) {
    Session session(NewsServer::kPort);
    ASSERT_TRUE(StartsWith(GroupReply(session, NewsServer::kManyGroup), "211 "));
    ASSERT_TRUE(session.Command("XOVER 749-750").startsWith("224 "));
    const QList<QByteArray> lines = session.ReadDataLines();
    ASSERT_EQ(lines.size(), 2);
    const QList<QByteArray> fields = lines[1].split('\t');
    ASSERT_EQ(fields.size(), 9);
    EXPECT_EQ(fields[0].toStdString(), "750");
    EXPECT_EQ(fields[1].toStdString(),
              NewsServer::GeneratedSubject(NewsServer::kManyGroup, 750).toStdString());
    EXPECT_EQ(fields[4].toStdString(),
              NewsServer::GeneratedMessageId(NewsServer::kManyTag, 750).toStdString());
    EXPECT_EQ(fields[5].toStdString(),
              "<many.746@zk.test> <many.747@zk.test> <many.748@zk.test> <many.749@zk.test>");
    EXPECT_EQ(fields[8].toStdString(), "Xref: news.zk.test zk.test.many:750");
    EXPECT_EQ(NewsServer::GeneratedSubject(NewsServer::kManyGroup, 746).toStdString(),
              "Topic 150 in zk.test.many");
}

TEST_F(LocalNewsServer, PostingIsOpenInThePostGroupOnly) {
    Session session(NewsServer::kPort);
    ASSERT_TRUE(session.Command("POST").startsWith("340 "));
    const QByteArray accepted = session.SendArticle("From: Newsserver Test <test@zk.test>\r\n"
                                                    "Newsgroups: zk.test.post\r\n"
                                                    "Subject: posted by the news server test\r\n"
                                                    "\r\n"
                                                    "..a stuffed first line\r\n");
    EXPECT_TRUE(accepted.startsWith("240 ")) << accepted.constData();

    ASSERT_TRUE(session.Command("POST").startsWith("340 "));
    const QByteArray refused = session.SendArticle("From: Newsserver Test <test@zk.test>\r\n"
                                                   "Newsgroups: zk.test.small\r\n"
                                                   "Subject: must be refused\r\n"
                                                   "\r\n"
                                                   "zk.test.small does not change.\r\n");
    EXPECT_TRUE(refused.startsWith("441 ")) << refused.constData();
    EXPECT_EQ(GroupReply(session, NewsServer::kSmallGroup),
              SeededGroupReply(NewsServer::kSmallGroup, NewsServer::kSmallCount));
}

TEST_F(LocalNewsServer, EncodedBodiesHoldWhatTheConstantsSay) {
    Session session(NewsServer::kPort);
    const auto body = [&](const NewsServer::SeededArticle& article) {
        EXPECT_TRUE(StartsWith(GroupReply(session, article.group), "211 "));
        EXPECT_TRUE(
            session.Command("BODY " + QByteArray::number(article.number)).startsWith("222 "));
        return session.ReadDataLines();
    };

    EXPECT_EQ(QByteArray::fromBase64(body(NewsServer::kBase64).join()).toStdString(),
              NewsServer::kBase64Text);
    EXPECT_EQ(QByteArray::fromPercentEncoding(body(NewsServer::kQuotedPrintable).value(0), '=')
                  .toStdString(),
              NewsServer::kQuotedPrintableFirstLine);

    const QList<QByteArray> multipart = body(NewsServer::kMultipart);
    const qsizetype base64Start = multipart.indexOf("Content-Transfer-Encoding: base64") + 3;
    const qsizetype base64End = multipart.lastIndexOf("--zk-boundary-42--");
    ASSERT_LT(base64Start, base64End);
    EXPECT_TRUE(
        QByteArray::fromBase64(multipart.mid(base64Start, base64End - base64Start).join()) ==
        NewsServer::AllByteValues());

    EXPECT_TRUE(Uudecoded(BlockLines(body(NewsServer::kUuencoded), "begin 644 zk-bytes.bin")) ==
                NewsServer::AllByteValues());
    EXPECT_EQ(Uudecoded(BlockLines(body(NewsServer::kSameNameTwice), "begin 644 zk-twice.txt"))
                  .toStdString(),
              NewsServer::kTwiceText);
    EXPECT_EQ(
        Uudecoded(BlockLines(body(NewsServer::kMode666), "begin 666 zk-mode666.txt")).toStdString(),
        NewsServer::kMode666Text);
    QList<QByteArray> fullLines = body(NewsServer::kBareLines);
    fullLines.removeIf([](const QByteArray& line) { return line.size() != 61; });
    EXPECT_EQ(fullLines.size(), 2);
    EXPECT_EQ(Uudecoded(fullLines).toStdString(), NewsServer::kBareLinesText);
}
