// A server that dies or crawls while the window waits on it: a clear message, the window
// stays usable, the client is free for the next operation, a new Connect works, and nothing
// the user composed is lost.
#include "../ui/window.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QListWidget>

using namespace Qt::StringLiterals;

namespace {

class Faults : public GroupWindowTest {
protected:
    // A second connection, as the user makes it after the failure: the group list of the
    // first is kept, and only the groups new since are asked for.
    void ExpectANewConnectWorks() {
        EXPECT_FALSE(form.QRNNTP1->Busy);
        server.AddScript(script::Greeting() + script::NewGroups({}) + script::Quit());
        form.Button1->click();
        EXPECT_TRUE(form.QRNNTP1->Connected);
        EXPECT_EQ(form.ListBox1->count(), 1);
        ExpectScriptPlayed();
    }
};

} // namespace

TEST_F(Faults, AServerKilledDuringAListingIsReportedAndTheWindowGoesOn) {
    OpenGroup(1, 9, "C: XOVER 1-9\nS: 224 overview follows\n" + script::Summaries(1, 3) + "X:\n");
    form.Button3->click();
    EXPECT_TRUE(presenter.infos.contains(u"Socket readln aborted"_s));
    EXPECT_FALSE(form.QRNNTP1->Connected);
    ExpectANewConnectWorks();
}

TEST_F(Faults, AServerKilledDuringAnArticleLeavesTheWindowUsable) {
    ListSmallGroup(3, "C: ARTICLE 2\nS: 220 2 <2@example>\nS: Subject: half\nS: \nS: first\nX:\n");
    GetArticle(2);
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(form.StatusText(), u"Disconnected"_s);
    ExpectANewConnectWorks();
}

TEST_F(Faults, AServerKilledDuringAPostKeepsThePostForAnotherTry) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) +
            "C: POST\nS: 340 send article\nX:\n");
    QTemporaryDir files;
    const QString attachment = files.filePath(u"kept.bin"_s);
    WriteFile(attachment, "payload");
    form.Edit9->setText(u"me@example"_s);
    form.Edit11->setText(u"Keep me"_s);
    // No group is listed: the groups are typed, as a post names none of its own.
    form.Edit13->setText(u"zk.test.small"_s);
    form.Memo5->setPlainText(u"A post the server never took."_s);
    form.ListBox2->addItem(attachment);
    form.Button12->click();
    EXPECT_TRUE(presenter.infos.contains(u"Post Failed. Error: 340; 340 send article"_s))
        << presenter.infos.join(u'|').toStdString();
    EXPECT_EQ(form.Edit11->text(), u"Keep me"_s);
    EXPECT_EQ(PaneText(form.Memo5), u"A post the server never took."_s);
    ASSERT_EQ(form.ListBox2->count(), 1);
    EXPECT_EQ(form.ListBox2->item(0)->text(), attachment);
    ExpectANewConnectWorks();
}

TEST_F(Faults, ACrawlingListingEndsAtOnceWhenAbortIsPressed) {
    // One byte a second: the first line of the reply alone would take some 40 s.
    OpenGroup(1, 9, "C: XOVER 1-9\nT: 1000\nS~ 224 overview follows, one byte at a time\n");
    // Abort is pressed once the listing is under way, that is once the server has the command.
    QTimer pressAbort;
    QObject::connect(&pressAbort, &QTimer::timeout, form.Button8, [this, &pressAbort] {
        if (server.Received().contains("XOVER 1-9")) {
            pressAbort.stop();
            form.Button8->click();
        }
    });
    pressAbort.start(10);
    QElapsedTimer elapsed;
    elapsed.start();
    form.Button3->click();
    // Well under the 40 s the reply takes, with room for a busy machine that stalls for seconds.
    EXPECT_LT(elapsed.elapsed(), 20000);
    EXPECT_TRUE(presenter.infos.contains(u"Socket readln aborted"_s));
    EXPECT_FALSE(form.QRNNTP1->Busy);
    EXPECT_FALSE(form.QRNNTP1->Connected); // the rest of the listing is never read
}
