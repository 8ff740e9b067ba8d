#include "codec/qruuencode.h"
#include "nntp/qrnntp.h"

#include "newsserver.h"
#include "script.h"
#include "scriptedclient.h"

#include "testfiles.h"
#include "testhelpers.h"
#include "yencencode.h"
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Uuencoded(const QByteArray& data) {
    return Convert(UUEEncode, data);
}

// Text with CR LF or LF line ends as the lines of a script, dot-stuffed as a server sends them.
QByteArray ServedLines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    QList<QByteArray> served;
    for (const QByteArray& line : lines) {
        const QByteArray bare = line.endsWith('\r') ? line.chopped(1) : line;
        served << (bare.startsWith('.') ? "." + bare : bare);
    }
    return served.join('\n');
}

// A server conversation that answers "ARTICLE 1" with the given header and body lines.
QByteArray ArticleScript(const QByteArray& header, const QByteArray& body) {
    return script::Greeting() + script::Article(1, ServedLines(header), ServedLines(body));
}

// A client that reads article 1 from a fake server with attachment extraction into a
// temporary directory.
struct Reader : ScriptedNntp {
    QTemporaryDir dir;

    Reader(const QByteArray& header, const QByteArray& body)
        : Reader(ArticleScript(header, body)) {}

    explicit Reader(const QByteArray& conversation) : ScriptedNntp({conversation}) {
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

TEST(NntpExtract, SavedNamesAreTheTextPostsMeanWithNothingThatHidesOrTurnsIt) {
    const QString longStem(300, u'n');
    const struct {
        QByteArray disposition; // the parameters after "attachment;"
        QString saved;
    } cases[] = {
        {"filename*=iso-8859-1''%E9t%E9.bin", QStringLiteral("\u00e9t\u00e9.bin")},
        {"filename*=UTF-8'fr'%C3%A9t%C3%A9.bin", QStringLiteral("\u00e9t\u00e9.bin")},
        {"filename*0*=koi8-r''%F0%D2%C9; filename*1*=%D7%C5%D4.txt",
         QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442.txt")},
        {"filename=\"=?UTF-8?B?w6l0w6kuYmlu?=\"", QStringLiteral("\u00e9t\u00e9.bin")},
        {"filename=\"=?ISO-8859-1?Q?=E9t=E9?= =?ISO-8859-1?Q?.bin?=\"",
         QStringLiteral("\u00e9t\u00e9.bin")},
        {"filename=\"=?UTF-8?Q?..=2F..=2Fup.bin?=\"", QStringLiteral("up.bin")},
        {"filename=\"\xc3\xa9t\xc3\xa9.bin\"", QStringLiteral("\u00e9t\u00e9.bin")},
        {"filename=\"holiday\xe2\x80\xaegpj.exe\"", QStringLiteral("holidaygpj.exe")},
        {"filename*=UTF-8''a%E2%80%8Bb%E2%80%8D%EF%BB%BFc%E2%81%A6d%E2%80%8Fe.txt",
         QStringLiteral("abcde.txt")},
        {"filename*=UTF-8''a%C2%85b%C2%9Bc%01d%7Fe%E2%80%A8f.txt", QStringLiteral("abcdef.txt")},
        {"filename*=UTF-8''%E2%80%AE..", QStringLiteral("Extract.dat")},
        {"filename=\"" + QByteArray(300, 'n') + ".bin\"",
         longStem.left(196) + QStringLiteral(".bin")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disposition.toStdString());
        Reader r("Content-Type: multipart/mixed; boundary=B\r\n",
                 "--B\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Disposition: attachment; " +
                     c.disposition + "\r\n\r\nbytes\r\n--B--\r\n");
        r.Read();
        EXPECT_EQ(r.nntp.AttachmentNames.Text(), c.saved.toUtf8() + "\r\n");
        EXPECT_EQ(QDir(r.dir.path()).entryList(QDir::Files), QStringList{c.saved});
        // The line end before the closing delimiter belongs to the delimiter.
        EXPECT_EQ(FileBytes(r.dir.filePath(c.saved)), "bytes");
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
         "y.bin\r\n",
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

    // A part that waits for the others gives way to a line that says so.
    Reader waiting("Subject: yEnc\r\n", "text\r\n" + part(1, 1, 600) + "after\r\n");
    waiting.Read();
    EXPECT_EQ(waiting.nntp.BodyLines.Text(),
              "text\r\n\r\nFile \"y.bin\" waits for its other parts\r\nafter\r\n.\r\n");
    EXPECT_EQ(waiting.nntp.AttachmentNotices,
              QStringList{QStringLiteral("y.bin waits for its other parts: 600 of its 1000 bytes "
                                         "are here")});
    EXPECT_TRUE(waiting.nntp.AttachmentNames.Text().isEmpty());
    // So does a part that is not kept.
    Reader refused("Subject: yEnc\r\n", part(2, 601, 1001));
    refused.Read();
    EXPECT_EQ(refused.nntp.BodyLines.Text(), "\r\nFile \"y.bin\": a part was not kept\r\n.\r\n");
}

namespace {

const QByteArray kUserData = "precious user data, keep me";

// Every file and folder in dir, hidden ones and those in folders included, by path inside
// dir: a file's bytes, "(folder)" for a folder.
QMap<QByteArray, QByteArray> Contents(const QString& dir) {
    QMap<QByteArray, QByteArray> contents;
    QDirIterator entries(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry = entries.nextFileInfo();
        const QString path = QDir(dir).relativeFilePath(entry.filePath());
        contents[path.toUtf8()] =
            entry.isDir() ? QByteArray("(folder)") : FileBytes(entry.filePath());
    }
    return contents;
}

// A control line's keyword changed: "size=5" of "=ybegin" to "size=1000000", say. Only the
// first occurrence, so that "=yend" keeps its own.
QByteArray Declaring(QByteArray block, const QByteArray& from, const QByteArray& to) {
    const qsizetype at = block.indexOf(from);
    return at < 0 ? block : block.replace(at, from.size(), to);
}

// A client that reads the articles 1, 2, ... from a fake server, one per body given, into a
// directory that holds notes.txt before.
struct PartsReader : ScriptedNntp {
    QTemporaryDir dir;
    QByteArray names;
    QStringList problems;
    QStringList notices;

    static QByteArray Conversation(const QList<QByteArray>& bodies) {
        QByteArray conversation = script::Greeting();
        for (int n = 1; n <= bodies.size(); ++n) {
            conversation += script::Article(n, "Subject: parts", ServedLines(bodies[n - 1]));
        }
        return conversation;
    }

    explicit PartsReader(const QList<QByteArray>& bodies) : ScriptedNntp({Conversation(bodies)}) {
        nntp.ParseAttachments = true;
        nntp.SetAttachmentPath(dir.path());
        QFile notes(dir.filePath(QStringLiteral("notes.txt")));
        notes.open(QIODevice::WriteOnly);
        notes.write(kUserData);
        notes.close();
        nntp.Connect();
        for (int n = 1; n <= bodies.size(); ++n) {
            nntp.GetArticle(n);
            problems += nntp.AttachmentProblems;
            notices += nntp.AttachmentNotices;
        }
        // The client adds to the names over the articles it reads.
        names = nntp.AttachmentNames.Text();
    }
};

} // namespace

TEST(NntpExtract, YEncPartsWaitApartAndOnlyTheWholeFileIsWritten) {
    const QByteArray file = RandomBytes(1000, 11);
    const auto part = [&](int number, qint64 begin, qint64 end, const QByteArray& name = "y.bin",
                          const QByteArray& of = {}) {
        return YEncBlock(of.isEmpty() ? file : of, name, 128, YEncPart{number, 3, begin, end});
    };
    const QByteArray p1 = part(1, 1, 400);
    const QByteArray p2 = part(2, 401, 800);
    const QByteArray p3 = part(3, 801, 1000);
    // One byte changed on the way: the part still carries the original's CRC32.
    QByteArray damaged = file;
    damaged[100] ^= 1;
    const QByteArray badP1 =
        YEncBlock(damaged, "y.bin", 128, YEncPart{1, 3, 1, 400})
            .replace(Hex8(BitwiseCrc32(damaged.left(400))), Hex8(BitwiseCrc32(file.left(400))));
    // The other half of an overlap that disagrees, from a file of its own and with its CRC32.
    QByteArray other = file;
    other[450] ^= 1;
    const QByteArray joined = file.left(500) + other.mid(500);
    QByteArray cut = p2;
    cut.truncate(cut.indexOf("=yend"));
    // The total announced is all there is to a part at the start of a file of 2^62 bytes, and
    // to the last five bytes of a file of a terabyte, or of 2^62 bytes.
    const QByteArray absurd = Declaring(YEncBlock("HELLO", "notes.txt", 128, YEncPart{1, 2, 1, 5}),
                                        "size=5 ", "size=4611686018427387904 ");
    const auto lastFive = [](const QByteArray& name, qint64 size) {
        const QByteArray begin = QByteArray::number(size - 4);
        const QByteArray end = QByteArray::number(size);
        return Declaring(Declaring(YEncBlock("WORLD", name, 128, YEncPart{2, 2, 1, 5}), "size=5 ",
                                   "size=" + end + ' '),
                         "begin=1 end=5", "begin=" + begin + " end=" + end);
    };
    const QByteArray folder = ".y.bin.1000.yparts";
    const auto waits = [](const char* name, int here, qint64 size) {
        return QStringLiteral("%1 waits for its other parts: %2 of its %3 bytes are here")
            .arg(QLatin1String(name))
            .arg(here)
            .arg(size);
    };
    const struct {
        const char* what;
        QList<QByteArray> articles;
        QMap<QByteArray, QByteArray> after; // besides notes.txt, which stays as it was
        QByteArray names;
        QStringList notices;
        QStringList problems;
    } cases[] = {
        {"in order",
         {p1, p2, p3},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 400, 1000), waits("y.bin", 800, 1000)},
         {}},
        {"out of order",
         {p3, p1, p2},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 200, 1000), waits("y.bin", 600, 1000)},
         {}},
        {"all in one article",
         {p2 + p3 + p1},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 400, 1000), waits("y.bin", 600, 1000)},
         {}},
        {"the same part twice",
         {p1, p1, p3, p2},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 400, 1000), waits("y.bin", 400, 1000), waits("y.bin", 600, 1000)},
         {}},
        {"overlapping parts",
         {part(1, 1, 500), part(2, 401, 1000)},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 500, 1000)},
         {}},
        {"a gap",
         {p1, p3},
         {{folder, "(folder)"},
          {folder + "/part1.1-400", file.left(400)},
          {folder + "/part3.801-1000", file.mid(800)}},
         "",
         {waits("y.bin", 400, 1000), waits("y.bin", 600, 1000)},
         {}},
        {"a total of 2^62 bytes in the name of a file that is there",
         {absurd},
         {{".notes.txt.4611686018427387904.yparts", "(folder)"},
          {".notes.txt.4611686018427387904.yparts/part1.1-5", "HELLO"}},
         "",
         {waits("notes.txt", 5, 4611686018427387904)},
         {}},
        {"the last part of a terabyte",
         {lastFive("far.bin", 1000000000005)},
         {{".far.bin.1000000000005.yparts", "(folder)"},
          {".far.bin.1000000000005.yparts/part2.1000000000001-1000000000005", "WORLD"}},
         "",
         {waits("far.bin", 5, 1000000000005)},
         {}},
        {"the last part of 2^62 bytes",
         {lastFive("end.bin", 4611686018427387904)},
         {{".end.bin.4611686018427387904.yparts", "(folder)"},
          {".end.bin.4611686018427387904.yparts/part2.4611686018427387900-4611686018427387904",
           "WORLD"}},
         "",
         {waits("end.bin", 5, 4611686018427387904)},
         {}},
        {"a name that is taken",
         {part(1, 1, 600, "notes.txt"), part(2, 601, 1000, "notes.txt")},
         {{"notes_1.txt", file}},
         "notes_1.txt\r\n",
         {waits("notes.txt", 600, 1000)},
         {}},
        {"a path and a device for names",
         {part(1, 1, 600, "../../y.bin"), part(2, 601, 1000, "/dev/y.bin"),
          YEncBlock("abc", "/dev/sda")},
         {{"y.bin", file}, {"sda", "abc"}},
         "y.bin\r\nsda\r\n",
         {waits("y.bin", 600, 1000)},
         {}},
        {"two files of one name",
         {part(1, 1, 400), YEncBlock(file.left(600), "y.bin", 128, YEncPart{1, 2, 1, 300}), p2, p3,
          YEncBlock(file.left(600), "y.bin", 128, YEncPart{2, 2, 301, 600})},
         {{"y.bin", file}, {"y_1.bin", file.left(600)}},
         "y.bin\r\ny_1.bin\r\n",
         {waits("y.bin", 400, 1000), waits("y.bin", 300, 600), waits("y.bin", 800, 1000)},
         {}},
        {"a part whose CRC32 fails, then the part again",
         {badP1, p2, p3, p1},
         {{"y.bin", file}},
         "y.bin\r\n",
         {waits("y.bin", 400, 1000), waits("y.bin", 600, 1000)},
         {QStringLiteral("CRC32 mismatch in the yEnc part 1 of y.bin; it is not kept")}},
        {"overlapping parts that disagree",
         {part(1, 1, 500), part(2, 401, 1000, "y.bin", other)},
         {{"y.bin", joined}},
         "y.bin\r\n",
         {waits("y.bin", 500, 1000)},
         {QStringLiteral(
             "CRC32 mismatch in y.bin, joined from its parts; the file is kept as decoded")}},
        {"a part beyond the file's size",
         {part(3, 801, 1001)},
         {},
         "",
         {},
         {QStringLiteral("The yEnc part 3 of y.bin has no place in its file (bytes 801 to 1001 of "
                         "1000); it is not kept")}},
        {"a part cut short",
         {cut},
         {},
         "",
         {},
         {QStringLiteral("The yEnc part 2 of y.bin is incomplete; it is not kept")}},
        {"a part shorter than its place",
         {Declaring(p3, "end=1000", "end=999").replace("size=200 part", "size=199 part")},
         {},
         "",
         {},
         {QStringLiteral("Size mismatch in the yEnc part 3 of y.bin: 200 bytes decoded, 199 "
                         "declared; it is not kept")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PartsReader r(c.articles);
        r.ExpectScriptPlayed();
        QMap<QByteArray, QByteArray> expected = c.after;
        expected["notes.txt"] = kUserData;
        EXPECT_EQ(Contents(r.dir.path()), expected);
        EXPECT_EQ(r.names, c.names);
        EXPECT_EQ(r.notices, c.notices);
        EXPECT_EQ(r.problems, c.problems);
    }
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

struct Poster : ScriptedNntp {
    QTemporaryDir dir;

    explicit Poster(const QByteArray& conversation) : ScriptedNntp({conversation}) {
        nntp.OnPosted = [this](QObject*) { events << QStringLiteral("posted"); };
        nntp.OnPostFailed = [this](QObject*, quint16 code, const QString& reply) {
            events << QStringLiteral("failed %1 %2").arg(code).arg(reply.trimmed());
        };
        nntp.PostHeader.Add("Newsgroups: zk.test");
        nntp.PostHeader.Add("Subject: hello");
    }

    QString WriteFile(const char* name, const QByteArray& bytes) const {
        const QString path = dir.path() + QLatin1Char('/') + QLatin1String(name);
        ::WriteFile(path, bytes);
        return path;
    }

    // Everything the client sent after POST, as lines.
    QList<QByteArray> Article() const { return server.Received().mid(1); }
};

QByteArray Accepting(int articleLines) {
    QByteArray script = script::Greeting() + "C: POST\nS: 340 send it\n";
    for (int i = 0; i < articleLines; ++i) {
        script += "C: *\n";
    }
    return script + "C: .\nS: 240 article posted\n";
}

const QString kConnect = QStringLiteral("connect");
const QString kPosted = QStringLiteral("posted");

} // namespace

TEST(NntpPost, AHeaderTwoEmptyLinesAndTheBodyGoOnTheWire) {
    Poster p(Accepting(5));
    p.nntp.PostBody.Add("one line");
    p.nntp.Connect();
    p.nntp.PostArticle();
    EXPECT_EQ(p.Article(), (QList<QByteArray>{"Newsgroups: zk.test", "Subject: hello", "", "",
                                              "one line", "."}));
    EXPECT_EQ(p.events, (QStringList{kConnect, kPosted}));
    p.ExpectScriptPlayed();
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
    EXPECT_EQ(p.events, (QStringList{kConnect, kPosted}));
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
    EXPECT_EQ(p.events, (QStringList{kConnect, kPosted}));
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
    EXPECT_EQ(refused.events,
              (QStringList{kConnect, QStringLiteral("failed 441 441 posting failed")}));
    EXPECT_FALSE(refused.nntp.Busy);

    // A refused POST gets no article text, so the conversation stays in step.
    Poster notAllowed(script::Greeting() + "C: POST\nS: 440 posting not allowed\n" +
                      script::Group("a", 1, 1));
    notAllowed.nntp.PostBody.Add("x");
    notAllowed.nntp.Connect();
    EXPECT_THROW(notAllowed.nntp.PostArticle(), NNTPError);
    EXPECT_EQ(notAllowed.events,
              (QStringList{kConnect, QStringLiteral("failed 440 440 posting not allowed")}));
    notAllowed.nntp.SetGroup("a");
    EXPECT_EQ(notAllowed.nntp.LastArticleNo, 1);
    notAllowed.ExpectScriptPlayed();
}

TEST(NntpPost, AnArticleWithANulByteIsRefusedBeforeAnythingIsSent) {
    for (const bool inHeader : {true, false}) {
        Poster p(script::Greeting());
        (inHeader ? p.nntp.PostHeader : p.nntp.PostBody).Add(QByteArray("cut\0here", 8));
        p.nntp.PostBody.Add("body");
        p.nntp.Connect();
        EXPECT_EQ(MessageOf<Exception>([&] { p.nntp.PostArticle(); }),
                  QStringLiteral("The article contains a NUL byte and cannot be posted"));
        EXPECT_TRUE(p.server.Received().isEmpty());
        EXPECT_EQ(p.events, QStringList{kConnect});
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
        // As sent: dot-stuffed, the header ended by its empty line, the "." line last.
        const QList<QByteArray> sent = p.Article();
        ASSERT_EQ(sent.last(), ".");
        const qsizetype headerEnd = sent.indexOf(QByteArray());
        Reader r(
            script::Greeting() +
            script::Article(1, sent.first(headerEnd).join('\n'),
                            sent.sliced(headerEnd + 1, sent.size() - headerEnd - 2).join('\n')));
        r.Read();
        EXPECT_EQ(FileBytes(r.Path("blob.bin")), bytes) << "remainder " << remainder;
    }
}
