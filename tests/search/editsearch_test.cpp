#include "recordingpresenter.h"
#include "search/editsearch.h"
#include "search/searchengine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class FindInEditTest : public ::testing::Test {
protected:
    FindInEditTest() {
        edit.resize(400, 300);
        edit.show();
    }
    ~FindInEditTest() override { edit.hide(); }

    void SetText(const QString& text) { edit.setPlainText(text); }
    QString Selected() const { return edit.textCursor().selectedText(); }
    QString Question(const QString& rest) const {
        return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toUpper() +
               u"\r\n\r\n"_s + rest + u" ?"_s;
    }

    QPlainTextEdit edit;
    TRecordingPresenter presenter;
};

QString ManyLines(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        lines += u"line %1"_s.arg(i);
    }
    return lines.join(u'\n');
}

} // namespace

TEST_F(FindInEditTest, FindsFromTheStartPositionAndSelectsTheMatch) {
    SetText(u"one two three two"_s);
    EXPECT_EQ(FindInEdit(&edit, 0, u"two"_s, false, false), 4);
    EXPECT_EQ(Selected(), u"two"_s);
    EXPECT_EQ(FindInEdit(&edit, 5, u"two"_s, false, false), 14);
    EXPECT_EQ(edit.textCursor().selectionStart(), 14);
    EXPECT_TRUE(presenter.questions.isEmpty());
}

TEST_F(FindInEditTest, AStartAtOrPastTheEndSearchesFromTheTop) {
    SetText(u"abc abc"_s);
    EXPECT_EQ(EditTextLength(&edit), 7);
    EXPECT_EQ(FindInEdit(&edit, 7, u"abc"_s, false, false), 0);
    EXPECT_EQ(FindInEdit(&edit, 1000, u"abc"_s, false, false), 0);
    EXPECT_EQ(FindInEdit(&edit, -4, u"abc"_s, false, false), 0);
}

TEST_F(FindInEditTest, WholeWordAppliesToPlainTextOnly) {
    SetText(u"concat a cat."_s);
    EXPECT_EQ(FindInEdit(&edit, 0, u"cat"_s, true, false), 9);
    EXPECT_EQ(FindInEdit(&edit, 0, u"zkre:ca."_s, true, false), 3);
    EXPECT_EQ(Selected(), u"cat"_s);
    SetText(u"concat"_s);
    SetControlTag(&edit, NoQuestionTag);
    EXPECT_EQ(FindInEdit(&edit, 0, u"cat"_s, true, false), -1);
}

TEST_F(FindInEditTest, LetterCaseIsIgnoredUnlessAskedEvenInExpressions) {
    SetControlTag(&edit, NoQuestionTag);
    SetText(u"Subject: x\nSUBJECT: y"_s);
    EXPECT_EQ(FindInEdit(&edit, 1, u"subject"_s, false, false), 11);
    EXPECT_EQ(FindInEdit(&edit, 1, u"zkre:^sub"_s, false, false), 11);
    EXPECT_EQ(FindInEdit(&edit, 1, u"Subject"_s, false, true), -1);
    EXPECT_EQ(FindInEdit(&edit, 1, u"zkre:(?-i)subject"_s, false, false), -1);
}

TEST_F(FindInEditTest, CaretAnchorsAtTheStartPositionAndEmptyExpressionMatchesThere) {
    SetText(u"abc\ndef"_s);
    EXPECT_EQ(FindInEdit(&edit, 1, u"zkre:^b"_s, false, false), 1);
    EXPECT_EQ(FindInEdit(&edit, 2, u"zkre:"_s, false, false), 2);
    EXPECT_FALSE(edit.textCursor().hasSelection());
}

TEST_F(FindInEditTest, TextIsMatchedAsUnicodeCharactersAtTheirPositions) {
    SetText(u"\u20ac \U0001F600 caf\u00e9 cat \u041c\u043e\u0441\u043a\u0432\u0430 \u65e5\u672c"_s);
    struct Case {
        QString findText;
        bool wholeWord;
        bool caseSensitive;
        qint32 position;
        QString selected;
    };
    const Case cases[] = {
        {u"caf\u00e9"_s, false, true, 5, u"caf\u00e9"_s},
        {u"cat"_s, false, true, 10, u"cat"_s},
        {u"\U0001F600?c"_s, false, true, 2, u"\U0001F600 c"_s},
        {u"\u041c\u043e\u0441\u043a\u0432?"_s, false, true, 14,
         u"\u041c\u043e\u0441\u043a\u0432\u0430"_s},
        {u"\u043c\u043e\u0441\u043a\u0432\u0430"_s, true, false, 14,
         u"\u041c\u043e\u0441\u043a\u0432\u0430"_s},
        {u"\u043e\u0441\u043a\u0432\u0430"_s, true, false, -1, QString()},
        {u"\u65e5?"_s, false, true, 21, u"\u65e5\u672c"_s},
        {u"\u041c\u043e\u0441\u0442"_s, false, false, -1, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.findText.toStdString());
        EXPECT_EQ(FindInEdit(&edit, 0, c.findText, c.wholeWord, c.caseSensitive), c.position);
        if (c.position >= 0) {
            EXPECT_EQ(Selected(), c.selected);
        }
    }
}

TEST_F(FindInEditTest, EmptyOrAsteriskOnlyFindTextsFindNothingWithoutAQuestion) {
    SetText(u"text"_s);
    EXPECT_EQ(FindInEdit(&edit, 0, QString(), false, false), -1);
    EXPECT_EQ(FindInEdit(&edit, 0, u"***"_s, false, false), -1);
    EXPECT_TRUE(presenter.questions.isEmpty());
}

TEST_F(FindInEditTest, RunningOutOffersToStartAgainFromTheTop) {
    SetText(u"alpha beta"_s);
    presenter.confirmAnswers = {true};
    EXPECT_EQ(FindInEdit(&edit, 3, u"*alpha"_s, false, false), 0);
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions[0].text,
              Question(u"Search for\r\n*alpha\r\nNo More Found - Start Again From the Top"_s));
    EXPECT_EQ(presenter.questions[0].buttons, TConfirmButtons::YesNo);
}

TEST_F(FindInEditTest, TheQuestionRepeatsUntilDeclinedAndDescribesTheOptions) {
    SetText(u"alpha beta"_s);
    presenter.confirmAnswers = {true, true, false};
    EXPECT_EQ(FindInEdit(&edit, 0, u"gamma"_s, true, true), -1);
    ASSERT_EQ(presenter.questions.size(), 3);
    EXPECT_EQ(presenter.questions[2].text,
              Question(u"Whole Word Case Sensitive Search for\r\ngamma\r\n"
                       u"No More Found - Start Again From the Top"_s));
    presenter.questions.clear();
    EXPECT_EQ(FindInEdit(&edit, 0, u"zkre:gam+a"_s, true, false), -1);
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_TRUE(presenter.questions[0].text.contains(u"\r\n\r\nSearch for\r\nzkre:gam+a"_s));
}

TEST_F(FindInEditTest, NoQuestionTagSuppressesTheQuestion) {
    SetText(u"alpha"_s);
    SetControlTag(&edit, NoQuestionTag);
    EXPECT_EQ(FindInEdit(&edit, 2, u"alpha"_s, false, false), -1);
    EXPECT_TRUE(presenter.questions.isEmpty());
}

TEST_F(FindInEditTest, AnInvalidExpressionIsReportedOncePerAttempt) {
    SetText(u"text"_s);
    SetControlTag(&edit, NoQuestionTag);
    EXPECT_EQ(FindInEdit(&edit, 0, u"zkre:("_s, false, false), -1);
    EXPECT_EQ(presenter.infos.size(), 1);
    EXPECT_EQ(LastMatchStart, 0);
}

TEST_F(FindInEditTest, TheFoundLineEndsUpAboutAThirdBelowTheTop) {
    SetText(ManyLines(300));
    const qint32 position = FindInEdit(&edit, 0, u"line 200"_s, false, true);
    ASSERT_GT(position, 0);
    EXPECT_EQ(Selected(), u"line 200"_s);
    QTextCursor at(edit.document());
    at.setPosition(position);
    const int lineHeight = edit.fontMetrics().height();
    const int third = edit.height() / lineHeight / 3;
    EXPECT_NEAR(edit.cursorRect(at).top() / lineHeight, third, 1);
}

TEST_F(FindInEditTest, ShowSelectionNeverScrollsBackUp) {
    SetText(ManyLines(300));
    ShowSelection(&edit, 0, 4);
    EXPECT_EQ(edit.verticalScrollBar()->value(), 0);
    EXPECT_EQ(Selected(), u"line"_s);
    ShowSelection(&edit, 0, 100000);
    EXPECT_EQ(edit.textCursor().selectionEnd(), EditTextLength(&edit));
}

TEST(FindInEditRich, RichTextViewsAreSearchedTheSameWay) {
    TRecordingPresenter presenter;
    QTextEdit edit;
    edit.resize(400, 300);
    edit.show();
    edit.setPlainText(u"first\nsecond needle"_s);
    EXPECT_EQ(EditTextLength(&edit), 19);
    EXPECT_EQ(FindInEdit(&edit, 0, u"need*e"_s, false, false), 13);
    EXPECT_EQ(edit.textCursor().selectedText(), u"needle"_s);
    EXPECT_EQ(ControlTag(&edit), 0);
}
