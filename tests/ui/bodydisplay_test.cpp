// The reading page's texts from an article's header and body lines as the client delivers them.
#include "ui/bodydisplay.h"

#include "testhelpers.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Body lines as the client keeps them: the given lines, then the closing ".".
TStringList Body(const QByteArray& text) {
    return ListOfLines(text + ".\r\n");
}

} // namespace

TEST(ArticleDisplay, TheBodyIsReadThroughItsDeclarationsAndTrimmedAtBothEnds) {
    const QByteArray qp = "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    const QByteArray base64 = "CONTENT-TRANSFER-ENCODING: BASE64\r\n\r\n";
    const struct {
        QByteArray header;
        QByteArray body;
        QString shown;
    } cases[] = {
        {"Subject: plain\r\n\r\n", "\r\n  first\r\nsecond\r\n\r\n", u"first\nsecond"_s},
        {"Subject: plain\r\n\r\n", "", QString()},
        // The client has already undone the wire's doubling of these dots.
        {"Subject: plain\r\n\r\n", "text\r\n.profile\r\n.\r\n...\r\nend\r\n",
         u"text\n.profile\n.\n...\nend"_s},
        {qp, "Caf=E9 cr=e8me =3D good=\r\ns, pla=EEt.\r\na=3D41\r\n",
         u"Café crème = goods, plaît.\na=41"_s},
        {qp, "one=\r\n.two=\r\n..three\r\nx\r\n", u"one.two..three\nx"_s},
        // Two blanks after the colon are still the header they are.
        {"Content-Transfer-Encoding:  quoted-printable\r\n\r\n", "Caf=E9\r\n", u"Café"_s},
        {base64, "VGhpcyBib2R5IGlzIEJhc2U2NCBl\r\nbmNvZGVkLg==\r\n\r\n",
         u"This body is Base64 encoded."_s},
        {base64, "This is not base64!\r\n", u"This is not base64!"_s},
        {"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n",
         "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x80\x94\r\n",
         u"Schöne Grüße —"_s},
        // Text parts are read, other parts shown as they came.
        {"Content-Type: multipart/mixed; boundary=b\r\n\r\n",
         "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: Quoted-Printable\r\n\r\nna=EFve\r\n"
         "--b\r\nContent-Type: image/png; name=\"x.png\"\r\n\r\niVBO\r\n--b--\r\n",
         u"naïve\n\nContent-Type: image/png; name=\"x.png\"\n\niVBO"_s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArticleDisplay(ListOfLines(c.header), Body(c.body)).body, c.shown)
            << c.body.constData();
    }
}

TEST(ArticleDisplay, TheHeaderShowsEncodedWordsDecodedAndEverythingElseAsItCame) {
    const TArticleDisplay display = ArticleDisplay(
        ListOfLines("Subject: =?UTF-8?B?U2Now7ZuZQ==?=\r\n =?UTF-8?B?IEdyw7zDn2U=?=\r\n"
                    "X-Long: one\r\n two\r\nMessage-ID: <=?UTF-8?Q?a?=@zk>\r\n"
                    "Content-Type: text/plain; charset=x-mystery\r\n\r\nArtId: 5\r\n"),
        Body("text\r\n"));
    EXPECT_EQ(display.header, u"Subject: Schöne Grüße\nX-Long: one\n two\n"
                              u"Message-ID: <=?UTF-8?Q?a?=@zk>\n"
                              u"Content-Type: text/plain; charset=x-mystery\n\nArtId: 5\n"_s);
    EXPECT_EQ(display.unknownCharset, "x-mystery");
}
