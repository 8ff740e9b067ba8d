// Reading through a store's read marks: opening a group again from what the store holds, the
// unread counts of the group list, Next Unread (button and space bar), Mark Group Read and Mark
// Unread.
#include "window.h"

#include "nntp/storecache.h"
#include "store/newsstore.h"

#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

// The body of an article too long for the body pane to show at once.
QByteArray LongBody() {
    QByteArray body;
    for (int line = 1; line <= 300; ++line) {
        body += "line " + QByteArray::number(line) + '\n';
    }
    return body + "the end";
}

} // namespace

class ReadMarksTest : public GroupWindowTest {
protected:
    // Connects to a server of the groups named, subscribed to those given; the rest of the
    // conversation follows.
    void ConnectSubscribed(std::initializer_list<const char*> groups,
                           const QList<QByteArray>& subscribed, const QByteArray& conversation) {
        StartUp();
        Connect(script::Greeting() + script::GroupList(groups) + conversation);
        for (const QByteArray& name : subscribed) {
            SelectGroup(QString::fromLatin1(name));
            ChooseFromContextMenu(form.ListBox1, u"Subscribe"_s);
        }
    }

    // The text the group list shows for the group: its name and, when subscribed, its count.
    QString GroupShown(const QByteArray& name) const {
        for (const QString& shown : GroupsShown()) {
            if (shown == QString::fromLatin1(name) ||
                shown.startsWith(QString::fromLatin1(name + " ("))) {
                return shown;
            }
        }
        return QString();
    }

    // The group and the number of the article shown on the reading page, as "group:n".
    QString ArticleShown() const {
        return QString::fromLatin1(form.QRNNTP1->CurrentGroup) + u':' +
               form.Label10->text().section(u']', 0, 0).mid(1);
    }

    bool DrawnAsRead(int number) const {
        const TSummaryState& summary = TForm1Access::Summary(form);
        for (qint64 line = 0; line < summary.LineCount(); ++line) {
            if (summary.EntryNumberOfLine(line) == number) {
                return form.Memo4->LineColour(line) ==
                       form.Memo4->palette().color(QPalette::Disabled, QPalette::Text);
            }
        }
        ADD_FAILURE() << "no entry " << number;
        return false;
    }

    TArticleRanges StoredReadMarks(const QByteArray& name) {
        TNewsStore store(StorePath());
        return store.ReadMarks(store.GroupId(store.ServerId(u"127.0.0.1"_s, server.Port()), name));
    }

    // Selects the summary entries from first to last, as a person drags over them.
    void SelectEntries(int first, int last) {
        const TSummaryState& summary = TForm1Access::Summary(form);
        form.Memo4->SetCaret(summary.LineStart(2 * (first - 1)));
        form.Memo4->SetCaret(summary.LineStart(2 * last - 1) + 4, true);
    }
};

// ---------------------------------------------------------------------------------------------
// Listing a group again

// Every way of listing the group in the group list: a group opened before is shown from the
// store at once and only the newer numbers are fetched; without a store each listing asks.
enum class TListingPath { DoubleClick, EnterKey, ListArticlesButton };

struct TListingPathCase {
    const char* name;
    TListingPath path;
    bool withStore;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TListingPathCase& c, std::ostream* os) {
    *os << c.name;
}

class ListingPathTest : public ReadMarksTest,
                        public ::testing::WithParamInterface<TListingPathCase> {
protected:
    // Lists the group selected in the group list, as a person does.
    void List() {
        switch (GetParam().path) {
        case TListingPath::DoubleClick: {
            const QRect item = form.ListBox1->visualItemRect(form.ListBox1->currentItem());
            QTest::mouseDClick(form.ListBox1->viewport(), Qt::LeftButton, {}, item.center());
            break;
        }
        case TListingPath::EnterKey:
            TypeKey(Qt::Key_Return);
            break;
        case TListingPath::ListArticlesButton:
            form.Button3->click();
            break;
        }
    }
};

TEST_P(ListingPathTest, OnlyTheFirstVisitOfAGroupAsksWhereToStartWhenThereIsAStore) {
    const bool withStore = GetParam().withStore;
    if (!withStore) {
        WithoutStore();
    }
    // Without a store the second visit asks again, and gets the same answer.
    presenter.promptAnswers = {u"599"_s, u"599"_s};
    OpenGroup(1, 600,
              script::Overview(599, 600, script::Summaries(599, 600)) +
                  script::Group(kGroup, 1, 602) +
                  (withStore ? script::Overview(601, 602, script::Summaries(601, 602))
                             : script::Overview(599, 602, script::Summaries(599, 602))));
    form.show();
    List();
    ASSERT_EQ(presenter.prompts.size(), 1);

    form.PageControl1->setCurrentWidget(form.TabSheet3);
    form.ListBox1->setFocus();
    List();
    EXPECT_EQ(presenter.prompts.size(), withStore ? 1 : 2);
    EXPECT_EQ(
        SummaryLines(),
        (QStringList{u"[599] From: user599@example"_s, u"    Subject: Subject 599"_s,
                     u"[600] From: user600@example"_s, u"    Subject: Subject 600"_s,
                     u"[601] From: user601@example"_s, u"    Subject: Subject 601"_s,
                     u"[602] From: user602@example"_s, u"    Subject: Subject 602"_s, QString()}));
    EXPECT_EQ(TForm1Access::ListStart(form), 599);
    EXPECT_EQ(form.Edit7->text(), u"602"_s);
    ExpectScriptPlayed();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ListingPathTest,
    ::testing::Values(TListingPathCase{"DoubleClick", TListingPath::DoubleClick, true},
                      TListingPathCase{"EnterKey", TListingPath::EnterKey, true},
                      TListingPathCase{"ListArticlesButton", TListingPath::ListArticlesButton,
                                       true},
                      TListingPathCase{"DoubleClickWithoutStore", TListingPath::DoubleClick, false},
                      TListingPathCase{"EnterKeyWithoutStore", TListingPath::EnterKey, false},
                      TListingPathCase{"ListArticlesButtonWithoutStore",
                                       TListingPath::ListArticlesButton, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Unread counts and marks

TEST_F(ReadMarksTest, TheGroupsUnreadCountFollowsEveryChangeOfItsMarks) {
    ConnectSubscribed({kGroup.constData()}, {kGroup},
                      script::Group(kGroup, 1, 3) +
                          script::Overview(1, 3, script::Summaries(1, 3)) +
                          script::Article(2, "Subject: two", "read") + script::Group(kGroup, 1, 5) +
                          script::Overview(4, 5, script::Summaries(4, 5)));
    // The server's list said 1 to 10.
    EXPECT_EQ(GroupShown(kGroup), u"zk.test.small (10)"_s);
    struct Step {
        const char* name;
        std::function<void()> action;
        const char* shown;
    };
    const Step steps[] = {
        {"listed, the group's marks now 1 to 3", [this] { form.ListBox1DblClick(); }, "(3)"},
        {"an article read", [this] { GetArticle(2); }, "(2)"},
        {"marked unread",
         [this] {
             CaretToLine(2);
             ChooseFromContextMenu(form.Memo4, u"Mark Unread"_s);
         },
         "(3)"},
        {"the group marked read", [this] { form.Button21->click(); }, "(0)"},
        {"two new summaries listed",
         [this] {
             form.PageControl1->setCurrentWidget(form.TabSheet3);
             form.ListBox1DblClick();
         },
         "(2)"},
    };
    for (const Step& step : steps) {
        step.action();
        EXPECT_EQ(GroupShown(kGroup), u"zk.test.small "_s + QString::fromLatin1(step.shown))
            << step.name;
    }
    ExpectScriptPlayed();
}

TEST_F(ReadMarksTest, MarkUnreadRedrawsTheSelectedEntriesAndKeepsThemInTheStore) {
    ConnectSubscribed({kGroup.constData()}, {kGroup},
                      script::Group(kGroup, 1, 4) +
                          script::Overview(1, 4, script::Summaries(1, 4)));
    form.ListBox1DblClick();
    ChooseFromContextMenu(form.Memo4, u"Mark Group Read"_s);
    for (const int number : {1, 2, 3, 4}) {
        EXPECT_TRUE(DrawnAsRead(number)) << number;
    }
    SelectEntries(2, 3);
    ChooseFromContextMenu(form.Memo4, u"Mark Unread"_s);
    EXPECT_TRUE(DrawnAsRead(1));
    EXPECT_FALSE(DrawnAsRead(2));
    EXPECT_FALSE(DrawnAsRead(3));
    EXPECT_TRUE(DrawnAsRead(4));
    EXPECT_EQ(StoredReadMarks(kGroup).Format(), "1,4");
    EXPECT_EQ(GroupShown(kGroup), u"zk.test.small (2)"_s);
    ExpectScriptPlayed();
}

TEST_F(ReadMarksTest, AnArticleMarkedUnreadIsMarkedReadAgainWhenOpenedFromTheCache) {
    ListSmallGroup(2, script::Article(1, "Subject: one", "first"));
    GetArticle(1);
    CaretToLine(0);
    ChooseFromContextMenu(form.Memo4, u"Mark Unread"_s);
    EXPECT_FALSE(StoredReadMarks(kGroup).Contains(1));
    GetArticle(1);
    EXPECT_TRUE(StoredReadMarks(kGroup).Contains(1));
    EXPECT_TRUE(DrawnAsRead(1));
    ExpectScriptPlayed();
}

// Marking needs a group listed and a store to keep the marks in.
TEST_F(ReadMarksTest, MarkingWithoutAGroupOrAStoreSaysWhy) {
    WithoutStore();
    StartUp();
    form.Button21->click();
    EXPECT_EQ(form.StatusText(), u"No group is listed."_s);

    Connect(script::Greeting() + script::GroupList({kGroup.constData()}) +
            script::Group(kGroup, 1, 2) + script::Overview(1, 2, script::Summaries(1, 2)));
    SelectGroup(QString::fromLatin1(kGroup));
    form.Button3Click();
    presenter.infos.clear();
    for (const QString& entry : {u"Mark Unread"_s, u"Mark Group Read"_s}) {
        ChooseFromContextMenu(form.Memo4, entry);
    }
    EXPECT_EQ(presenter.infos,
              QList<QString>(2, u"Read marks are kept in the news store, which is not open."_s));
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// Next Unread

// Next Unread, by its button or by the space bar at the end of an article, reads on through the
// unread entries of the group, round from the article shown, then through the next subscribed
// group with unread articles; a group opened before is listed from the store without asking.
struct TNextUnreadCase {
    const char* name;
    bool spaceBar;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const TNextUnreadCase& c, std::ostream* os) {
    *os << c.name;
}

class NextUnreadTest : public ReadMarksTest, public ::testing::WithParamInterface<TNextUnreadCase> {
protected:
    void NextUnread() {
        if (GetParam().spaceBar) {
            TypeKey(Qt::Key_Space);
        } else {
            form.Button20->click();
        }
    }
};

TEST_P(NextUnreadTest, ReadsOnThroughTheGroupThenTheNextSubscribedGroup) {
    const QByteArray later = "zk.test.later";
    const QByteArray unsubscribed = "zk.test.other";
    const auto article = [](int number) {
        return script::Article(number, "Subject: " + QByteArray::number(number), "short");
    };
    ConnectSubscribed(
        {kGroup.constData(), later.constData(), unsubscribed.constData()}, {kGroup, later},
        // The later group was opened before, from 599 on.
        script::Group(later, 1, 600) + script::Overview(599, 600, script::Summaries(599, 600)) +
            script::Group(kGroup, 1, 3) + script::Overview(1, 3, script::Summaries(1, 3)) +
            article(2) + article(3) + article(1) +
            // One article arrived in the later group since.
            script::Group(later, 1, 601) + script::Overview(601, 601, script::Summaries(601, 601)) +
            article(599) + article(600) + article(601));
    presenter.promptAnswers = {u"599"_s};
    SelectGroup(u"zk.test.later (10)"_s);
    form.ListBox1DblClick();
    form.PageControl1->setCurrentWidget(form.TabSheet3);
    SelectGroup(u"zk.test.small (10)"_s);
    form.ListBox1DblClick();
    form.show();
    GetArticle(2);
    for (const QString& next : {u"zk.test.small:3"_s, u"zk.test.small:1"_s, u"zk.test.later:599"_s,
                                u"zk.test.later:600"_s, u"zk.test.later:601"_s}) {
        NextUnread();
        EXPECT_EQ(ArticleShown(), next);
    }
    EXPECT_EQ(presenter.prompts.size(), 1);
    EXPECT_EQ(TForm1Access::ListStart(form), 599);
    EXPECT_EQ(GroupShown(kGroup), u"zk.test.small (0)"_s);

    const qsizetype sent = CommandsSent();
    NextUnread();
    EXPECT_EQ(form.StatusText(), u"No unread articles left in the subscribed groups."_s);
    EXPECT_EQ(ArticleShown(), u"zk.test.later:601"_s);
    EXPECT_EQ(CommandsSent(), sent);
    ExpectScriptPlayed();
}

INSTANTIATE_TEST_SUITE_P(Means, NextUnreadTest,
                         ::testing::Values(TNextUnreadCase{"Button", false},
                                           TNextUnreadCase{"SpaceBar", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadMarksTest, NextUnreadStartsAtTheFirstSubscribedGroupAndSkipsOnesTheServerDropped) {
    const QByteArray dropped = "zk.test.dropped";
    ConnectSubscribed({kGroup.constData(), dropped.constData()}, {kGroup, dropped}, script::Quit());
    // Connecting again asks only for new groups; the whole list of Refresh Groups shows the
    // group dropped.
    Connect(script::Greeting() + script::NewGroups({}) + script::GroupList({kGroup.constData()}) +
            script::Group(kGroup, 1, 2) + script::Overview(1, 2, script::Summaries(1, 2)) +
            script::Article(1, "Subject: one", "first") +
            script::Article(2, "Subject: two", "second"));
    form.Button19->click();
    for (const QString& next : {u"zk.test.small:1"_s, u"zk.test.small:2"_s}) {
        form.Button20->click();
        EXPECT_EQ(ArticleShown(), next);
    }
    form.Button20->click();
    EXPECT_EQ(form.StatusText(), u"No unread articles left in the subscribed groups."_s);
    ExpectScriptPlayed();
}

TEST_F(ReadMarksTest, SpacePagesDownThroughTheBodyAndOnlyAtItsEndOpensTheNextUnread) {
    ListSmallGroup(2, script::Article(1, "Subject: long", LongBody()) +
                          script::Article(2, "Subject: next", "short"));
    form.show();
    GetArticle(1);
    const QScrollBar* scrollBar = form.Memo2->verticalScrollBar();
    ASSERT_GT(scrollBar->maximum(), 0);
    int pages = 0;
    while (scrollBar->value() < scrollBar->maximum()) {
        const int before = scrollBar->value();
        TypeKey(Qt::Key_Space);
        ASSERT_GT(scrollBar->value(), before);
        EXPECT_EQ(ArticleShown(), u"zk.test.small:1"_s);
        ++pages;
    }
    EXPECT_GT(pages, 1);
    // Shift+Space pages back up and is never Next Unread.
    TypeKey(Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_LT(scrollBar->value(), scrollBar->maximum());
    TypeKey(Qt::Key_Space);
    EXPECT_EQ(ArticleShown(), u"zk.test.small:1"_s);
    TypeKey(Qt::Key_Space);
    EXPECT_EQ(ArticleShown(), u"zk.test.small:2"_s);
    ExpectScriptPlayed();
}
