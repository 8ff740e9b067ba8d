// The window's local news store: opening it or setting a damaged one aside, the last server
// profile, and what the window keeps of what it fetches.
#include "window.h"

#include "filesizelimit.h"
#include "nntp/storecache.h"
#include "store/newsstore.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QStatusBar>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray kNotAStore = "this is no database, only bytes a person put here\n";

} // namespace

// ---------------------------------------------------------------------------------------------
// Opening the store

TEST_F(GroupWindowTest, KeepsListingsAndArticlesReadInTheStore) {
    ListSmallGroup(3, script::Article(2, "Subject: two", "kept"));
    GetArticle(2);
    ExpectScriptPlayed();

    TNewsStore store(StorePath());
    const qint64 serverId = store.ServerId(u"127.0.0.1"_s, server.Port());
    const qint64 group = store.GroupId(serverId, kGroup);
    EXPECT_EQ(store.SummaryCount(group), 3);
    EXPECT_EQ(store.StoredHigh(group), 3);
    const std::optional<QByteArray> article = store.Article(group, 2);
    ASSERT_TRUE(article.has_value());
    EXPECT_TRUE(article->contains("Subject: two\r\n\r\nkept")) << article->toStdString();
    EXPECT_TRUE(store.ReadMarks(group).Contains(2));
    EXPECT_FALSE(store.ReadMarks(group).Contains(1));
    EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
}

// On a full disk (as root too: the process's file size limit stops the store's writes) the
// window lists the group and shows the article from the server, and says in the status bar
// which file could not keep them, where the article's details do not hide it; no box
// interrupts the reading.
TEST_F(GroupWindowTest, OnAFullDiskTheWindowListsAndReadsFromTheServer) {
    const QByteArray body = QByteArray("a body line\n").repeated(10000);
    QString status;
    // The store is made while there is room.
    StartUp();
    {
        const TFileSizeLimit limit(64 * 1024);
        ListSmallGroup(300, script::Article(2, "Subject: two", body));
        GetArticle(2);
        status = form.StatusBar1->currentMessage();
    }
    ExpectScriptPlayed();
    EXPECT_TRUE(PaneText(form.Memo4).contains(u"Subject: Subject 300"_s));
    EXPECT_EQ(form.Memo2->toPlainText().count(u"a body line"_s), 10000);
    EXPECT_TRUE(status.contains(StorePath())) << status.toStdString();
    EXPECT_TRUE(status.contains(u"full"_s)) << status.toStdString();
    EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
}

// A store file that cannot be opened is named to the user, who may set it aside; the reader
// connects and lists from the server whatever the answer.
struct TDamagedStoreCase {
    const char* name;
    bool setAside;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TDamagedStoreCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedStoreTest : public GroupWindowTest,
                         public ::testing::WithParamInterface<TDamagedStoreCase> {};

TEST_P(DamagedStoreTest, IsNamedAndSetAsideOnlyWhenTheUserAgrees) {
    WriteFile(StorePath(), kNotAStore);
    presenter.confirmAnswers = {GetParam().setAside};
    ListSmallGroup(2);
    ExpectScriptPlayed();
    EXPECT_TRUE(PaneText(form.Memo4).contains(u"Subject 2"_s))
        << PaneText(form.Memo4).toStdString();

    ASSERT_EQ(presenter.questions.size(), 1);
    const QString asideName = StorePath() + u'.' + QDate::currentDate().toString(Qt::ISODate);
    EXPECT_EQ(presenter.questions[0].warningCaption, u"News Store"_s);
    EXPECT_TRUE(presenter.questions[0].text.contains(StorePath()));
    EXPECT_TRUE(presenter.questions[0].text.contains(asideName));
    if (GetParam().setAside) {
        EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
        EXPECT_EQ(FileBytes(asideName), kNotAStore);
        TNewsStore fresh(StorePath());
        EXPECT_TRUE(fresh.LastProfile().has_value());
    } else {
        ASSERT_EQ(presenter.infos.size(), 1);
        EXPECT_TRUE(presenter.infos[0].contains(StorePath()));
        EXPECT_TRUE(presenter.infos[0].contains(u"works from the server"_s));
        EXPECT_EQ(FileBytes(StorePath()), kNotAStore);
        EXPECT_FALSE(QFile::exists(asideName));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, DamagedStoreTest,
                         ::testing::Values(TDamagedStoreCase{"SetAside", true},
                                           TDamagedStoreCase{"KeptAsItIs", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GroupWindowTest, StoreWhoseFolderCannotBeMadeIsNamedAndTheReaderWorksOn) {
    WithoutStore();
    ListSmallGroup(2);
    ExpectScriptPlayed();
    EXPECT_TRUE(PaneText(form.Memo4).contains(u"Subject 2"_s))
        << PaneText(form.Memo4).toStdString();
    EXPECT_TRUE(presenter.questions.isEmpty());
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].contains(u"blocked"_s)) << presenter.infos[0].toStdString();
}

TEST_F(WindowTest, SecondDamagedStoreOfTheDayGetsItsOwnName) {
    const QString firstAside = StorePath() + u'.' + QDate::currentDate().toString(Qt::ISODate);
    WriteFile(firstAside, "set aside earlier");
    WriteFile(StorePath(), kNotAStore);
    presenter.confirmAnswers = {true};
    StartUp();
    EXPECT_EQ(FileBytes(firstAside), "set aside earlier");
    EXPECT_EQ(FileBytes(firstAside + u"-2"_s), kNotAStore);
}

// ---------------------------------------------------------------------------------------------
// The last server profile

struct TProfileCase {
    const char* name;
    const char* security;
    int securityIndex;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TProfileCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileTest : public WindowTest, public ::testing::WithParamInterface<TProfileCase> {};

TEST_P(ProfileTest, StartUpFillsTheConnectionFieldsFromTheLastProfile) {
    {
        TNewsStore store(StorePath());
        store.SaveLastProfile(TServerProfile{
            u"news.example"_s, 8119, QString::fromLatin1(GetParam().security), u"reader"_s});
    }
    // The account file says otherwise: the server last connected to wins.
    WriteFile(SettingsFile(kAccountFile), "me@example.org\r\n\r\nolduser\r\n\r\nsecurity tls");
    form.Timer1Timer();
    EXPECT_EQ(form.Edit1->currentText(), u"news.example"_s);
    EXPECT_EQ(form.Edit2->text(), u"8119"_s);
    EXPECT_EQ(form.ComboBox1->currentIndex(), GetParam().securityIndex);
    EXPECT_EQ(form.Edit3->text(), u"reader"_s);
}

INSTANTIATE_TEST_SUITE_P(Securities, ProfileTest,
                         ::testing::Values(TProfileCase{"None", "none", TForm1::kSecurityNone},
                                           TProfileCase{"Tls", "tls", TForm1::kSecurityTls},
                                           TProfileCase{"StartTls", "starttls",
                                                        TForm1::kSecurityStartTls}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, ConnectSavesTheProfile) {
    StartUp();
    form.Edit3->setText(u"reader"_s);
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    ExpectScriptPlayed();

    TNewsStore store(StorePath());
    EXPECT_EQ(store.LastProfile(),
              (TServerProfile{u"127.0.0.1"_s, server.Port(), u"none"_s, u"reader"_s}));
}

TEST_F(WindowTest, FailedConnectSavesNoProfile) {
    StartUp();
    form.Edit2->setText(u"1"_s);
    EXPECT_THROW(form.Button1Click(), EShownError);
    TNewsStore store(StorePath());
    EXPECT_FALSE(store.LastProfile().has_value());
}

// ---------------------------------------------------------------------------------------------
// The group list from the store

class StoredGroupListTest : public WindowTest {
protected:
    static inline const QByteArray kThreeGroups =
        script::GroupList({"zk.test.small", "alt.test", "zk.test.misc"});

    // Connects to a server of the three groups and subscribes to those named; the rest of the
    // conversation follows.
    void SubscribeOnFirstVisit(const QStringList& names, const QByteArray& conversation = {}) {
        StartUp();
        Connect(script::Greeting() + kThreeGroups + conversation);
        for (const QString& name : names) {
            SelectGroup(name);
            ChooseFromContextMenu(form.ListBox1, u"Subscribe"_s);
        }
    }

    // Connects again; answers the groups shown before the server's list arrived.
    QStringList ConnectAgainShowingStoredGroups(const QByteArray& groupList) {
        auto shownBeforeList = std::make_shared<QStringList>();
        TQRNNTP& client = *form.QRNNTP1;
        client.OnGroupListUpdate = [this, shownBeforeList, add = client.OnGroupListUpdate](
                                       const QByteArray& name, int first, int last, bool posting) {
            if (shownBeforeList->isEmpty()) {
                *shownBeforeList = GroupsShown();
            }
            add(name, first, last, posting);
        };
        Connect(script::Greeting() + groupList);
        return *shownBeforeList;
    }
};

TEST_F(StoredGroupListTest, SubscribedGroupsComeFirstWithTheirUnreadCounts) {
    SubscribeOnFirstVisit({u"zk.test.small"_s, u"alt.test"_s});
    EXPECT_EQ(GroupsShown(),
              (QStringList{u"alt.test (10)"_s, u"zk.test.small (10)"_s, u"zk.test.misc"_s}));
    SelectGroup(u"alt.test (10)"_s);
    ChooseFromContextMenu(form.ListBox1, u"Unsubscribe"_s);
    EXPECT_EQ(GroupsShown(),
              (QStringList{u"zk.test.small (10)"_s, u"alt.test"_s, u"zk.test.misc"_s}));
    // The selection follows the group wherever it moved.
    EXPECT_EQ(form.ListBox1->currentItem()->text(), u"alt.test"_s);
    ExpectScriptPlayed();
}

TEST_F(StoredGroupListTest, ConnectShowsTheStoredGroupsAtOnceThenTheNewOnes) {
    SubscribeOnFirstVisit({u"zk.test.misc"_s}, script::Quit());
    const QStringList shownBeforeList =
        ConnectAgainShowingStoredGroups(script::NewGroups({"zk.test.new"}));
    EXPECT_EQ(shownBeforeList,
              (QStringList{u"zk.test.misc (10)"_s, u"alt.test"_s, u"zk.test.small"_s}));
    // The new group joins the stored ones; a group gone from the server goes on Refresh Groups.
    EXPECT_EQ(GroupsShown(), (QStringList{u"zk.test.misc (10)"_s, u"alt.test"_s, u"zk.test.new"_s,
                                          u"zk.test.small"_s}));
    EXPECT_EQ(TForm1Access::AllGroups(form).Count(), 4);
    ExpectScriptPlayed();
}

TEST_F(StoredGroupListTest, RefreshGroupsListsTheServerAgainKeepingSubscriptions) {
    SubscribeOnFirstVisit({u"zk.test.small"_s},
                          script::GroupList({"zk.test.small", "zk.test.new"}));
    form.Button19->click();
    EXPECT_EQ(form.Button19->text(), u"Refresh Groups"_s);
    EXPECT_EQ(GroupsShown(), (QStringList{u"zk.test.small (10)"_s, u"zk.test.new"_s}));
    ExpectScriptPlayed();
}

struct TGroupFilterCase {
    const char* name;
    const char* filter;
    bool subscribedOnly;
    QStringList shown;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TGroupFilterCase& c, std::ostream* os) {
    *os << c.name;
}

class GroupFilterTest : public StoredGroupListTest,
                        public ::testing::WithParamInterface<TGroupFilterCase> {};

TEST_P(GroupFilterTest, SubscribedOnlyNarrowsWithTheFilter) {
    SubscribeOnFirstVisit({u"zk.test.small"_s, u"alt.test"_s});
    form.Edit6->setText(QString::fromLatin1(GetParam().filter));
    form.CheckBox1->setChecked(GetParam().subscribedOnly);
    EXPECT_EQ(form.CheckBox1->text(), u"Subscribed only"_s);
    EXPECT_EQ(GroupsShown(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, GroupFilterTest,
    ::testing::Values(
        TGroupFilterCase{"SubscribedOnly", "", true, {u"alt.test (10)"_s, u"zk.test.small (10)"_s}},
        TGroupFilterCase{"SubscribedMatching", "ZK", true, {u"zk.test.small (10)"_s}},
        TGroupFilterCase{"SubscribedMatchingNone", "misc", true, {}},
        TGroupFilterCase{"AllMatching", "zk", false, {u"zk.test.small (10)"_s, u"zk.test.misc"_s}},
        // The count is no part of the name the filter looks at.
        TGroupFilterCase{"CountNotMatched", "10", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, SubscribingWithoutAStoreSaysWhy) {
    qputenv(kStoreVariable, settings.filePath(u"missing/folder/news.db"_s).toUtf8());
    WriteFile(settings.filePath(u"missing"_s), "a file where the folder should be");
    StartUp();
    presenter.infos.clear();
    Connect(script::Greeting() + script::GroupList({"zk.test.small"}));
    SelectGroup(u"zk.test.small"_s);
    ChooseFromContextMenu(form.ListBox1, u"Subscribe"_s);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].contains(u"news store"_s));
    EXPECT_EQ(GroupsShown(), QStringList{u"zk.test.small"_s});
}

// ---------------------------------------------------------------------------------------------
// Opening a group from the group list

TEST_F(GroupWindowTest, AGroupOpenedBeforeShowsItsStoredSummariesAndFetchesOnlyTheNewer) {
    // The first visit asks where to start, as the group spans many articles.
    presenter.promptAnswers = {u"599"_s};
    OpenGroup(1, 600, script::Overview(599, 600, script::Summaries(599, 600)) + script::Quit());
    form.ListBox1DblClick();
    ASSERT_EQ(presenter.prompts.size(), 1);

    // Two articles arrived since; the second visit asks nothing and fetches only those.
    Connect(script::Greeting() + script::NewGroups({}) + script::Group(kGroup, 1, 602) +
            script::Overview(601, 602, script::Summaries(601, 602)));
    SelectGroup(QString::fromLatin1(kGroup));
    form.ListBox1DblClick();
    EXPECT_EQ(presenter.prompts.size(), 1);
    const QString pane = PaneText(form.Memo4);
    for (const QString& subject :
         {u"Subject 599"_s, u"Subject 600"_s, u"Subject 601"_s, u"Subject 602"_s}) {
        EXPECT_TRUE(pane.contains(subject)) << subject.toStdString() << pane.toStdString();
    }
    EXPECT_EQ(TForm1Access::ListStart(form), 599);
    ExpectScriptPlayed();
}

TEST_F(GroupWindowTest, AGroupWithNothingNewIsShownFromTheStoreAlone) {
    OpenGroup(1, 3, script::Overview(1, 3, script::Summaries(1, 3)) + script::Group(kGroup, 1, 3));
    form.ListBox1DblClick();
    const QString firstListing = PaneText(form.Memo4);
    const qsizetype commandsBefore = CommandsSent();
    form.ListBox1DblClick();
    EXPECT_EQ(PaneText(form.Memo4), firstListing);
    // Only GROUP went to the server.
    EXPECT_EQ(CommandsSent(), commandsBefore + 1);
    ExpectScriptPlayed();
}

// The server's marks on the next visit: articles expired below its low mark leave the store;
// a group whose numbers went backwards is fetched anew, its old summaries and read marks gone
// rather than mixed with the new numbers.
TEST_F(GroupWindowTest, ExpiredAndRenumberedSummariesLeaveTheStoreWhenTheGroupIsOpened) {
    struct Case {
        const char* what;
        int low;
        int high;
        QByteArray fetched; // the overview lines the second visit asks for
        QStringList shown;
        qint64 unread;
    };
    const Case cases[] = {
        {"two expired", 3, 5, {}, {u"[3]"_s, u"[4]"_s, u"[5]"_s}, 3},
        {"renumbered",
         1,
         2,
         script::Overview(
             1, 2, script::Summary(1, "new one", "n@x") + script::Summary(2, "new two", "n@x")),
         {u"new one"_s, u"new two"_s},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir fresh;
        qputenv(kStoreVariable, fresh.Path("news.db").toUtf8());
        TForm1 window;
        window.SettingsDir = form.SettingsDir;
        window.zkfind = &find;
        window.Timer1Timer();
        window.Edit1->setCurrentText(u"127.0.0.1"_s);
        window.Edit2->setText(QString::number(server.Port()));
        server.AddScript(script::Greeting() + script::GroupList({kGroup.constData()}) +
                         script::Group(kGroup, 1, 5) +
                         script::Overview(1, 5, script::Summaries(1, 5)) +
                         script::Article(1, "Subject: Subject 1", "one") + script::Quit());
        window.Button1Click();
        window.ListBox1->setCurrentRow(0);
        window.ListBox1DblClick();
        window.Edit7->setText(u"1"_s);
        window.Button4Click();

        server.AddScript(script::Greeting() + script::NewGroups({}) +
                         script::Group(kGroup, c.low, c.high) + c.fetched + script::Quit());
        window.Button1Click();
        window.ListBox1->setCurrentRow(0);
        window.ListBox1DblClick();
        const QString pane = PaneText(window.Memo4);
        for (const QString& entry : c.shown) {
            EXPECT_TRUE(pane.contains(entry)) << entry.toStdString() << pane.toStdString();
        }
        EXPECT_FALSE(pane.contains(u"Subject 1"_s)) << pane.toStdString();
        EXPECT_TRUE(window.close());
        ExpectScriptPlayed();
        TNewsStore store(fresh.Path("news.db"));
        const qint64 group = store.GroupId(
            store.ServerId(u"127.0.0.1"_s, static_cast<quint16>(server.Port())), kGroup);
        EXPECT_EQ(store.SummaryCount(group), c.shown.size());
        EXPECT_EQ(store.UnreadCount(group), c.unread);
    }
}

// A stored group larger than the part the window reads and paints first is shown whole from
// the store, each entry as the server's listing showed it: encoded words decoded, a CR inside
// a field, a line of only a number.
TEST_F(GroupWindowTest, ALargeStoredGroupIsShownWholeAsTheServerListedIt) {
    constexpr int kLast = 450;
    const QByteArray overview =
        script::Summaries(1, kLast - 3) +
        "S: 448\t=?UTF-8?Q?caf=C3=A9?=\t=?ISO-8859-1?Q?M=FCller?= <m@x>\td\t<448@x>\t\t1\t1\n"
        "S: 449\tcarriage\rreturn\tb@x\td\t<449@x>\t\t1\t1\n"
        "S: 450\n";
    presenter.promptAnswers = {u"1"_s};
    OpenGroup(1, kLast, script::Overview(1, kLast, overview) + script::Group(kGroup, 1, kLast));
    form.ListBox1DblClick();
    const QString fromServer = PaneText(form.Memo4);
    ASSERT_TRUE(fromServer.contains(u"[450]"_s)) << fromServer.toStdString();
    ASSERT_TRUE(fromServer.contains(u"café"_s)) << fromServer.toStdString();
    form.ListBox1DblClick();
    EXPECT_EQ(PaneText(form.Memo4), fromServer);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Read marks

TEST_F(GroupWindowTest, ArticlesReadAreDrawnQuieterAlsoOnTheNextVisit) {
    QList<QColor> shownColours;
    OpenGroup(1, 3,
              script::Overview(1, 3, script::Summaries(1, 3)) +
                  script::Article(2, "Subject: two", "read") + script::Group(kGroup, 1, 3));
    form.ListBox1DblClick();
    GetArticle(2);
    const auto colourOf = [this, &shownColours](int number) {
        ASSERT_TRUE(TForm1Access::Summary(form).HasEntry(number));
        for (qint64 line = 0; line < TForm1Access::Summary(form).LineCount(); ++line) {
            if (TForm1Access::Summary(form).EntryNumberOfLine(line) == number) {
                shownColours.append(form.Memo4->LineColour(line));
                return;
            }
        }
    };
    for (const bool nextVisit : {false, true}) {
        if (nextVisit) {
            form.ListBox1DblClick();
        }
        shownColours.clear();
        colourOf(1);
        colourOf(2);
        colourOf(3);
        ASSERT_EQ(shownColours.size(), 3);
        EXPECT_EQ(shownColours[0], shownColours[2]);
        EXPECT_NE(shownColours[0], shownColours[1]) << "visit " << nextVisit;
        EXPECT_EQ(shownColours[1], form.Memo4->palette().color(QPalette::Disabled, QPalette::Text));
    }
    ExpectScriptPlayed();
}
