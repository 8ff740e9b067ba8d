#include "util/filehelpers.h"
#include "util/texthelpers.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(NthField, CountsEmptyFieldsAndAnswersLineFeedPastTheEnd) {
    EXPECT_EQ(NthField("a\nb"_ba, "\n"_ba, 1), "a"_ba);
    EXPECT_EQ(NthField("a\nb"_ba, "\n"_ba, 2), "b"_ba);
    EXPECT_EQ(NthField("a\nb"_ba, "\n"_ba, 3), "\n"_ba);
    EXPECT_EQ(NthField("a\n\nc"_ba, "\n"_ba, 2), ""_ba);
    EXPECT_EQ(NthField("a\n\nc"_ba, "\n"_ba, 3), "c"_ba);
    // A trailing delimiter opens one more, empty, field.
    EXPECT_EQ(NthField("a\n"_ba, "\n"_ba, 2), ""_ba);
    EXPECT_EQ(NthField(""_ba, "\n"_ba, 2), "\n"_ba);
}

TEST(NthField, AnyDelimiterCharacterEndsAField) {
    EXPECT_EQ(NthField("host:119,user"_ba, ":,"_ba, 2), "119"_ba);
    EXPECT_EQ(NthField("host:119,user"_ba, ":,"_ba, 3), "user"_ba);
    // The carriage return of a CR LF line end stays with its field, for the caller to trim.
    EXPECT_EQ(NthField("from\r\nreply\r\n"_ba, "\n"_ba, 1), "from\r"_ba);
}

TEST(MinInt64, TakesTheSmallerAcrossTheWholeRange) {
    EXPECT_EQ(MinInt64(-1, 5), -1);
    EXPECT_EQ(MinInt64(INT64_MAX, INT64_MIN), INT64_MIN);
    EXPECT_EQ(MinInt64(7, 7), 7);
}

TEST(ReplaceText, OccurrencesNeverOverlap) {
    EXPECT_EQ(ReplaceAll("aaa"_ba, "aa"_ba, "b"_ba, true), "ba"_ba);
    EXPECT_EQ(ReplaceAll("aaaa"_ba, "aa"_ba, "aab"_ba, true), "aabaab"_ba);
}

TEST(ReplaceText, CaseInsensitiveKeepsTheCaseOutsideTheOccurrences) {
    EXPECT_EQ(ReplaceAll("Foo foo"_ba, "FOO"_ba, "x"_ba, false), "x x"_ba);
    EXPECT_EQ(ReplaceAll("Re: RE: re: Subject"_ba, "re: "_ba, ""_ba, false), "Subject"_ba);
    EXPECT_EQ(ReplaceAll("Foo foo"_ba, "FOO"_ba, "x"_ba, true), "Foo foo"_ba);
}

TEST(ReplaceText, FirstOnlyStopsAfterOneReplacementInBothPaths) {
    EXPECT_EQ(ReplaceText("a.b.c"_ba, "."_ba, "-"_ba, true, true), "a-b.c"_ba);
    EXPECT_EQ(ReplaceText("a..b..c"_ba, ".."_ba, "--"_ba, true, true), "a--b..c"_ba);
}

TEST(ReplaceText, OneCharacterReplacementsWorkInPlaceAndHonourCase) {
    EXPECT_EQ(ReplaceAll("A.a.A"_ba, "a"_ba, "x"_ba, false), "x.x.x"_ba);
    EXPECT_EQ(ReplaceAll("A.a.A"_ba, "a"_ba, "x"_ba, true), "A.x.A"_ba);
    // A zero byte is a character like any other.
    EXPECT_EQ(ReplaceAll(QByteArray("a\0b", 3), QByteArray(1, '\0'), "-"_ba, true), "a-b"_ba);
}

TEST(ReplaceText, EmptyInputsAndAbsentTextLeaveTheTextAlone) {
    EXPECT_EQ(ReplaceAll("abc"_ba, ""_ba, "x"_ba, true), "abc"_ba);
    EXPECT_EQ(ReplaceAll(""_ba, "a"_ba, "x"_ba, true), ""_ba);
    EXPECT_EQ(ReplaceAll("abc"_ba, "z"_ba, "x"_ba, true), "abc"_ba);
}

TEST(ReplaceText, TextsBeyondHalfAMillionCharactersComeOutWhole) {
    QByteArray text;
    QByteArray expected;
    for (int i = 0; i < 120000; ++i) {
        text += "line\r\n";
        expected += "line\n";
    }
    const QByteArray result = ReplaceAll(text, "\r\n"_ba, "\n"_ba, true);
    ASSERT_EQ(result.size(), expected.size());
    EXPECT_EQ(result, expected);
    EXPECT_EQ(ReplaceAll(result, "\n"_ba, "\r\n"_ba, true), text);
}

TEST(DecodeBase64Text, DecodesTheStandardVectors) {
    EXPECT_EQ(DecodeBase64Text("TWFu"_ba), "Man"_ba);
    EXPECT_EQ(DecodeBase64Text("TWE="_ba), "Ma"_ba);
    EXPECT_EQ(DecodeBase64Text("TQ=="_ba), "M"_ba);
    EXPECT_EQ(DecodeBase64Text("TWFu\r\nTWFu"_ba), "ManMan"_ba);
    EXPECT_EQ(DecodeBase64Text("+/+/"_ba), "\xFB\xFF\xBF"_ba);
}

TEST(DecodeBase64Text, KeepsZeroBytesAndStopsAtPadding) {
    EXPECT_EQ(DecodeBase64Text("AAAA"_ba), QByteArray(3, '\0'));
    EXPECT_EQ(DecodeBase64Text("TQ==TWFu"_ba), "M"_ba);
}

TEST(DecodeBase64Text, InvalidTextGivesNothing) {
    EXPECT_EQ(DecodeBase64Text("TWF"_ba), ""_ba);
    EXPECT_EQ(DecodeBase64Text("TW u"_ba), ""_ba);
    EXPECT_EQ(DecodeBase64Text(""_ba), ""_ba);
    EXPECT_EQ(DecodeBase64Text("\r\n"_ba), ""_ba);
    EXPECT_EQ(DecodeBase64Text("TWFuTW!u"_ba), ""_ba);
    // Padding can only stand in the last two places of a group.
    EXPECT_EQ(DecodeBase64Text("=AAA"_ba), ""_ba);
    EXPECT_EQ(DecodeBase64Text("A=AA"_ba), ""_ba);
}

TEST(DecodeBase64Text, TildeWritesTheBytesToASniffedFileInTheProgramDir) {
    // "GIF89a" followed by a zero byte.
    const QByteArray result = DecodeBase64Text("~R0lGODlhAA==\r\n"_ba);
    ASSERT_TRUE(result.startsWith('~'));
    const QString name = QFile::decodeName(result.mid(1));
    EXPECT_TRUE(name.startsWith(ProgramDir() + u"zk64_"_s));
    EXPECT_TRUE(name.endsWith(u".gif"_s));
    const QString letters = name.mid(ProgramDir().size() + 5, 20);
    EXPECT_EQ(letters, letters.toLower());
    EXPECT_EQ(LoadTextFile(name), QByteArray("GIF89a\0", 7));
    QFile::remove(name);
}

TEST(DecodeBase64Text, TildeWithInvalidTextWritesNoFile) {
    EXPECT_EQ(DecodeBase64Text("~TW u"_ba), ""_ba);
}

TEST(SniffExtension, RecognisesLeadingBytesFirstMatchWinning) {
    EXPECT_EQ(SniffExtension("BM\x01\x02"_ba), "bmp"_ba);
    EXPECT_EQ(SniffExtension("MZ"_ba), "exe"_ba);
    EXPECT_EQ(SniffExtension("PK\x03\x04rest"_ba), "zip"_ba);
    EXPECT_EQ(SniffExtension("PK\x05\x06"_ba), "bin"_ba);
    EXPECT_EQ(SniffExtension("RIFF\x10\x00\x00\x00"
                             "AVI LIST"_ba),
              "avi"_ba);
    EXPECT_EQ(SniffExtension("RIFF\x10\x00\x00\x00WAVEfmt "_ba), "wav"_ba);
    EXPECT_EQ(SniffExtension("\x89PNG\r\n"_ba), "png"_ba);
    EXPECT_EQ(SniffExtension(QByteArray("\x00\x00\x01\xBA", 4)), "mpg"_ba);
    EXPECT_EQ(SniffExtension(QByteArray("\x00\x00\x01\x00", 4)), "ico"_ba);
    EXPECT_EQ(SniffExtension(QByteArray("\x00\x01\x00\x00", 4)), "mdb"_ba);
    EXPECT_EQ(SniffExtension(QByteArray("\x01\x00\x00\x00", 4)), "emf"_ba);
    EXPECT_EQ(SniffExtension(QByteArray("\x06\x00", 2)), "cpd"_ba);
    EXPECT_EQ(SniffExtension("\xFF\xD8\xFF\xE0"_ba), "jpg"_ba);
    EXPECT_EQ(SniffExtension("{\\rtf1"_ba), "rtf"_ba);
    EXPECT_EQ(SniffExtension("BEGIN:VCALENDAR\r\n"_ba), "ics"_ba);
    EXPECT_EQ(SniffExtension("BEGIN:VCARD"_ba), "bin"_ba);
    EXPECT_EQ(SniffExtension(""_ba), "bin"_ba);
}
