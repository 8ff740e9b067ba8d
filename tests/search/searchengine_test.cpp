#include "recordingpresenter.h"
#include "search/searchengine.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The matched text of the last successful match in subject.
QByteArray Matched(const QByteArray& subject) {
    return subject.mid(LastMatchStart - 1, LastMatchEnd - LastMatchStart + 1);
}

} // namespace

TEST(WildcardToRegex, EscapesTheTwelveSpecialCharactersAndTranslatesWildcards) {
    EXPECT_EQ(WildcardToRegex("\\^$.|+(){}[]"_ba), "\\\\\\^\\$\\.\\|\\+\\(\\)\\{\\}\\[\\]"_ba);
    EXPECT_EQ(WildcardToRegex("a*b?c"_ba), "a.*b.{1}c"_ba);
    EXPECT_EQ(WildcardToRegex("plain -_#@~"_ba), "plain -_#@~"_ba);
    EXPECT_EQ(WildcardToRegex(""_ba), ""_ba);
}

TEST(WildcardToRegex, TheMemoAnswersOnlyForTheExactSameText) {
    EXPECT_EQ(WildcardToRegex("a.b"_ba), "a\\.b"_ba);
    EXPECT_EQ(WildcardToRegex("a.b"_ba), "a\\.b"_ba);
    EXPECT_EQ(WildcardToRegex("A.B"_ba), "A\\.B"_ba);
    EXPECT_EQ(WildcardToRegex("a?"_ba), "a.{1}"_ba);
    EXPECT_EQ(WildcardToRegex("a.b"_ba), "a\\.b"_ba);
}

TEST(MatchPattern, LeadingAsterisksDoNotMoveTheMatchToTheStart) {
    const QByteArray subject = "haystack with needle in it"_ba;
    ASSERT_TRUE(MatchPattern("***needle"_ba, subject));
    EXPECT_EQ(LastMatchStart, 15);
    EXPECT_EQ(Matched(subject), "needle"_ba);
}

TEST(MatchPattern, RepeatsAreUngreedyAndTrailingAsteriskAddsNothing) {
    const QByteArray subject = "xabcxc"_ba;
    ASSERT_TRUE(MatchPattern("a*c"_ba, subject));
    EXPECT_EQ(Matched(subject), "abc"_ba);
    ASSERT_TRUE(MatchPattern("ab*"_ba, subject));
    EXPECT_EQ(Matched(subject), "ab"_ba);
    // (?-U) asks for the longest match.
    ASSERT_TRUE(MatchPattern("zkre:(?-U)a.*c"_ba, subject));
    EXPECT_EQ(Matched(subject), "abcxc"_ba);
}

TEST(MatchPattern, QuestionMarkIsOneCharacterAndNoWildcardCrossesALineEnd) {
    EXPECT_TRUE(MatchPattern("c?t"_ba, "a cat"_ba));
    EXPECT_FALSE(MatchPattern("c?t"_ba, "a ct"_ba));
    EXPECT_FALSE(MatchPattern("c?t"_ba, "c\nt"_ba));
    EXPECT_FALSE(MatchPattern("a*c"_ba, "a\nc"_ba));
    EXPECT_TRUE(MatchPattern("a*c"_ba, "a\nac"_ba));
}

TEST(MatchPattern, PlainTextSpecialCharactersMatchOnlyThemselves) {
    EXPECT_TRUE(MatchPattern("3.5"_ba, "version 3.5"_ba));
    EXPECT_FALSE(MatchPattern("3.5"_ba, "version 345"_ba));
    ASSERT_TRUE(MatchPattern("(a+b)"_ba, "x (a+b) y"_ba));
    EXPECT_EQ(LastMatchStart, 3);
    EXPECT_FALSE(MatchPattern("(a+b)"_ba, "aab"_ba));
    EXPECT_TRUE(MatchPattern("[1]"_ba, "article [1]"_ba));
    EXPECT_FALSE(MatchPattern("[1]"_ba, "article 1"_ba));
}

TEST(MatchPattern, PrefixInAnyCaseMarksARegularExpression) {
    EXPECT_TRUE(MatchPattern("ZKRE:b.d"_ba, "abcde"_ba));
    EXPECT_TRUE(MatchPattern("Zkre:^c"_ba, "ab\ncd"_ba));
    EXPECT_EQ(LastMatchStart, 4);
    EXPECT_FALSE(MatchPattern("zkre:^b"_ba, "ab\ncd"_ba));
}

TEST(MatchPattern, EmptyExpressionMatchesAtTheStartWithLengthZero) {
    ASSERT_TRUE(MatchPattern("zkre:"_ba, "abc"_ba));
    EXPECT_EQ(LastMatchStart, 1);
    EXPECT_EQ(LastMatchEnd, 0);
    EXPECT_EQ(LastMatchEnd - LastMatchStart + 1, 0);
}

TEST(MatchPattern, OnlyAsterisksOrAnEmptySubjectFindNothing) {
    ASSERT_TRUE(MatchPattern("b"_ba, "abc"_ba));
    EXPECT_FALSE(MatchPattern("***"_ba, "abc"_ba));
    EXPECT_EQ(LastMatchStart, 0);
    EXPECT_EQ(LastMatchEnd, 0);
    EXPECT_FALSE(MatchPatternCase("*"_ba, "abc"_ba, false));
    EXPECT_FALSE(MatchPattern("zkre:"_ba, ""_ba));
}

TEST(MatchPatternCase, CaseInsensitiveAppliesToUserExpressionsToo) {
    EXPECT_TRUE(MatchPatternCase("Subject"_ba, "SUBJECT: x"_ba, false));
    EXPECT_FALSE(MatchPatternCase("Subject"_ba, "SUBJECT: x"_ba, true));
    EXPECT_TRUE(MatchPatternCase("zkre:sub.ect"_ba, "SUBJECT"_ba, false));
    EXPECT_FALSE(MatchPatternCase("zkre:sub.ect"_ba, "SUBJECT"_ba, true));
    // The user's own switch comes after the inserted one and wins.
    EXPECT_FALSE(MatchPatternCase("zkre:(?-i)sub"_ba, "SUBJECT"_ba, false));
    EXPECT_TRUE(MatchPatternCase("**subj*t"_ba, "re: SUBJECT"_ba, false));
    EXPECT_EQ(LastMatchStart, 5);
}

TEST(MatchPatternCase, BytesBeyondAsciiMatchThemselves) {
    EXPECT_TRUE(MatchPatternCase("caf\xE9"_ba, "un caf\xE9 noir"_ba, true));
    EXPECT_EQ(LastMatchStart, 4);
    EXPECT_TRUE(MatchPatternCase("a\xFF?"_ba, "a\xFF\x01"_ba, false));
}

TEST(CompileRegex, ErrorShowsTheMessageAndThePlaceInTheUsersOwnExpression) {
    TRecordingPresenter presenter;
    const struct {
        QByteArray findText;
        bool caseSensitive;
        TSubjectCoding coding;
        QString message; // the end of the library's line
        QString marked;
    } cases[] = {
        {"zkre:a)"_ba, true, TSubjectCoding::OneBytePerCharacter, u"at character 2"_s,
         u"a HERE-->)"_s},
        {"zkre:subject ("_ba, false, TSubjectCoding::OneBytePerCharacter, u"at character 10"_s,
         u"subject ( HERE-->"_s},
        // Characters, not bytes, in a UTF-8 search.
        {"zkre:мир)x"_ba, false, TSubjectCoding::Utf8, u"at character 4"_s, u"мир HERE-->)x"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.findText.constData());
        presenter.infos.clear();
        EXPECT_FALSE(MatchPatternCase(c.findText, "subject"_ba, c.caseSensitive, c.coding));
        ASSERT_EQ(presenter.infos.size(), 1);
        const QStringList lines = presenter.infos[0].split(u"\r\n"_s);
        ASSERT_EQ(lines.size(), 3);
        EXPECT_EQ(lines[0], u"Regular Expression Error :-"_s);
        EXPECT_TRUE(lines[1].contains(u"parenthesis"_s)) << lines[1].toStdString();
        EXPECT_TRUE(lines[1].endsWith(c.message)) << lines[1].toStdString();
        EXPECT_EQ(lines[2], c.marked);
        EXPECT_EQ(LastMatchStart, 0);
    }
}

TEST(CompileRegex, ErrorIsShownOncePerAttemptAndNotForAnEmptySubject) {
    TRecordingPresenter presenter;
    EXPECT_FALSE(MatchPatternCase("zkre:("_ba, "abc"_ba, false));
    EXPECT_FALSE(MatchPatternCase("zkre:("_ba, "abc"_ba, false));
    EXPECT_FALSE(MatchPatternCase("zkre:("_ba, ""_ba, false));
    ASSERT_EQ(presenter.infos.size(), 2);
    EXPECT_TRUE(presenter.infos[0].endsWith(u"\r\n( HERE-->"_s))
        << presenter.infos[0].toStdString();
}

TEST(FindTextCompiles, SaysWithoutASubjectWhetherAFindTextCanMatchAtAll) {
    TRecordingPresenter presenter;
    const struct {
        QByteArray findText;
        bool compiles;
    } cases[] = {
        {"zkre:("_ba, false},
        {"zkre:(?-i)a"_ba, true},
        {"plain (text)*"_ba, true},
        {"***"_ba, true},
        {""_ba, true},
        // The options are the library's, not text in front: a start-of-pattern item still
        // stands at the start.
        {"zkre:(*CRLF)^b$"_ba, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindTextCompiles(c.findText, false), c.compiles) << c.findText.constData();
        EXPECT_EQ(LastMatchError, !c.compiles) << c.findText.constData();
    }
    EXPECT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(MatchPatternCase("zkre:(*CRLF)^B$"_ba, "a\r\nb"_ba, false));
}

TEST(LastMatchError, TellsAFindTextThatCannotMatchFromOneThatFoundNothing) {
    TRecordingPresenter presenter;
    const struct {
        QByteArray findText;
        QByteArray subject;
        bool error;
    } cases[] = {
        {"zkre:("_ba, "abc"_ba, true},
        {"zkre:x"_ba, "abc"_ba, false},
        {"zkre:a)"_ba, "abc"_ba, true},
        {"b"_ba, "abc"_ba, false},
        {"zkre:("_ba, ""_ba, false},
    };
    for (const auto& c : cases) {
        MatchPatternCase(c.findText, c.subject, false);
        EXPECT_EQ(LastMatchError, c.error) << c.findText.toStdString();
    }
    const TCompiledRegex regex = CompileRegex("(*LIMIT_MATCH=1)(\\w+\\s?)*$"_ba);
    EXPECT_FALSE(ExecRegex(regex, "aaaaaaaaaaaaaaaaaaaa!"_ba));
    EXPECT_TRUE(LastMatchError);
}

TEST(ExecRegex, AMatchingFailureOtherThanNoMatchIsReported) {
    TRecordingPresenter presenter;
    // A match limit too small for the work: the library gives up with an error, not "no match".
    const TCompiledRegex regex = CompileRegex("(*LIMIT_MATCH=1)(\\w+\\s?)*$"_ba);
    ASSERT_TRUE(regex);
    EXPECT_FALSE(ExecRegex(regex, "aaaaaaaaaaaaaaaaaaaa!"_ba));
    EXPECT_EQ(presenter.infos, QList<QString>({u"Internal PCRE Matching Error"_s}));
    EXPECT_EQ(LastMatchStart, 0);
}

TEST(MatchPattern, ARepeatTooDeepForCompiledMachineCodeStillMatches) {
    TRecordingPresenter presenter;
    const QByteArray subject = QByteArray(200000, 'a') + 'c';
    EXPECT_TRUE(MatchPattern("zkre:(?-U)(a|b)*c"_ba, subject));
    EXPECT_EQ(LastMatchEnd, subject.size());
    EXPECT_TRUE(presenter.infos.isEmpty());
}

