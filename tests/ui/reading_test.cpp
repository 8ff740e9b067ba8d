// The reading page: the panes the article events fill, previous and next article, following a
// thread through the summary, Launch Text.
#include "window.h"

#include "fakedesktop.h"
#include "wait.h"

#include <QFile>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

class ReadingTest : public GroupWindowTest {
protected:
    // Selects count characters of the body pane from position.
    void SelectInBody(int position, int count) {
        QTextCursor cursor = form.Memo2->textCursor();
        cursor.setPosition(position);
        cursor.setPosition(position + count, QTextCursor::KeepAnchor);
        form.Memo2->setTextCursor(cursor);
    }

    bool Sent(const QByteArray& command) const { return server.Received().contains(command); }
};

// ---------------------------------------------------------------------------------------------
// The panes

TEST_F(ReadingTest, TheArticleFillsTheHeaderBodyAndAttachmentsPanes) {
    QTemporaryDir files;
    form.QRNNTP1->ParseAttachments = true;
    form.QRNNTP1->SetAttachmentPath(files.path());
    ListSmallGroup(3, script::Article(2, "From: Ann <ann@example>\nSubject: two files",
                                      "see\nbegin 644 a.txt\n#86)C\n`\nend\n"
                                      "begin 644 b.txt\n#86)C\n`\nend\nbye"));
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo3), u"From: Ann <ann@example>\nSubject: two files\n\nArtId: 2\n"_s);
    EXPECT_TRUE(PaneText(form.Memo2).startsWith(u"see\n"_s));
    EXPECT_TRUE(PaneText(form.Memo2).endsWith(u"\nbye"_s));
    EXPECT_EQ(PaneText(form.Memo1), u"a.txt b.txt "_s);
    EXPECT_EQ(TForm1Access::AttachTextCache(form)[0], "a.txt b.txt");
    EXPECT_EQ(form.Memo2->textCursor().position(), 0);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AYEncFileKeptDespiteItsCrcIsNamedInTheStatusBar) {
    QTemporaryDir files;
    form.QRNNTP1->ParseAttachments = true;
    form.QRNNTP1->SetAttachmentPath(files.path());
    // "abd" with the CRC32 of "abc".
    ListSmallGroup(3, script::Article(2, "Subject: damaged",
                                      "=ybegin line=128 size=3 name=abc.bin\n\x8b\x8c\x8e\n"
                                      "=yend size=3 crc32=352441c2"));
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo1), u"abc.bin "_s);
    EXPECT_EQ(form.StatusText(), u"CRC32 mismatch in abc.bin; the file is kept as decoded"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AYEncPartKeptForItsFileSaysSoInTheStatusBar) {
    QTemporaryDir files;
    form.QRNNTP1->ParseAttachments = true;
    form.QRNNTP1->SetAttachmentPath(files.path());
    // "abc", the first half of a file of 6 bytes.
    ListSmallGroup(3, script::Article(2, "Subject: part",
                                      "=ybegin part=1 total=2 line=128 size=6 name=abc.bin\n"
                                      "=ypart begin=1 end=3\n\x8b\x8c\x8d\n"
                                      "=yend size=3 part=1 pcrc32=352441c2"));
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo1), u""_s);
    EXPECT_EQ(form.StatusText(), u"abc.bin waits for its other parts: 3 of its 6 bytes are here"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AQuotedPrintableBodyIsShownDecoded) {
    ListSmallGroup(3, script::Article(3,
                                      "Subject: qp\nContent-Type: text/plain; charset=ISO-8859-1\n"
                                      "Content-Transfer-Encoding: quoted-printable",
                                      "Caf=E9 cr=e8me, 1+1=3D2, soft=\nly joined"));
    GetArticle(3);
    EXPECT_EQ(PaneText(form.Memo2), u"Café crème, 1+1=2, softly joined"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, ABase64BodyIsShownDecodedAndAnInvalidOneAsItCame) {
    const char* header = "Subject: b64\nContent-Transfer-Encoding: base64";
    ListSmallGroup(3, script::Article(1, header, "VGhpcyBib2R5IGlzIEJhc2U2NCBl\nbmNvZGVkLg==") +
                          script::Article(2, header, "not base64 at all"));
    GetArticle(1);
    EXPECT_EQ(PaneText(form.Memo2), u"This body is Base64 encoded."_s);
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo2), u"not base64 at all"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, BodyLinesThatBeginWithADotAreShownIntact) {
    // As the server sends them: every leading dot doubled.
    ListSmallGroup(3, script::Article(1, "Subject: dots", "first\n..profile\n..\n....\nlast"));
    GetArticle(1);
    EXPECT_EQ(PaneText(form.Memo2), u"first\n.profile\n.\n...\nlast"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AnInvalidNumberLeavesThePanesAndSaysSoInTheStatus) {
    ListSmallGroup(3, script::Article(1, "Subject: one", "body") +
                          "C: ARTICLE 2\nS: 423 no such article\n");
    GetArticle(1);
    GetArticle(2);
    EXPECT_EQ(form.StatusText(), u"Article Number 2 is Invalid"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"one"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"body"_s);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Previous and next

TEST_F(ReadingTest, NextFromAnEmptyNumberFieldAsksForArticle1AndSelectsItsEntry) {
    ListSmallGroup(3, script::Article(1, "Subject: Subject 1", "one"));
    form.Edit7->clear();
    form.BitBtn1->click();
    EXPECT_EQ(form.Edit7->text(), u"1"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Subject 1"_s);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[1]"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, PreviousAtTheFirstAndNextAtTheLastArticleDoNothing) {
    ListSmallGroup(3);
    const qsizetype sent = CommandsSent();
    form.Edit7->setText(u"1"_s);
    form.BitBtn3->click();
    EXPECT_EQ(form.Edit7->text(), u"1"_s);
    form.Edit7->setText(u"3"_s);
    form.BitBtn1->click();
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    form.Edit7->setText(u"x"_s);
    form.BitBtn3->click();
    EXPECT_EQ(form.Edit7->text(), u"x"_s);
    EXPECT_EQ(CommandsSent(), sent);
}

TEST_F(ReadingTest, ANumberTheSummaryLacksIsSkippedAndTheNextStepGoesBeyondIt) {
    ListGroup(4, script::Summaries(1, 2) + script::Summaries(4, 4),
              script::Article(2, "Subject: two", "2") + script::Article(4, "Subject: four", "4") +
                  script::Article(1, "Subject: one", "1"));
    GetArticle(2);
    form.BitBtn1Click();
    EXPECT_EQ(form.Edit7->text(), u"3"_s);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"two"_s);
    EXPECT_FALSE(Sent("ARTICLE 3"));
    form.BitBtn1Click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"four"_s);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[4]"_s);
    // Back down to 1: 3 skipped again, 2 from the caches.
    form.BitBtn3Click();
    form.BitBtn3Click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"two"_s);
    form.BitBtn3Click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"one"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, CtrlDownAndCtrlUpStepOnTheReadingPageOnly) {
    ListSmallGroup(3, script::Article(2, "Subject: two", "2") +
                          script::Article(3, "Subject: three", "3"));
    GetArticle(2);
    ASSERT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
    QTest::keyClick(form.Memo2, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"three"_s);
    QTest::keyClick(form.Memo3, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"two"_s);
    // Shift too, or Down alone, is not the command.
    QTest::keyClick(form.Memo2, Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(form.Memo2, Qt::Key_Down);
    EXPECT_EQ(form.Edit7->text(), u"2"_s);

    form.PageControl1->setCurrentWidget(form.TabSheet4);
    QTest::keyClick(form.Memo4, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(form.Edit7->text(), u"2"_s);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Threads

TEST_F(ReadingTest, NextInThreadDropsOnlyTheFirstReThenSaysNoMoreFound) {
    ListGroup(4,
              script::Summary(1, "Re: Re: topic", "a@x") + script::Summary(2, "topic", "b@x") +
                  script::Summary(3, "Re: topic", "c@x") + script::Summary(4, "Re: other", "d@x"),
              script::Article(1, "Subject: Re: Re: topic", "1") +
                  script::Article(3, "Subject: Re: topic", "3") +
                  script::Article(2, "Subject: topic", "2"));
    find.fndtxt->setCurrentText(u"kept"_s);
    CaretToLine(0);
    form.Button9Click();

    form.Button10->click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Re: topic"_s);
    EXPECT_EQ(find.fndtxt->currentText(), u"kept"_s);

    form.Button10->click();
    EXPECT_EQ(presenter.infos, QList<QString>{u"No More Found\r\ntopic"_s});
    EXPECT_EQ(form.Edit7->text(), u"3"_s);

    form.Button13->click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"topic"_s);
    EXPECT_EQ(find.dirgrp->ItemIndex(), TForm1::kDirectionUp);
    EXPECT_EQ(find.fndtxt->currentText(), u"kept"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AThreadSubjectIsSearchedWithoutItsWildcardCharacters) {
    ListGroup(3,
              script::Summary(1, "**why? not", "a@x") + script::Summary(2, "other", "b@x") +
                  script::Summary(3, "Re: why is it", "c@x"),
              script::Article(1, "Subject: **why? not", "1") +
                  script::Article(3, "Subject: Re: why is it", "3"));
    CaretToLine(0);
    form.Button9Click();
    form.Button10Click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Re: why is it"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadingTest, AnArticleWithoutSubjectFollowsNoThread) {
    ListSmallGroup(2, script::Article(1, "From: a@x", "1"));
    GetArticle(1);
    form.Button10Click();
    EXPECT_TRUE(presenter.infos.isEmpty());
    EXPECT_EQ(form.Edit7->text(), u"1"_s);
}

// ---------------------------------------------------------------------------------------------
// Launch Text

namespace {

// The default browser of a fake desktop that writes its one argument to record.
void InstallRecordingBrowser(TFakeDesktop& desktop, const QString& record) {
    const QString browser = desktop.AddProgram(u"browser"_s, "printf '%s' \"$1\" > '" +
                                                                 QFile::encodeName(record) + "'\n");
    desktop.SetDefaults("text/html=zk-browser.desktop\n");
    desktop.AddEntry(u"zk-browser.desktop"_s, "Exec=" + browser.toUtf8() + " %u\n");
}

// What the browser received, once it has run.
QByteArray Launched(const QString& record) {
    QFile file(record);
    if (!WaitUntil([&] { return file.exists() && file.size() > 0; })) {
        return QByteArray();
    }
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    file.remove();
    return text;
}

} // namespace

TEST_F(ReadingTest, LaunchTextHandsOverTheSelectionOrElseTheTrimmedCaretLine) {
    TFakeDesktop desktop;
    const QString record = desktop.root.filePath(u"record"_s);
    InstallRecordingBrowser(desktop, record);
    ListSmallGroup(2, script::Article(1, "Subject: links",
                                      "see www.example.com/page here\n\t http://zk.test/x \nend"));
    GetArticle(1);
    SelectInBody(4, 20);
    form.Button11->click();
    EXPECT_EQ(Launched(record), "www.example.com/page");

    QTextCursor caret(form.Memo2->document()->findBlockByNumber(1));
    form.Memo2->setTextCursor(caret);
    form.Button11->click();
    EXPECT_EQ(Launched(record), "http://zk.test/x");
}
