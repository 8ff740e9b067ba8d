#include "util/stringlist.h"

#include <gtest/gtest.h>

TEST(StringList, TextIsEveryItemWithCrLfAndSetTextAcceptsBothLineEnds) {
    TStringList list;
    list.SetText("one\r\ntwo\nthree");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[1], "two");
    EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\n");
    list.SetText("\r\n\r\n");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "");
}

TEST(StringList, ObjectsTravelWithTheirItemsAndSortedListsInsertInOrder) {
    TStringList list;
    list.AddObject("b", 2);
    list.AddObject("a", 1);
    EXPECT_EQ(list.Objects(0).toInt(), 2);
    list.SetSorted(true);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list.Objects(0).toInt(), 1);
    EXPECT_EQ(list.Add("ab"), 1);
    EXPECT_EQ(list.IndexOf("b"), 2);
    EXPECT_EQ(list.IndexOf("zz"), -1);
}

TEST(StringList, AJoinedItemIsNewTextWithoutItsValueAndLeavesCopiesAlone) {
    TStringList list;
    list.Add("Subject: old");
    const QByteArray copy = list[0];
    list.SetJoined(0, "Subject: ", "new");
    EXPECT_EQ(list[0], "Subject: new");
    EXPECT_EQ(copy, "Subject: old");
    list.SetJoined(0, "From: ", "abcdef");
    EXPECT_EQ(list[0], "From: abcdef");
    list.SetObject(0, 7);
    TStringList assigned;
    assigned.Add("x");
    assigned.Assign(list);
    assigned.SetJoined(0, "a", "b");
    EXPECT_EQ(assigned[0], "ab");
    EXPECT_FALSE(assigned.Objects(0).isValid());
    EXPECT_EQ(list.Objects(0).toInt(), 7);
}
