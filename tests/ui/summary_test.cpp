// The article list summary page: listing a group, Get Article # and its caches, View Article at
// Cursor, the line search, HeaderValue.
#include "window.h"

#include "modal.h"
#include "nntp/nntpwire.h"
#include "overviewshapes.h"
#include "search/searchengine.h"

#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

using namespace Qt::Literals::StringLiterals;

namespace {

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

} // namespace

class SummaryTest : public GroupWindowTest {};

// ---------------------------------------------------------------------------------------------
// Listing

TEST_F(SummaryTest, EachArticleIsATwoLineEntryAndTheCaretEndsBehindTheLast) {
    ListSmallGroup(3);
    EXPECT_EQ(PaneText(form.Memo4), u"[1] From: user1@example\n    Subject: Subject 1\n"
                                    u"[2] From: user2@example\n    Subject: Subject 2\n"
                                    u"[3] From: user3@example\n    Subject: Subject 3\n"_s);
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    EXPECT_EQ(TForm1Access::ListStart(form), 1);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    // The closing View Article at Cursor stands on the empty last line and opens nothing.
    EXPECT_EQ(form.Memo4->CaretPosition(), PaneText(form.Memo4).size());
    EXPECT_FALSE(server.Received().contains("ARTICLE 3"));
    ExpectScriptPlayed();
}

// Each entry is made from its overview line's fields as it was from the header lines the client
// made of them: number, From and Subject decoded, the thread order that Message-ID and
// References give, and the number each line belongs to (which read marks go by); so too when
// the group is shown again from the store.
TEST_F(SummaryTest, EntriesOfOverviewLinesOfEveryShapeAreThoseOfTheirHeaderLines) {
    TSummaryState expected;
    for (const QByteArray& line : OverviewShapes()) {
        TExStringList fields;
        for (const QByteArray& field : nntpwire::SplitSummaryLine(line)) {
            fields.Add(field);
        }
        expected.AddEntry(TPostRecordType(fields), fields.GetValue("Message-ID"),
                          fields.GetUnfoldedValue("References"));
    }
    const auto lineNumbers = [](const TSummaryState& summary) {
        std::vector<qint64> numbers;
        for (qint64 line = 0; line < summary.LineCount(); ++line) {
            numbers.push_back(summary.EntryNumberOfLine(line));
        }
        return numbers;
    };
    ListGroup(kOverviewShapes, OverviewShapesScript(), script::Group(kGroup, 1, kOverviewShapes));
    const TSummaryState& shown = TForm1Access::Summary(form);
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "from the store" : "from the server");
        if (stored) {
            form.ListBox1DblClick();
        }
        for (const bool threaded : {false, true}) {
            form.ComboBox2->setCurrentIndex(threaded ? TForm1::kOrderByThread
                                                     : TForm1::kOrderByNumber);
            expected.LayOut(threaded ? TSummaryState::TOrder::ByThread
                                     : TSummaryState::TOrder::ByNumber);
            EXPECT_EQ(shown.Text(), expected.Text()) << "threaded " << threaded;
            EXPECT_EQ(lineNumbers(shown), lineNumbers(expected)) << "threaded " << threaded;
        }
    }
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, FiveHundredNumbersAreListedWithoutAsking) {
    OpenGroup(1, 501, script::Overview(1, 501, script::Summaries(500, 501)));
    form.Button3Click();
    EXPECT_TRUE(presenter.prompts.isEmpty());
    EXPECT_EQ(TForm1Access::ListStart(form), 1);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, FiveHundredAndOneNumbersAskForTheStartProposingTheNewest500) {
    OpenGroup(1, 502, script::Overview(2, 502, script::Summaries(501, 502)));
    presenter.promptAnswers = {u"2"_s};
    form.Button3Click();
    ASSERT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(presenter.prompts[0].caption, u"Start at Posting Number"_s);
    EXPECT_EQ(presenter.prompts[0].prompt, u"Enter a Number (Range 1 - 502) :-"_s);
    EXPECT_EQ(presenter.prompts[0].value, u"2"_s);
    EXPECT_EQ(TForm1Access::ListStart(form), 2);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AStartAboveTheLastListsTheNewest500AndOneBelowTheFirstTheWholeGroup) {
    // Each group on its first visit: the start is asked for only then.
    const QByteArray other = "zk.test.other";
    StartUp();
    Connect(
        script::Greeting() + script::GroupList({kGroup.constData(), other.constData()}) +
        script::Group(kGroup, 100, 750) + script::Overview(250, 750, script::Summaries(750, 750)) +
        script::Group(other, 100, 750) + script::Overview(100, 750, script::Summaries(100, 100)));
    // Beyond 32 bits too: the start is compared as entered.
    presenter.promptAnswers = {u"99999999999"_s, u"-5"_s};
    SelectGroup(QString::fromLatin1(kGroup));
    form.Button3Click();
    EXPECT_EQ(TForm1Access::ListStart(form), 250);
    SelectGroup(QString::fromLatin1(other));
    form.Button3Click();
    EXPECT_EQ(TForm1Access::ListStart(form), 100);
    EXPECT_EQ(SummaryLines().first(), u"[100] From: user100@example"_s);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ACancelledOrInvalidStartKeepsThePreviousListing) {
    // With a store only the first visit asks; without one every listing does.
    WithoutStore();
    OpenGroup(1, 600,
              script::Overview(100, 600, script::Summaries(100, 101)) +
                  script::Group(kGroup, 1, 600) + script::Group(kGroup, 1, 600));
    presenter.promptAnswers = {u"100"_s, std::nullopt, u"1x"_s};
    form.Button3Click();
    presenter.infos.clear();
    const QString listing = PaneText(form.Memo4);
    form.Button3Click();
    EXPECT_EQ(TForm1Access::ListStart(form), 100);
    form.Button3Click();
    EXPECT_EQ(presenter.infos, QList<QString>{u"Numbers Only Please!"_s});
    EXPECT_EQ(TForm1Access::ListStart(form), 100);
    EXPECT_EQ(PaneText(form.Memo4), listing);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AGroupWhoseFirstAndLastAreEqualHasNoArticlesToList) {
    OpenGroup(7, 7, QByteArray());
    form.Button3Click();
    EXPECT_EQ(presenter.infos, QList<QString>{u"No Articles Found"_s});
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet3);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, TheNumberFieldAndStatusShowTheLastValuesWithoutAPaintPerEntry) {
    OpenGroup(1, 400, script::Overview(1, 400, script::Summaries(1, 400)));
    form.show();
    TPaintCounter counter(form.Edit7);
    form.Button3Click();
    EXPECT_EQ(form.Edit7->text(), u"400"_s);
    EXPECT_EQ(form.StatusText(), u"224 overview follows"_s);
    EXPECT_LT(counter.paints, 40);
}

// The bar is set, and so paints itself, only as often as the window is repainted while the
// reply arrives, not at every report of a thousand summaries.
TEST_F(SummaryTest, TheProgressBarIsPaintedAtTheWindowsPaceNotAtEveryReport) {
    constexpr int kLast = 30000;
    OpenGroup(1, kLast, script::Overview(1, kLast, script::Summaries(1, kLast)));
    presenter.promptAnswers = {u"1"_s};
    form.show();
    TPaintCounter counter(form.ProgressBar1);
    QElapsedTimer elapsed;
    elapsed.start();
    form.Button3Click();
    ASSERT_TRUE(TForm1Access::Summary(form).HasEntry(kLast));
    // A repaint every 50 ms at most, and the first at once; however slow the machine, the
    // bound only grows with the time the listing took.
    EXPECT_LE(counter.paints, 2 + elapsed.elapsed() / 50);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, TheStatusBarShowsTheSummariesReceivedOfThoseAnnouncedWhileAListingRuns) {
    OpenGroup(1, 2500, script::Overview(1, 2500, script::Summaries(1, 2500)));
    presenter.promptAnswers = {u"1"_s};
    bool shown = false;
    int value = 0;
    int maximum = 0;
    WhenProgressIsShown([&] {
        shown = !form.ProgressBar1->isHidden();
        value = form.ProgressBar1->value();
        maximum = form.ProgressBar1->maximum();
    });
    form.Button3Click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(value, 1000);
    EXPECT_EQ(maximum, 2500);
    EXPECT_TRUE(form.ProgressBar1->isHidden());
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ADoubleClickOpensTheGroupAndEmptiesTheCaches) {
    ListSmallGroup(2, script::Article(1, "Subject: Subject 1", "one") +
                          script::Group(kGroup, 1, 2) +
                          script::Overview(1, 2, script::Summaries(1, 2)));
    GetArticle(1);
    ASSERT_EQ(TForm1Access::AttachTextCache(form).Count(), 1);
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet3);
    const QRect item = form.ListBox1->visualItemRect(form.ListBox1->item(0));
    QTest::mouseDClick(form.ListBox1->viewport(), Qt::LeftButton, {}, item.center());
    EXPECT_EQ(TForm1Access::AttachTextCache(form).Count(), 0);
    EXPECT_EQ(TForm1Access::BodyTextCache(form).Count(), 0);
    EXPECT_EQ(TForm1Access::HeaderTextCache(form).Count(), 0);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    EXPECT_EQ(SummaryLines().size(), 5);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AnotherGroupNotListedAfterAllLeavesTheListingWithItsOwnGroupSelected) {
    const QByteArray other = "zk.test.many";
    struct Case {
        const char* how;
        std::optional<QString> answer; // to the start question, when it is asked
        int otherLast;
    };
    const Case cases[] = {{"cancelled", std::nullopt, 751},
                          {"no number", u"1x"_s, 751},
                          {"no articles", std::nullopt, 1}};
    QByteArray conversation =
        script::Greeting() + script::GroupList({kGroup.constData(), other.constData()}) +
        script::Group(kGroup, 1, 2) + script::Overview(1, 2, script::Summaries(1, 2)) +
        script::Article(2, "Subject: offline?", "small two");
    for (const Case& c : cases) {
        conversation += script::Group(other, 1, c.otherLast) + script::Group(kGroup, 1, 2);
    }
    StartUp();
    Connect(conversation + script::Article(1, "Subject: first", "small one"));
    SelectGroup(QString::fromLatin1(kGroup));
    form.Button3Click();
    GetArticle(2);
    const QString listing = PaneText(form.Memo4);
    form.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        form.PageControl1->setCurrentWidget(form.TabSheet3);
        SelectGroup(QString::fromLatin1(other));
        presenter.promptAnswers = {c.answer};
        const QRect item = form.ListBox1->visualItemRect(form.ListBox1->currentItem());
        QTest::mouseDClick(form.ListBox1->viewport(), Qt::LeftButton, {}, item.center());
        EXPECT_EQ(PaneText(form.Memo4), listing);
        EXPECT_EQ(form.QRNNTP1->CurrentGroup, kGroup);
        EXPECT_EQ(form.windowTitle(), u"ZK News Reader - zk.test.small Start:1 End:2"_s);
        EXPECT_EQ(TForm1Access::BodyTextCache(form).Count(), 1);
    }
    // View Article at Cursor opens the small group's articles: the one read from the cache,
    // the other from the server.
    const qsizetype sent = CommandsSent();
    CaretToLine(2);
    form.Button9->click();
    EXPECT_EQ(PaneText(form.Memo2), u"small two"_s);
    EXPECT_EQ(CommandsSent(), sent);
    CaretToLine(0);
    form.Button9->click();
    EXPECT_EQ(PaneText(form.Memo2), u"small one"_s);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ListingAnotherGroupEmptiesTheCachesOfTheFirst) {
    const QByteArray other = "zk.test.other";
    StartUp();
    Connect(script::Greeting() + script::GroupList({kGroup.constData(), other.constData()}) +
            script::Group(kGroup, 1, 2) + script::Overview(1, 2, script::Summaries(1, 2)) +
            script::Article(1, "Subject: first group", "one") + script::Group(other, 1, 2) +
            script::Overview(1, 2, script::Summaries(1, 2)) +
            script::Article(1, "Subject: second group", "two"));
    SelectGroup(QString::fromLatin1(kGroup));
    form.Button3Click();
    GetArticle(1);
    SelectGroup(QString::fromLatin1(other));
    form.Button3Click();
    GetArticle(1);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"second group"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"two"_s);
    EXPECT_EQ(TForm1Access::BodyTextCache(form).Count(), 1);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Get Article #

TEST_F(SummaryTest, GetArticleShowsTheArticleAndFillsTitleStatusAndReplySubject) {
    ListSmallGroup(3, script::Article(2,
                                      "From: Ann <ann@example>\nSubject: Hello\n"
                                      "Date: Mon, 1 Jan 2024\nLines: 1",
                                      "text"));
    GetArticle(2);
    EXPECT_FALSE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
    EXPECT_EQ(form.Label10->text(), u"[2] Hello [Mon, 1 Jan 2024]"_s);
    EXPECT_EQ(form.StatusText(), u"From :Ann <ann@example>  Lines=1"_s);
    EXPECT_EQ(form.Edit11->text(), u"Re: Hello"_s);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ANumberTheSummaryLacksIsRefusedSilentlyOneBelowTheListGoesToTheServer) {
    OpenGroup(1, 600,
              script::Overview(100, 600, script::Summaries(100, 101)) +
                  script::Article(50, "Subject: old", "body"));
    presenter.promptAnswers = {u"100"_s};
    form.Button3Click();
    const qsizetype sent = CommandsSent();
    GetArticle(102);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(CommandsSent(), sent);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    GetArticle(50);
    EXPECT_FALSE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"old"_s);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AnArticleReadBeforeComesFromTheCachesWithoutTheServer) {
    ListSmallGroup(3, script::Article(1, "Subject: one", "first body") +
                          script::Article(2, "Subject: Re: two", "second body"));
    GetArticle(1);
    GetArticle(2);
    const qsizetype sent = CommandsSent();
    GetArticle(1);
    EXPECT_EQ(CommandsSent(), sent);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"one"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"first body"_s);
    EXPECT_EQ(form.Label10->text(), u"[1] one []"_s);
    EXPECT_EQ(TForm1Access::BodyTextCache(form).Count(), 2);
    EXPECT_EQ(TForm1Access::AttachTextCache(form).Objects(1).toInt(), 2);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, EncodedWordsAreReadInTheSummaryAndTheCachesKeepTheArticleBytes) {
    const QByteArray header = "From: =?ISO-8859-1?Q?J=FCrgen?= <j@example>\n"
                              "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\n"
                              "Content-Type: text/plain; charset=KOI8-R";
    const QByteArray body = "\xF0\xD2\xC9\xD7\xC5\xD4";
    ListGroup(3,
              script::Summary(1, "=?ISO-8859-1?Q?Gr=FC=DFe?= =?KOI8-R?B?IMkg0NLJ18XU?=",
                              "=?UTF-8?Q?Zo=C3=AB?= <zoe@example>") +
                  script::Summary(2, "=?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", "j@example") +
                  script::Summary(3, "other", "x@example"),
              script::Article(2, header, body) + script::Article(3, "Subject: other", "x"));
    EXPECT_EQ(SummaryLines().mid(0, 2), (QStringList{u"[1] From: Zoë <zoe@example>"_s,
                                                     u"    Subject: Grüße и привет"_s}));
    // Search goes over the text as shown: line by line from the caret.
    CaretToLine(1);
    find.fndtxt->setCurrentText(u"grüße"_s);
    find.dirgrp->SetItemIndex(TForm1::kDirectionDown);
    form.FindInSummary();
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"Привет"_s);
    EXPECT_EQ(form.HeaderValue(u"from: "_s), u"Jürgen <j@example>"_s);
    EXPECT_EQ(TForm1Access::BodyTextCache(form)[0], body + "\r\n.\r\n");
    EXPECT_TRUE(TForm1Access::HeaderTextCache(form)[0].startsWith(header.left(20)));
    GetArticle(3);
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo2), u"Привет"_s);
    EXPECT_EQ(form.Label10->text(), u"[2] Grüße []"_s);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ThePanesKeepNoUndoStepsForTheTextsTheyShow) {
    ListSmallGroup(2, script::Article(1, "Subject: one", "first body") +
                          script::Article(2, "Subject: two", "second body"));
    GetArticle(1);
    GetArticle(2);
    for (const QPlainTextEdit* pane : {form.Memo1, form.Memo2, form.Memo3}) {
        EXPECT_EQ(pane->document()->availableUndoSteps(), 0) << pane->objectName().toStdString();
    }
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ABodyWithNoBreakSpacesComesBackFromTheCacheUnchanged) {
    // 0xA0 is a no-break space in Windows-1252 and the second byte of many UTF-8 letters.
    ListSmallGroup(2, script::Article(1, "Subject: nbsp", "caf\xC3\xA0 100\xA0km\nnext") +
                          script::Article(2, "Subject: other", "other"));
    GetArticle(1);
    const QString shown = PaneText(form.Memo2);
    ASSERT_TRUE(shown.contains(u"100\u00A0km"_s));
    GetArticle(2);
    GetArticle(1);
    EXPECT_EQ(PaneText(form.Memo2), shown);
    EXPECT_EQ(form.Memo2->document()->blockCount(), 2);
}

TEST_F(SummaryTest, ARetrievalAskedForDuringARunningListingIsNotMade) {
    // Article 50 lies before the listing's start, so that the summary would let it be opened.
    OpenGroup(1, 600, script::Overview(100, 600, script::Summaries(100, 102)));
    presenter.promptAnswers = {u"100"_s};
    bool clicked = false;
    WhenProgressIsShown([&] {
        form.Edit7->setText(u"50"_s);
        form.Button4->click();
        clicked = true;
    });
    form.Button3Click();
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(TForm1Access::AttachTextCache(form).Count(), 0);
    EXPECT_FALSE(server.Received().contains("ARTICLE 50"));
    EXPECT_EQ(SummaryLines().size(), 7);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AListingAskedForDuringARunningListingIsNotStarted) {
    OpenGroup(1, 600, script::Overview(100, 600, script::Summaries(100, 102)));
    presenter.promptAnswers = {u"100"_s, u"300"_s};
    bool clicked = false;
    WhenProgressIsShown([&] {
        form.Button3->click();
        clicked = true;
    });
    form.Button3Click();
    EXPECT_TRUE(clicked);
    // The start asked for belongs to the listing that runs.
    EXPECT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(TForm1Access::ListStart(form), 100);
    EXPECT_EQ(SummaryLines().size(), 7);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, ConnectAndDisconnectClickedWhileAListingArrivesAreRefused) {
    constexpr int kLast = 100000;
    const QString kBusyMessage = u"The server is still answering: wait until it has finished, "
                                 u"or press Abort first."_s;
    const QByteArray summaries = script::Summaries(1, kLast);
    int connections = 0;
    for (QPushButton* button : {form.Button1, form.Button2}) {
        SCOPED_TRACE(button->text().toStdString());
        presenter.infos.clear();
        // A group of its own for each button: a group listed before is shown from the store.
        // The second connection asks only for the groups new since the first: that group.
        const QByteArray group = kGroup + '.' + QByteArray::number(connections);
        const QByteArray groups = connections == 0 ? script::GroupList({group.constData()})
                                                   : script::NewGroups({group.constData()});
        server.AddScript(script::Greeting() + groups + script::Group(group, 1, kLast) +
                         script::Overview(1, kLast, summaries) + script::Quit());
        StartUp();
        form.Button1Click();
        SelectGroup(QString::fromLatin1(group));
        presenter.promptAnswers = {u"1"_s};
        bool clicked = false;
        WhenProgressIsShown([&] {
            button->click();
            clicked = true;
        });
        form.Button3->click();
        ASSERT_TRUE(clicked);
        EXPECT_EQ(presenter.infos, QList<QString>{kBusyMessage});
        const TSummaryState& summary = TForm1Access::Summary(form);
        EXPECT_EQ(summary.LineCount(), 2 * kLast + 1);
        EXPECT_EQ(summary.LastEntryNumber(), QByteArray::number(kLast));
        EXPECT_EQ(summary.Line(2 * 4321), "[4322] From: user4322@example");
        EXPECT_TRUE(form.QRNNTP1->Connected);
        EXPECT_EQ(server.Connections(), ++connections);
        form.QRNNTP1->Disconnect();
        ExpectScriptPlayed();
    }
}

TEST_F(SummaryTest, AfterAnAbortTheConnectionMadeAgainKeepsTheGroupList) {
    const QByteArray groups = script::GroupList({kGroup.constData(), "zk.test.misc"});
    const QByteArray listing =
        script::Group(kGroup, 1, 1500) + script::Overview(1, 1500, script::Summaries(1, 1500));
    server.AddScript(script::Greeting() + groups + listing);
    server.AddScript(script::Greeting() + listing + script::Quit());
    StartUp();
    form.Button1Click();
    SelectGroup(QString::fromLatin1(kGroup));
    bool clicked = false;
    WhenProgressIsShown([&] {
        form.Button8->click();
        clicked = true;
    });
    presenter.promptAnswers = {u"1"_s, u"1"_s};
    form.Button3->click();
    ASSERT_TRUE(clicked);
    EXPECT_FALSE(form.QRNNTP1->Connected);

    presenter.confirmAnswers = {true};
    form.Button3->click();
    EXPECT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(SummaryLines().size(), 2 * 1500 + 1);
    EXPECT_EQ(GroupsShown(), (QStringList{u"zk.test.misc"_s, u"zk.test.small"_s}));
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 2);
    EXPECT_EQ(server.Connections(), 2);
    form.QRNNTP1->Disconnect();
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AFailedRetrievalLeavesTheCachesAlone) {
    ListSmallGroup(3, "C: ARTICLE 2\nS: 423 no such article\n");
    GetArticle(2);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(TForm1Access::AttachTextCache(form).Count(), 0);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(SummaryTest, TheReplySubjectGetsReUnlessItHasItInAnyCase) {
    ListSmallGroup(3, script::Article(1, "Subject: RE: loud", "b") +
                          script::Article(2, "Subject: Reply", "b") +
                          script::Article(3, "From: x", "b"));
    GetArticle(1);
    EXPECT_EQ(form.Edit11->text(), u"RE: loud"_s);
    GetArticle(2);
    EXPECT_EQ(form.Edit11->text(), u"Re: Reply"_s);
    GetArticle(3);
    EXPECT_EQ(form.Edit11->text(), u"Re: "_s);
    EXPECT_EQ(form.Label10->text(), u"[3]  []"_s);
}

TEST_F(SummaryTest, EnterInTheNumberFieldGetsTheArticle) {
    ListSmallGroup(3, script::Article(3, "Subject: three", "b"));
    form.Edit7->setText(u"3"_s);
    QTest::keyClick(form.Edit7, Qt::Key_Return);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"three"_s);
}

// ---------------------------------------------------------------------------------------------
// View Article at Cursor, LocateInSummary

TEST_F(SummaryTest, ViewArticleAtCursorOpensTheEntryFromItsSubjectLineAndNothingFromAnEmptyOne) {
    ListSmallGroup(3, script::Article(2, "Subject: Subject 2", "b"));
    CaretToLine(3); // "    Subject: Subject 2"
    form.Button9->click();
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Subject 2"_s);

    const qsizetype sent = CommandsSent();
    CaretToLine(6);
    form.Edit7->setText(u"1"_s);
    form.Button9->click();
    EXPECT_EQ(form.Edit7->text(), u"1"_s);
    EXPECT_EQ(CommandsSent(), sent);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, EntriesAreKnownByTheirNumbersWhateverTheirFieldsSay) {
    // Article 1's Subject names an article the listing lacks; article 2's From looks like a
    // subject line.
    ListGroup(5,
              script::Summary(1, "about [5]", "Subject: <s@example>") +
                  script::Summary(2, "two", "Subject: <t@example>"),
              script::Article(1, "Subject: about [5]", "one") +
                  script::Article(2, "Subject: two", "second"));
    const qsizetype sent = CommandsSent();
    GetArticle(5);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(CommandsSent(), sent);
    CaretToLine(0);
    form.LocateInSummary(5);
    EXPECT_EQ(form.Memo4->CaretLine(), 0);
    form.Button9->click();
    EXPECT_EQ(PaneText(form.Memo2), u"one"_s);
    CaretToLine(2);
    form.Button9->click();
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"second"_s);
    EXPECT_TRUE(presenter.infos.isEmpty());
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, LocateInSummarySelectsTheEntrysNumber) {
    ListSmallGroup(12);
    form.LocateInSummary(1);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[1]"_s);
    form.LocateInSummary(11);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[11]"_s);
    EXPECT_EQ(form.Memo4->CaretLine(), 20);
    form.LocateInSummary(99);
    EXPECT_TRUE(presenter.questions.isEmpty());
    EXPECT_TRUE(presenter.infos.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// The pane: caret, selection, clipboard

TEST_F(SummaryTest, ThePaneMovesAndSelectsByKeyboardAndMouseAndCopiesTheSelection) {
    ListSmallGroup(3);
    form.show();
    form.Memo4->setFocus();
    const auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(form.Memo4, k, modifiers);
    };
    key(Qt::Key_Home, Qt::ControlModifier);
    key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[1] From: user1@example"_s);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), u"[1] From: user1@example"_s);
    key(Qt::Key_Down);
    key(Qt::Key_Home);
    key(Qt::Key_Right, Qt::ShiftModifier);
    key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(form.Memo4->SelectedText(), u"    Subject: Subject 1\n["_s);
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(form.Memo4->CaretPosition(), PaneText(form.Memo4).size());
    EXPECT_TRUE(form.Memo4->SelectedText().isEmpty());
    key(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(form.Memo4->CaretLine(), 0);
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(form.Memo4->SelectedText(), PaneText(form.Memo4));

    // A click puts the caret on the line under the mouse, a shifted click selects up to it and
    // a double click selects a word.
    const int lineHeight = form.Memo4->fontMetrics().height();
    const auto lineMiddle = [&](int line) {
        return QPoint(2, 4 + line * lineHeight + lineHeight / 2);
    };
    QTest::mouseClick(form.Memo4->viewport(), Qt::LeftButton, {}, lineMiddle(2));
    EXPECT_EQ(form.Memo4->CaretLine(), 2);
    QTest::mouseClick(form.Memo4->viewport(), Qt::LeftButton, Qt::ShiftModifier, lineMiddle(4));
    EXPECT_EQ(form.Memo4->SelectedText(),
              u"[2] From: user2@example\n    Subject: Subject 2\n"_s);
    QTest::mouseDClick(form.Memo4->viewport(), Qt::LeftButton, {},
                       lineMiddle(1) + QPoint(form.Memo4->fontMetrics().horizontalAdvance(
                                                  u"    Subj"_s),
                                              0));
    EXPECT_EQ(form.Memo4->SelectedText(), u"Subject"_s);
}

TEST_F(SummaryTest, DecodedSubjectsInOtherCharsetsAreMovedOverSelectedFoundAndCopiedWhole) {
    ListGroup(2,
              script::Summary(1, "=?KOI8-R?B?8NLJ18XUIM3J0g==?=", "a@example") +
                  script::Summary(2, "=?ISO-2022-JP?B?GyRCRnxLXDhsJE4lRiU5JUgbKEI=?=", "b@example"),
              script::Article(1, "Subject: x", "x"));
    EXPECT_EQ(SummaryLines().mid(0, 4),
              (QStringList{u"[1] From: a@example"_s, u"    Subject: Привет мир"_s,
                           u"[2] From: b@example"_s, u"    Subject: 日本語のテスト"_s}));
    form.show();
    form.Memo4->setFocus();
    const int subjectStart = QStringLiteral("    Subject: ").size();
    // From the start of a subject, keys with Shift; each selection holds whole characters.
    const struct {
        int line;
        QList<QKeyCombination> keys;
        QString selected;
    } cases[] = {
        {1, {Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Right}, u"Пр"_s},
        {1, {Qt::SHIFT | Qt::CTRL | Qt::Key_Right}, u"Привет "_s},
        {1, {Qt::SHIFT | Qt::Key_End, Qt::SHIFT | Qt::Key_Left}, u"Привет ми"_s},
        {3, {Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Right},
         u"日本語"_s},
        {3, {Qt::SHIFT | Qt::Key_End, Qt::SHIFT | Qt::Key_Down}, u"日本語のテスト\n"_s},
    };
    for (const auto& c : cases) {
        CaretToLine(c.line);
        for (int i = 0; i < subjectStart; ++i) {
            QTest::keyClick(form.Memo4, Qt::Key_Right);
        }
        for (const QKeyCombination key : c.keys) {
            QTest::keyClick(form.Memo4, key.key(), key.keyboardModifiers());
        }
        EXPECT_EQ(form.Memo4->SelectedText(), c.selected) << c.selected.toStdString();
    }
    // The mouse finds the character under it: a double click in the middle of a word.
    const int lineHeight = form.Memo4->fontMetrics().height();
    QTest::mouseDClick(form.Memo4->viewport(), Qt::LeftButton, {},
                       QPoint(4 + form.Memo4->fontMetrics().horizontalAdvance(
                                      u"    Subject: Пр"_s),
                              4 + lineHeight + lineHeight / 2));
    EXPECT_EQ(form.Memo4->SelectedText(), u"Привет"_s);
    // F3 selects exactly the word found, and copying gives it back as text.
    find.fndtxt->setCurrentText(u"мир"_s);
    find.dirgrp->SetItemIndex(TForm1::kDirectionDown);
    CaretToLine(0);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(form.Memo4->SelectedText(), u"мир"_s);
    QTest::keyClick(form.Memo4, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), u"мир"_s);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Searching the summary

TEST_F(SummaryTest, F3FindsLineByLineThenSaysNoMoreFound) {
    ListSmallGroup(3, script::Article(2, "Subject: Subject 2", "b"));
    find.fndtxt->setCurrentText(u"subject 2"_s);
    find.dirgrp->SetItemIndex(1);
    CaretToLine(0);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(form.Memo4->SelectedText(), u"Subject 2"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Subject 2"_s);

    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(presenter.infos, QList<QString>{u"No More Found\r\nsubject 2"_s});

    // Upwards from the end, case-sensitive: only the exact letter case matches.
    find.dirgrp->SetItemIndex(0);
    find.mtchcase->setChecked(true);
    CaretToLine(6);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(presenter.infos.size(), 2);

    // Upwards without regard to case: the entry above (article 2, read before, so shown from
    // the cache), then up to the first line and no more.
    find.mtchcase->setChecked(false);
    find.fndtxt->setCurrentText(u"[2]"_s);
    CaretToLine(5);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[2]"_s);
    EXPECT_EQ(form.Memo4->CaretLine(), 2);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(presenter.infos.size(), 3);
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, AnExpressionThatCannotCompileIsReportedOnceAndEndsTheSearch) {
    ListSmallGroup(40);
    find.fndtxt->setCurrentText(u"zkre:subject ("_s);
    find.dirgrp->SetItemIndex(TForm1::kDirectionDown);
    CaretToLine(0);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].startsWith(u"Regular Expression Error :-"_s));
    // The user's own expression, without what the search adds to it.
    EXPECT_TRUE(presenter.infos[0].endsWith(u" at character 10\r\nsubject ( HERE-->"_s))
        << presenter.infos[0].toStdString();
    EXPECT_EQ(form.Memo4->CaretLine(), 0);
    // From the last line, with no line left to search, F3 says the same again.
    CaretToLine(80);
    QTest::keyClick(form.Memo4, Qt::Key_F3);
    EXPECT_EQ(presenter.infos.size(), 2);
    EXPECT_EQ(presenter.infos.last(), presenter.infos.first());
    ExpectScriptPlayed();
}

TEST_F(SummaryTest, WholeWordSearchesAnExpressionWithWordBoundaries) {
    ListSmallGroup(3);
    find.fndtxt->setCurrentText(u"Subj"_s);
    find.mtchwhwrd->setChecked(true);
    CaretToLine(0);
    form.FindInSummary();
    EXPECT_EQ(presenter.infos, QList<QString>{u"No More Found\r\nzkre:\\bSubj\\b"_s});
}

TEST_F(SummaryTest, AnEmptyFindTextOrTheBarePrefixDoesNothing) {
    ListSmallGroup(3);
    for (const QString& text : {QString(), u"ZKRE:"_s}) {
        find.fndtxt->setCurrentText(text);
        QTest::keyClick(form.Memo4, Qt::Key_F3);
    }
    EXPECT_TRUE(presenter.infos.isEmpty());
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
}

TEST_F(SummaryTest, CtrlFAsksForTheFindTextThenSearches) {
    ListSmallGroup(3, script::Article(3, "Subject: Subject 3", "b"));
    find.dirgrp->SetItemIndex(1);
    CaretToLine(0);
    WhenModal<Tzkfind>([](Tzkfind* dialog) {
        dialog->fndtxt->setCurrentText(u"user3"_s);
        dialog->BitBtn1->click();
    });
    QTest::keyClick(form.Memo4, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Subject 3"_s);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// HeaderValue

TEST_F(SummaryTest, HeaderValueJoinsAFoldedFieldUntilALineWithAColonOrTheEmptyLine) {
    StartUp();
    form.Memo3->setPlainText(u"From: a@b\nSUBJECT: first part\n\t  second part  \n"
                             u"Date: today\nX-Long: one\n two\n\nArtId: 5\n"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"first part second part"_s);
    EXPECT_EQ(form.HeaderValue(u"date: "_s), u"today"_s);
    EXPECT_EQ(form.HeaderValue(u"x-long: "_s), u"one two"_s);
    EXPECT_EQ(form.HeaderValue(u"lines: "_s), QString());
}
