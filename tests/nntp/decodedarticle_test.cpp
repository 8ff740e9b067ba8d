// The decoded article: header fields, body and MIME structure from the lines the client keeps.
#include "nntp/decodedarticle.h"

#include "testhelpers.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(DecodedArticle, HeaderFieldsAreUnfoldedAndTheClientsOwnLinesAreNoPartOfTheArticle) {
    // As GetArticle leaves them: the empty line, then ArtId; the body ends with ".".
    const TDecodedArticle article(
        ListOfLines("Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n =?UTF-8?Q?_aus_K=C3=B6ln?=\r\n"
                    "From: =?ISO-8859-1?Q?Zo=EB?= <zoe@zk.test>\r\nMessage-ID: <=?x?Q?y?=@zk>\r\n"
                    "\r\nArtId: 7\r\n"),
        ListOfLines("first\r\n.\r\nlast\r\n.\r\n"));
    EXPECT_EQ(article.Header(),
              "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n =?UTF-8?Q?_aus_K=C3=B6ln?=\r\n"
              "From: =?ISO-8859-1?Q?Zo=EB?= <zoe@zk.test>\r\nMessage-ID: <=?x?Q?y?=@zk>\r\n");
    const QList<THeaderField>& fields = article.Fields();
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0].value, "=?UTF-8?Q?Gr=C3=BC=C3=9Fe?= =?UTF-8?Q?_aus_K=C3=B6ln?=");
    const QString shown[] = {u"Grüße aus Köln"_s, u"Zoë <zoe@zk.test>"_s, u"<=?x?Q?y?=@zk>"_s};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FieldDisplayValue(fields[i].name, fields[i].value), shown[i]);
    }
    // Only the last "." closed the reply; the one before it is a line the poster wrote.
    EXPECT_EQ(article.Body(), "first\r\n.\r\nlast\r\n");
    ASSERT_EQ(article.Parts().size(), 1);
    EXPECT_EQ(article.Parts()[0].mediaType, "text/plain");

    // A HEAD retrieval: header, ".", ArtId; no body.
    const TDecodedArticle head(ListOfLines("Subject: h\r\n.\r\nArtId: 2\r\n"), TStringList());
    EXPECT_EQ(head.Header(), "Subject: h\r\n");
    EXPECT_EQ(head.Body(), QByteArray());
}

TEST(DecodedArticle, PartsCarryTheirOwnHeaderCharsetEncodingAndFileName) {
    const TDecodedArticle article(
        ListOfLines("MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n"
                    "\tboundary=\"=_outer\"\r\n\r\n"),
        ListOfLines(
            "preamble\r\n--=_outer\r\n"
            "Content-Type: text/plain; CHARSET=\"koi8-r\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n\r\n\xF0\xD2\xC9\xD7\xC5\xD4\r\n"
            "--=_outer\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
            "Content-Transfer-Encoding: Quoted-Printable\r\n\r\ncaf=e9 =3D so=\r\nft = x\r\n"
            "--=_outer\r\nContent-Type: application/octet-stream\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
            " filename*0*=utf-8''%C3%BC; filename*1=ber.bin\r\n\r\nAAEC\r\n"
            "--=_outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
            "--inner\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n--inner--\r\n"
            "--=_outer--\r\nepilogue\r\n.\r\n"));
    const QList<TArticlePart>& parts = article.Parts();
    ASSERT_EQ(parts.size(), 4);
    // The line end before each delimiter line belongs to that line, not to the part.
    EXPECT_EQ(parts[0].charset, "koi8-r");
    EXPECT_EQ(parts[0].Text(), u"Привет"_s);
    EXPECT_EQ(parts[1].transferEncoding, "quoted-printable");
    EXPECT_EQ(parts[1].Text(), u"café = soft = x"_s);
    EXPECT_FALSE(parts[2].IsText());
    EXPECT_EQ(parts[2].fileName, "\xC3\xBC"
                                 "ber.bin");
    EXPECT_EQ(parts[2].content, QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(parts[3].mediaType, "text/html");
    EXPECT_EQ(parts[3].content, "<p>x</p>");
    // Read, each part's last line still ends.
    EXPECT_TRUE(article.BodyText().startsWith(u"Привет\r\n\r\ncafé = soft = x\r\n\r\n"_s));
}

TEST(DecodedArticle, ContentThatDoesNotDecodeAndAMultipartWithoutPartsStayAsTheyCame) {
    const struct {
        QByteArray header;
        QByteArray body;
        QString text;
        QByteArray unknownCharset;
    } cases[] = {
        {"Content-Transfer-Encoding: base64\r\n", "not base64!\r\n", u"not base64!\r\n"_s, ""},
        {"Content-Transfer-Encoding: base64\r\n", "w6Q=\r\n", u"ä"_s, ""},
        {"Content-Transfer-Encoding: x-unknown\r\n", "a=E9\r\n", u"a=E9\r\n"_s, ""},
        {"Content-Type: multipart/mixed; boundary=b\r\n", "no parts\r\n", u"no parts\r\n"_s, ""},
        {"Content-Type: text/plain; charset=x-mystery\r\n",
         "Gr\xC3\xBC\xC3\x9F"
         "e\r\n",
         u"Grüße\r\n"_s, "x-mystery"},
        {"",
         "Gr\xFC\xDF"
         "e\r\n",
         u"Grüße\r\n"_s, ""},
        {"Content-Type: text/plain; charset=UTF-8; format=flowed\r\n",
         "one \r\n two\r\n> quoted \r\n> on\r\n>> deeper\r\n-- \r\nsig\r\n",
         u"one two\r\n> quoted on\r\n>> deeper\r\n-- \r\nsig\r\n"_s, ""},
        {"Content-Type: text/plain; format=Flowed; DelSp=Yes\r\n", "Gro\xC3\x9F \r\nartig\r\n",
         u"Großartig\r\n"_s, ""},
    };
    for (const auto& c : cases) {
        const TDecodedArticle article(ListOfLines(c.header + "\r\n"),
                                      ListOfLines(c.body + ".\r\n"));
        QByteArray unknownCharset;
        EXPECT_EQ(article.BodyText(&unknownCharset), c.text) << c.header.constData();
        EXPECT_EQ(unknownCharset, c.unknownCharset);
    }
}

TEST(DecodedArticle, PartsAtEveryDepthWithTheirDefaultTypeAndExactContent) {
    const struct {
        const char* shape;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> parts; // media type, content
    } cases[] = {
        {"nested, the line end before each delimiter line belonging to it",
         "--o\r\nContent-Type: multipart/alternative; boundary=i\r\n\r\n--i\r\n\r\na\r\n\r\n"
         "--i\r\nContent-Type: text/html\r\n\r\n<b>\r\n--i--\r\n--o\r\n"
         "Content-Type: application/x-raw\r\n\r\nraw\r\n--o--\r\n",
         {{"text/plain", "a\r\n"}, {"text/html", "<b>"}, {"application/x-raw", "raw"}}},
        {"a digest: parts without a type are articles",
         "--o\r\nContent-Type: multipart/digest; boundary=d\r\n\r\n--d\r\n\r\n"
         "Subject: one\r\n\r\nfirst\r\n--d\r\nContent-Type: text/plain\r\n\r\nnote\r\n--d--\r\n"
         "--o--\r\n",
         {{"message/rfc822", "Subject: one\r\n\r\nfirst"}, {"text/plain", "note"}}},
        {"no empty line after the header, or no header at all",
         "--o\r\nContent-Type: text/x-a\r\n--o\r\nContent-Type: text/x-b\r\nbody b\r\n"
         "--o\r\nbody c\r\n--o--\r\n",
         {{"text/x-a", ""}, {"text/x-b", "body b"}, {"text/plain", "body c"}}},
        {"Base64 lines ending in blanks, a soft line break before the delimiter",
         "--o\r\nContent-Transfer-Encoding: BASE64\r\n\r\nQUJD \r\nREVG\t\r\n--o\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\n--o--\r\n",
         {{"text/plain", "ABCDEF"}, {"text/plain", "soft"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        const TDecodedArticle article(
            ListOfLines("Content-Type: multipart/mixed; boundary=o\r\n\r\n"),
            ListOfLines(c.body + ".\r\n"));
        EXPECT_TRUE(article.IsMultipart());
        QList<std::pair<QByteArray, QByteArray>> parts;
        for (const TArticlePart& part : article.Parts()) {
            parts.append({part.mediaType, part.content});
        }
        EXPECT_EQ(parts, c.parts);
    }
}
