#include "ui/displaytext.h"
#include "util/texthelpers.h"

#include <QPlainTextEdit>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(DisplayText, EveryByteSurvivesTheRoundTrip) {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b) {
        if (b != '\n') {
            bytes += static_cast<char>(b);
        }
    }
    bytes += "\r\nend\r\n";
    EXPECT_EQ(WireBytes(DisplayText(bytes)), bytes);
}

TEST(DisplayText, BytesReadAsWindows1252WithLfLineEnds) {
    EXPECT_EQ(DisplayText("caf\xE9 \x80 \x93quoted\x94\r\nnext\r\n"),
              u"caf\u00E9 \u20AC \u201Cquoted\u201D\nnext\n"_s);
    // A lone CR or LF is left for the view to break at.
    EXPECT_EQ(DisplayText("a\rb\nc"), u"a\rb\nc"_s);
    EXPECT_EQ(DisplayText("\xA0"), u"\u00A0"_s);
}

TEST(DisplayText, CharactersTheCodePageLacksBecomeQuestionMarks) {
    EXPECT_EQ(WireBytes(u"\u20AC \u0416\n"_s), "\x80 ?\r\n");
}

TEST(DisplayText, PaneTextKeepsNoBreakSpacesThatThePlainTextOfTheViewTurnsIntoBlanks) {
    QPlainTextEdit pane;
    pane.setPlainText(u"100\u00A0km\nsecond\n"_s);
    EXPECT_EQ(PaneText(&pane), u"100\u00A0km\nsecond\n"_s);
    EXPECT_EQ(pane.toPlainText(), u"100 km\nsecond\n"_s);
}

TEST(DisplayText, TrimBlanksAndControlsDropsAndControlsButNotNoBreakSpaces) {
    EXPECT_EQ(TrimBlanksAndControls(u"\r\n\t a b \x01\n"_s), u"a b"_s);
    EXPECT_EQ(TrimBlanksAndControls(u"\u00A0x\u00A0"_s), u"\u00A0x\u00A0"_s);
}
