#include "codec/qruuencode.h"
#include "nntp/qrnntp.h"

#include "fakeserver.h"
#include "newsserver.h"

#include "testhelpers.h"
#include "yencencode.h"
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Uuencoded(const QByteArray& data) {
    return Convert(UUEEncode, data);
}

// A server conversation that answers "ARTICLE 1" with the given header and body lines,
// dot-stuffed as a server sends them.
QByteArray ArticleScript(const QByteArray& header, const QByteArray& body) {
    QByteArray script = "S: 200 ready\nC: ARTICLE 1\nS: 220 1 <1@x> article\n";
    QList<QByteArray> lines = (header + "\r\n" + body).split('\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (const QByteArray& line : lines) {
        const QByteArray bare = line.endsWith('\r') ? line.chopped(1) : line;
        script += "S: " + (bare.startsWith('.') ? "." + bare : bare) + "\n";
    }
    return script + "S: .\n";
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// A client that reads article 1 from a fake server with attachment extraction into a
// temporary directory.
struct Reader {
    QTemporaryDir dir;
    FakeServer server;
    TQRNNTP nntp;

    Reader(const QByteArray& header, const QByteArray& body)
        : Reader(ArticleScript(header, body)) {}

    explicit Reader(const QByteArray& conversation) {
        server.AddScript(conversation);
        nntp.Host = QStringLiteral("127.0.0.1");
        nntp.Port = server.Port();
        nntp.TimeOut = 10000;
        nntp.ParseAttachments = true;
        nntp.SetAttachmentPath(dir.path());
    }

    void Read() {
        nntp.Connect();
        nntp.GetArticle(1);
    }
    QString Path(const char* name) const {
        return dir.path() + QLatin1Char('/') + QLatin1String(name);
    }
    QByteArray Marking(const char* name) const {
        return "\r\nFile \"" + Path(name).toLocal8Bit() + "\" extracted";
    }
};

} // namespace

TEST(NntpExtract, UuencodedBlocksBecomeFilesAndMarkingLines) {
    const QByteArray first = RandomBytes(100, 1);
    const QByteArray second = RandomBytes(7, 2);
    Reader r("Subject: files\r\n", "before\r\n.\r\nbegin 644 pic.bin\r\n" + Uuencoded(first) +
                                       "end\r\nbetween\r\nbegin 666 pic.bin\r\n" +
                                       Uuencoded(second) + "end\r\nafter\r\n");
    int ends = 0;
    r.nntp.OnDecodeEnd = [&](QObject*) { ++ends; };
    r.Read();
    EXPECT_EQ(FileBytes(r.Path("pic.bin")), first);
    EXPECT_EQ(FileBytes(r.Path("pic_1.bin")), second);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(r.nntp.AttachmentNames.Text(), "pic.bin\r\npic_1.bin\r\n");
    // The "." line the poster wrote is text, not the end of the article.
    EXPECT_EQ(r.nntp.BodyLines.Text(), "before\r\n.\r\n" + r.Marking("pic.bin") +
                                           "\r\nbetween\r\n" + r.Marking("pic_1.bin") +
                                           "\r\nafter\r\n.\r\n");
}

TEST(NntpExtract, FullDataLinesWithoutBeginAndARenamingHandler) {
    const QByteArray data = RandomBytes(90, 3); // two full lines
    const QByteArray lines = Uuencoded(data);
    ASSERT_EQ(lines.split('\n')[0].size(), 62);
    Reader r("Subject: raw\r\n", "text\r\n" + lines + "tail\r\n");
    r.Read();
    // The backquote line of another length closes the run and is dropped.
    EXPECT_EQ(FileBytes(r.Path("extract.dat")), data);
    EXPECT_EQ(r.nntp.BodyLines.Text(), "text\r\n" + r.Marking("extract.dat") + "\r\ntail\r\n.\r\n");

    Reader renamed("Subject: x\r\n", "begin 644 a.txt\r\n" + Uuencoded("hello") + "end\r\n");
    renamed.nntp.OnDecodeStart = [](QString& name) { name = QStringLiteral("b.txt"); };
    renamed.Read();
    EXPECT_EQ(FileBytes(renamed.Path("b.txt")), "hello");
    EXPECT_FALSE(QFile::exists(renamed.Path("a.txt")));
    EXPECT_EQ(renamed.nntp.BodyLines[0], renamed.Marking("b.txt"));
}

TEST(NntpExtract, NamesFromTheArticleCannotLeaveTheAttachmentDirectory) {
    Reader r("Subject: hostile\r\n", "begin 644 ../../escape.txt\r\n" + Uuencoded("a") +
                                         "end\r\nbegin 644 /tmp/zk-escape.txt\r\n" +
                                         Uuencoded("b") + "end\r\nbegin 644 ..\r\n" +
                                         Uuencoded("c") + "end\r\n");
    r.Read();
    EXPECT_EQ(FileBytes(r.Path("escape.txt")), "a");
    EXPECT_EQ(FileBytes(r.Path("zk-escape.txt")), "b");
    EXPECT_EQ(FileBytes(r.Path("extract.dat")), "c");
    EXPECT_FALSE(
        QFile::exists(QDir(r.dir.path()).absoluteFilePath(QStringLiteral("../../escape.txt"))));
    EXPECT_EQ(QDir(r.dir.path()).entryList(QDir::Files).size(), 3);
}

TEST(NntpExtract, ABlockLeftOpenIsStillDecoded) {
    const QByteArray data = RandomBytes(50, 4);
    Reader r("Subject: cut\r\n", "begin 644 cut.bin\r\n" + Uuencoded(data));
    r.Read();
    EXPECT_EQ(FileBytes(r.Path("cut.bin")), data);
    EXPECT_EQ(r.nntp.BodyLines.Text(), r.Marking("cut.bin") + "\r\n.\r\n");
}

TEST(NntpExtract, MultipartTextPartsStayAndBase64PartsAreDecoded) {
    const QByteArray data = RandomBytes(300, 5);
    const QByteArray base64 = data.toBase64();
    QByteArray encodedLines;
    for (qsizetype i = 0; i < base64.size(); i += 76) {
        encodedLines += base64.mid(i, 76) + "\r\n";
    }
    // The boundary and the part's file name, each possibly on a continuation line.
    const QList<std::pair<QByteArray, QByteArray>> headers = {
        {"multipart/mixed; boundary=\"XyZ\"",
         "Content-Type: application/octet-stream; name=\"data.bin\""},
        {"Multipart/Mixed; boundary=XyZ", "Content-Type: application/octet-stream; name=data.bin"},
        {"multipart/mixed;\r\n\tboundary=\"XyZ\"",
         "Content-Type: application/octet-stream;\r\n\tname=\"data.bin\""},
        {"multipart/mixed;\r\n BOUNDARY = XyZ",
         "Content-Type: application/octet-stream\r\nContent-Disposition: attachment;\r\n"
         " filename*=UTF-8''data%2Ebin"},
        {"multipart/mixed; boundary=XyZ",
         "Content-Type: application/octet-stream; name=\"context.txt\"\r\n"
         "Content-Disposition: attachment;\r\n filename=\"data.bin\""},
    };
    for (const auto& [contentType, partHeader] : headers) {
        SCOPED_TRACE(contentType.toStdString());
        Reader r("Content-Type: " + contentType + "\r\n",
                 "preamble XyZ\r\n--XyZ\r\nContent-Type: text/plain\r\n\r\nHello\r\n.dotted\r\n"
                 "--XyZ\r\n" +
                     partHeader + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + encodedLines +
                     "--XyZ--\r\nepilogue\r\n");
        r.Read();
        EXPECT_EQ(r.nntp.MimeBoundary, "XyZ");
        EXPECT_EQ(FileBytes(r.Path("data.bin")), data);
        EXPECT_EQ(r.nntp.BodyLines.Text(),
                  "Hello\r\n.dotted\r\n" + r.Marking("data.bin") + "\r\n.\r\n");
    }
}

TEST(NntpExtract, AMultipartArticleWithoutPartsSaysSoAndWritesNothing) {
    for (const QByteArray contentType :
         {"multipart/mixed; boundary=\"\"", "multipart/mixed", "multipart/mixed; boundary=Q"}) {
        SCOPED_TRACE(contentType.toStdString());
        Reader r("Content-Type: " + contentType + "\r\n", "text\r\n--XyZ\r\nmore text\r\n");
        int articles = 0;
        r.nntp.OnArticle = [&](QObject*) { ++articles; };
        EXPECT_EQ(MessageOf<Exception>([&] { r.Read(); }),
                  QStringLiteral("The article is declared multipart, but no part was found"));
        EXPECT_EQ(articles, 0);
        EXPECT_TRUE(QDir(r.dir.path()).isEmpty());
        EXPECT_TRUE(r.nntp.Connected); // the reply was read whole
    }
}

TEST(NntpExtract, AnUnclosedMultipartPartIsKept) {
    Reader r(
        "Content-Type: multipart/mixed; boundary=B\r\n",
        "--B\r\nContent-Type: application/x-thing; name=\"raw.txt\"\r\n\r\nline 1\r\nline 2\r\n");
    r.Read();
    EXPECT_EQ(FileBytes(r.Path("raw.txt")), "line 1\r\nline 2\r\n");
}

TEST(NntpExtract, YEncBlocksAreDecodedPlacedAndChecked) {
    const QByteArray file = RandomBytes(1000, 7);
    const auto part = [&](int number, qint64 begin, qint64 end) {
        return YEncBlock(file, "y.bin", 128, YEncPart{number, 2, begin, end});
    };
    // One byte changed on the way: the block still carries the original's CRC32.
    QByteArray damaged = file;
    damaged[500] ^= 1;
    const QByteArray corrupt =
        YEncBlock(damaged, "y.bin").replace(Hex8(BitwiseCrc32(damaged)), Hex8(BitwiseCrc32(file)));
    QByteArray cut = YEncBlock(file.left(300), "y.bin", 100);
    cut.truncate(cut.indexOf("=yend"));
    const QString kept = QStringLiteral("; the file is kept as decoded");
    const struct {
        const char* what;
        QByteArray body;
        QByteArray names;
        QByteArray content; // of the file named first
        QStringList problems;
    } cases[] = {
        {"a whole file",
         "text\r\n" + YEncBlock(file, "y.bin", 61) + "after\r\n",
         "y.bin\r\n",
         file,
         {}},
        {"two parts in either order meet in one file",
         part(2, 601, 1000) + part(1, 1, 600),
         "y.bin\r\ny.bin\r\n",
         file,
         {}},
        {"a path in the name is dropped",
         YEncBlock(file, "../../../tmp/y.bin"),
         "y.bin\r\n",
         file,
         {}},
        {"a damaged byte",
         corrupt,
         "y.bin\r\n",
         damaged,
         {QStringLiteral("CRC32 mismatch in y.bin") + kept}},
        {"a size that does not match",
         YEncBlock(file, "y.bin").replace("=yend size=1000", "=yend size=999"),
         "y.bin\r\n",
         file,
         {QStringLiteral("Size mismatch in y.bin: 1000 bytes decoded, 999 declared") + kept}},
        {"a block left open, then another",
         cut + YEncBlock("abc", "z.bin"),
         "y.bin\r\nz.bin\r\n",
         file.left(300),
         {QStringLiteral("The yEnc block of y.bin is incomplete") + kept}},
        {"a part beyond the file's size",
         part(2, 601, 1001),
         "y.bin\r\n",
         file.mid(600),
         {QStringLiteral(
             "The yEnc part in y.bin has no place in its file; it is saved on its own")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reader r("Subject: yEnc\r\n", c.body);
        r.Read();
        EXPECT_EQ(r.nntp.AttachmentNames.Text(), c.names);
        const QByteArray first = c.names.left(c.names.indexOf('\r'));
        EXPECT_TRUE(FileBytes(r.Path(first.constData())) == c.content);
        EXPECT_EQ(r.nntp.AttachmentProblems, c.problems);
    }

    // The block gives way to a marking line; the lines around it stay.
    Reader whole("Subject: yEnc\r\n", "text\r\n" + YEncBlock(file, "y.bin") + ".after\r\n");
    whole.Read();
    EXPECT_EQ(whole.nntp.BodyLines.Text(),
              "text\r\n" + whole.Marking("y.bin") + "\r\n.after\r\n.\r\n");

    // A file of the same name that is larger than the whole is not the one the parts belong to.
    Reader taken("Subject: yEnc\r\n", part(1, 1, 600));
    QFile other(taken.Path("y.bin"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(1001, 'x'));
    other.close();
    taken.Read();
    EXPECT_EQ(taken.nntp.AttachmentNames.Text(), "y_1.bin\r\n");
    EXPECT_TRUE(FileBytes(taken.Path("y_1.bin")) == file.left(600));
    EXPECT_EQ(FileBytes(taken.Path("y.bin")), QByteArray(1001, 'x'));
}

TEST(NntpExtract, TheYEncDemoArticlesGiveTheirFilesByteForByte) {
    // The articles the local news server is seeded with, served as they are committed.
    QTemporaryDir dir;
    const QString articles =
        QStringLiteral(ZK_NEWS_ARTICLES "/") + QLatin1String(NewsServer::kYEncGroup);
    for (const QString& name : QDir(articles).entryList(QDir::Files, QDir::Name)) {
        QFile article(articles + QLatin1Char('/') + name);
        ASSERT_TRUE(article.open(QIODevice::ReadOnly));
        const QByteArray text = article.readAll();
        const qsizetype split = text.indexOf("\n\n");
        Reader r(text.left(split + 1), text.mid(split + 2));
        r.nntp.SetAttachmentPath(dir.path());
        r.Read();
        EXPECT_TRUE(r.nntp.AttachmentProblems.isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(FileBytes(dir.filePath(QLatin1String(NewsServer::kYEncSingleFileName))) ==
                NewsServer::YEncDemoBytes(3000, 3));
    EXPECT_TRUE(FileBytes(dir.filePath(QLatin1String(NewsServer::kYEncTwoPartsFileName))) ==
                NewsServer::YEncDemoBytes(5000, 7));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

// ---------------------------------------------------------------------------------------------
// Posting

namespace {

struct Poster {
    QTemporaryDir dir;
    FakeServer server;
    TQRNNTP nntp;
    QStringList events;

    explicit Poster(const QByteArray& conversation) {
        server.AddScript(conversation);
        nntp.Host = QStringLiteral("127.0.0.1");
        nntp.Port = server.Port();
        nntp.TimeOut = 10000;
        nntp.OnPosted = [this](QObject*) { events << QStringLiteral("posted"); };
        nntp.OnPostFailed = [this](QObject*, quint16 code, const QString& reply) {
            events << QStringLiteral("failed %1 %2").arg(code).arg(reply.trimmed());
        };
        nntp.PostHeader.Add("Newsgroups: zk.test");
        nntp.PostHeader.Add("Subject: hello");
    }

    QString WriteFile(const char* name, const QByteArray& bytes) const {
        const QString path = dir.path() + QLatin1Char('/') + QLatin1String(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    // Everything the client sent after POST, as lines.
    QList<QByteArray> Article() const { return server.Received().mid(1); }
};

QByteArray Accepting(int articleLines) {
    QByteArray script = "S: 200 ready\nC: POST\nS: 340 send it\n";
    for (int i = 0; i < articleLines; ++i) {
        script += "C: *\n";
    }
    return script + "C: .\nS: 240 article posted\n";
}

} // namespace

TEST(NntpPost, AHeaderTwoEmptyLinesAndTheBodyGoOnTheWire) {
    Poster p(Accepting(5));
    p.nntp.PostBody.Add("one line");
    p.nntp.Connect();
    p.nntp.PostArticle();
    EXPECT_EQ(p.Article(), (QList<QByteArray>{"Newsgroups: zk.test", "Subject: hello", "", "",
                                              "one line", "."}));
    EXPECT_EQ(p.events, QStringList{QStringLiteral("posted")});
    EXPECT_TRUE(p.server.Failures().isEmpty());
    EXPECT_EQ(p.nntp.PostBody.Count(), 1);
}

TEST(NntpPost, BodyLinesStartingWithADotAreStuffed) {
    Poster p(Accepting(7));
    p.nntp.PostBody.Add(".");
    p.nntp.PostBody.Add(".hidden");
    p.nntp.PostBody.Add("after");
    p.nntp.Connect();
    p.nntp.PostArticle();
    EXPECT_EQ(p.Article().mid(4), (QList<QByteArray>{"..", "..hidden", "after", "."}));
    EXPECT_EQ(p.events, QStringList{QStringLiteral("posted")});
}

TEST(NntpPost, AttachmentsAreSentAsBeginBlocksAndAMissingFileIsSkipped) {
    Poster p(Accepting(5 + 8 + 6));
    p.nntp.PostBody.Add("see attached");
    const QByteArray bytes = RandomBytes(59, 6); // 45 + 14: the last line's length is "."
    p.nntp.PostAttachments.Add(p.WriteFile("fourteen.bin", bytes).toLocal8Bit());
    p.nntp.PostAttachments.Add((p.dir.path() + QStringLiteral("/missing.bin")).toLocal8Bit());
    p.nntp.Connect();
    p.nntp.PostArticle();
    const QList<QByteArray> lines = p.Article();
    const QList<QByteArray> encoded = Uuencoded(bytes).split('\n');
    ASSERT_EQ(encoded[1][0], '.');
    const QList<QByteArray> expected{"see attached",
                                     "",
                                     "",
                                     "begin 666 fourteen.bin",
                                     encoded[0].chopped(1),
                                     "." + encoded[1].chopped(1),
                                     "end",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "begin 666 missing.bin",
                                     "end",
                                     "",
                                     "",
                                     "."};
    EXPECT_EQ(lines.mid(4), expected);
    EXPECT_EQ(p.events, QStringList{QStringLiteral("posted")});
}

TEST(NntpPost, RefusalsRaiseOnPostFailedThenPostingFailed) {
    Poster refused(Accepting(5).replace("240 article posted", "441 posting failed"));
    refused.nntp.PostBody.Add("x");
    refused.nntp.Connect();
    try {
        refused.nntp.PostArticle();
        FAIL();
    } catch (const NNTPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Posting Failed"));
    }
    EXPECT_EQ(refused.events, QStringList{QStringLiteral("failed 441 441 posting failed")});
    EXPECT_FALSE(refused.nntp.Busy);

    // A refused POST gets no article text, so the conversation stays in step.
    Poster notAllowed(
        "S: 200 ready\nC: POST\nS: 440 posting not allowed\nC: GROUP a\nS: 211 1 1 1 a");
    notAllowed.nntp.PostBody.Add("x");
    notAllowed.nntp.Connect();
    EXPECT_THROW(notAllowed.nntp.PostArticle(), NNTPError);
    EXPECT_EQ(notAllowed.events, QStringList{QStringLiteral("failed 440 440 posting not allowed")});
    notAllowed.nntp.SetGroup("a");
    EXPECT_EQ(notAllowed.nntp.LastArticleNo, 1);
    EXPECT_TRUE(notAllowed.server.Failures().isEmpty());
}

TEST(NntpPost, AnArticleWithANulByteIsRefusedBeforeAnythingIsSent) {
    for (const bool inHeader : {true, false}) {
        Poster p("S: 200 ready");
        (inHeader ? p.nntp.PostHeader : p.nntp.PostBody).Add(QByteArray("cut\0here", 8));
        p.nntp.PostBody.Add("body");
        p.nntp.Connect();
        EXPECT_EQ(MessageOf<Exception>([&] { p.nntp.PostArticle(); }),
                  QStringLiteral("The article contains a NUL byte and cannot be posted"));
        EXPECT_TRUE(p.server.Received().isEmpty());
        EXPECT_TRUE(p.events.isEmpty());
        EXPECT_FALSE(p.nntp.Busy);
        EXPECT_TRUE(p.nntp.Connected);
    }
}

TEST(NntpPost, WhatIsPostedIsExtractedByteForByteForEveryLastLineLength) {
    // Post attachments of 45k + r bytes for every r, take the bytes the server received as the
    // article it serves back, and extract them.
    for (int remainder = 0; remainder < 45; ++remainder) {
        const QByteArray bytes = RandomBytes(90 + remainder, 100 + remainder);
        Poster p(Accepting(5 + 3 + 3 + 1 + 2));
        p.nntp.PostBody.Add("body");
        p.nntp.PostAttachments.Add(p.WriteFile("blob.bin", bytes).toLocal8Bit());
        p.nntp.Connect();
        p.nntp.PostArticle();
        QByteArray served = "S: 200 ready\nC: ARTICLE 1\nS: 220 1 <1@x> article\n";
        for (const QByteArray& line : p.Article()) {
            served += "S: " + line + "\n";
        }
        Reader r(served);
        r.Read();
        EXPECT_EQ(FileBytes(r.Path("blob.bin")), bytes) << "remainder " << remainder;
    }
}
