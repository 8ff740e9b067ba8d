// The news client against the real local news server (INN).
#include "nntp/qrnntp.h"

#include "newsserver.h"
#include "recordingpresenter.h"
#include "testfiles.h"
#include "testhelpers.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace NewsServer;

namespace {

class Inn : public ::testing::Test {
protected:
    void SetUp() override {
        ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
        nntp.Host = HostName();
        nntp.TimeOut = 30000;
        nntp.Connect();
    }
    void TearDown() override {
        if (nntp.Connected) {
            nntp.Disconnect();
        }
    }

    TQRNNTP nntp;
};

} // namespace

TEST_F(Inn, ListsGroupsSelectsAndSummarises) {
    QList<QByteArray> groups;
    nntp.OnGroupListUpdate = [&](const QByteArray& name, int, int, bool) { groups << name; };
    nntp.GetGroupList();
    EXPECT_TRUE(groups.contains(kSmallGroup));
    EXPECT_TRUE(groups.contains(kEmptyGroup));
    EXPECT_EQ(nntp.GroupLines.Count(), groups.size() + 1);

    nntp.SetGroup(kSmallGroup);
    EXPECT_EQ(nntp.CurrentGroup, kSmallGroup);
    EXPECT_EQ(nntp.FirstArticleNo, 1);
    EXPECT_EQ(nntp.LastArticleNo, kSmallCount);

    QList<QByteArray> subjects;
    QByteArray longReferences;
    nntp.OnHeaderList = [&](QObject*) {
        subjects << nntp.HeaderRecord.GetPrSubject();
        if (nntp.HeaderRecord.GetArticleId() == kLongReferences.number) {
            longReferences = nntp.HeaderLines.GetValue("References");
            EXPECT_GT(nntp.HeaderRecord.GetPrLineCount(), 0);
            EXPECT_GT(nntp.HeaderRecord.GetPrByteCount(), 0);
        }
    };
    nntp.GetArticleList(true, 0);
    ASSERT_EQ(subjects.size(), kSmallCount);
    EXPECT_EQ(subjects[0], kWelcome.subject);
    EXPECT_EQ(subjects[kThreadReply1.number - 1], kThreadReply1.subject);
    EXPECT_EQ(longReferences.size(), kLongReferencesLength);

    EXPECT_THROW(nntp.SetGroup("zk.test.no-such-group"), NNTPError);
    EXPECT_EQ(nntp.CurrentGroup, kSmallGroup);
}

// The server's clock is near ours; every test group was created after 1990 and none after a
// day from now.
TEST_F(Inn, TellsItsTimeAndTheGroupsCreatedSince) {
    const QDateTime serverTime = nntp.GetServerTime();
    // Both clocks are this machine's; a minute allows for a slow start of the server's reply.
    EXPECT_LE(std::abs(serverTime.secsTo(QDateTime::currentDateTimeUtc())), 60);
    QList<QByteArray> groups;
    nntp.OnGroupListUpdate = [&](const QByteArray& name, int, int, bool) { groups << name; };
    nntp.GetNewGroups(QDateTime(QDate(1990, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_TRUE(groups.contains(kSmallGroup));
    EXPECT_TRUE(groups.contains(kEmptyGroup));
    groups.clear();
    nntp.GetNewGroups(serverTime.addDays(1));
    EXPECT_TRUE(groups.isEmpty());
    EXPECT_EQ(nntp.GroupLines.Count(), 1);
}

TEST_F(Inn, FetchesArticlesHeadersAndBodiesWithDotsIntact) {
    nntp.SetGroup(kSmallGroup);
    nntp.GetArticle(kDotLines.number);
    EXPECT_EQ(nntp.HeaderLines.GetValue("Message-ID"), kDotLines.messageId);
    EXPECT_EQ(nntp.HeaderRecord.GetArticleId(), kDotLines.number);
    EXPECT_TRUE(nntp.BodyLines.Text().contains("\r\n.profile"));
    EXPECT_GE(nntp.BodyLines.IndexOf("..double dot"), 0);
    EXPECT_EQ(nntp.BodyLines.Last(), ".");

    nntp.GetArticleHeader(kFoldedSubject.number);
    EXPECT_EQ(nntp.HeaderLines.Last(), "ArtId: " + QByteArray::number(kFoldedSubject.number));
    nntp.GetArticleBody(kBase64.number);
    EXPECT_GT(nntp.BodyLines.Count(), 1);

    int invalid = 0;
    nntp.OnInvalidArticle = [&](QObject*) { ++invalid; };
    try {
        nntp.GetArticle(kSmallCount + 100);
        FAIL() << "a missing article must raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Article not Found"));
    }
    EXPECT_EQ(invalid, 1);
}

// The seeded group's articles, a missing number among them, pipelined and one by one: the
// same articles, lines and numbers.
TEST_F(Inn, FetchesTheSeededArticlesPipelinedAsOneByOne) {
    nntp.SetGroup(kSmallGroup);
    QList<int> numbers;
    for (int number = 1; number <= kSmallCount; ++number) {
        numbers << number;
    }
    numbers << kSmallCount + 100;
    QStringList oneByOne;
    for (const int number : numbers) {
        try {
            nntp.GetArticle(number);
            oneByOne << QString::fromLatin1(nntp.HeaderLines.Text() + nntp.BodyLines.Text());
        } catch (const Exception&) {
            oneByOne << QStringLiteral("missing %1").arg(number);
        }
    }
    QStringList pipelined;
    nntp.FetchArticles(numbers, TQRNNTP::TRetrieval::Whole, [&](int number, bool found) {
        pipelined << (found ? QString::fromLatin1(nntp.HeaderLines.Text() + nntp.BodyLines.Text())
                            : QStringLiteral("missing %1").arg(number));
        return true;
    });
    ASSERT_EQ(pipelined.size(), numbers.size());
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(pipelined[i], oneByOne[i]) << numbers[i];
    }
    EXPECT_EQ(pipelined.last(), QStringLiteral("missing %1").arg(kSmallCount + 100));
    EXPECT_TRUE(nntp.Connected);
}

TEST_F(Inn, ExtractsTheSeededAttachments) {
    QTemporaryDir dir;
    nntp.ParseAttachments = true;
    nntp.SetAttachmentPath(dir.path());
    nntp.SetGroup(kSmallGroup);
    nntp.GetArticle(kUuencoded.number);
    EXPECT_EQ(FileBytes(dir.filePath(QString::fromLatin1(kUuencodedFileName))), AllByteValues());
    nntp.GetArticle(kMultipart.number);
    EXPECT_EQ(FileBytes(dir.filePath(QString::fromLatin1(kMultipartFileName))), AllByteValues());
    EXPECT_EQ(nntp.MimeBoundary, kMultipartBoundary);

    nntp.SetGroup(kBinariesGroup);
    nntp.GetArticle(kSameNameTwice.number);
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("zk-twice.txt"))), kTwiceText);
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("zk-twice_1.txt"))), kTwiceText);
    nntp.GetArticle(kBareLines.number);
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("extract.dat"))), kBareLinesText);
    nntp.GetArticle(kMode666.number);
    EXPECT_EQ(FileBytes(dir.filePath(QString::fromLatin1(kMode666FileName))), kMode666Text);
}

TEST_F(Inn, ExtractsTheSeededYEncFilesAndAssemblesTheTwoParts) {
    QTemporaryDir dir;
    nntp.ParseAttachments = true;
    nntp.SetAttachmentPath(dir.path());
    nntp.SetGroup(kYEncGroup);
    QStringList notices;
    for (const SeededArticle& article : {kYEncSingle, kYEncPart1, kYEncPart2}) {
        nntp.GetArticle(article.number);
        EXPECT_TRUE(nntp.AttachmentProblems.isEmpty()) << article.messageId;
        notices += nntp.AttachmentNotices;
    }
    // The first part waits; the second writes the file whole, once.
    EXPECT_EQ(notices, QStringList{QLatin1String(kYEncTwoPartsFileName) +
                                   QStringLiteral(" waits for its other parts: 2560 of its 5000 "
                                                  "bytes are here")});
    EXPECT_EQ(nntp.AttachmentNames.Text(),
              QByteArray(kYEncSingleFileName) + "\r\n" + kYEncTwoPartsFileName + "\r\n");
    EXPECT_TRUE(FileBytes(dir.filePath(QString::fromLatin1(kYEncSingleFileName))) ==
                YEncDemoBytes(3000, 3));
    EXPECT_TRUE(FileBytes(dir.filePath(QString::fromLatin1(kYEncTwoPartsFileName))) ==
                YEncDemoBytes(5000, 7));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(Inn, PostedAttachmentsComeBackByteForByteForEveryLastLineLength) {
    QTemporaryDir dir;
    const QByteArray stamp = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    QList<QByteArray> contents;
    QRandomGenerator random(7);
    for (int remainder = 0; remainder < 45; ++remainder) {
        QByteArray bytes(45 * 2 + remainder, Qt::Uninitialized);
        for (char& byte : bytes) {
            byte = static_cast<char>(random.bounded(256));
        }
        const QString path = dir.filePath(QStringLiteral("part%1.bin").arg(remainder));
        WriteFile(path, bytes);
        contents << bytes;
        nntp.PostAttachments.Add(path.toLocal8Bit());
    }
    nntp.PostRecord.SetNewsGroups(kPostGroup);
    nntp.PostRecord.SetPrFromAddress("Tester <tester@zk.test>");
    nntp.PostRecord.SetPrSubject("Attachments " + stamp);
    nntp.PostBody.Add("Forty-five attachments follow.");
    nntp.PostBody.Add(".a line that starts with a dot");
    nntp.PostBody.Add(".");
    int posted = 0;
    nntp.OnPosted = [&](QObject*) { ++posted; };
    nntp.PostArticle();
    EXPECT_EQ(posted, 1);

    // Find the post by its subject and read it back with extraction on.
    nntp.SetGroup(kPostGroup);
    int number = 0;
    nntp.OnHeaderList = [&](QObject*) {
        if (nntp.HeaderRecord.GetPrSubject() == "Attachments " + stamp) {
            number = nntp.HeaderRecord.GetArticleId();
        }
    };
    nntp.GetArticleList(true, 0);
    ASSERT_GT(number, 0);
    QTemporaryDir out;
    nntp.ParseAttachments = true;
    nntp.SetAttachmentPath(out.path());
    nntp.GetArticle(number);
    EXPECT_EQ(nntp.AttachmentNames.Count(), 45);
    for (int remainder = 0; remainder < 45; ++remainder) {
        EXPECT_EQ(FileBytes(out.filePath(QStringLiteral("part%1.bin").arg(remainder))),
                  contents[remainder])
            << "remainder " << remainder;
    }
    EXPECT_GE(nntp.BodyLines.IndexOf(".a line that starts with a dot"), 0);
    EXPECT_GE(nntp.BodyLines.IndexOf("."), 0);
}

TEST(InnAuth, TheLoginPortAsksForCredentialsAndRejectsWrongOnes) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    TQRNNTP nntp;
    nntp.Host = HostName();
    nntp.Port = kAuthPort;
    nntp.TimeOut = 30000;
    int asked = 0;
    nntp.OnAuthenticationNeeded = [&](bool& handled) {
        ++asked;
        nntp.UserId = kUser;
        nntp.Password = kPassword;
        handled = true;
    };
    nntp.Connect();
    nntp.SetGroup(kSmallGroup);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(nntp.LastArticleNo, kSmallCount);
    nntp.Disconnect();

    TQRNNTP wrong;
    wrong.Host = HostName();
    wrong.Port = kAuthPort;
    wrong.TimeOut = 30000;
    wrong.UserId = kUser;
    wrong.Password = "not-the-password";
    int failed = 0;
    wrong.OnAuthenticationFailed = [&](QObject*) { ++failed; };
    wrong.Connect();
    try {
        wrong.SetGroup(kSmallGroup);
        FAIL() << "a wrong password must raise";
    } catch (const NNTPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Authentication failed"));
    }
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(wrong.Busy);
}

namespace {

QList<QSslCertificate> LocalCa() {
    return QSslCertificate::fromPath(QString::fromLatin1(kCaFile));
}

QByteArray ServerCertificateDigest() {
    return QSslCertificate::fromPath(QString::fromLatin1(kServerCertificateFile))
        .value(0)
        .digest(QCryptographicHash::Sha256);
}

} // namespace

TEST(InnTls, ImplicitTlsAndStartTlsWithTheLocalCaAndAuthinfoOverStartTls) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    struct Case {
        TSecurity security;
        quint16 port;
        bool login;
    };
    for (const Case& c :
         {Case{TSecurity::Tls, kTlsPort, false}, Case{TSecurity::StartTls, kPort, false},
          Case{TSecurity::StartTls, kAuthPort, true}}) {
        SCOPED_TRACE(c.port);
        TRecordingPresenter presenter;
        TQRNNTP nntp;
        nntp.Host = HostName();
        nntp.Port = c.port;
        nntp.TimeOut = 30000;
        nntp.Security = c.security;
        nntp.ExtraCaCertificates = LocalCa();
        if (c.login) {
            nntp.UserId = kUser;
            nntp.Password = kPassword;
        }
        nntp.Connect();
        EXPECT_TRUE(nntp.EncryptionDescription().startsWith(QStringLiteral("TLSv1.")));
        EXPECT_FALSE(nntp.HasCapability("STARTTLS")); // asked again after the handshake
        nntp.SetGroup(kSmallGroup);
        EXPECT_EQ(nntp.LastArticleNo, kSmallCount);
        nntp.GetArticle(kWelcome.number);
        EXPECT_EQ(nntp.HeaderLines.GetValue("Message-ID"), kWelcome.messageId);
        EXPECT_TRUE(presenter.certificateQuestions.isEmpty());
        nntp.Disconnect();
    }
}

TEST(InnTls, AKeptCertificateIsAcceptedWithoutTheCaAndAChangedOneIsRefused) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    TRecordingPresenter presenter;
    TQRNNTP nntp;
    nntp.Host = HostName();
    nntp.Port = kTlsPort;
    nntp.TimeOut = 30000;
    nntp.Security = TSecurity::Tls;
    nntp.TrustedCertificates = {TCertificatePin{HostName(), kTlsPort, ServerCertificateDigest()}};
    nntp.Connect();
    nntp.SetGroup(kSmallGroup);
    EXPECT_TRUE(presenter.certificateQuestions.isEmpty());
    nntp.Disconnect();

    QByteArray changed = ServerCertificateDigest();
    changed[0] = static_cast<char>(changed[0] ^ 1);
    nntp.TrustedCertificates = {TCertificatePin{HostName(), kTlsPort, changed}};
    const QString message = MessageOf<ESockError>([&] { nntp.Connect(); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("Server certificate not trusted: it is not the "
                                                  "certificate kept as trusted for 127.0.0.1:563")))
        << message.toStdString();
    ASSERT_EQ(presenter.certificateQuestions.size(), 1);
    EXPECT_TRUE(presenter.certificateQuestions[0].changed);
    EXPECT_FALSE(nntp.Connected);
}

TEST(InnCompress, AListingCompressedGivesTheSameSummariesOverFewerWireBytes) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    struct Listing {
        TStringList summaries;
        qint64 wireBytes = 0;
        bool compressed = false;
    };
    const auto list = [](bool compress, TSecurity security, int port) {
        TQRNNTP nntp;
        nntp.Host = HostName();
        nntp.Port = port;
        nntp.TimeOut = 30000;
        nntp.Security = security;
        nntp.ExtraCaCertificates = QSslCertificate::fromPath(QString::fromLatin1(kCaFile));
        nntp.Compress = compress;
        // Over TLS the server offers a login, and compression waits for it.
        nntp.UserId = kUser;
        nntp.Password = kPassword;
        nntp.Connect();
        nntp.SetGroup(kManyGroup);
        const qint64 wireBefore = nntp.WireBytesRecvd;
        nntp.GetArticleList(true, 0);
        Listing listing;
        listing.summaries.Assign(nntp.SummaryLines);
        listing.wireBytes = nntp.WireBytesRecvd - wireBefore;
        listing.compressed = nntp.Compressed();
        nntp.Disconnect();
        return listing;
    };
    const Listing plain = list(false, TSecurity::None, kPort);
    qint64 plainBytes = 0;
    for (int i = 0; i < plain.summaries.Count(); ++i) {
        plainBytes += plain.summaries[i].size() + 2;
    }
    EXPECT_FALSE(plain.compressed);
    EXPECT_GE(plain.wireBytes, plainBytes);
    for (const TSecurity security : {TSecurity::None, TSecurity::StartTls}) {
        SCOPED_TRACE(security == TSecurity::StartTls ? "inside TLS, after the login" : "plain");
        const Listing compressed =
            list(true, security, security == TSecurity::StartTls ? kAuthPort : kPort);
        EXPECT_TRUE(compressed.compressed);
        EXPECT_EQ(compressed.summaries.Count(), kManyCount + 1);
        EXPECT_EQ(compressed.summaries.Text(), plain.summaries.Text());
        // An overview listing deflates five to ten times; a third is a wide bound.
        EXPECT_LT(compressed.wireBytes * 3, plainBytes);
    }
}
