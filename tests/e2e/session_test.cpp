// A person's session through the window against the local news server (INN).
#include "session.h"

#include "util/texthelpers.h"

#include <QDateTime>
#include <QProcess>
#include <csignal>
#include <unistd.h>

using namespace NewsServer;
using namespace Qt::Literals::StringLiterals;

TEST_F(Session, ConnectFilterAndOpenALargeGroupFromItsNewestArticles) {
    StartUp();
    ConnectTo(kPort);
    EXPECT_TRUE(form.QRNNTP1->Connected);
    EXPECT_TRUE(HostHistory().contains(HostName()));
    EXPECT_TRUE(GroupsShown().contains(QString::fromLatin1(kManyGroup)));

    form.Edit6->setText(QStringLiteral("ZK.TEST.MA"));
    EXPECT_EQ(GroupsShown(), QStringList{QString::fromLatin1(kManyGroup)});
    form.Edit6->setText(QStringLiteral("zk.test."));
    EXPECT_GE(GroupsShown().size(), 7);

    // Opening the 750-article group proposes its newest 500; the proposal is taken.
    SelectGroup(kManyGroup);
    presenter.promptAnswers = {QString::number(kManyCount - 500)};
    form.ListBox1DblClick();
    ASSERT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(presenter.prompts[0].value, QString::number(kManyCount - 500));
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    const QStringList lines = SummaryLines();
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("[%1] From: ").arg(kManyCount - 500)));
    EXPECT_TRUE(PaneText(form.Memo4).contains(QStringLiteral("[%1] From: ").arg(kManyCount)));
    EXPECT_FALSE(PaneText(form.Memo4).contains(QStringLiteral("[%1] From: ").arg(kManyCount - 501)));
    EXPECT_EQ(form.Edit7->text(), QString::number(kManyCount));

    // Listed again, the group opened before comes from the store without a question.
    form.Button3Click();
    EXPECT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(SummaryLines(), lines);
    EXPECT_EQ(form.Edit7->text(), QString::number(kManyCount));
}

TEST_F(Session, WithoutAStoreEachListingAsksAndAStartBelowTheFirstListsFromTheFirst) {
    // A file where the store's folder should be: the window works from the server alone.
    WriteFile(settings.filePath(QStringLiteral("blocked")), "a file");
    qputenv("ZKNEWS_STORE", settings.filePath(QStringLiteral("blocked/news.db")).toUtf8());
    StartUp();
    ConnectTo(kPort);
    SelectGroup(kManyGroup);
    presenter.promptAnswers = {QString::number(kManyCount - 500), QStringLiteral("-5")};
    form.ListBox1DblClick();
    form.Button3Click();
    EXPECT_EQ(presenter.prompts.size(), 2);
    EXPECT_TRUE(SummaryLines().first().startsWith(QStringLiteral("[1] From: ")));
    EXPECT_EQ(SummaryLines().filter(QStringLiteral("    Subject: ")).size(), kManyCount);
}

TEST_F(Session, TheLoginPortLogsInWithTheSettingsFileAccountAndOffersToReconnect) {
    StartUp("Tester <tester@zk.test>\nreplies@zk.test\n" + QByteArray(kUser) + "\n" +
            QByteArray(kPassword) + "\n");
    EXPECT_EQ(form.Edit3->text(), QString::fromLatin1(kUser));
    // Every command on this port answers 480 until the account from the settings file logs in.
    ConnectTo(kAuthPort);
    ASSERT_TRUE(form.QRNNTP1->Connected);
    EXPECT_TRUE(GroupsShown().contains(QString::fromLatin1(kSmallGroup)));
    SelectGroup(kSmallGroup);
    form.Button3Click();
    EXPECT_EQ(SummaryLines().filter(QStringLiteral("    Subject: ")).size(), kSmallCount);

    // After a disconnection, opening a listed article offers to connect again; the new
    // connection logs in and selects the group again before the article is fetched.
    form.Button2Click();
    EXPECT_FALSE(form.QRNNTP1->Connected);
    presenter.confirmAnswers = {true};
    form.Edit7->setText(QString::number(kWelcome.number));
    form.Button4Click();
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions[0].text, QStringLiteral("Connection Required. Connect?"));
    EXPECT_TRUE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.QRNNTP1->LastArticleRequested, kWelcome.number);
    EXPECT_EQ(form.QRNNTP1->HeaderLines.GetValue("Message-ID"), kWelcome.messageId);
    EXPECT_TRUE(presenter.infos.filter(QStringLiteral("Authentication")).isEmpty());
}

namespace {

// The number of the summary entry whose subject line is exactly subject.
int EntryNumber(const QStringList& summaryLines, const QString& subject) {
    const int at = static_cast<int>(summaryLines.indexOf(QStringLiteral("    Subject: ") + subject));
    if (at < 1) {
        return 0;
    }
    const QString entry = summaryLines[at - 1];
    return entry.mid(1, entry.indexOf(u']') - 1).toInt();
}

} // namespace

TEST_F(Session, ReadStepFollowAThreadScanPostAndReplyAndReadBothBack) {
    StartUp("E2E Tester <e2e@zk.test>\n\n\n\n");
    form.resize(900, 700);
    form.show();
    ConnectTo(kPort);

    // Reading: a quoted-printable article, then next and previous.
    SelectGroup(kSmallGroup);
    form.ListBox1DblClick();
    form.Edit7->setText(QString::number(kQuotedPrintable.number));
    form.Button4Click();
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
    EXPECT_TRUE(PaneText(form.Memo2).contains(DisplayText(kQuotedPrintableFirstLine)));
    EXPECT_TRUE(PaneText(form.Memo3).contains(QString::fromLatin1(kQuotedPrintable.messageId)));
    form.BitBtn1Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kQuotedPrintable.number + 1));
    form.BitBtn3Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kQuotedPrintable.number));
    EXPECT_TRUE(PaneText(form.Memo2).contains(DisplayText(kQuotedPrintableFirstLine)));

    // A thread of four, interleaved with other articles, opened from its summary entry:
    // forwards twice, back once.
    form.LocateInSummary(kThreadStart.number);
    form.Button9Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kThreadStart.number));
    form.Button10Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kThreadReply1.number));
    form.Button10Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kThreadReply2.number));
    form.Button13Click();
    EXPECT_EQ(form.Edit7->text(), QString::number(kThreadReply1.number));

    // Msg Scan finds the word three articles on; Hdr Scan a Message-ID further on.
    SelectGroup(kMiscGroup);
    form.ListBox1DblClick();
    form.Edit7->setText(QStringLiteral("3"));
    form.Button4Click();
    find.fndtxt->setCurrentText(QStringLiteral("needle"));
    find.dirgrp->SetItemIndex(TForm1::kDirectionDown);
    bool handled = false;
    form.Button14ContextPopup(handled); // a right click scans with the find text as it is
    EXPECT_TRUE(handled);
    EXPECT_EQ(form.QRNNTP1->LastArticleRequested, kNeedles.number);
    find.fndtxt->setCurrentText(QStringLiteral("crosspost.1@zk.test"));
    form.Button18ContextPopup(handled);
    EXPECT_EQ(form.QRNNTP1->LastArticleRequested, kCrosspostMiscNumber);
    EXPECT_TRUE(form.Button14->isEnabled());

    // A new thread with an attachment whose last uuencoded line holds 14 bytes.
    QTemporaryDir files;
    const QString attachment = files.filePath(QStringLiteral("e2e-attachment.bin"));
    QByteArray bytes;
    for (int i = 0; i < 45 + 14; ++i) {
        bytes += static_cast<char>((i * 37 + 11) % 256);
    }
    WriteFile(attachment, bytes);
    ListPostGroup();
    const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString subject = QStringLiteral("End to end ") + stamp;
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    QApplication::processEvents();
    form.Edit11->setText(subject);
    form.Memo5->setPlainText(
        QStringLiteral("A paragraph long enough to be wrapped by the compose pane onto several "
                       "lines of the screen, each of which is posted as a line of its own, the "
                       "way the user saw them while writing.\n.a line that starts with a dot"));
    QApplication::processEvents();
    const QStringList wrapped = WrappedLines(form.Memo5);
    ASSERT_GT(wrapped.size(), 2);
    form.ListBox2->addItem(attachment);
    form.Button12Click();
    EXPECT_TRUE(presenter.infos.contains(QStringLiteral("Article Posted")));
    EXPECT_EQ(form.ListBox2->count(), 1);

    // Quote it and reply.
    form.Button3Click();
    const int threadNumber = EntryNumber(SummaryLines(), subject);
    ASSERT_GT(threadNumber, 0);
    form.Edit7->setText(QString::number(threadNumber));
    form.Button4Click();
    form.Button17Click();
    EXPECT_TRUE(PaneText(form.Memo5).contains(QStringLiteral("> .a line that starts with a dot")));
    form.ListBox2->clear();
    form.Button7Click();
    EXPECT_EQ(presenter.infos.count(QStringLiteral("Article Posted")), 2);

    // Both read back as the server keeps them.
    form.Button3Click();
    const int replyNumber = EntryNumber(SummaryLines(), QStringLiteral("Re: ") + subject);
    ASSERT_GT(replyNumber, threadNumber);
    QTemporaryDir extracted;
    TQRNNTP& client = *form.QRNNTP1;
    client.ParseAttachments = true;
    client.SetAttachmentPath(extracted.path());
    client.GetArticle(threadNumber);
    const QByteArray threadId = client.HeaderLines.GetValue("Message-ID");
    EXPECT_EQ(client.HeaderLines.GetValue("Subject"), subject.toLatin1());
    for (const QString& line : wrapped) {
        EXPECT_GE(client.BodyLines.IndexOf(line.toLatin1()), 0)
            << line.toStdString() << "\nposted:\n" << client.BodyLines.Text().toStdString();
    }
    EXPECT_GE(client.BodyLines.IndexOf(".a line that starts with a dot"), 0);
    EXPECT_EQ(FileBytes(extracted.filePath(QStringLiteral("e2e-attachment.bin"))), bytes);
    client.GetArticle(replyNumber);
    EXPECT_EQ(client.HeaderLines.GetValue("Subject"), "Re: " + subject.toLatin1());
    EXPECT_TRUE(client.HeaderLines.GetValue("References").endsWith(threadId));
    EXPECT_GE(client.BodyLines.IndexOf("> .a line that starts with a dot"), 0);
}

TEST_F(Session, AReplyToAUtf8ArticleQuotesItReadableAndReadsBackTheSame) {
    StartUp("Zo\xEB Tester <e2e@zk.test>\n\n\n\n");
    ConnectTo(kPort);
    SelectGroup(kCharsetsGroup);
    form.ListBox1DblClick();
    EXPECT_TRUE(SummaryLines().contains(u"    Subject: "_s + QString::fromUtf8(kUtf8Subject)));
    for (const auto& [article, firstLine] :
         {std::pair{kUtf8Article, kUtf8FirstLine}, std::pair{kKoi8r, kKoi8rFirstLine}}) {
        form.Edit7->setText(QString::number(article.number));
        form.Button4Click();
        EXPECT_EQ(PaneText(form.Memo2).split(u'\n').value(0), QString::fromUtf8(firstLine));
    }
    form.Edit7->setText(QString::number(kUtf8Article.number));
    form.Button4Click();
    form.Button17Click();
    const QString quoted = PaneText(form.Memo5);
    EXPECT_TRUE(quoted.startsWith(u"Zoë <zoe@zk.test> wrote on "_s)) << quoted.toStdString();
    EXPECT_TRUE(quoted.contains(u"> "_s + QString::fromUtf8(kUtf8FirstLine)));
    const QString subject = form.Edit11->text() + u' ' +
                            QString::number(QDateTime::currentMSecsSinceEpoch());
    form.Edit11->setText(subject);
    ListPostGroup();
    form.Button7Click();
    EXPECT_TRUE(presenter.infos.contains(QStringLiteral("Article Posted")));

    form.Button3Click();
    const int replyNumber = EntryNumber(SummaryLines(), subject);
    ASSERT_GT(replyNumber, 0);
    form.Edit7->setText(QString::number(replyNumber));
    form.Button4Click();
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), subject);
    EXPECT_EQ(form.HeaderValue(u"from: "_s), u"Zoë Tester <e2e@zk.test>"_s);
    EXPECT_EQ(PaneText(form.Memo2), TrimBlanksAndControls(quoted));
    EXPECT_TRUE(form.HeaderValue(u"references: "_s).endsWith(QString::fromLatin1(kUtf8Article.messageId)));
}

namespace {

// Kills the news server process that serves the connection from localPort, as a crash would.
bool KillServingProcess(quint16 localPort) {
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-tnpH"), QStringLiteral("state"),
                                    QStringLiteral("established"), QStringLiteral("dport = :%1").arg(localPort)});
    // Returns as soon as ss ends; the bound only stops a wait for one that hangs, wide because
    // starting a process on a busy machine may take seconds.
    ss.waitForFinished(30000);
    const QByteArray out = ss.readAllStandardOutput();
    const qsizetype at = out.indexOf("pid=");
    if (at < 0) {
        return false;
    }
    const qint64 pid = out.mid(at + 4, out.indexOf(',', at) - at - 4).toLongLong();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

} // namespace

TEST_F(Session, AServerProcessKilledUnderTheWindowIsReportedAndANewConnectWorks) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "killing the news server's process needs root (scripts/test.sh runs as root)";
    }
    StartUp();
    ConnectTo(kPort);
    SelectGroup(kSmallGroup);
    form.ListBox1DblClick();
    const QString port = form.QRNNTP1->GetPortString(); // ",high,low"
    const quint16 localPort =
        static_cast<quint16>(port.section(u',', 1, 1).toInt() * 256 + port.section(u',', 2, 2).toInt());
    ASSERT_TRUE(KillServingProcess(localPort)) << "no server process for local port " << localPort;
    // The next article finds the connection gone: the window says so and stays usable.
    form.Edit7->setText(QString::number(kWelcome.number));
    form.Button4->click();
    EXPECT_FALSE(form.QRNNTP1->Busy);
    EXPECT_FALSE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.StatusText(), QStringLiteral("Disconnected"));
    form.Button1->click();
    ASSERT_TRUE(form.QRNNTP1->Connected);
    SelectGroup(kSmallGroup);
    form.ListBox1DblClick();
    form.Edit7->setText(QString::number(kWelcome.number));
    form.Button4->click();
    EXPECT_EQ(form.QRNNTP1->LastArticleRequested, kWelcome.number);
}
