// Threads in the window: the summary laid out by number or by thread (References), the order
// chosen remembered per group, Next and Previous in Thread along the thread by References and
// by subject for an article without one.
#include "window.h"

#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QTabWidget>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// The References field of the names given: "1 gone" is "<1@example> <gone@example>", the
// Message-IDs of the fake server's summaries and of articles it never had.
QByteArray Refs(const QByteArray& names) {
    QByteArrayList ids;
    for (const QByteArray& name : names.split(' ')) {
        if (!name.isEmpty()) {
            ids << '<' + name + "@example>";
        }
    }
    return ids.join(' ');
}

// One article of a shape: its number and the names its References field gives.
struct TArticle {
    int number;
    QByteArray references;
};

// The summary lines of the articles numbered from 1, each "s<n>" from "u@x".
QByteArray Overview(const std::vector<TArticle>& articles) {
    QByteArray summaries;
    for (const TArticle& article : articles) {
        summaries += script::Summary(article.number, 's' + QByteArray::number(article.number),
                                     "u@x", Refs(article.references));
    }
    return script::Overview(1, static_cast<int>(articles.size()), summaries);
}

// The summary as drawn: each entry (number, levels of indentation) with its first line indented
// two blanks per level.
QString Drawn(const std::vector<std::pair<int, int>>& entries) {
    QString text;
    for (const auto& [number, levels] : entries) {
        text += QString(2 * levels, u' ') + u"[%1] From: u@x\n    Subject: s%1\n"_s.arg(number);
    }
    return text;
}

} // namespace

class ThreadsTest : public GroupWindowTest {
protected:
    // Chooses the summary order as a person does: Alt+O to the order box, then an arrow key.
    void ChooseOrder(TForm1& window, int order) {
        window.PageControl1->setCurrentWidget(window.TabSheet4);
        TypeKey(Qt::Key_O, Qt::AltModifier);
        ASSERT_EQ(QApplication::focusWidget(), window.ComboBox2);
        TypeKey(order == TForm1::kOrderByThread ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(window.ComboBox2->currentIndex(), order);
    }

    void ExpectLineInSight(qint64 line) const {
        const qint64 first = form.Memo4->FirstVisibleLine();
        EXPECT_GE(line, first);
        EXPECT_LT(line, first + form.Memo4->verticalScrollBar()->pageStep());
    }

    // The window opened again on the same store, connected to a server that has nothing new.
    void StartAgain(TForm1& window, const QByteArray& conversation) {
        window.SettingsDir = form.SettingsDir;
        window.zkfind = &find;
        window.Timer1Timer();
        window.Edit1->setCurrentText(u"127.0.0.1"_s);
        window.Edit2->setText(QString::number(server.Port()));
        server.AddScript(conversation);
        window.Button1Click();
    }

    static void ListIn(TForm1& window, const QByteArray& group) {
        const QList<QListWidgetItem*> found =
            window.ListBox1->findItems(QString::fromLatin1(group), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        window.ListBox1->setCurrentItem(found.first());
        window.Button3Click();
    }
};

// Each shape of References listed from the server (without a store), the first listed by number
// and then laid out by thread at once, the others laid out by thread as their listing ends.
TEST_F(ThreadsTest, ReferencesShapesAreDrawnByThread) {
    struct Case {
        const char* what;
        std::vector<TArticle> articles;
        std::vector<std::pair<int, int>> drawn;
    };
    std::vector<TArticle> chain;
    std::vector<std::pair<int, int>> chainDrawn;
    for (int number = 1; number <= 20; ++number) {
        chain.push_back({number, number == 1 ? QByteArray() : QByteArray::number(number - 1)});
        chainDrawn.emplace_back(number, std::min(number - 1, 16));
    }
    const Case cases[] = {
        {"a tree: replies after their parent, siblings by number",
         {{1, ""}, {2, "1"}, {3, ""}, {4, "1 2"}, {5, "3"}, {6, "1"}},
         {{1, 0}, {2, 1}, {4, 2}, {6, 1}, {3, 0}, {5, 1}}},
        {"no References at all", {{1, ""}, {2, ""}, {3, ""}}, {{1, 0}, {2, 0}, {3, 0}}},
        {"threads in the order of their first article, a reply numbered before its parent",
         {{1, "3"}, {2, ""}, {3, ""}},
         {{2, 0}, {3, 0}, {1, 1}}},
        {"missing parents: the nearest ancestor present, else a thread of its own",
         {{1, ""}, {2, "1 gone"}, {3, "gone"}, {4, "gone 3 lost"}},
         {{1, 0}, {2, 1}, {3, 0}, {4, 1}}},
        {"a loop of two, of three, and a self-reference",
         {{1, "2"}, {2, "1"}, {3, "5"}, {4, "3"}, {5, "4"}, {6, "6"}},
         {{1, 0}, {2, 1}, {3, 0}, {4, 1}, {5, 2}, {6, 0}}},
        {"a chain of 20 drawn 16 levels deep at most", chain, chainDrawn},
    };
    WithoutStore();
    QByteArray conversation = Overview(cases[0].articles);
    for (size_t i = 1; i < std::size(cases); ++i) {
        conversation += script::Group(kGroup, 1, static_cast<int>(cases[i].articles.size())) +
                        Overview(cases[i].articles);
    }
    OpenGroup(1, static_cast<int>(cases[0].articles.size()), conversation);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        form.Button3Click();
        if (i == 0) {
            std::vector<std::pair<int, int>> byNumber;
            for (const TArticle& article : c.articles) {
                byNumber.emplace_back(article.number, 0);
            }
            EXPECT_EQ(PaneText(form.Memo4), Drawn(byNumber));
            ChooseOrder(form, TForm1::kOrderByThread);
        }
        EXPECT_EQ(PaneText(form.Memo4), Drawn(c.drawn));
    }
    ExpectScriptPlayed();
}

// The order chosen stays with its group: another group lists by number, and a window opened
// again on the same store lays each group out as chosen, from its stored summaries, online and
// working offline.
TEST_F(ThreadsTest, TheOrderChosenIsRememberedPerGroupWhenTheWindowOpensAgain) {
    const QByteArray other = "zk.test.other";
    const std::vector<TArticle> articles = {{1, ""}, {2, ""}, {3, "1"}};
    const QString threaded = Drawn({{1, 0}, {3, 1}, {2, 0}});
    StartUp();
    Connect(script::Greeting() + script::GroupList({kGroup.constData(), other.constData()}) +
            script::Group(kGroup, 1, 3) + Overview(articles) + script::Group(other, 1, 3) +
            Overview(articles) + script::Quit());
    ListIn(form, kGroup);
    ChooseOrder(form, TForm1::kOrderByThread);
    ListIn(form, other);
    EXPECT_EQ(form.ComboBox2->currentIndex(), TForm1::kOrderByNumber);
    EXPECT_EQ(PaneText(form.Memo4), Drawn({{1, 0}, {2, 0}, {3, 0}}));
    ASSERT_TRUE(form.close());

    TForm1 window;
    StartAgain(window, script::Greeting() + script::NewGroups({}) + script::Group(kGroup, 1, 3) +
                           script::Group(other, 1, 3) + script::Quit());
    ListIn(window, kGroup);
    EXPECT_EQ(window.ComboBox2->currentIndex(), TForm1::kOrderByThread);
    EXPECT_EQ(PaneText(window.Memo4), threaded);
    ListIn(window, other);
    EXPECT_EQ(window.ComboBox2->currentIndex(), TForm1::kOrderByNumber);
    EXPECT_EQ(PaneText(window.Memo4), Drawn({{1, 0}, {2, 0}, {3, 0}}));
    // Working offline, from the store alone.
    window.CheckBox2->click();
    ListIn(window, kGroup);
    EXPECT_EQ(window.ComboBox2->currentIndex(), TForm1::kOrderByThread);
    EXPECT_EQ(PaneText(window.Memo4), threaded);
    EXPECT_TRUE(window.close());
    ExpectScriptPlayed();
}

// Switching the order keeps the entry under the caret selected and brings it into sight, far
// as it moves.
TEST_F(ThreadsTest, TheSelectedEntryStaysSelectedAndInSightWhenTheOrderChanges) {
    constexpr int kLast = 299;
    ListGroup(kLast,
              script::Summaries(1, kLast - 1) +
                  script::Summary(kLast, "late reply", "l@x", Refs("2")),
              script::Group(kGroup, 1, kLast));
    const qint64 byNumberLine = 2 * (kLast - 1);
    CaretToLine(static_cast<int>(byNumberLine));
    form.Memo4->EnsureCaretVisible();

    ChooseOrder(form, TForm1::kOrderByThread);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[299]"_s);
    // Right after the entry of article 2, one level in.
    EXPECT_EQ(TForm1Access::Summary(form).EntryNumberOfLine(4), kLast);
    EXPECT_EQ(form.Memo4->CaretLine(), 4);
    ExpectLineInSight(4);

    ChooseOrder(form, TForm1::kOrderByNumber);
    EXPECT_EQ(form.Memo4->SelectedText(), u"[299]"_s);
    EXPECT_EQ(form.Memo4->CaretLine(), byNumberLine);
    ExpectLineInSight(byNumberLine);

    // Listed again (from the store) by thread, the caret behind the last entry as a listing
    // leaves it, the view stays where it was, as by number.
    ChooseOrder(form, TForm1::kOrderByThread);
    const qint64 firstLine = form.Memo4->FirstVisibleLine();
    form.Button3Click();
    EXPECT_EQ(form.Memo4->CaretPosition(), TForm1Access::Summary(form).Size());
    EXPECT_EQ(form.Memo4->FirstVisibleLine(), firstLine);
    ExpectScriptPlayed();
}

// Next and Previous in Thread go along the thread by References, depth first, in either order
// of the summary, and say "No More Found" at its ends; an article without References or
// replies follows its subject as before.
TEST_F(ThreadsTest, NextAndPreviousInThreadFollowReferencesElseTheSubject) {
    struct Summary {
        int number;
        const char* subject;
        const char* references;
    };
    const Summary summaries[] = {
        {1, "topic", ""},        {2, "Re: topic", "1"},     {3, "other", ""},
        {4, "Re: topic", "1 2"}, {5, "Re: topic", ""},      {6, "changed subject", "1"},
        {7, "Re: other", ""},    {8, "Re: Re: other", "7"},
    };
    QByteArray overview;
    for (const Summary& s : summaries) {
        overview += script::Summary(s.number, s.subject, "u@x", Refs(s.references));
    }
    QByteArray articles;
    for (const int number : {1, 2, 4, 6, 3, 7}) {
        const QByteArray header = "Subject: " + QByteArray(summaries[number - 1].subject) +
                                  "\nMessage-ID: <" + QByteArray::number(number) + "@example>";
        articles += script::Article(number, header, "body");
    }
    articles += "C: ARTICLE <8@example>\nS: 220 8 <8@example>\nS: Subject: Re: Re: other\n"
                "S: Message-ID: <8@example>\nS: References: <7@example>\nS: \nS: body\nS: .\n";
    ListGroup(8, overview, articles);

    const auto step = [this](QPushButton* button, int expected) {
        presenter.infos.clear();
        button->click();
        EXPECT_TRUE(presenter.infos.isEmpty()) << presenter.infos.join(u'\n').toStdString();
        EXPECT_EQ(form.Edit7->text(), QString::number(expected));
        EXPECT_EQ(form.Memo4->SelectedText(), u"[%1]"_s.arg(expected));
        EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
    };
    const auto atEnd = [this](QPushButton* button, const QString& found) {
        presenter.infos.clear();
        const QString shown = form.Edit7->text();
        button->click();
        EXPECT_EQ(presenter.infos, QList<QString>{u"No More Found\r\n"_s + found});
        EXPECT_EQ(form.Edit7->text(), shown);
    };
    for (const int order : {TForm1::kOrderByNumber, TForm1::kOrderByThread}) {
        SCOPED_TRACE(order);
        if (order == TForm1::kOrderByThread) {
            ChooseOrder(form, order);
        }
        GetArticle(1);
        step(form.Button10, 2);
        step(form.Button10, 4);
        step(form.Button10, 6);
        atEnd(form.Button10, u"changed subject"_s);
        step(form.Button13, 4);
        step(form.Button13, 2);
        step(form.Button13, 1);
        atEnd(form.Button13, u"topic"_s);

        // Article 3 has neither References nor replies: the next entry of its subject, searched
        // from the entry opened with View Article at Cursor.
        const TSummaryState& summary = TForm1Access::Summary(form);
        qint64 line = 0;
        while (summary.EntryNumberOfLine(line) != 3) {
            ++line;
        }
        CaretToLine(static_cast<int>(line));
        form.Button9->click();
        form.Button10->click();
        EXPECT_EQ(form.Edit7->text(), u"7"_s);
        EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"Re: other"_s);
    }
    // An article opened by its Message-ID, which the server numbers in the group, is the one
    // whose thread is followed.
    form.OpenMessageId("<8@example>");
    step(form.Button13, 7);
    ExpectScriptPlayed();
}
