// The summary's state without a window: entries and lines, caret and selection, the line
// search, the article caches and the rules of thread following and scan stepping.
#include "nntp/qrnntp.h"
#include "recordingpresenter.h"
#include "search/searchengine.h"
#include "ui/summarystate.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using TFindResult = TSummaryState::TFindResult;

// A summary of articles numbered from 1, "Subject n" from "user n" each, unless told.
class SummaryStateTest : public ::testing::Test {
protected:
    void Add(int number, const QByteArray& subject, const QByteArray& from) {
        TExStringList lines;
        const TPostRecordType record(lines);
        lines.Add("Artid: " + QByteArray::number(number));
        lines.Add("Subject: " + subject);
        lines.Add("From: " + from);
        summary.AddEntry(record);
    }
    void AddNumbered(int last) {
        for (int n = 1; n <= last; ++n) {
            Add(n, "Subject " + QByteArray::number(n), "user" + QByteArray::number(n));
        }
    }
    QByteArray Selected() const { return summary.SelectedBytes(); }

    TRecordingPresenter presenter;
    TSummaryState summary;
};

} // namespace

TEST_F(SummaryStateTest, EntriesAreTwoLinesEachWithTheCaretBehindTheLastUnlessMovedAway) {
    AddNumbered(2);
    EXPECT_EQ(summary.Text(), "[1] From: user1\n    Subject: Subject 1\n"
                              "[2] From: user2\n    Subject: Subject 2\n");
    ASSERT_EQ(summary.LineCount(), 5);
    EXPECT_EQ(summary.Line(3), "    Subject: Subject 2");
    EXPECT_EQ(summary.Line(4), QByteArray());
    EXPECT_EQ(summary.LineOfPosition(summary.LineStart(3) + 4), 3);
    EXPECT_EQ(summary.LineOfPosition(summary.Size()), 4);
    EXPECT_EQ(summary.Caret(), summary.Size());
    EXPECT_EQ(summary.LastEntryNumber(), "2");
    EXPECT_TRUE(summary.HasEntry(2));
    EXPECT_FALSE(summary.HasEntry(3));
    EXPECT_EQ(summary.LongestLine(), 1);

    // A caret put elsewhere stays there; the entry still comes last.
    summary.MoveCaret(3);
    Add(3, "a long subject line", "u3");
    EXPECT_EQ(summary.Caret(), 3);
    EXPECT_EQ(summary.Line(4), "[3] From: u3");
    EXPECT_EQ(summary.LongestLine(), 5);

    summary.Clear();
    EXPECT_EQ(summary.LastEntryNumber(), QByteArray());
    EXPECT_EQ(summary.LineCount(), 1);
    EXPECT_EQ(summary.Caret(), 0);
}

TEST_F(SummaryStateTest, TheEntryNumberIsTheEntrysWhicheverOfItsLinesTheSelectionStartsOn) {
    AddNumbered(2);
    // Fields that look like the entry form are only text: a From holding "Subject: ", a
    // Subject holding "[7]", a From holding "]".
    Add(3, "[7] s", "Subject: spam");
    Add(40, "x", "y]z");
    struct Case {
        qint64 line;
        QByteArray number;
    };
    for (const Case& c : {Case{0, "1"}, Case{3, "2"}, Case{4, "3"}, Case{5, "3"}, Case{6, "40"},
                          Case{7, "40"}, Case{8, QByteArray()}}) {
        summary.MoveCaret(summary.LineStart(c.line) + 2);
        EXPECT_EQ(summary.EntryNumberAt(), c.number) << c.line;
    }
    // The selection start counts, not the caret.
    summary.Select(summary.LineStart(1), summary.LineStart(4) - summary.LineStart(1));
    EXPECT_EQ(summary.EntryNumberAt(), "1");
}

TEST_F(SummaryStateTest, TheLineSearchSelectsTheMatchFromTheCaretsLineOn) {
    AddNumbered(12);
    summary.MoveCaret(0);
    EXPECT_EQ(summary.FindLine("subject 1?", false, true), TFindResult::Found);
    EXPECT_EQ(Selected(), "Subject 10");
    EXPECT_EQ(summary.LineOfPosition(summary.Caret()), 19);
    // Upwards from there, letter case counts: none; then without it.
    EXPECT_EQ(summary.FindLine("subject 1", true, false), TFindResult::NotFound);
    EXPECT_EQ(Selected(), "Subject 10");
    EXPECT_EQ(summary.FindLine("SUBJECT 1", false, false), TFindResult::Found);
    EXPECT_EQ(summary.LineOfPosition(summary.Caret()), 1);
    // Expressions match one line at a time: "^" at each line's start, "." not across lines.
    summary.MoveCaret(0);
    EXPECT_EQ(summary.FindLine("zkre:^ +Subject: Subject 1.$", true, true), TFindResult::Found);
    EXPECT_EQ(Selected(), "    Subject: Subject 10");
    summary.MoveCaret(0);
    EXPECT_EQ(summary.FindLine("zkre:user1\\s+Subj", false, true), TFindResult::NotFound);
    EXPECT_EQ(summary.FindLine("user1*Subj", false, true), TFindResult::NotFound);
    EXPECT_TRUE(presenter.infos.isEmpty());
    EXPECT_EQ(summary.FindLine("zkre:(", false, true), TFindResult::CannotMatch);
    EXPECT_EQ(presenter.infos.size(), 1);
}

TEST_F(SummaryStateTest, TheLineSearchMatchesWholeUnicodeCharacters) {
    Add(1, "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_=D0=9C=D0=BE=D1=81=D0=BA=D0=B2=D1=8B?=", "a@b");
    Add(2, "=?UTF-8?B?0JzQntCh0JrQktCr?= =?UTF-8?B?5pel5pys?=", "c@d");
    struct Case {
        QByteArray findText;
        bool caseSensitive;
        QByteArray selected;
    };
    const Case cases[] = {
        {"Gr??e", true, "Grüße"},
        {"М?сквы", true, "Москвы"},
        {"москвы", false, "Москвы"},
        {"москвы", true, ""},
        {"zkre:\\bмосквы\\b", false, "Москвы"},
        {"zkre:\\bоскв", false, ""},
        {"日?", true, "日本"},
        {"zkre:Ы\\w+$", true, "Ы日本"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.findText.constData());
        summary.MoveCaret(0);
        const TFindResult found = summary.FindLine(c.findText, c.caseSensitive, true);
        EXPECT_EQ(found, c.selected.isEmpty() ? TFindResult::NotFound : TFindResult::Found);
        if (!c.selected.isEmpty()) {
            EXPECT_EQ(Selected(), c.selected);
        }
    }
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(SummaryStateTest, EntriesAreFoundByTheirNumberNotByAMarkInTheirText) {
    Add(5, "see [7] and [8]", "[9] <a@b>");
    Add(7, "s", "b");
    EXPECT_TRUE(summary.HasEntry(7));
    EXPECT_FALSE(summary.HasEntry(8));
    EXPECT_FALSE(summary.HasEntry(9));
    EXPECT_TRUE(summary.Locate(7));
    EXPECT_EQ(summary.SelectionStart(), summary.LineStart(2));
    EXPECT_EQ(Selected(), "[7]");
    EXPECT_FALSE(summary.Locate(8));
    EXPECT_EQ(Selected(), "[7]");
    // A number from the list's start on opens only when listed; one below always.
    summary.ListStart = 5;
    EXPECT_TRUE(summary.MayOpen(4));
    EXPECT_TRUE(summary.MayOpen(7));
    EXPECT_FALSE(summary.MayOpen(8));
    EXPECT_FALSE(summary.MayOpen(6));
    summary.Clear();
    EXPECT_FALSE(summary.HasEntry(7));
}

TEST_F(SummaryStateTest, TheCachesKnowArticlesByNumberUntilAnotherGroupIsSelected) {
    summary.GroupSelected("a");
    summary.CacheArticle(12, "att", "body", "head");
    summary.CacheArticle(3, "", "b3", "h3");
    EXPECT_EQ(summary.CachedArticleIndex(3), 1);
    EXPECT_EQ(summary.CachedArticleIndex(4), -1);
    summary.GroupSelected("a");
    EXPECT_EQ(summary.BodyTextCache[0], "body");
    summary.GroupSelected("b");
    EXPECT_EQ(summary.CachedArticleIndex(12), -1);
    EXPECT_EQ(summary.HeaderTextCache.Count(), 0);
}

TEST_F(SummaryStateTest, ThreadFollowingSearchesTheSubjectBeforeAnyWildcard) {
    struct Case {
        QString subject;
        QString findText;
    };
    for (const Case& c : {Case{u"Re: Re: hello"_s, u"Re: hello"_s}, Case{u"RE: x"_s, u"x"_s},
                          Case{u"**?tea* time"_s, u"tea"_s}, Case{u"Rex"_s, u"Rex"_s}}) {
        EXPECT_EQ(TSummaryState::ThreadFindText(c.subject), c.findText) << c.subject.toStdString();
    }
    AddNumbered(2);
    // Down from an entry's first line, the search starts on its subject line; not otherwise.
    summary.MoveCaret(summary.LineStart(2) + 3);
    summary.PrepareThreadSearch(false);
    EXPECT_EQ(summary.Caret(), summary.LineStart(2) + 3);
    summary.PrepareThreadSearch(true);
    EXPECT_EQ(summary.Caret(), summary.LineStart(3));
    summary.PrepareThreadSearch(true);
    EXPECT_EQ(summary.Caret(), summary.LineStart(3));
    // A From holding "Subject: " is still the entry's first line.
    Add(3, "s", "Subject: spam");
    summary.MoveCaret(summary.LineStart(4));
    summary.PrepareThreadSearch(true);
    EXPECT_EQ(summary.Caret(), summary.LineStart(5));
}

TEST_F(SummaryStateTest, AScanStepsWithinTheGroupFromAPositiveNumber) {
    struct Case {
        int number;
        bool down;
        bool steps;
    };
    for (const Case& c : {Case{5, true, true}, Case{10, true, false}, Case{0, true, false},
                          Case{2, false, true}, Case{1, false, false}, Case{-1, false, false}}) {
        EXPECT_EQ(TSummaryState::ScanCanStep(c.number, c.down, 1, 10), c.steps)
            << c.number << ' ' << c.down;
    }
}

// Next Unread: the entries after the given article's come first, then those before it; the
// article itself last of all, never.
TEST_F(SummaryStateTest, TheNextEntryWantedGoesRoundFromTheEntryAfterTheOneGiven) {
    for (const int number : {3, 5, 8, 9}) {
        Add(number, "s", "u");
    }
    struct Case {
        qint64 after;
        QList<qint64> wanted;
        qint64 next;
    };
    const Case cases[] = {
        {5, {3, 5, 8, 9}, 8}, {5, {9, 3}, 9}, {9, {3, 8}, 3}, // round from the last entry
        {8, {3, 5}, 3}, // round past the end to the earlier entries
        {0, {5, 8}, 5}, // without an article, from the first entry
        {4, {3, 9}, 3}, // a number the summary lacks counts as none
        {5, {5}, 0},    // the article given is not its own next
        {5, {}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(summary.NextEntryNumber(c.after, [&c](qint64 n) { return c.wanted.contains(n); }),
                  c.next)
            << "after " << c.after;
    }
    EXPECT_EQ(TSummaryState().NextEntryNumber(0, [](qint64) { return true; }), 0);
}

// Mark Unread: the entries any part of the selection lies on, or the caret's entry.
TEST_F(SummaryStateTest, TheSelectedEntriesAreThoseTheSelectionTouches) {
    AddNumbered(4);
    const auto at = [this](qint64 line, qint64 column) { return summary.LineStart(line) + column; };
    struct Case {
        const char* name;
        qint64 anchor;
        qint64 caret;
        std::vector<qint64> numbers;
    };
    const Case cases[] = {
        {"caret on a From line", at(2, 3), at(2, 3), {2}},
        {"caret on a Subject line", at(5, 0), at(5, 0), {3}},
        {"within one entry", at(2, 1), at(3, 4), {2}},
        {"from a Subject line into the next entry", at(1, 6), at(2, 1), {1, 2}},
        {"whole entries up to a line start", at(2, 0), at(6, 0), {2, 3}},
        {"selected upwards", at(7, 2), at(0, 0), {1, 2, 3, 4}},
        {"caret behind the last entry", at(8, 0), at(8, 0), {}},
    };
    for (const Case& c : cases) {
        summary.MoveCaret(c.anchor);
        summary.MoveCaret(c.caret, true);
        EXPECT_EQ(summary.SelectedEntryNumbers(), c.numbers) << c.name;
    }
}

// By thread, an entry's "[number]" stands after its indentation: everything that finds entries
// (the entry of a line, Locate, the selected entries, the next entry wanted, the line search,
// thread following) goes by the entries as they now stand, and by number again restores the
// summary as it was listed.
TEST_F(SummaryStateTest, EntriesLaidOutByThreadAreFoundAsByNumber) {
    using TOrder = TSummaryState::TOrder;
    summary.AddEntry(1, "a", "topic", "<1@x>", "");
    summary.AddEntry(2, "b", "other", "<2@x>", "");
    summary.AddEntry(3, "c", "Re: topic", "<3@x>", "<1@x>");
    summary.AddEntry(4, "d", "Re: Re: topic", "<4@x>", "<1@x> <3@x>");
    const QByteArray byNumber = summary.Text();
    summary.MoveCaret(summary.LineStart(3) + 5);
    EXPECT_FALSE(summary.LayOut(TOrder::ByNumber));

    ASSERT_TRUE(summary.LayOut(TOrder::ByThread));
    EXPECT_EQ(summary.Text(), "[1] From: a\n    Subject: topic\n"
                              "  [3] From: c\n    Subject: Re: topic\n"
                              "    [4] From: d\n    Subject: Re: Re: topic\n"
                              "[2] From: b\n    Subject: other\n");
    EXPECT_EQ(Selected(), "[2]");
    EXPECT_EQ(summary.SelectionStart(), summary.LineStart(6));
    EXPECT_FALSE(summary.LayOut(TOrder::ByThread));
    const std::vector<qint64> lineEntries = {1, 1, 3, 3, 4, 4, 2, 2, 0};
    for (qint64 line = 0; line < summary.LineCount(); ++line) {
        EXPECT_EQ(summary.EntryNumberOfLine(line), lineEntries[size_t(line)]) << line;
    }
    ASSERT_TRUE(summary.Locate(4));
    EXPECT_EQ(Selected(), "[4]");
    EXPECT_EQ(summary.SelectionStart(), summary.LineStart(4) + 4);
    summary.Select(summary.LineStart(2) + 1, summary.LineStart(5) - summary.LineStart(2));
    EXPECT_EQ(summary.SelectedEntryNumbers(), (std::vector<qint64>{3, 4}));
    EXPECT_EQ(summary.NextEntryNumber(3, [](qint64) { return true; }), 4);
    EXPECT_EQ(summary.NextEntryNumber(4, [](qint64) { return true; }), 2);
    summary.MoveCaret(0);
    ASSERT_EQ(summary.FindLine("Re: Re", false, true), TFindResult::Found);
    EXPECT_EQ(summary.EntryNumberAt(), "4");
    summary.MoveCaret(summary.LineStart(2) + 3);
    summary.PrepareThreadSearch(true);
    EXPECT_EQ(summary.Caret(), summary.LineStart(3));

    // An entry added later stands last until the entries are laid out again.
    summary.MoveCaret(summary.Size());
    summary.AddEntry(5, "e", "Re: other", "<5@x>", "<2@x>");
    EXPECT_EQ(summary.Line(8), "[5] From: e");
    ASSERT_TRUE(summary.LayOut(TOrder::ByThread));
    EXPECT_EQ(summary.Line(8), "  [5] From: e");
    EXPECT_EQ(summary.Caret(), summary.Size());
    ASSERT_TRUE(summary.LayOut(TOrder::ByNumber));
    EXPECT_EQ(summary.Text(), byNumber + "[5] From: e\n    Subject: Re: other\n");
}

// The thread by References of an article: its neighbours in thread order, 0 at either end, and
// none for an article alone in its thread or not listed.
TEST_F(SummaryStateTest, TheThreadNeighbourGoesDepthFirstWithinTheThread) {
    summary.AddEntry(1, "a", "s", "<1@x>", "");
    summary.AddEntry(2, "b", "s", "<2@x>", "<1@x>");
    summary.AddEntry(3, "c", "s", "<3@x>", "");
    summary.AddEntry(4, "d", "s", "<4@x>", "<1@x> <2@x>");
    summary.AddEntry(5, "e", "s", "<5@x>", "<1@x>");
    summary.AddEntry(6, "f", "s", "<6@x>", "<gone@x>");
    struct Case {
        qint64 number;
        bool down;
        std::optional<qint64> neighbour;
    };
    const Case cases[] = {
        {1, true, 2},
        {2, true, 4},
        {4, true, 5},
        {5, true, 0},
        {5, false, 4},
        {4, false, 2},
        {2, false, 1},
        {1, false, 0},
        {3, true, std::nullopt},  // neither References nor replies
        {6, false, std::nullopt}, // its References name no listed article
        {7, true, std::nullopt},  // not listed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(summary.ThreadNeighbour(c.number, c.down), c.neighbour)
            << c.number << (c.down ? " down" : " up");
    }
}
