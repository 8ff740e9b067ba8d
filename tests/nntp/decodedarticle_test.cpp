// The decoded article: header fields, body and MIME structure from the lines the client keeps.
#include "nntp/decodedarticle.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TStringList Lines(const QByteArray& text) {
    TStringList lines;
    lines.SetText(text);
    return lines;
}

} // namespace

TEST(DecodedArticle, HeaderFieldsAreUnfoldedAndTheClientsOwnLinesAreNoPartOfTheArticle) {
    // As GetArticle leaves them: the empty line, then ArtId; the body ends with ".".
    const TDecodedArticle article(
        Lines("Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n =?UTF-8?Q?_aus_K=C3=B6ln?=\r\n"
              "From: =?ISO-8859-1?Q?Zo=EB?= <zoe@zk.test>\r\nMessage-ID: <=?x?Q?y?=@zk>\r\n"
              "\r\nArtId: 7\r\n"),
        Lines("first\r\n.\r\nlast\r\n.\r\n"));
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
    const TDecodedArticle head(Lines("Subject: h\r\n.\r\nArtId: 2\r\n"), TStringList());
    EXPECT_EQ(head.Header(), "Subject: h\r\n");
    EXPECT_EQ(head.Body(), QByteArray());
}

TEST(DecodedArticle, PartsCarryTheirOwnHeaderCharsetEncodingAndFileName) {
    const TDecodedArticle article(
        Lines("MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n"
              "\tboundary=\"=_outer\"\r\n\r\n"),
        Lines("preamble\r\n--=_outer\r\n"
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
    EXPECT_EQ(parts[0].charset, "koi8-r");
    EXPECT_EQ(parts[0].Text(), u"Привет\r\n"_s);
    EXPECT_EQ(parts[1].transferEncoding, "quoted-printable");
    EXPECT_EQ(parts[1].Text(), u"café = soft = x\r\n"_s);
    EXPECT_FALSE(parts[2].IsText());
    EXPECT_EQ(parts[2].fileName, "\xC3\xBC" "ber.bin");
    EXPECT_EQ(parts[2].content, QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(parts[3].mediaType, "text/html");
    EXPECT_EQ(parts[3].content, "<p>x</p>\r\n");
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
        {"Content-Type: text/plain; charset=x-mystery\r\n", "Gr\xC3\xBC\xC3\x9F" "e\r\n",
         u"Grüße\r\n"_s, "x-mystery"},
        {"", "Gr\xFC\xDF" "e\r\n", u"Grüße\r\n"_s, ""},
        {"Content-Type: text/plain; charset=UTF-8; format=flowed\r\n",
         "one \r\n two\r\n> quoted \r\n> on\r\n>> deeper\r\n-- \r\nsig\r\n",
         u"one two\r\n> quoted on\r\n>> deeper\r\n-- \r\nsig\r\n"_s, ""},
        {"Content-Type: text/plain; format=Flowed; DelSp=Yes\r\n", "Gro\xC3\x9F \r\nartig\r\n",
         u"Großartig\r\n"_s, ""},
    };
    for (const auto& c : cases) {
        const TDecodedArticle article(Lines(c.header + "\r\n"), Lines(c.body + ".\r\n"));
        QByteArray unknownCharset;
        EXPECT_EQ(article.BodyText(&unknownCharset), c.text) << c.header.constData();
        EXPECT_EQ(unknownCharset, c.unknownCharset);
    }
}
