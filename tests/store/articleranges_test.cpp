#include "store/articleranges.h"
#include "store/storeerror.h"

#include <gtest/gtest.h>
#include <string_view>

namespace {

using Range = TArticleRanges::Range;
using namespace std::string_view_literals;

struct ParseCase {
    const char* text;
    const char* formatted;
};

// Texts another reader may have written: read as the set they mean, written back canonically.
TEST(ArticleRangesTest, ParsesAndFormatsCanonically) {
    const ParseCase cases[] = {
        {"", ""},
        {"   ", ""},
        {"5", "5"},
        {"1-100,105", "1-100,105"},
        {" 1-100 , 105 ", "1-100,105"},
        {"1 - 3", "1-3"},
        {"7-7", "7"},
        {"1-5,3-9", "1-9"},               // overlapping
        {"1-5,6-9", "1-9"},               // adjacent
        {"20-30,1-3,10", "1-3,10,20-30"}, // unordered
        {"4,4,4", "4"},
        {"0-2", "0-2"},
        {"9223372036854775807", "9223372036854775807"},
        {"1-9223372036854775807,5", "1-9223372036854775807"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        const TArticleRanges ranges = TArticleRanges::Parse(c.text);
        EXPECT_EQ(ranges.Format(), QByteArray(c.formatted));
        EXPECT_EQ(TArticleRanges::Parse(ranges.Format()), ranges);
    }
}

// Hostile or broken text fails with a message that quotes it and says what is wrong.
TEST(ArticleRangesTest, RefusesBadTextClearly) {
    struct BadCase {
        std::string_view text;
        const char* reason;
    };
    const BadCase cases[] = {
        {"9-3", "backwards"},
        {"1-100,50-2", "backwards"},
        {"9223372036854775808", "too large"},
        {"1-99999999999999999999999", "too large"},
        {"-5", "missing"},
        {"5-", "missing"},
        {"1,,2", "missing"},
        {"1,", "missing"},
        {"1-2-3", "only digits"},
        {"abc", "only digits"},
        {"+5", "only digits"},
        {"1;2", "only digits"},
        {"1\x00"
         "2"sv,
         "only digits"},
        {"\xff\xfe", "only digits"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            TArticleRanges::Parse(QByteArrayView(c.text.data(), qsizetype(c.text.size())));
            ADD_FAILURE() << "accepted";
        } catch (const EStoreError& error) {
            EXPECT_TRUE(error.Message().contains(QString::fromUtf8(c.reason)))
                << error.Message().toStdString();
            EXPECT_TRUE(error.Message().startsWith(QStringLiteral("Bad article ranges \"")))
                << error.Message().toStdString();
        }
    }
}

struct EditCase {
    const char* before;
    bool add;
    qint64 first;
    qint64 last;
    const char* after;
};

TEST(ArticleRangesTest, AddsAndRemovesRanges) {
    constexpr qint64 kMax = TArticleRanges::kMaxNumber;
    const EditCase cases[] = {
        {"", true, 3, 5, "3-5"},
        {"1-2", true, 3, 5, "1-5"},
        {"1-2,6-8", true, 3, 5, "1-8"},
        {"1-2,7-8", true, 4, 4, "1-2,4,7-8"},
        {"1-2,4,6,8-9", true, 3, 7, "1-9"},
        {"10-20", true, 1, 30, "1-30"},
        {"10-20", true, 12, 15, "10-20"},
        {"5", true, 9, 3, "5"}, // reversed: nothing
        {"1-5", true, kMax - 1, kMax, "1-5,9223372036854775806-9223372036854775807"},
        {"0-1", true, 2, 2, "0-2"},
        {"1-10", false, 4, 6, "1-3,7-10"},
        {"1-10", false, 1, 10, ""},
        {"1-10", false, 0, 100, ""},
        {"1-3,5-7,9-11", false, 2, 10, "1,11"},
        {"1-3", false, 5, 9, "1-3"},
        {"1-3", false, 3, 1, "1-3"}, // reversed: nothing
        {"1-9223372036854775807", false, kMax, kMax, "1-9223372036854775806"},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.before << (c.add ? " + " : " - ") << c.first << ".." << c.last);
        TArticleRanges ranges = TArticleRanges::Parse(c.before);
        if (c.add) {
            ranges.Add(c.first, c.last);
        } else {
            ranges.Remove(c.first, c.last);
        }
        EXPECT_EQ(ranges.Format(), QByteArray(c.after));
    }
}

struct CountCase {
    const char* marks;
    qint64 low;
    qint64 high;
    qint64 missing;
};

TEST(ArticleRangesTest, CountsUnreadBetweenLowAndHigh) {
    const CountCase cases[] = {
        {"", 1, 100, 100},
        {"1-100", 1, 100, 0},
        {"1-100,105", 1, 110, 9},
        {"1-100,105", 50, 104, 4}, // marks below low do not count
        {"1-1000", 200, 300, 0},   // marks run past both ends
        {"5-9", 1, 3, 3},
        {"", 10, 9, 0}, // an empty group: high below low
        {"", 5, 5, 1},
        {"1-5,7-9", 1, 9, 1},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.marks << " in " << c.low << ".." << c.high);
        EXPECT_EQ(TArticleRanges::Parse(c.marks).CountMissing(c.low, c.high), c.missing);
    }
}

TEST(ArticleRangesTest, ContainsExactlyTheMarkedNumbers) {
    const TArticleRanges ranges = TArticleRanges::Parse("3-5,9");
    QList<qint64> contained;
    for (qint64 n = 0; n <= 11; ++n) {
        if (ranges.Contains(n)) {
            contained.append(n);
        }
    }
    EXPECT_EQ(contained, (QList<qint64>{3, 4, 5, 9}));
    EXPECT_EQ(ranges.Ranges(), (QList<Range>{{3, 5}, {9, 9}}));
}

} // namespace
