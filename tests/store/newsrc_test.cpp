// Reading and writing .newsrc files: the group lines tin and slrn write, and the lines that are
// refused with the number of the line.
#include "store/newsrc.h"
#include "store/storeerror.h"

#include <gtest/gtest.h>

namespace {

TArticleRanges Marks(QByteArrayView text) {
    return TArticleRanges::Parse(text);
}

} // namespace

TEST(NewsrcTest, ReadsGroupLinesAndWritesThemBack) {
    const QByteArray text = "comp.lang.c++: 1-100, 105\r\n"
                            "\n"
                            "  alt.test!\n"
                            "misc.test:3-4,7\n"
                            "zk.test.big! 9";
    const QList<TNewsrcEntry> expected = {{"comp.lang.c++", true, Marks("1-100,105")},
                                          {"alt.test", false, {}},
                                          {"misc.test", true, Marks("3-4,7")},
                                          {"zk.test.big", false, Marks("9")}};
    const QList<TNewsrcEntry> entries = ParseNewsrc(text);
    EXPECT_EQ(entries, expected);
    QByteArrayList lines;
    for (const TNewsrcEntry& entry : entries) {
        lines << NewsrcLine(entry);
    }
    EXPECT_EQ(lines, (QByteArrayList{"comp.lang.c++: 1-100,105", "alt.test!", "misc.test: 3-4,7",
                                     "zk.test.big! 9"}));
    EXPECT_EQ(ParseNewsrc(lines.join('\n')), expected);
    EXPECT_TRUE(ParseNewsrc("").isEmpty());
}

TEST(NewsrcTest, RefusesABadLineNamingItsNumber) {
    const struct {
        QByteArray text;
        const char* message;
    } cases[] = {
        {"a: 1\nno marks at all\n", "line 2: not a .newsrc line: no marks at all"},
        {"a 1-3", "line 1: not a .newsrc line: a 1-3"},
        {"\n\n:1", "line 3: not a .newsrc line: :1"},
        {"a: 5-1", "line 1: Bad article ranges \" 5-1\": a range runs backwards"},
        {"a: 1,x", "line 1: Bad article ranges \" 1,x\": only digits, '-' and ',' are allowed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        try {
            ParseNewsrc(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const EStoreError& error) {
            EXPECT_EQ(error.Message(), QString::fromUtf8(c.message));
        }
    }
}
