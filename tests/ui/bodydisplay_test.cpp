// The body pane's bytes from an article's header and body lines as the client delivers them.
#include "ui/bodydisplay.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray kPlain = "Subject: plain\r\n\r\n"_ba;
const QByteArray kQuotedPrintable =
    "Subject: qp\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"_ba;
const QByteArray kBase64 = "Subject: b64\r\nCONTENT-TRANSFER-ENCODING: BASE64\r\n\r\n"_ba;

// Body lines as the client keeps them: the given lines, then the closing ".".
TStringList Body(std::initializer_list<const char*> lines) {
    TStringList body;
    for (const char* line : lines) {
        body.Add(line);
    }
    body.Add(".");
    return body;
}

} // namespace

TEST(BodyForDisplay, APlainBodyIsItsLinesWithoutTheClosingDotTrimmedAtBothEnds) {
    EXPECT_EQ(BodyForDisplay(kPlain, Body({"", "  first", "second", "", ""})),
              "first\r\nsecond"_ba);
    EXPECT_EQ(BodyForDisplay(kPlain, Body({})), QByteArray());
}

TEST(BodyForDisplay, LinesThatBeginWithADotStayAsThePosterWroteThem) {
    // The client has already undone the wire's doubling of these dots.
    EXPECT_EQ(BodyForDisplay(kPlain, Body({"text", ".profile", ".", "...", "end"})),
              "text\r\n.profile\r\n.\r\n...\r\nend"_ba);
    // Only the last item can be the closing line; a list without it loses nothing.
    TStringList unterminated;
    unterminated.Add("a");
    unterminated.Add("b.");
    EXPECT_EQ(BodyForDisplay(kPlain, unterminated), "a\r\nb."_ba);
}

TEST(BodyForDisplay, QuotedPrintableDecodesEscapesInEitherCaseEqualsSignsAndSoftBreaks) {
    EXPECT_EQ(BodyForDisplay(kQuotedPrintable,
                             Body({"Caf=E9 cr=e8me =3D good=", "s, s'il vous pla=EEt.", "a=3D41"})),
              "Caf\xE9 cr\xE8me = goods, s'il vous pla\xEEt.\r\na=41"_ba);
}

TEST(BodyForDisplay, ASoftBreakBeforeALineOfDotsKeepsEveryDot) {
    EXPECT_EQ(BodyForDisplay(kQuotedPrintable, Body({"one=", ".two=", "..three", "x"})),
              "one.two..three\r\nx"_ba);
}

TEST(BodyForDisplay, AQuotedPrintablePartHeaderInTheBodyDecodesTheWholeBody) {
    const TStringList body =
        Body({"--b", "Content-Type: text/plain", "Content-Transfer-Encoding: Quoted-Printable", "",
              "na=EFve", "--b--"});
    EXPECT_EQ(BodyForDisplay(kPlain, body),
              "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: Quoted-Printable\r\n"
              "\r\nna\xEFve\r\n--b--"_ba);
}

TEST(BodyForDisplay, AHeaderWithTwoSpacesAfterTheColonIsNotRecognised) {
    const QByteArray header = "Content-Transfer-Encoding:  quoted-printable\r\n\r\n"_ba;
    EXPECT_EQ(BodyForDisplay(header, Body({"Caf=E9"})), "Caf=E9"_ba);
    const QByteArray base64 = "Content-Transfer-Encoding:  base64\r\n\r\n"_ba;
    EXPECT_EQ(BodyForDisplay(base64, Body({"aGk="})), "aGk="_ba);
}

TEST(BodyForDisplay, Base64LinesAreJoinedAndDecoded) {
    EXPECT_EQ(BodyForDisplay(kBase64, Body({"VGhpcyBib2R5IGlzIEJhc2U2NCBl", "bmNvZGVkLg==", ""})),
              "This body is Base64 encoded."_ba);
    // Decoded bytes are shown as they are, zero bytes included.
    EXPECT_EQ(BodyForDisplay(kBase64, Body({"AAEC"})), QByteArray("\x00\x01\x02", 3));
}

TEST(BodyForDisplay, ABodyThatIsNotValidBase64IsShownUndecoded) {
    EXPECT_EQ(BodyForDisplay(kBase64, Body({"This is not base64!"})), "This is not base64!"_ba);
    EXPECT_EQ(BodyForDisplay(kBase64, Body({"abcde"})), "abcde"_ba);
}
