// Msg Scan and Hdr Scan: stepping through the group until a pane contains the find text, and
// the ways a scan ends.
#include "window.h"

#include "modal.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QTabWidget>

using namespace Qt::Literals::StringLiterals;

class ScanTest : public GroupWindowTest {
protected:
    // The scripts answer one command at a time, as the server sees a window set to send one at
    // a time; PipelinedScanTest scans with commands kept in flight.
    ScanTest() { WriteFile(SettingsFile(kAccountFile), "\r\n\r\n\r\n\r\npipeline 1"); }

    // A right click on the button, as the window receives it.
    static void RightClick(QWidget* button) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                button->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(button, &event);
    }

    void FindDown(const QString& text) {
        find.fndtxt->setCurrentText(text);
        find.dirgrp->SetItemIndex(TForm1::kDirectionDown);
    }

    void ExpectIdleButtons() const {
        EXPECT_EQ(form.Button14->text(), u"&Msg Scan"_s);
        EXPECT_EQ(form.Button18->text(), u"&Hdr Scan"_s);
        EXPECT_TRUE(form.Button14->isEnabled());
        EXPECT_TRUE(form.Button18->isEnabled());
    }
};

TEST_F(ScanTest, AMsgScanStopsAtTheFirstBodyWithTheWholeWordInAnyCase) {
    ListSmallGroup(6, script::Article(2, "Subject: start", "needle at the start") +
                          script::Article(3, "Subject: a", "needles are a longer word") +
                          script::Article(4, "Subject: b", "nothing here") +
                          script::Article(5, "Subject: needle", "there is a\nNeedle here"));
    GetArticle(2);
    FindDown(u"needle"_s);
    find.mtchwhwrd->setChecked(true);
    RightClick(form.Button14);
    EXPECT_EQ(form.Edit7->text(), u"5"_s);
    EXPECT_EQ(form.Memo2->textCursor().selectedText(), u"Needle"_s);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[5]"_s);
    EXPECT_FALSE(server.Received().contains("ARTICLE 6"));
    ExpectIdleButtons();
    ExpectScriptPlayed();
}

TEST_F(ScanTest, AnExpressionThatCannotCompileIsReportedOnceAndEndsTheScan) {
    ListSmallGroup(6, script::Article(2, "Subject: start", "a") +
                          script::Article(3, "Subject: next", "b"));
    GetArticle(2);
    FindDown(u"zkre:b("_s);
    RightClick(form.Button14);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].startsWith(u"Regular Expression Error :-"_s));
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    EXPECT_FALSE(server.Received().contains("ARTICLE 4"));
    ExpectIdleButtons();
    ExpectScriptPlayed();
}

TEST_F(ScanTest, AHdrScanSearchesTheHeadersUpwardsAndDisablesMsgScanMeanwhile) {
    ListSmallGroup(4, script::Article(4, "From: a@x\nSubject: four", "Zed in the body") +
                          script::Article(3, "From: b@x\nSubject: three", "3") +
                          script::Article(2, "From: Zed <z@x>\nSubject: two", "2"));
    GetArticle(4);
    find.fndtxt->setCurrentText(u"zed"_s);
    find.dirgrp->SetItemIndex(TForm1::kDirectionUp);
    bool msgScanEnabled = true;
    QString caption;
    const TNotifyEvent showArticle = form.QRNNTP1->OnArticle;
    form.QRNNTP1->OnArticle = [&](QObject* sender) {
        msgScanEnabled = form.Button14->isEnabled();
        caption = form.Button18->text();
        showArticle(sender);
    };
    RightClick(form.Button18);
    EXPECT_FALSE(msgScanEnabled);
    EXPECT_EQ(caption, u"Scanning"_s);
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(form.Memo3->textCursor().selectedText(), u"Zed"_s);
    ExpectIdleButtons();
    ExpectScriptPlayed();
}

TEST_F(ScanTest, AScanStartedAtTheLastArticleEndsAtOnce) {
    ListSmallGroup(3, script::Article(3, "Subject: last", "last"));
    GetArticle(3);
    const qsizetype sent = CommandsSent();
    FindDown(u"anything"_s);
    RightClick(form.Button14);
    EXPECT_EQ(CommandsSent(), sent);
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    ExpectIdleButtons();
}

TEST_F(ScanTest, WhenTheNextNumberIsMissingTheShownArticleIsSearchedAgain) {
    ListGroup(3, script::Summaries(1, 1) + script::Summaries(3, 3),
              script::Article(1, "Subject: one", "the text is here"));
    GetArticle(1);
    FindDown(u"text"_s);
    bool handled = false;
    form.Button14ContextPopup(handled);
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(form.Memo2->textCursor().selectedText(), u"text"_s);
    EXPECT_FALSE(server.Received().contains("ARTICLE 3"));
}

TEST_F(ScanTest, ALeftClickWhileScanningStopsTheScan) {
    ListSmallGroup(6, script::Article(2, "Subject: start", "start") +
                          script::Article(3, "Subject: three", "three") +
                          script::Article(4, "Subject: four", "four") +
                          script::Article(5, "Subject: five", "five"));
    GetArticle(2);
    FindDown(u"not there"_s);
    QString caption;
    bool hdrScanEnabled = true;
    // The click comes while the scan's second step, article 4, arrives.
    WhenProgressIsShown(
        [&] {
            caption = form.Button14->text();
            hdrScanEnabled = form.Button18->isEnabled();
            form.Button14->click();
        },
        2);
    RightClick(form.Button14);
    EXPECT_EQ(caption, u"Scanning"_s);
    EXPECT_FALSE(hdrScanEnabled);
    // The step under way when the click came is the last one.
    EXPECT_EQ(form.Edit7->text(), u"4"_s);
    EXPECT_FALSE(server.Received().contains("ARTICLE 5"));
    ExpectIdleButtons();
    EXPECT_TRUE(server.Failures().isEmpty());
}

TEST_F(ScanTest, ALeftClickAsksForTheTextAndARightClickWithNoTextDoesNothing) {
    ListSmallGroup(3, script::Article(1, "Subject: one", "1") +
                          script::Article(2, "Subject: two", "found here"));
    GetArticle(1);
    FindDown(QString());
    bool handled = false;
    form.Button14ContextPopup(handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(form.Edit7->text(), u"1"_s);

    WhenModal<Tzkfind>([](Tzkfind* dialog) {
        dialog->fndtxt->setCurrentText(u"found"_s);
        dialog->BitBtn1->click();
    });
    form.Button14->click();
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(form.Memo2->textCursor().selectedText(), u"found"_s);

    WhenModal<Tzkfind>([](Tzkfind* dialog) { dialog->BitBtn2->click(); });
    form.Button18->click();
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    ExpectScriptPlayed();
}

TEST_F(ScanTest, ClosingTheWindowEndsTheScanBeforeTheListsAreReleased) {
    ListSmallGroup(6, script::Article(2, "Subject: start", "start") +
                          script::Article(3, "Subject: three", "three") +
                          script::Article(4, "Subject: four", "four") + script::Quit());
    GetArticle(2);
    FindDown(u"not there"_s);
    int cachedAtClose = -1;
    // The window is closed while the scan's second step, article 4, arrives.
    WhenProgressIsShown(
        [&] {
            form.close();
            cachedAtClose = TForm1Access::BodyTextCache(form).Count();
        },
        2);
    RightClick(form.Button14);
    // The step under way was aborted by the close; nothing was fetched or asked after it.
    EXPECT_EQ(cachedAtClose, 2);
    EXPECT_EQ(TForm1Access::BodyTextCache(form).Count(), 0);
    EXPECT_EQ(server.Received().last(), "QUIT");
    EXPECT_FALSE(server.Received().contains("ARTICLE 5"));
    EXPECT_TRUE(presenter.questions.isEmpty());
    EXPECT_TRUE(presenter.infos.isEmpty());
    EXPECT_FALSE(form.QRNNTP1->Connected);
    ExpectIdleButtons();
}

// The articles a scan steps through are asked for together: the server here holds back its
// replies until it has every command of the group's rest. The scan still ends on the article it
// ends on (a match, or a click while article 3 is shown), the replies after it are read and
// dropped, and the connection serves the next article.
class PipelinedScanTest : public ScanTest {
protected:
    void Scan(bool clicked, const QString& shown) {
        WriteFile(SettingsFile(kAccountFile), "\r\n\r\n\r\n\r\npipeline 16");
        QByteArray conversation = "C: ARTICLE 3\nC: ARTICLE 4\nC: ARTICLE 5\nC: ARTICLE 6\n";
        for (int number = 3; number <= 6; ++number) {
            const QByteArray n = QByteArray::number(number);
            conversation += script::ArticleReply(number, "Subject: s" + n,
                                                 number == 5 ? "a needle here" : "nothing " + n);
        }
        ListSmallGroup(6, script::Article(2, "Subject: start", "start") + conversation +
                              script::Article(6, "Subject: again", "again"));
        GetArticle(2);
        FindDown(u"needle"_s);
        const TNotifyEvent showArticle = form.QRNNTP1->OnArticle;
        bool clickQueued = !clicked;
        form.QRNNTP1->OnArticle = [&](QObject* sender) {
            showArticle(sender);
            if (!clickQueued) {
                clickQueued = true;
                QMetaObject::invokeMethod(
                    &form, [this] { form.Button14->click(); }, Qt::QueuedConnection);
            }
        };
        RightClick(form.Button14);
        EXPECT_EQ(form.Edit7->text(), shown);
        EXPECT_TRUE(form.Memo3->toPlainText().contains(u"s"_s + shown));
        EXPECT_EQ(form.Memo4->SelectedText(), u"["_s + shown + u"]"_s);
        EXPECT_EQ(form.Memo2->textCursor().selectedText(), clicked ? QString() : u"needle"_s);
        ExpectIdleButtons();
        GetArticle(6);
        EXPECT_TRUE(form.Memo2->toPlainText().contains(u"again"_s));
        EXPECT_EQ(server.Connections(), 1);
        ExpectScriptPlayed();
        form.QRNNTP1->OnArticle = showArticle;
    }
};

TEST_F(PipelinedScanTest, AMatchEndsTheScanOnTheMatchedArticle) {
    Scan(false, u"5"_s);
}

TEST_F(PipelinedScanTest, AClickEndsTheScanOnTheArticleShown) {
    Scan(true, u"3"_s);
}
