// A person's session through the window against the local news server (INN).
#include "session.h"

using namespace NewsServer;

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

    // A start below the first number lists from the first.
    presenter.promptAnswers = {QStringLiteral("-5")};
    form.Button3Click();
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
