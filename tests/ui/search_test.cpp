// The search over the stored summaries in the window: Ctrl+Shift+F from any page, matches
// listed as the person types, and Enter opening a match's article in whichever group it is.
#include "window.h"

#include "store/newsstore.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TStoredArticle {
    QByteArray group;
    qint64 number;
    QByteArray subject;
    QByteArray from;
    QByteArray date;
};

// Two groups whose kittens were posted on different days: newest first is not group order.
const QList<TStoredArticle> kStoredArticles = {
    {"zk.test.a", 1, "Kitten pictures", "Ann <ann@example.org>", "Mon, 02 Mar 2026 10:00:00 +0000"},
    {"zk.test.a", 2, "Puppies", "Bob <bob@example.org>", "Tue, 03 Mar 2026 10:00:00 +0000"},
    {"zk.test.b", 1, "=?UTF-8?B?S8OkdHpjaGVu?= und kitten", "Cem <cem@example.org>",
     "Wed, 04 Mar 2026 10:00:00 +0000"},
    {"zk.test.b", 2, "Weather", "Dan <dan@example.org>", "Thu, 05 Mar 2026 10:00:00 +0000"},
};

QByteArray OverviewLine(const TStoredArticle& article) {
    const QByteArray id = "<" + article.group + "." + QByteArray::number(article.number) + "@x>";
    return QByteArray::number(article.number) + '\t' + article.subject + '\t' + article.from +
           '\t' + article.date + '\t' + id + "\t\t100\t2";
}

QByteArray ArticleBytes(const TStoredArticle& article) {
    return "Subject: " + article.subject + "\r\nFrom: " + article.from + "\r\n\r\nbody of " +
           article.group + ' ' + QByteArray::number(article.number) + "\r\n";
}

} // namespace

// A window working offline on a store that holds both groups' summaries and articles.
class SearchWindowTest : public WindowTest {
protected:
    void SetUp() override {
        {
            TNewsStore store(StorePath());
            const qint64 serverId = store.ServerId(u"127.0.0.1"_s, server.Port());
            store.SaveGroupList(serverId, {{"zk.test.a", 1, 2}, {"zk.test.b", 1, 2}});
            for (const TStoredArticle& article : kStoredArticles) {
                const qint64 group = store.GroupId(serverId, article.group);
                store.AddSummaries(group, {{article.number, OverviewLine(article)}});
                store.StoreArticle(group, article.number, "<id>", ArticleBytes(article));
            }
        }
        StartUp();
        form.CheckBox2->click();
    }

    // Ctrl+Shift+F from whatever has the focus, then the text typed key by key.
    void Search(const QString& text) {
        TypeKey(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), form.Edit12);
        for (const QChar character : text) {
            // A key of a keyboard layout that has it: the test library types ASCII only.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
            QApplication::sendEvent(form.Edit12, &press);
        }
    }

    QStringList MatchesShown() const {
        QStringList rows;
        for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = form.ListView1->topLevelItem(i);
            rows << row->text(0) + u' ' + row->text(1) + u' ' + row->text(4);
        }
        return rows;
    }
};

TEST_F(SearchWindowTest, MatchesAreListedAsTypedNewestFirstAcrossGroups) {
    struct {
        QString text;
        QStringList matches;
        QString said;
    } const cases[] = {
        {u"kitten"_s,
         {u"zk.test.b 1 Kätzchen und kitten"_s, u"zk.test.a 1 Kitten pictures"_s},
         u"2 found"_s},
        {u"kätz*"_s, {u"zk.test.b 1 Kätzchen und kitten"_s}, u"1 found"_s},
        {u"ann OR dan"_s, {u"zk.test.b 2 Weather"_s, u"zk.test.a 1 Kitten pictures"_s},
         u"2 found"_s},
        {u"kitten NOT cem"_s, {u"zk.test.a 1 Kitten pictures"_s}, u"1 found"_s},
        {u"giraffe"_s, {}, u"Nothing found"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        Search(c.text);
        EXPECT_EQ(MatchesShown(), c.matches);
        EXPECT_EQ(form.Label22->text(), c.said);
        EXPECT_EQ(form.ListView1->isVisible(), true);
    }
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(SearchWindowTest, EnterOpensTheArticleOfAMatchListingItsGroup) {
    // From the reading page: the shortcut brings the search field.
    form.PageControl1->setCurrentWidget(form.TabSheet1);
    Search(u"kitten"_s);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    TypeKey(Qt::Key_Return);
    EXPECT_EQ(form.QRNNTP1->CurrentGroup, "zk.test.b");
    EXPECT_EQ(PaneText(form.Memo2), u"body of zk.test.b 1"_s);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);

    // The second match is in the other group; Down goes from the field into the matches.
    Search(u"kitten"_s);
    TypeKey(Qt::Key_Down);
    ASSERT_EQ(QApplication::focusWidget(), form.ListView1);
    TypeKey(Qt::Key_Down);
    TypeKey(Qt::Key_Return);
    EXPECT_EQ(form.QRNNTP1->CurrentGroup, "zk.test.a");
    EXPECT_EQ(PaneText(form.Memo2), u"body of zk.test.a 1"_s);
    EXPECT_EQ(TForm1Access::Summary(form).EntryNumberAt(), "1");
    EXPECT_TRUE(presenter.questions.isEmpty());
}

TEST_F(SearchWindowTest, TextTheSearchCannotReadIsSaidBesideTheFieldAndEscapeEndsIt) {
    for (const QString& text : {u"\""_s, u"AND"_s, u"kitten AND"_s}) {
        SCOPED_TRACE(text.toStdString());
        Search(text);
        EXPECT_TRUE(MatchesShown().isEmpty());
        EXPECT_TRUE(form.Label22->text().startsWith(u"Search text not understood"_s))
            << form.Label22->text().toStdString();
    }
    EXPECT_TRUE(presenter.infos.isEmpty());
    TypeKey(Qt::Key_Escape);
    EXPECT_TRUE(form.Edit12->text().isEmpty());
    EXPECT_FALSE(form.ListView1->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), form.Memo4);
}

TEST_F(WindowTest, SearchingWithoutAStoreSaysWhy) {
    WithoutStore();
    StartUp();
    form.show();
    form.Edit12->setText(u"kitten"_s);
    EXPECT_EQ(form.Label22->text(), u"Searching needs the news store, which is not open"_s);
}
