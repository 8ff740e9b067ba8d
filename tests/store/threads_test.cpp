// Threads built from Message-IDs and References: the shapes replies take, and the broken and
// hostile ones a server may hand over.
#include "store/threads.h"

#include <QSet>
#include <gtest/gtest.h>
#include <random>

namespace {

struct TRecordIn {
    qint64 number;
    QByteArray messageId;
    QByteArray references;
};

// The order as "number/depth" words, which reads as the tree it stands for.
QByteArray Spelled(const QList<TThreadPlace>& order) {
    QByteArrayList words;
    for (const TThreadPlace& place : order) {
        words.append(QByteArray::number(place.number) + '/' + QByteArray::number(place.depth));
    }
    return words.join(' ');
}

QList<TThreadPlace> Threaded(const QList<TRecordIn>& records) {
    TThreader threader;
    for (const TRecordIn& record : records) {
        threader.Add(record.number, record.messageId, record.references);
    }
    return threader.Order();
}

// Article n of a chain: <n@chain>, replying to n - 1.
QByteArray ChainId(qint64 number) {
    return "<" + QByteArray::number(number) + "@chain>";
}

} // namespace

TEST(ThreadsTest, ShapesOfReferencesMakeTheseTrees) {
    const struct {
        const char* what;
        QList<TRecordIn> records; // in the order added
        const char* order;
    } cases[] = {
        {"plain chain", {{1, "<a>", ""}, {2, "<b>", "<a>"}, {3, "<c>", "<a> <b>"}}, "1/0 2/1 3/2"},
        {"siblings in number order, however they arrive",
         {{4, "<d>", "<a>"}, {1, "<a>", ""}, {3, "<c>", "<a>"}, {2, "<b>", "<a>"}},
         "1/0 2/1 3/1 4/1"},
        {"replies after their parent, then the parent's next sibling",
         {{1, "<a>", ""}, {2, "<b>", "<a>"}, {3, "<c>", "<a>"}, {4, "<d>", "<a> <b>"}},
         "1/0 2/1 4/2 3/1"},
        {"a missing parent: the nearest ancestor present",
         {{1, "<a>", ""}, {2, "<c>", "<a> <gone-b>"}, {3, "<d>", "<a> <c> <gone-e> <gone-f>"}},
         "1/0 2/1 3/2"},
        {"no ancestor present starts a thread",
         {{1, "<a>", "<gone-1> <gone-2>"}, {2, "<b>", "<gone-1> <a>"}},
         "1/0 2/1"},
        {"no References", {{3, "<c>", ""}, {1, "<a>", ""}, {2, "<b>", ""}}, "1/0 2/0 3/0"},
        {"threads in the order of their first article, a reply numbered before it",
         {{1, "<reply>", "<late>"}, {2, "<other>", ""}, {5, "<late>", ""}},
         "2/0 5/0 1/1"},
        {"loop of two: its lowest number starts the thread",
         {{1, "<a>", "<b>"}, {2, "<b>", "<a>"}},
         "1/0 2/1"},
        {"loop of three with a reply hanging off it",
         {{7, "<e>", "<f>"},
          {5, "<c>", "<e>"},
          {6, "<d>", "<c>"},
          {8, "<f>", "<d>"},
          {9, "<g>", "<f>"}},
         "5/0 6/1 8/2 7/3 9/3"},
        {"a Message-ID that refers to itself is skipped",
         {{1, "<a>", "<a>"}, {2, "<b>", "<a> <b>"}, {3, "<c>", "<c> <gone>"}},
         "1/0 2/1 3/0"},
        {"malformed ids: only <...> without blanks count",
         {{1, "  junk <a@x> tail <z@x>", ""},
          {2, "<b@x>", "no brackets at all"},
          {3, "<c@x>", "<a@x> <broken <b@x>junk> <> < a@x>"},
          {4, "not an id", "<a@x>"},
          {5, "<e@x>", "not an id <<>> >< <a@x"},
          {6, "<f@x>", "<z@x>"}},
         "1/0 4/1 2/0 3/1 5/0 6/0"},
        {"a Message-ID twice: replies go to the lower number",
         {{1, "<a>", ""}, {2, "<a>", ""}, {3, "<b>", "<a>"}},
         "1/0 3/1 2/0"},
        {"an empty group", {}, ""},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(Spelled(Threaded(test.records)), test.order) << test.what;
    }
}

// Deep chains and huge headers, as a hostile server might send them: no recursion, so the
// stack (smaller still under the address sanitizer) is never at risk, and nothing hangs.
TEST(ThreadsTest, DeepChainsAndHugeReferencesAreThreadedWithoutRecursion) {
    constexpr qint64 kDepth = 10000;
    QList<TRecordIn> chain;
    for (qint64 n = 1; n <= kDepth; ++n) {
        chain.append({n, ChainId(n), n > 1 ? ChainId(n - 1) : QByteArray()});
    }
    const QList<TThreadPlace> order = Threaded(chain);
    ASSERT_EQ(order.size(), kDepth);
    for (qint64 n = 1; n <= kDepth; ++n) {
        ASSERT_EQ(order[n - 1], (TThreadPlace{n, int(n - 1)}));
    }

    // The chain's last article as a loop back to its first: one loop 10,000 long.
    chain[0].references = ChainId(kDepth);
    EXPECT_EQ(Threaded(chain), order);

    // 100 KB of References: the one id present is the first, thousands missing after it.
    QByteArray longReferences = "<1@chain>";
    while (longReferences.size() < 100 * 1024) {
        longReferences += " <missing." + QByteArray::number(longReferences.size()) + "@x>";
    }
    QByteArray junk(100 * 1024, '<');
    junk += QByteArray(100 * 1024, '>');
    const QList<TRecordIn> huge = {
        {1, "<1@chain>", ""},
        {2, "<2@chain>", longReferences},
        {3, "<3@chain>", junk},
        {4, QByteArray(100 * 1024, '<') + "<4@chain>", junk + "<1@chain>"}};
    EXPECT_EQ(Spelled(Threaded(huge)), "1/0 2/1 4/1 3/0");
}

// Random References among a few ids, loops and self-references included: every number comes
// once, each thread opens at depth 0 and no depth jumps by more than one.
TEST(ThreadsTest, AnyReferencesGiveEachNumberOnceInAWellFormedTree) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 50; ++round) {
        TThreader threader;
        const int count = 1 + int(random() % 200);
        for (int n = 1; n <= count; ++n) {
            QByteArray references;
            for (int r = int(random() % 4); r > 0; --r) {
                references += " <" + QByteArray::number(random() % (count + 5)) + ">";
            }
            threader.Add(n, "<" + QByteArray::number(random() % (count + 5)) + ">", references);
        }
        const QList<TThreadPlace> order = threader.Order();
        ASSERT_EQ(order.size(), count);
        QSet<qint64> seen;
        int previousDepth = -1;
        for (const TThreadPlace& place : order) {
            EXPECT_TRUE(!seen.contains(place.number));
            seen.insert(place.number);
            EXPECT_LE(place.depth, previousDepth + 1);
            previousDepth = place.depth;
        }
        EXPECT_EQ(order.first().depth, 0);
    }
}

// Enough ids that some share a slot of the id table and, likely, a whole hash: article n replies
// to n / 2, each through References that name a missing id after its parent's.
TEST(ThreadsTest, AHundredThousandIdsFindEachTheirOwnParent) {
    constexpr qint64 kCount = 100000;
    const auto idOf = [](qint64 number) { return "<" + QByteArray::number(number) + "@tree>"; };
    TThreader threader;
    for (qint64 n = kCount; n >= 1; --n) {
        const QByteArray references =
            n > 1 ? idOf(n / 2) + " <gone-" + QByteArray::number(n) + ">" : QByteArray();
        threader.Add(n, idOf(n), references);
    }
    const QList<TThreadPlace> order = threader.Order();
    ASSERT_EQ(order.size(), kCount);
    // The parent of each place is the last one before it a level up.
    std::vector<qint64> parentAtDepth;
    for (const TThreadPlace& place : order) {
        parentAtDepth.resize(place.depth);
        EXPECT_EQ(parentAtDepth.empty() ? 0 : parentAtDepth.back(), place.number / 2)
            << place.number;
        parentAtDepth.push_back(place.number);
    }
}
