#include "recordingpresenter.h"
#include "util/presenter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString Heading() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toUpper() +
           u"\r\n\r\n"_s;
}

// AskNumber with one scripted entry (nullopt cancels); the value after the call in value.
qint64 Ask(TRecordingPresenter& presenter, std::optional<QString> entry, QString& value) {
    presenter.promptAnswers = {entry};
    value = u"4500"_s;
    return AskNumber(u"Start at Posting Number"_s, u"Enter a Number :-"_s, value);
}

} // namespace

TEST(ShowInfo, TrimsBlanksAndControlCharactersAtBothEnds) {
    TRecordingPresenter presenter;
    ShowInfo(u"\r\n\t  Message body \r\n"_s);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_EQ(presenter.infos[0], u"Message body"_s);
}

TEST(ConfirmBox, YesNoFormAppendsAQuestionMarkUnderTheProgramName) {
    TRecordingPresenter presenter;
    presenter.confirmAnswers = {true};
    EXPECT_TRUE(ConfirmBox(u"Delete it"_s));
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions[0].text, Heading() + u"Delete it ?"_s);
    EXPECT_EQ(presenter.questions[0].buttons, TConfirmButtons::YesNo);
}

TEST(ConfirmBox, AtSignSelectsOkCancelWithoutQuestionMark) {
    TRecordingPresenter presenter;
    EXPECT_FALSE(ConfirmBox(u"@Proceed"_s));
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions[0].text, Heading() + u"Proceed"_s);
    EXPECT_EQ(presenter.questions[0].buttons, TConfirmButtons::OkCancel);
}

TEST(ConfirmBox, WithoutAPresenterEveryQuestionIsDeclined) {
    ASSERT_EQ(InstalledPresenter(), nullptr);
    EXPECT_FALSE(ConfirmBox(u"Retry"_s));
    QString value = u"5"_s;
    EXPECT_FALSE(PromptFor(u"c"_s, u"p"_s, value));
    EXPECT_EQ(value, u"5"_s);
}

TEST(AskNumber, ReturnsTheNumberAndKeepsTheEntryAsTyped) {
    TRecordingPresenter presenter;
    QString value;
    EXPECT_EQ(Ask(presenter, u"-12"_s, value), -12);
    EXPECT_EQ(value, u"-12"_s);
    EXPECT_EQ(Ask(presenter, u"9223372036854775807"_s, value), INT64_MAX);
    ASSERT_EQ(presenter.prompts.size(), 2);
    EXPECT_EQ(presenter.prompts[0].caption, u"Start at Posting Number"_s);
    EXPECT_EQ(presenter.prompts[0].value, u"4500"_s);
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST(AskNumber, CancelAndEmptyEntryLeaveSilentMarkers) {
    TRecordingPresenter presenter;
    QString value;
    EXPECT_EQ(Ask(presenter, std::nullopt, value), 0);
    EXPECT_EQ(value, u"zkcanx"_s);
    EXPECT_EQ(Ask(presenter, u""_s, value), 0);
    EXPECT_EQ(value, u"zkvoid"_s);
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST(AskNumber, NonDigitsIncludingBlanksAreRefused) {
    TRecordingPresenter presenter;
    QString value;
    EXPECT_EQ(Ask(presenter, u"12a"_s, value), 0);
    EXPECT_EQ(value, u"zkchar"_s);
    EXPECT_EQ(Ask(presenter, u" 12"_s, value), 0);
    EXPECT_EQ(value, u"zkchar"_s);
    EXPECT_EQ(presenter.infos,
              QList<QString>({u"Numbers Only Please!"_s, u"Numbers Only Please!"_s}));
}

TEST(AskNumber, OnlyTheFirstMinusSignIsCheckedForItsPlace) {
    TRecordingPresenter presenter;
    QString value;
    EXPECT_EQ(Ask(presenter, u"1-2"_s, value), 0);
    EXPECT_EQ(value, u"zkminus"_s);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_EQ(presenter.infos[0], u"Minus Sign in Wrong Place"_s);
}

TEST(AskNumber, EntriesThatPassTheChecksButAreNoNumberGetAnOrderlyMessage) {
    TRecordingPresenter presenter;
    for (const QString& entry : {u"-"_s, u"--5"_s, u"-1-2"_s, u"99999999999999999999"_s}) {
        QString value;
        EXPECT_EQ(Ask(presenter, entry, value), 0) << entry.toStdString();
        EXPECT_EQ(value, u"zkchar"_s) << entry.toStdString();
    }
    EXPECT_EQ(presenter.infos.size(), 4);
}
