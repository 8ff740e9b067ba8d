// Articles opened by Message-ID in the window: a click on an id in the header or body pane, or
// Enter on it, opens it from the store, else from the server, else says so; and the news: and
// nntp: URLs the program is started with.
#include "store/newsstore.h"
#include "window.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QStatusBar>
#include <QTabWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

// Article 2 of the listed group refers to article 1 (which the test reads first, so the store
// holds it), to an article filed elsewhere, and to one nobody has; its body names more.
const QByteArray kReferring = "From: Ann <ann@example>\nSubject: the reply\n"
                              "Message-ID: <2@example>\n"
                              "References: <1@example> <far@elsewhere> <gone@elsewhere>";
const QByteArray kReferringBody = "As news:far@elsewhere says (see <1@example>),\n"
                                  "but not <bad id@elsewhere> nor <gone@elsewhere>.";

QByteArray ServerHas(const QByteArray& id, const QByteArray& subject) {
    return "C: ARTICLE " + id + "\nS: 220 0 " + id + "\nS: Subject: " + subject +
           "\nS: Message-ID: " + id + "\nS: \nS: filed elsewhere\nS: .\n";
}

QByteArray ServerLacks(const QByteArray& id) {
    return "C: ARTICLE " + id + "\nS: 430 no such article\n";
}

} // namespace

class MessageIdWindowTest : public GroupWindowTest {
protected:
    enum class TWay { Click, Enter, ContextMenu };

    // Puts the pane's cursor into the first occurrence of text, as a person does with a click
    // (the pane scrolled to it first) or with the arrow keys before pressing Enter; or, the
    // cursor at the start of that line, right-clicks the text and chooses View Article at
    // Cursor.
    void OpenAt(QPlainTextEdit* pane, const QString& text, TWay way) {
        const qsizetype at = PaneText(pane).indexOf(text);
        ASSERT_GE(at, 0) << text.toStdString();
        QTextCursor cursor(pane->document());
        cursor.setPosition(static_cast<int>(at + 2));
        pane->setTextCursor(cursor);
        pane->ensureCursorVisible();
        pane->setFocus();
        if (way == TWay::Enter) {
            TypeKey(Qt::Key_Return);
            return;
        }
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form, 30000));
        const QPoint point = pane->cursorRect(cursor).center();
        if (way == TWay::Click) {
            QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, point);
            return;
        }
        cursor.movePosition(QTextCursor::StartOfBlock);
        pane->setTextCursor(cursor);
        ChooseFromNextPopupMenu(u"View Article at Cursor"_s);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, point,
                                     pane->viewport()->mapToGlobal(point));
        QApplication::sendEvent(pane->viewport(), &rightClick);
    }

    void ShowReferringArticle() {
        GetArticle(2);
        ASSERT_TRUE(PaneText(form.Memo3).contains(u"the reply"_s));
    }
};

// Every Message-ID in the header pane (Message-ID, References) and the body's <...@...> and
// news: ids: opened by a click, by Enter on it and by View Article at Cursor in the pane's
// context menu, from the store, the server, or neither.
TEST_F(MessageIdWindowTest, AnIdInThePanesOpensFromTheStoreElseTheServerElseSaysSo) {
    struct Case {
        const char* what;
        bool inHeader;
        const char* on;
        QByteArray conversation; // empty: the store answers, nothing is sent
        const char* subjectShown; // nullptr: the referring article stays
        const char* status;
    };
    const Case cases[] = {
        {"References, stored", true, "<1@example>", {}, "Subject: one", "From :user1"},
        {"Message-ID, stored", true, "<2@example>", {}, "Subject: the reply", "From :Ann"},
        {"References, on the server", true, "<far@elsewhere>",
         ServerHas("<far@elsewhere>", "far away"), "Subject: far away", "From :"},
        {"References, nowhere", true, "<gone@elsewhere>", ServerLacks("<gone@elsewhere>"),
         nullptr, "No such article <gone@elsewhere>"},
        {"body news: URL, on the server", false, "news:far@elsewhere",
         ServerHas("<far@elsewhere>", "far away"), "Subject: far away", "From :"},
        {"body <...@...>, stored", false, "<1@example>", {}, "Subject: one", "From :user1"},
        {"body <...@...>, nowhere", false, "<gone@elsewhere>", ServerLacks("<gone@elsewhere>"),
         nullptr, "No such article <gone@elsewhere>"},
        {"body, malformed", false, "<bad id@elsewhere>", {}, nullptr, ""},
    };
    QByteArray conversation = script::Article(1, "From: user1\nSubject: one\nMessage-ID: <1@example>",
                                              "first") +
                              script::Article(2, kReferring, kReferringBody);
    // Each case is played three times: clicked, with Enter, from the context menu.
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : cases) {
            conversation += c.conversation;
        }
    }
    ListSmallGroup(2, conversation);
    GetArticle(1);
    for (const TWay way : {TWay::Click, TWay::Enter, TWay::ContextMenu}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", way " + std::to_string(int(way)));
            ShowReferringArticle();
            form.SetStatusText(QString());
            const qsizetype sentBefore = CommandsSent();
            OpenAt(c.inHeader ? form.Memo3 : form.Memo2, QString::fromLatin1(c.on), way);
            EXPECT_EQ(CommandsSent() - sentBefore, c.conversation.isEmpty() ? 0 : 1);
            EXPECT_TRUE(PaneText(form.Memo3).contains(
                QString::fromLatin1(c.subjectShown ? c.subjectShown : "Subject: the reply")))
                << PaneText(form.Memo3).toStdString();
            EXPECT_TRUE(*c.status == 0 ? form.StatusText().isEmpty()
                                       : form.StatusText().startsWith(QString::fromLatin1(c.status)))
                << form.StatusText().toStdString();
            if (c.subjectShown != nullptr) {
                EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
            }
        }
    }
    ExpectScriptPlayed();
    EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
}

// A References header of 100 KB is shown, and an id in its middle opens like any other.
TEST_F(MessageIdWindowTest, AHundredKilobyteReferencesHeaderOpensTheIdClicked) {
    QByteArray references = "References:";
    for (int n = 0; references.size() < 100 * 1024; ++n) {
        references += " <" + QByteArray::number(n) + "@long.thread>";
    }
    ListSmallGroup(2, script::Article(2, "Subject: long thread\n" + references, "body") +
                          ServerHas("<3000@long.thread>", "in the middle"));
    GetArticle(2);
    OpenAt(form.Memo3, u"<3000@long.thread>"_s, TWay::Click);
    EXPECT_TRUE(PaneText(form.Memo3).contains(u"Subject: in the middle"_s));
    ExpectScriptPlayed();
}

// Working offline, an id the store lacks is not asked of any server (nor a connection asked
// for).
TEST_F(MessageIdWindowTest, WorkingOfflineAnIdTheStoreLacksIsSaidNotAsked) {
    ListSmallGroup(2, script::Article(2, kReferring, kReferringBody));
    GetArticle(2);
    form.CheckBox2->setChecked(true);
    const qsizetype sentBefore = CommandsSent();
    OpenAt(form.Memo3, u"<far@elsewhere>"_s, TWay::Click);
    EXPECT_EQ(CommandsSent(), sentBefore);
    EXPECT_TRUE(form.StatusText().startsWith(u"No such article <far@elsewhere>"_s))
        << form.StatusText().toStdString();
}

// The program's URL argument: a news: URL opens its article or group with the connection
// page's server, an nntp: URL its article on the server it names; a malformed one is shown
// and nothing is sent.
TEST_F(MessageIdWindowTest, CommandLineUrlsConnectAndOpenWhatTheyName) {
    const QByteArray port = QByteArray::number(server.Port());
    struct Case {
        QByteArray url;
        QByteArray conversation;
        const char* shown; // in the header pane, or in the box shown
    };
    const Case cases[] = {
        {"news:far@elsewhere",
         script::Greeting() + script::GroupList({"zk.test.small"}) +
             ServerHas("<far@elsewhere>", "by url") + script::Quit(),
         "Subject: by url"},
        {"news:%3Cgone@elsewhere%3E",
         script::Greeting() + script::NewGroups({}) + ServerLacks("<gone@elsewhere>") +
             script::Quit(),
         "No such article <gone@elsewhere>"},
        {"nntp://127.0.0.1:" + port + "/zk.test.small/2",
         script::Greeting() + script::NewGroups({}) +
             script::Group("zk.test.small", 1, 2) +
             script::Overview(1, 2, script::Summaries(1, 2)) +
             script::Article(2, "Subject: numbered", "body"),
         "Subject: numbered"},
        {"news:<a b@elsewhere>", {}, "Not a news URL: 'news:<a b@elsewhere>'"},
        {"nntp://127.0.0.1:" + port + "/zk.test.small%0AQUIT/2", {}, "Not a news URL"},
    };
    StartUp();
    // Each URL connects anew, which closes the connection before.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        if (!c.conversation.isEmpty()) {
            server.AddScript(c.conversation);
        }
        presenter.infos.clear();
        const qsizetype sentBefore = CommandsSent();
        form.OpenUrl(c.url);
        if (c.conversation.isEmpty()) {
            EXPECT_EQ(CommandsSent(), sentBefore);
            ASSERT_EQ(presenter.infos.size(), 1);
            EXPECT_TRUE(presenter.infos[0].startsWith(QString::fromLatin1(c.shown)))
                << presenter.infos[0].toStdString();
        } else {
            const QString seen = PaneText(form.Memo3) + u'\n' + form.StatusText();
            EXPECT_TRUE(seen.contains(QString::fromLatin1(c.shown))) << seen.toStdString();
            ExpectScriptPlayed();
        }
    }
}

// An nntp: URL of another host than the connection page's reaches that host on the URL's
// port, in plain text and without a login: a link in a browser must not learn the password.
// The visit changes no setting: closing saves the settings' login and security, the store's
// last server stays the settings' one, and Connect goes back to the settings' server.
TEST_F(MessageIdWindowTest, AnotherHostsUrlIsVisitedWithoutLoginAndChangesNoSetting) {
    StartUp();
    const QString ownPort = form.Edit2->text();
    form.ComboBox1->setCurrentIndex(TForm1::kSecurityNone);
    form.Edit3->setText(u"fred"_s);
    form.Edit4->setText(u"secret"_s);
    server.AddScript(script::Greeting() + script::GroupList({"zk.test.small"}) +
                     ServerHas("<x@y>", "elsewhere") + script::Quit());
    form.OpenUrl("news://localhost:" + QByteArray::number(server.Port()) + "/x@y");
    EXPECT_EQ(form.Edit1->currentText(), u"localhost"_s);
    EXPECT_EQ(form.ComboBox1->currentIndex(), TForm1::kSecurityNone);
    EXPECT_EQ(form.QRNNTP1->UserId, QByteArray());
    EXPECT_EQ(form.QRNNTP1->Password, QByteArray());
    EXPECT_TRUE(PaneText(form.Memo3).contains(u"Subject: elsewhere"_s));
    {
        TNewsStore store(StorePath());
        EXPECT_EQ(store.LastProfile(), std::nullopt);
    }

    // Closing while the visit lasts keeps the settings' login.
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(FileBytes(SettingsFile(kAccountFile)).contains("\r\nfred\r\nsecret"))
        << FileBytes(SettingsFile(kAccountFile)).toStdString();
    EXPECT_FALSE(FileBytes(SettingsFile(kHostHistoryFile)).contains("localhost"));
    ExpectScriptPlayed();

    // Connect ends the visit: the settings' server and login are back in the fields.
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    EXPECT_EQ(form.Edit1->currentText(), u"127.0.0.1"_s);
    EXPECT_EQ(form.Edit2->text(), ownPort);
    EXPECT_EQ(form.Edit3->text(), u"fred"_s);
    EXPECT_EQ(form.QRNNTP1->Password, QByteArray("secret"));
    ExpectScriptPlayed();
}
