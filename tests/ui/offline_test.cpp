// What the window takes from the news store instead of the server: articles read before, the
// group list brought up to date with the groups new since the last time, and Work offline.
#include "window.h"

#include "testfiles.h"
#include "nntp/storecache.h"
#include "store/newsstore.h"

#include <QCheckBox>
#include <QTimeZone>
#include <QToolButton>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// The scripts' server time (script::kServerTime) and one a day later.
const QDateTime kFirstListTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
const QDateTime kNextDay = kFirstListTime.addDays(1);
constexpr char kNextDayStamp[] = "20260103030405";
constexpr char kNewGroupsSinceFirst[] = "C: NEWGROUPS 20260102 030405 GMT\n";

qsizetype CountOf(const QList<QByteArray>& lines, const QByteArray& prefix) {
    return std::count_if(lines.cbegin(), lines.cend(),
                         [&](const QByteArray& line) { return line.startsWith(prefix); });
}

} // namespace

class StoreFirstTest : public GroupWindowTest {
protected:
    TNewsStore& Store() {
        if (!store) {
            store = std::make_unique<TNewsStore>(StorePath());
        }
        return *store;
    }
    qint64 ServerId() { return Store().ServerId(u"127.0.0.1"_s, server.Port()); }
    qint64 GroupId() { return Store().GroupId(ServerId(), kGroup); }

    // Counts every article the store writes, in a table of the test's own.
    void CountArticleWrites() {
        Store().Database().Execute(
            "CREATE TABLE article_writes (number INTEGER);"
            "CREATE TRIGGER count_article_writes AFTER INSERT ON article "
            "BEGIN INSERT INTO article_writes VALUES (NEW.number); END;");
    }
    qint64 ArticleWrites() {
        return Store().Database().QueryInt("SELECT count(*) FROM article_writes");
    }

    // Connects again to the server of the first visit, which answers with what follows; as a
    // click, so that an error is shown as the window shows errors.
    void ConnectAgain(const QByteArray& conversation) {
        server.AddScript(script::Greeting() + conversation);
        form.Button1->click();
    }

    std::unique_ptr<TNewsStore> store;
};

// ---------------------------------------------------------------------------------------------
// Articles read come from the store

TEST_F(StoreFirstTest, AnArticleReadBeforeIsShownFromTheStoreAndOthersAreKeptOnce) {
    CountArticleWrites();
    ListSmallGroup(3, script::Article(2, "Subject: two", "kept") + script::Quit());
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo2), u"kept"_s);

    // The next visit's server would fail a second ARTICLE 2: only article 3 is asked for.
    ConnectAgain(script::NewGroups({}) + script::Group(kGroup, 1, 3) +
                 script::Article(3, "Subject: three", "fresh"));
    SelectGroup(QString::fromLatin1(kGroup));
    form.ListBox1DblClick();
    form.Memo2->clear();
    GetArticle(2);
    EXPECT_FALSE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(PaneText(form.Memo2), u"kept"_s);
    EXPECT_TRUE(form.Memo3->toPlainText().contains(u"Subject: two"_s));
    GetArticle(3);
    EXPECT_EQ(PaneText(form.Memo2), u"fresh"_s);
    ExpectScriptPlayed();
    EXPECT_EQ(CountOf(server.Received(), "ARTICLE"), 2);

    // Each article went into the store once, as it arrived, and both are marked read.
    EXPECT_EQ(ArticleWrites(), 2);
    EXPECT_TRUE(Store().Article(GroupId(), 3)->contains("\r\n\r\nfresh"));
    EXPECT_TRUE(Store().ReadMarks(GroupId()).Contains(2));
    EXPECT_TRUE(Store().ReadMarks(GroupId()).Contains(3));
}

// ---------------------------------------------------------------------------------------------
// The group list: the whole list the first time, the groups new since on connecting again

struct TNewGroupsCase {
    const char* name;
    // The conversation of the second connection, after the greeting.
    QByteArray conversation;
    QStringList shown;
    // The server time the store keeps afterwards; invalid for the local clock.
    QDateTime kept;
    QString info;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TNewGroupsCase& c, std::ostream* os) {
    *os << c.name;
}

class NewGroupsTest : public StoreFirstTest,
                      public ::testing::WithParamInterface<TNewGroupsCase> {};

TEST_P(NewGroupsTest, ConnectingAgainAsksForTheGroupsNewSinceTheLastList) {
    StartUp();
    Connect(script::Greeting() + script::GroupList({"zk.test.small", "alt.test"}) +
            script::Quit());
    SelectGroup(u"alt.test"_s);
    ChooseFromContextMenu(form.ListBox1, u"Subscribe"_s);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    ConnectAgain(GetParam().conversation);
    ExpectScriptPlayed();
    EXPECT_EQ(GroupsShown(), GetParam().shown);
    const std::optional<QDateTime> kept = Store().GroupListTime(ServerId());
    ASSERT_TRUE(kept.has_value());
    if (GetParam().kept.isValid()) {
        EXPECT_EQ(*kept, GetParam().kept);
    } else {
        EXPECT_GE(*kept, before);
        EXPECT_LE(*kept, QDateTime::currentDateTimeUtc());
    }
    EXPECT_EQ(presenter.infos.join(u'\n'), GetParam().info);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, NewGroupsTest,
    ::testing::Values(
        TNewGroupsCase{"NewGroupsJoinTheStoredOnes",
                       script::Date(kNextDayStamp) + kNewGroupsSinceFirst +
                           "S: 231 new groups follow\nS: zk.test.new 5 1 y\nS: .\n",
                       {u"alt.test (10)"_s, u"zk.test.new"_s, u"zk.test.small"_s},
                       kNextDay,
                       {}},
        TNewGroupsCase{"NothingNew",
                       script::Date(kNextDayStamp) + kNewGroupsSinceFirst +
                           "S: 231 new groups follow\nS: .\n",
                       {u"alt.test (10)"_s, u"zk.test.small"_s},
                       kNextDay,
                       {}},
        // The whole list instead, which also drops a group the server no longer has.
        TNewGroupsCase{"RefusedForTheWholeList",
                       script::Date(kNextDayStamp) + kNewGroupsSinceFirst +
                           "S: 502 not for you\n" + script::Date(kNextDayStamp) +
                           script::List({"zk.test.new", "alt.test"}),
                       {u"alt.test (10)"_s, u"zk.test.new"_s},
                       kNextDay,
                       {}},
        TNewGroupsCase{"DateRefusedTakesTheLocalClock",
                       QByteArray("C: DATE\nS: 500 what?\n") + kNewGroupsSinceFirst +
                           "S: 231 new groups follow\nS: zk.test.new 5 1 y\nS: .\n",
                       {u"alt.test (10)"_s, u"zk.test.new"_s, u"zk.test.small"_s},
                       QDateTime(),
                       {}},
        // Nothing of a malformed reply is taken, and the time stays for the next try.
        TNewGroupsCase{"MalformedChangesNothing",
                       script::Date(kNextDayStamp) + kNewGroupsSinceFirst +
                           "S: 231 new groups follow\nS: zk.test.new 5 1 y\nS: zk.test.bad\n"
                           "S: .\n",
                       {u"alt.test (10)"_s, u"zk.test.small"_s},
                       kFirstListTime,
                       u"Malformed NEWGROUPS reply, line 2 is no group line: 'zk.test.bad'"_s}),
    [](const auto& info) { return std::string(info.param.name); });

// A connection made again for an operation that needed one lists nothing inside it: the time
// of the last list stays, for the next Connect to ask for every group new since.
TEST_F(StoreFirstTest, AConnectionMadeForAnArticleKeepsTheTimeOfTheLastList) {
    ListSmallGroup(3, script::Quit());
    form.Edit2->setText(u"1"_s);
    EXPECT_THROW(form.Button1Click(), EShownError);
    form.Edit2->setText(QString::number(server.Port()));
    presenter.confirmAnswers = {true};
    server.AddScript(script::Greeting() + script::Article(2, "Subject: two", "body"));
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo2), u"body"_s);
    ExpectScriptPlayed();
    EXPECT_EQ(Store().GroupListTime(ServerId()), kFirstListTime);
}

// ---------------------------------------------------------------------------------------------
// Work offline

class WorkOfflineTest : public StoreFirstTest {
protected:
    // A first visit online: the group listed and article 2 read.
    void VisitOnline() {
        ListSmallGroup(3, script::Article(2, "Subject: two", "kept") + script::Quit());
        GetArticle(2);
        ASSERT_EQ(PaneText(form.Memo2), u"kept"_s);
    }
};

TEST_F(WorkOfflineTest, CheckingItShowsTheStoredServerAndSendsNothing) {
    VisitOnline();
    EXPECT_EQ(form.CheckBox2->text(), u"Work &offline"_s);
    const qsizetype sentOnline = CommandsSent();
    form.CheckBox2->click();
    EXPECT_FALSE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.QRNNTP1->CacheMode, TCacheMode::cmLocal);
    EXPECT_EQ(GroupsShown(), QStringList{QString::fromLatin1(kGroup)});
    EXPECT_TRUE(form.StatusText().startsWith(u"Working offline: 1 group of 127.0.0.1:"_s))
        << form.StatusText().toStdString();

    // The summaries, the article read and a step to one never read: all from the store.
    SelectGroup(QString::fromLatin1(kGroup));
    form.ListBox1DblClick();
    EXPECT_EQ(TForm1Access::Summary(form).LastEntryNumber(), "3");
    EXPECT_TRUE(PaneText(form.Memo4).contains(u"Subject 3"_s));
    form.Memo2->clear();
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo2), u"kept"_s);
    form.BitBtn1->click();
    EXPECT_TRUE(TForm1Access::ArticleNotShown(form));
    EXPECT_EQ(form.StatusText(),
              u"Working offline: article 3 of zk.test.small is not in the news store"_s);
    form.Button19->click();
    EXPECT_EQ(GroupsShown(), QStringList{QString::fromLatin1(kGroup)});

    // QUIT ended the online visit; nothing went to the server since, and no box asked.
    EXPECT_EQ(CommandsSent(), sentOnline + 1);
    EXPECT_EQ(server.Received().last(), "QUIT");
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(presenter.questions.isEmpty());
    EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
    ExpectScriptPlayed();
}

TEST_F(WorkOfflineTest, ClearingItConnectsAgainAndAsksForTheNewGroups) {
    VisitOnline();
    form.CheckBox2->click();
    server.AddScript(script::Greeting() + script::NewGroups({"zk.test.new"}));
    form.CheckBox2->click();
    EXPECT_TRUE(form.QRNNTP1->Connected);
    EXPECT_EQ(form.QRNNTP1->CacheMode, TCacheMode::cmRemote);
    EXPECT_EQ(GroupsShown(), (QStringList{u"zk.test.new"_s, QString::fromLatin1(kGroup)}));
    ExpectScriptPlayed();
}

// Remembered with the other connection settings, as "Subscribed only" is: the next start
// connects offline at once, without any server, and lists the subscribed groups only.
TEST_F(WorkOfflineTest, TheChoiceIsRememberedAndTheNextStartNeedsNoServer) {
    VisitOnline();
    form.CheckBox2->click();
    form.CheckBox1->click();
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(FileBytes(SettingsFile(kAccountFile)).endsWith("\r\noffline\r\nsubscribed-only"))
        << FileBytes(SettingsFile(kAccountFile)).toStdString();
    const int connectionsBefore = server.Connections();

    TForm1 restarted;
    restarted.SettingsDir = form.SettingsDir;
    restarted.zkfind = &find;
    restarted.Timer1Timer();
    EXPECT_TRUE(restarted.CheckBox2->isChecked());
    EXPECT_TRUE(restarted.CheckBox1->isChecked());
    restarted.Button1->click();
    EXPECT_EQ(restarted.ListBox1->count(), 0);
    restarted.CheckBox1->click();
    EXPECT_EQ(restarted.ListBox1->count(), 1);
    EXPECT_FALSE(restarted.QRNNTP1->Connected);
    EXPECT_EQ(server.Connections(), connectionsBefore);

    restarted.CheckBox2->setChecked(false);
    EXPECT_TRUE(restarted.close());
    EXPECT_FALSE(FileBytes(SettingsFile(kAccountFile)).contains("offline"));
    EXPECT_FALSE(FileBytes(SettingsFile(kAccountFile)).contains("subscribed-only"));
}

TEST_F(WindowTest, WorkingOfflineWithoutAStoreSaysWhy) {
    qputenv(kStoreVariable, settings.filePath(u"missing/folder/news.db"_s).toUtf8());
    WriteFile(settings.filePath(u"missing"_s), "a file where the folder should be");
    StartUp();
    form.CheckBox2->click();
    EXPECT_EQ(form.StatusText(), u"Working offline needs the news store, which is not open"_s);
    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_EQ(server.Connections(), 0);
}
