// Finding an article's files in its lines without decoding them, the body with a line standing
// for each, and decoding one when it is asked for.
#include "nntp/attachmentscan.h"

#include "testhelpers.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// "abc" as a whole yEnc file, with its CRC32.
const QByteArray kYEncAbc = "=ybegin line=128 size=3 name=abc.bin\r\n\x8b\x8c\x8d\r\n"
                            "=yend size=3 crc32=352441c2\r\n";
// "abc" uuencoded.
const QByteArray kUuAbc = "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n";
const QByteArray kMultipartHeader =
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"b1\"\r\n\r\nArtId: 4\r\n";

struct TShape {
    const char* what;
    QByteArray header;
    QByteArray body;
    QStringList paneLines;
    // The first and end line of each file found, in order.
    QList<std::pair<int, int>> ranges;
    QByteArray bodyShown;
};

} // namespace

TEST(AttachmentScan, EachShapeOfArticleListsItsFilesAndTheirLines) {
    const QList<TShape> shapes{
        {"a plain article",
         "Subject: x\r\n",
         "hello\r\nbegin with words\r\n.\r\n",
         {},
         {},
         "hello\r\nbegin with words\r\n.\r\n"},
        {"a whole yEnc file between text",
         "Subject: x\r\n",
         "see\r\n" + kYEncAbc + "bye\r\n.\r\n",
         {u"abc.bin \u2014 3 bytes, yEnc"_s},
         {{1, 4}},
         "see\r\n[yEnc: abc.bin, 3 bytes]\r\nbye\r\n.\r\n"},
        {"a yEnc part of five, size of the whole file",
         "Subject: x\r\n",
         "=ybegin part=2 total=5 line=128 size=1200000 name=big.rar\r\n"
         "=ypart begin=1 end=3\r\n\x8b\x8c\x8d\r\n=yend size=3 part=2\r\n.\r\n",
         {u"big.rar \u2014 1.2 MB, yEnc, part 2 of 5"_s},
         {{0, 4}},
         "[yEnc: big.rar, 1.2 MB]\r\n.\r\n"},
        {"two uuencoded files, the second cut short",
         "Subject: x\r\n",
         kUuAbc + "middle\r\nbegin 666 b.jpg\r\nM86)C" + QByteArray(56, 'a') + "\r\n.\r\n",
         {u"a.txt \u2014 about 3 bytes, uuencoded"_s, u"b.jpg \u2014 about 45 bytes, uuencoded"_s},
         {{0, 4}, {5, 7}},
         "[uuencoded: a.txt, about 3 bytes]\r\nmiddle\r\n[uuencoded: b.jpg, about 45 bytes]\r\n"
         ".\r\n"},
        {"a hostile block name made plain",
         "Subject: x\r\n",
         "begin 644 ../../etc/passwd\r\n#86)C\r\n`\r\nend\r\n.\r\n",
         {u"passwd \u2014 about 3 bytes, uuencoded"_s},
         {{0, 4}},
         "[uuencoded: passwd, about 3 bytes]\r\n.\r\n"},
        {"MIME parts: text, a picture in base64, a nested text with a yEnc block",
         kMultipartHeader,
         "preamble\r\n--b1\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
         "--b1\r\nContent-Type: image/png; name=\"p.png\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQF\r\nAAEC\r\n"
         "--b1\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n--in\r\n\r\n" +
             kYEncAbc + "--in--\r\n--b1--\r\n.\r\n",
         {u"p.png \u2014 about 9 bytes, MIME base64"_s, u"abc.bin \u2014 3 bytes, yEnc"_s},
         {{6, 11}, {16, 19}},
         "preamble\r\n--b1\r\nContent-Type: text/plain\r\n\r\nhi\r\n--b1\r\n\r\n"
         "[MIME: p.png, about 9 bytes]\r\n--b1\r\nContent-Type: multipart/alternative; "
         "boundary=in\r\n\r\n--in\r\n\r\n[yEnc: abc.bin, 3 bytes]\r\n--in--\r\n--b1--\r\n.\r\n"},
        {"a quoted-printable part named by its disposition",
         kMultipartHeader,
         "--b1\r\nContent-Type: application/pdf; name=wrong.pdf\r\n"
         "Content-Disposition: attachment; filename=\"r\u00e9sum\u00e9.pdf\"\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\nab=3Dc\r\n--b1--\r\n.\r\n",
         {u"r\u00e9sum\u00e9.pdf \u2014 about 6 bytes, MIME quoted-printable"_s},
         {{1, 6}},
         "--b1\r\n\r\n[MIME: r\u00e9sum\u00e9.pdf, about 6 bytes]\r\n--b1--\r\n.\r\n"},
        {"a part whose header lacks the empty line",
         kMultipartHeader,
         "--b1\r\nContent-Type: application/zip; name=z.zip\r\n"
         "Content-Transfer-Encoding: base64\r\nAAECAwQF\r\n--b1--\r\n.\r\n",
         {u"z.zip \u2014 about 6 bytes, MIME base64"_s},
         {{1, 4}},
         "--b1\r\n\r\n[MIME: z.zip, about 6 bytes]\r\n--b1--\r\n.\r\n"},
        {"a single-part article that is a file",
         "Content-Type: application/zip; name=z.zip\r\n"
         "Content-Transfer-Encoding: base64\r\n",
         "AAECAwQF\r\n.\r\n",
         {u"z.zip \u2014 about 6 bytes, MIME base64"_s},
         {{0, 1}},
         "[MIME: z.zip, about 6 bytes]\r\n.\r\n"},
        {"part 1 of a uuencoded file cut into articles: its \"begin\", no \"end\"",
         "Subject: \"h.jpg\" (1/3) yEnc-free\r\n",
         "begin 644 h.jpg\r\nM" + QByteArray(60, 'a') + "\r\n.\r\n",
         {u"h.jpg \u2014 about 45 bytes, uuencoded, part 1 of 3"_s},
         {{0, 2}},
         "[uuencoded: h.jpg, about 45 bytes]\r\n.\r\n"},
        {"a later part: the data lines from the first full one, named by the subject",
         "Subject: holiday pictures - h.jpg (3/3)\r\n",
         "last one\r\nM" + QByteArray(60, 'A') + "\r\n#86)C\r\n`\r\nend\r\nbye\r\n.\r\n",
         {u"h.jpg \u2014 about 48 bytes, uuencoded, part 3 of 3"_s},
         {{1, 5}},
         "last one\r\n[uuencoded: h.jpg, about 48 bytes]\r\nbye\r\n.\r\n"},
        {"a whole uuencoded file in a post of several is no part",
         "Subject: pictures (2/2)\r\n",
         kUuAbc + ".\r\n",
         {u"a.txt \u2014 about 3 bytes, uuencoded"_s},
         {{0, 4}},
         "[uuencoded: a.txt, about 3 bytes]\r\n.\r\n"},
        {"a full data line in an article that is no later part is text",
         "Subject: notes (1/2)\r\n",
         "M" + QByteArray(60, 'A') + "\r\n.\r\n",
         {},
         {},
         "M" + QByteArray(60, 'A') + "\r\n.\r\n"},
        {"a base64 text part is not searched for blocks",
         kMultipartHeader,
         "--b1\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "=ybegin size=3 name=x\r\n--b1--\r\n.\r\n",
         {},
         {},
         "--b1\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "=ybegin size=3 name=x\r\n--b1--\r\n.\r\n"},
    };
    for (const TShape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        const TStringList body = ListOfLines(shape.body);
        const QList<TFoundAttachment> found = FindAttachments(ListOfLines(shape.header), body);
        QStringList paneLines;
        QList<std::pair<int, int>> ranges;
        for (const TFoundAttachment& file : found) {
            paneLines << file.PaneLine();
            ranges << std::pair{file.firstLine, file.endLine};
        }
        EXPECT_EQ(paneLines, shape.paneLines);
        EXPECT_EQ(ranges, shape.ranges);
        EXPECT_EQ(QString::fromUtf8(BodyWithPlaceholders(body, found).Text()),
                  QString::fromUtf8(shape.bodyShown));
    }
}

TEST(AttachmentScan, AFileDecodesWithTheClientsCodecsAndSaysWhatIsWrongWithIt) {
    struct TCase {
        const char* what;
        QByteArray header;
        QByteArray body;
        QByteArray bytes;
        QString problem;
    };
    const QList<TCase> cases{
        {"yEnc", "Subject: x\r\n", kYEncAbc + ".\r\n", "abc", QString()},
        {"yEnc with a wrong CRC32", "Subject: x\r\n",
         "=ybegin line=128 size=3 name=abc.bin\r\n\x8b\x8c\x8e\r\n=yend size=3 crc32=352441c2\r\n",
         "abd", u"CRC32 mismatch in abc.bin"_s},
        {"yEnc cut short", "Subject: x\r\n", "=ybegin line=128 size=3 name=abc.bin\r\n\x8b\r\n",
         "a", u"the yEnc block of abc.bin is incomplete"_s},
        {"uuencoded", "Subject: x\r\n", "text\r\n" + kUuAbc + ".\r\n", "abc", QString()},
        {"a base64 part", kMultipartHeader,
         "--b1\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "YWJj\r\n--b1--\r\n",
         "abc", QString()},
        {"a binary part loses the line end that belongs to the delimiter", kMultipartHeader,
         "--b1\r\nContent-Type: application/octet-stream\r\n\r\nab\r\nc\r\n--b1--\r\n", "ab\r\nc",
         QString()},
        {"a single-part article in base64",
         "Content-Type: application/zip\r\n"
         "Content-Transfer-Encoding: BASE64\r\n",
         "YWJj\r\n.\r\n", "abc", QString()},
        {"a part that does not decode is kept as it came", kMultipartHeader,
         "--b1\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "#!\r\n--b1--\r\n",
         "#!\r\n", u"the base64 encoding of Extract.dat does not decode; saved as it came"_s},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.what);
        const TStringList header = ListOfLines(test.header);
        const TStringList body = ListOfLines(test.body);
        const QList<TFoundAttachment> found = FindAttachments(header, body);
        ASSERT_EQ(found.size(), 1);
        QString problem = u"left from before"_s;
        EXPECT_EQ(DecodeAttachment(header, body, found.first(), problem), test.bytes);
        EXPECT_EQ(problem, test.problem);
    }
}

TEST(AttachmentScan, FilesThatRunWhenOpenedAreKnownByNameHeaderOrType) {
    const QList<std::tuple<QString, QByteArray, bool>> files{
        {u"setup.exe"_s, "", true},
        {u"RUN.BAT"_s, "", true},
        {u"x.scr"_s, "", true},
        {u"a.desktop"_s, "[Desktop Entry]", true},
        {u"tool.AppImage"_s, "", true},
        {u"s.sh"_s, "", true},
        {u"lib.jar"_s, "PK\x03\x04", true},
        {u"p.py"_s, "", true},
        {u"noext"_s,
         "\x7f"
         "ELF\x02\x01",
         true},
        {u"photo.jpg"_s, "#!/bin/sh\n", true},
        {u"readme"_s, "MZ\x90\x00", true},
        {u"photo.jpg"_s, "\xff\xd8\xff\xe0", false},
        {u"notes.txt"_s, "hello", false},
        {u"p.png"_s, "\x89PNG\r\n", false},
        {u"archive.tar.gz"_s, "\x1f\x8b", false},
    };
    for (const auto& [name, head, runs] : files) {
        EXPECT_EQ(IsExecutableFile(name, head), runs) << name.toStdString();
    }
}
