// The connection page: start-up, the settings files, connecting, the host history, the group
// list and its filter, the client's connection-level events, closing.
#include "window.h"

#include "testfiles.h"
#include "wait.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList HostHistory(const TForm1& form) {
    QStringList hosts;
    for (int i = 0; i < form.Edit1->count(); ++i) {
        hosts << form.Edit1->itemText(i);
    }
    return hosts;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and the settings files

TEST_F(WindowTest, StartUpReadsBothSettingsFilesOnItsTimer) {
    WriteFile(SettingsFile(kHostHistoryFile), "zeta.example\r\nalpha.example\r\nMid.example\r\n");
    // Two lines: the user ID and password stay empty; blanks around values go.
    WriteFile(SettingsFile(kAccountFile), "  me@example.org \r\nreply@example.org\t");
    ASSERT_TRUE(WaitUntil([&] { return !form.Timer1->isActive(); }));

    EXPECT_EQ(HostHistory(form),
              (QStringList{u"alpha.example"_s, u"Mid.example"_s, u"zeta.example"_s}));
    EXPECT_EQ(form.Edit1->currentText(), QString());
    EXPECT_EQ(form.Edit9->text(), u"me@example.org"_s);
    EXPECT_EQ(form.Edit10->text(), u"reply@example.org"_s);
    EXPECT_EQ(form.Edit3->text(), QString());
    EXPECT_EQ(form.Edit4->text(), QString());
    EXPECT_EQ(PaneText(form.Memo2), u"No Message Selected Yet."_s);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet3);
    EXPECT_TRUE(find.dirgrp->isVisibleTo(&find));
    EXPECT_EQ(find.fndtxt->currentText(), u"me@example.org"_s);
    EXPECT_EQ(form.Edit2->text(), QString::number(server.Port()));
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(WindowTest, TheAccountFileIgnoresLinesAfterTheFourthAndMissingFilesLeaveAllEmpty) {
    WriteFile(SettingsFile(kAccountFile), "from\r\nreply\r\n user \r\npass word \r\nextra\r\nmore");
    StartUp();
    EXPECT_EQ(form.Edit3->text(), u"user"_s);
    EXPECT_EQ(form.Edit4->text(), u"pass word"_s);

    QFile::remove(SettingsFile(kAccountFile));
    StartUp();
    EXPECT_EQ(form.Edit9->text(), QString());
    EXPECT_EQ(form.Edit4->text(), QString());
    EXPECT_EQ(form.Edit1->count(), 0);
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(WindowTest, ClosingWritesBothFilesByteForByteTheAccountFileForItsOwnerOnly) {
    StartUp();
    form.Edit1->addItem(u"News.A.example"_s);
    form.Edit1->addItem(u"news.b.example"_s);
    form.Edit9->setText(u"me@example.org"_s);
    form.Edit10->setText(u"reply@example.org"_s);
    form.Edit3->setText(u"fred"_s);
    form.Edit4->setText(u"se cret "_s);
    EXPECT_TRUE(form.close());

    EXPECT_EQ(FileBytes(SettingsFile(kHostHistoryFile)), "News.A.example\r\nnews.b.example\r\n");
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)),
              "me@example.org\r\nreply@example.org\r\nfred\r\nse cret ");
    EXPECT_EQ(QFile::permissions(SettingsFile(kAccountFile)),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
}

TEST_F(WindowTest, TheSettingsAreWrittenInUtf8AndFilesOfEarlierVersionsInWindows1252StayReadable) {
    // What the user typed, and the files as an earlier version wrote them: Windows-1252.
    const QString from = u"Иван Петров <ivan@zk.test>"_s;
    const QString replyTo = u"Ваня <ivan@zk.test>"_s;
    const QString host = u"новости.example"_s;
    WriteFile(SettingsFile(kHostHistoryFile), "caf\xE9.example\r\n");
    WriteFile(SettingsFile(kAccountFile), "J\xFCrgen \x80 <j@zk.test>\r\nr\r\nuser\r\np\xE4ss");
    StartUp();
    EXPECT_EQ(form.Edit9->text(), u"Jürgen € <j@zk.test>"_s);
    EXPECT_EQ(form.Edit4->text(), u"päss"_s);
    EXPECT_EQ(HostHistory(form), QStringList{u"café.example"_s});

    form.Edit9->setText(from);
    form.Edit10->setText(replyTo);
    form.Edit1->addItem(host);
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)),
              from.toUtf8() + "\r\n" + replyTo.toUtf8() + "\r\nuser\r\np\xC3\xA4ss");
    EXPECT_EQ(FileBytes(SettingsFile(kHostHistoryFile)),
              "caf\xC3\xA9.example\r\n" + host.toUtf8() + "\r\n");

    // The next start reads back what was typed.
    TForm1 restarted;
    restarted.SettingsDir = form.SettingsDir;
    restarted.zkfind = &find;
    restarted.Timer1Timer();
    EXPECT_EQ(restarted.Edit9->text(), from);
    EXPECT_EQ(restarted.Edit10->text(), replyTo);
    EXPECT_EQ(restarted.Edit4->text(), u"päss"_s);
    EXPECT_EQ(HostHistory(restarted), (QStringList{u"café.example"_s, host}));
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(WindowTest, AnAccountFileOthersCouldReadIsRestrictedBeforeThePasswordGoesIn) {
    WriteFile(SettingsFile(kAccountFile), "old");
    QFile::setPermissions(SettingsFile(kAccountFile),
                          QFile::permissions(SettingsFile(kAccountFile)) | QFileDevice::ReadOther);
    StartUp();
    form.Edit4->setText(u"secret"_s);
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)), "old\r\n\r\n\r\nsecret");
    EXPECT_FALSE(QFile::permissions(SettingsFile(kAccountFile)) &
                 (QFileDevice::ReadOther | QFileDevice::ReadGroup));
}

TEST_F(WindowTest, APasswordWithTrailingBlanksLosesThemOnTheNextStart) {
    StartUp();
    form.Edit4->setText(u"secret  "_s);
    form.close();
    StartUp();
    EXPECT_EQ(form.Edit4->text(), u"secret"_s);
}

TEST_F(WindowTest, SecurityAndKeptCertificatesAreWrittenAfterTheFourLinesOnlyWhenThereAreAny) {
    const QByteArray digest(32, '\x5a');
    const QByteArray trust = "trust news.example.org 563 " + certtrust::FingerprintText(digest);
    WriteFile(SettingsFile(kAccountFile), "from\r\nreply\r\nuser\r\npass");
    StartUp();
    EXPECT_EQ(form.ComboBox1->currentIndex(), TForm1::kSecurityNone);
    EXPECT_TRUE(form.QRNNTP1->TrustedCertificates.isEmpty());

    WriteFile(SettingsFile(kAccountFile),
              "from\r\nreply\r\nuser\r\npass\r\nsecurity STARTTLS\r\n" + trust);
    StartUp();
    EXPECT_EQ(form.ComboBox1->currentIndex(), TForm1::kSecurityStartTls);
    const TCertificatePins kept{TCertificatePin{u"news.example.org"_s, 563, digest}};
    EXPECT_EQ(form.QRNNTP1->TrustedCertificates, kept);
    form.ComboBox1->setCurrentIndex(TForm1::kSecurityTls);
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)),
              "from\r\nreply\r\nuser\r\npass\r\nsecurity tls\r\n" + trust);

    form.ComboBox1->setCurrentIndex(TForm1::kSecurityNone);
    form.QRNNTP1->TrustedCertificates.clear();
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)), "from\r\nreply\r\nuser\r\npass");
}

TEST_F(WindowTest, CompressIsCheckedUnlessTheAccountFileSaysNoCompressWhichIsWrittenOnlyThen) {
    struct Case {
        const char* name;
        QByteArray extraLines;
        bool checked;
    };
    const Case cases[] = {{"no line", "", true},
                          {"no-compress", "\r\nno-compress", false},
                          {"beside offline", "\r\noffline\r\nno-compress", false},
                          {"a word after it", "\r\nno-compress please", true}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(SettingsFile(kAccountFile), "from\r\nreply\r\nuser\r\npass" + test.extraLines);
        StartUp();
        EXPECT_EQ(form.CompressBox->isChecked(), test.checked);
    }
    form.CheckBox2->setChecked(false);
    form.CompressBox->setChecked(false);
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)),
              "from\r\nreply\r\nuser\r\npass\r\nno-compress");
    StartUp();
    EXPECT_FALSE(form.CompressBox->isChecked());
    form.CompressBox->setChecked(true);
    form.close();
    EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)), "from\r\nreply\r\nuser\r\npass");
}

TEST_F(WindowTest, ThePipelineDepthComesFromTheAccountFileAndIsWrittenOnlyWhenNotTheDefault) {
    struct Case {
        const char* name;
        QByteArray extraLines;
        int depth;
    };
    const Case cases[] = {{"no line", "", 16},
                          {"a depth", "\r\npipeline 4", 4},
                          {"one at a time", "\r\npipeline 1", 1},
                          {"none", "\r\npipeline 0", 16},
                          {"too many", "\r\npipeline 65", 16},
                          {"no number", "\r\npipeline many", 16}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(SettingsFile(kAccountFile), "from\r\nreply\r\nuser\r\npass" + test.extraLines);
        StartUp();
        EXPECT_EQ(form.QRNNTP1->PipelineDepth, test.depth);
        form.close();
        EXPECT_EQ(FileBytes(SettingsFile(kAccountFile)),
                  "from\r\nreply\r\nuser\r\npass" +
                      (test.depth == 16 ? QByteArray()
                                        : "\r\npipeline " + QByteArray::number(test.depth)));
    }
}

TEST_F(WindowTest, ConnectingCompressesWhenCheckedAndAServerThatRefusedIsNotAskedAgain) {
    const TestCompressionMemory memory;
    StartUp();
    const QByteArray offered = "C: CAPABILITIES\nS: 101 list\nS: COMPRESS DEFLATE\nS: .\n";
    Connect(script::Greeting() + offered + "C: COMPRESS DEFLATE\nS: 206 Compression active\nZ:\n" +
            script::GroupList({"zk.test.small"}) + script::Quit());
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
    EXPECT_TRUE(form.QRNNTP1->Compressed());
    const auto* panel = form.StatusBar1->findChild<QLabel*>(u"EncryptionPanel"_s);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(form.Label18->text(), u"Not encrypted, compressed"_s);
    EXPECT_EQ(panel->text(), u"compressed"_s);

    form.CompressBox->setChecked(false);
    Connect(script::Greeting() + script::NewGroups({}) + script::Quit());
    EXPECT_FALSE(form.QRNNTP1->Compressed());
    EXPECT_EQ(form.Label18->text(), u"Not encrypted"_s);
    EXPECT_EQ(panel->text(), QString());

    form.CompressBox->setChecked(true);
    Connect(script::Greeting() + offered + "C: COMPRESS DEFLATE\nS: 403 Not now\n" +
            script::NewGroups({}) + script::Quit());
    EXPECT_FALSE(form.QRNNTP1->Compressed());
    EXPECT_EQ(FileBytes(memory.Path()), "127.0.0.1 " + QByteArray::number(server.Port()) + "\n");
    // Remembered: not even the capabilities are asked for.
    Connect(script::Greeting() + script::NewGroups({}) + script::Quit());
    form.close();
    ExpectScriptPlayed();
    EXPECT_EQ(server.UnscriptedCapabilities(), 0);
    EXPECT_EQ(server.Received().count("COMPRESS DEFLATE"), 2);
    EXPECT_TRUE(form.CompressBox->isChecked());
}

TEST_F(WindowTest, ChoosingTlsMovesPort119To563AndTheOtherChoicesMoveItBack) {
    StartUp();
    struct Step {
        int security;
        const char* port;
        const char* moved;
    };
    const Step steps[] = {{TForm1::kSecurityTls, "119", "563"},
                          {TForm1::kSecurityStartTls, "563", "119"},
                          {TForm1::kSecurityTls, "1563", "1563"},
                          {TForm1::kSecurityNone, "563", "119"}};
    for (const Step& step : steps) {
        form.Edit2->setText(QString::fromLatin1(step.port));
        form.ComboBox1->setCurrentIndex(step.security);
        EXPECT_EQ(form.Edit2->text(), QString::fromLatin1(step.moved)) << step.security;
    }
}

TEST_F(WindowTest, ConnectingWithTlsAsksAboutTheCertificateKeepsItAndShowsTheEncryption) {
    StartUp();
    form.ComboBox1->setCurrentIndex(TForm1::kSecurityTls);
    // The window does not know the test CA: the certificate cannot be verified.
    server.UseCertificate(u"good"_s);
    presenter.certificateAnswers = {TCertificateAnswer::AlwaysTrust};
    Connect("E:\n" + script::Greeting() + "C: CAPABILITIES\nS: 500 unknown\n" +
            script::GroupList({"zk.test.small"}) + script::Quit());
    ASSERT_EQ(presenter.certificateQuestions.size(), 1);
    EXPECT_TRUE(presenter.certificateQuestions[0].errors.contains(
        u"The issuer certificate of a locally looked up certificate could not be found"_s));
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
    EXPECT_TRUE(form.Label18->text().startsWith(u"Encrypted: TLSv1."_s))
        << form.Label18->text().toStdString();
    const auto* panel = form.StatusBar1->findChild<QLabel*>(u"EncryptionPanel"_s);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->text().startsWith(u"TLSv1."_s));

    form.close();
    ExpectScriptPlayed();
    EXPECT_EQ(form.Label18->text(), u"Not encrypted"_s);
    EXPECT_TRUE(
        FileBytes(SettingsFile(kAccountFile))
            .endsWith(
                "\r\nsecurity tls\r\ntrust 127.0.0.1 " + QByteArray::number(server.Port()) +
                " SHA256:" +
                TestCertificate(u"good"_s).digest(QCryptographicHash::Sha256).toHex().toUpper()));
}

TEST_F(WindowTest, TlsSpokenToAPlainServerIsReportedOnceAndTheWindowConnectsAgain) {
    StartUp();
    form.ComboBox1->setCurrentIndex(TForm1::kSecurityTls);
    server.AddScript("S: 200 plain text only");
    form.Button1->click();
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].startsWith(u"TLS handshake failed: "_s))
        << presenter.infos[0].toStdString();
    EXPECT_FALSE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.Label18->text(), u"Not encrypted"_s);

    form.ComboBox1->setCurrentIndex(TForm1::kSecurityNone);
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) + script::Quit());
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
}

// ---------------------------------------------------------------------------------------------
// Connecting and the host history

TEST_F(WindowTest, ConnectingListsTheGroupsAndAddsTheHostOnceWhateverItsLetterCase) {
    StartUp();
    form.Edit1->setCurrentText(u"localhost"_s);
    Connect(script::Greeting() + script::GroupList({"zk.test.small", "alt.test", "Comp.misc"}) +
            script::Quit());
    EXPECT_EQ(form.StatusText(), u"215 list of newsgroups follows"_s);
    EXPECT_EQ(GroupsShown(), (QStringList{u"alt.test"_s, u"Comp.misc"_s, u"zk.test.small"_s}));
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 3);
    EXPECT_EQ(form.QRNNTP1->TimeOut, 120000);
    EXPECT_EQ(form.QRNNTP1->ReportLevel, 2);

    form.Edit1->setCurrentText(u"LocalHost"_s);
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    EXPECT_EQ(HostHistory(form), QStringList{u"localhost"_s});
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 1);
    ExpectScriptPlayed();
}

TEST_F(WindowTest, NewHostsJoinTheHistoryInOrderWithoutRegardToCase) {
    StartUp();
    form.Edit1->addItem(u"b.example"_s);
    form.Edit1->addItem(u"D.example"_s);
    form.Edit1->setCurrentText(u"127.0.0.1"_s);
    Connect(script::Greeting() + script::GroupList({}));
    EXPECT_EQ(HostHistory(form), (QStringList{u"127.0.0.1"_s, u"b.example"_s, u"D.example"_s}));
    EXPECT_EQ(form.Edit1->currentText(), u"127.0.0.1"_s);
}

TEST_F(WindowTest, EnterInTheHostBoxConnectsAndInsertsNothing) {
    StartUp();
    server.AddScript(script::Greeting() + script::GroupList({"zk.test.small"}));
    form.Edit1->setFocus();
    TypeKey(Qt::Key_Return);
    EXPECT_TRUE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.Edit1->currentText(), u"127.0.0.1"_s);
    EXPECT_EQ(HostHistory(form), QStringList{u"127.0.0.1"_s});
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
    ExpectScriptPlayed();
}

TEST_F(WindowTest, APortThatIsNoNumberIsReportedAndNothingIsTried) {
    StartUp();
    form.Edit2->setText(u"11x"_s);
    form.Button1->click();
    EXPECT_EQ(presenter.infos, QList<QString>{u"'11x' is not a valid integer value"_s});
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(WindowTest, AnInvalidHostAsksForAnotherOne) {
    StartUp();
    form.Edit1->setCurrentText(u"no-such-host.invalid"_s);
    presenter.promptAnswers = {u"127.0.0.1"_s};
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    ASSERT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(presenter.prompts[0].caption, u"Invalid Host"_s);
    EXPECT_EQ(presenter.prompts[0].prompt, u"Please Choose another host"_s);
    EXPECT_EQ(presenter.prompts[0].value, QString());
    EXPECT_TRUE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.QRNNTP1->Host, u"127.0.0.1"_s);
}

TEST_F(WindowTest, ARefusedConnectionIsShownOnceNamingTheServerAndTheReason) {
    StartUp();
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    const QString port = QString::number(listener.serverPort());
    listener.close();
    form.Edit2->setText(port);
    const QString refused = u"Connection to 127.0.0.1:"_s + port + u" failed: Connection refused"_s;
    form.Button1->click();
    EXPECT_EQ(presenter.infos, QList<QString>{refused});
    EXPECT_FALSE(form.QRNNTP1->Connected);

    // A server that goes away after its groups were listed: the listing that connects again
    // first, when asked to, says it once too.
    auto dying = std::make_unique<FakeServer>();
    const QString dyingPort = QString::number(dying->Port());
    dying->AddScript(script::Greeting() + script::GroupList({"zk.test.small"}) + "X:\n");
    form.Edit2->setText(dyingPort);
    form.Button1->click();
    ASSERT_TRUE(WaitUntil([&] { return !form.QRNNTP1->Connected; }));
    dying.reset();
    presenter.infos.clear();
    presenter.confirmAnswers = {true};
    SelectGroup(u"zk.test.small"_s);
    form.Button3->click();
    EXPECT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.infos, QList<QString>{u"Connection to 127.0.0.1:"_s + dyingPort +
                                              u" failed: Connection refused"_s});
}

// ---------------------------------------------------------------------------------------------
// The group list and its filter

TEST_F(WindowTest, TheFilterNarrowsAndWidensWithoutRegardToCase) {
    StartUp();
    Connect(script::Greeting() +
            script::GroupList({"zk.test.small", "zk.test.many", "alt.binaries.test", "comp.lang"}) +
            script::Quit());
    form.Edit6->setText(u"TEST"_s);
    EXPECT_EQ(GroupsShown(),
              (QStringList{u"alt.binaries.test"_s, u"zk.test.many"_s, u"zk.test.small"_s}));
    form.Edit6->setText(u"TEST.S"_s);
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
    form.Edit6->setText(u"TEST"_s);
    EXPECT_EQ(GroupsShown().size(), 3);
    form.Edit6->clear();
    EXPECT_EQ(GroupsShown().size(), 4);
    // Connecting again empties the filter and starts from the list with the new groups.
    form.Edit6->setText(u"comp"_s);
    Connect(script::Greeting() + script::NewGroups({"zk.test.post", "news.answers"}));
    EXPECT_EQ(form.Edit6->text(), QString());
    EXPECT_EQ(GroupsShown(),
              (QStringList{u"alt.binaries.test"_s, u"comp.lang"_s, u"news.answers"_s,
                           u"zk.test.many"_s, u"zk.test.post"_s, u"zk.test.small"_s}));
}

TEST_F(WindowTest, DoubleClickingWithNothingSelectedDoesNothing) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    form.ListBox1->clearSelection();
    form.ListBox1DblClick();
    EXPECT_EQ(server.Received().size(), 2); // only DATE and LIST
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(WindowTest, ListingWithNoGroupSelectedFailsBeforeAnythingIsSent) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    form.ListBox1->clearSelection();
    form.Button3->click();
    EXPECT_EQ(presenter.infos, QList<QString>{u"List index out of bounds (-1)"_s});
    EXPECT_EQ(server.Received().size(), 2);
}

TEST_F(WindowTest, SelectingAGroupShowsItsRangeInTheCaption) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) +
            script::Group("zk.test.small", 4, 4));
    SelectGroup(u"zk.test.small"_s);
    form.Button3Click();
    EXPECT_EQ(form.windowTitle(), u"ZK News Reader - zk.test.small Start:4 End:4"_s);
}

// ---------------------------------------------------------------------------------------------
// The client's boxes

TEST_F(WindowTest, AnOperationWithoutConnectionOffersToConnect) {
    StartUp();
    server.AddScript(script::Greeting() + script::List({"zk.test.small"}) + script::Quit());
    presenter.confirmAnswers = {true};
    form.QRNNTP1->GetGroupList();
    ASSERT_EQ(presenter.questions.size(), 1);
    EXPECT_EQ(presenter.questions[0].text, u"Connection Required. Connect?"_s);
    EXPECT_EQ(presenter.questions[0].buttons, TConfirmButtons::YesNo);
    EXPECT_EQ(presenter.questions[0].warningCaption, u"Connection Required"_s);
    EXPECT_TRUE(form.QRNNTP1->Connected);

    form.QRNNTP1->Disconnect();
    EXPECT_EQ(form.StatusText(), u"Disconnected"_s);
    presenter.confirmAnswers = {false};
    EXPECT_THROW(form.QRNNTP1->GetGroupList(), Exception);
}

TEST_F(WindowTest, TheGroupEnteredForAServerThatLostTheSelectionIsSelected) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) +
            "C: ARTICLE 2\nS: 412 no newsgroup selected\n" + script::Group("zk.test.misc", 1, 3) +
            script::Article(2, "Subject: found", "body"));
    presenter.promptAnswers = {u"zk.test.misc"_s};
    form.QRNNTP1->GetArticle(2);
    ASSERT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(presenter.prompts[0].caption, u"Newsgroup selection Required"_s);
    EXPECT_EQ(presenter.prompts[0].prompt, u"Enter NewsGroup Name: "_s);
    EXPECT_EQ(form.QRNNTP1->CurrentGroup, "zk.test.misc");
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"found"_s);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(WindowTest, ClosingWhileConnectedSaysQuitAndDisconnects) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) + script::Quit());
    form.close();
    EXPECT_FALSE(form.QRNNTP1->Connected);
    EXPECT_EQ(server.Received().last(), "QUIT");
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 0);
    ExpectScriptPlayed();
}

TEST_F(WindowTest, ACloseDuringAListingAbortsItAndReleasesTheListsOnlyAfterItReturned) {
    StartUp();
    // The listing never ends by itself: the server sends the summaries up to the client's first
    // progress report and then waits for the QUIT of the close.
    constexpr int kLast = TQRNNTP::kProgressSummaries;
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}) +
            script::Group("zk.test.small", 1, kLast) + "C: XOVER 1-" + QByteArray::number(kLast) +
            "\nS: 224 overview follows\n" + script::Summaries(1, kLast) + script::Quit());
    SelectGroup(u"zk.test.small"_s);
    presenter.promptAnswers = {u"1"_s};
    int groupsSeenByTheClose = -1;
    WhenProgressIsShown([&] {
        form.close();
        groupsSeenByTheClose = TForm1Access::AllGroups(form).Count();
    });
    form.Button3->click();

    EXPECT_EQ(groupsSeenByTheClose, 1); // kept while the listing was still running
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 0);
    EXPECT_FALSE(form.QRNNTP1->Busy);
    EXPECT_FALSE(form.QRNNTP1->Connected);
    EXPECT_TRUE(presenter.infos.isEmpty()); // the aborted listing reports nothing after close
    EXPECT_EQ(PaneText(form.Memo4), QString());
}
