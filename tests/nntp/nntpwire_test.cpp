#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace nntpwire;

TEST(NntpWire, LineEndsAreRemovedAsTheyAreAndDotsUnstuffed) {
    EXPECT_EQ(StripLineEnd("abc\r\n"), "abc");
    EXPECT_EQ(StripLineEnd("abc\n"), "abc");
    EXPECT_EQ(StripLineEnd("abc"), "abc");
    EXPECT_EQ(StripLineEnd("\r\n"), "");
    EXPECT_TRUE(IsTerminator("."));
    EXPECT_FALSE(IsTerminator(".."));
    EXPECT_EQ(Unstuff(".."), ".");
    EXPECT_EQ(Unstuff("..hidden"), ".hidden");
    EXPECT_EQ(Unstuff("plain"), "plain");
}

TEST(NntpWire, GroupLinesAndGroupReplies) {
    const GroupLine group = ParseGroupLine("misc.test 10 5 y");
    EXPECT_EQ(group.name, "misc.test");
    EXPECT_EQ(group.first, 5);
    EXPECT_EQ(group.last, 10);
    EXPECT_TRUE(group.posting);
    EXPECT_FALSE(ParseGroupLine("a.b 1 1 n").posting);
    EXPECT_THROW(ParseGroupLine("broken line x y"), Exception);

    const GroupRange range = ParseGroupReply("211 6 5 10 misc.test\r\n");
    EXPECT_EQ(range.first, 5);
    EXPECT_EQ(range.last, 10);
    EXPECT_EQ(ParseGroupReply("211 6 5 10\r\n").last, 10);
    EXPECT_EQ(ParseGroupReply("").first, 0);
}

TEST(NntpWire, GroupListsTakeWholeGroupLinesOnly) {
    const QList<GroupLine> groups =
        ParseGroupList({"misc.new 10 5 y", "alt.quiet 0000000003 0000000001 n", "old.style 7 7"},
                       "NEWGROUPS");
    ASSERT_EQ(groups.size(), 3);
    EXPECT_EQ(groups[0].name, "misc.new");
    EXPECT_EQ(groups[0].first, 5);
    EXPECT_EQ(groups[0].last, 10);
    EXPECT_TRUE(groups[0].posting);
    EXPECT_EQ(groups[1].last, 3);
    EXPECT_FALSE(groups[1].posting);
    EXPECT_FALSE(groups[2].posting);
    EXPECT_TRUE(ParseGroupList({}, "NEWGROUPS").isEmpty());

    // Every malformed line is named, quoted, and fails the whole list.
    const QList<QByteArray> malformed = {"",
                                         "lonely.name",
                                         "a.b 10",
                                         "a.b ten 5 y",
                                         "a.b 10 five y",
                                         "a.b 10 -5 y",
                                         "a.b 10 5 y extra",
                                         " a.b 10 5 y",
                                         "a.b  10 5 y",
                                         "a.b 99999999999 5 y"};
    for (const QByteArray& line : malformed) {
        try {
            ParseGroupList({"good.group 2 1 y", line}, "NEWGROUPS");
            ADD_FAILURE() << "taken: " << line.toStdString();
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(),
                      QStringLiteral("Malformed NEWGROUPS reply, line 2 is no group line: '") +
                          QString::fromLatin1(line) + u'\'');
        }
    }
}

TEST(NntpWire, NewGroupsAsksInGmtAndDateRepliesReadAsUtc) {
    const QDateTime utc(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    EXPECT_EQ(NewGroupsCommand(utc), "NEWGROUPS 20260102 030405 GMT");
    EXPECT_EQ(NewGroupsCommand(utc.toTimeZone(QTimeZone(3600 * 9))),
              "NEWGROUPS 20260102 030405 GMT");
    EXPECT_EQ(ParseDateReply("111 20260102030405\r\n"), utc);
    EXPECT_EQ(ParseDateReply("111 20260102030405\r\n").offsetFromUtc(), 0);
    for (const QByteArray& reply : {QByteArray("111"), QByteArray("111 2026010203040"),
                                    QByteArray("111 202601020304056"),
                                    QByteArray("111 20261302030405"),
                                    QByteArray("111 20260102250405"), QByteArray("111 today")}) {
        try {
            ParseDateReply(reply + "\r\n");
            ADD_FAILURE() << "taken: " << reply.toStdString();
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), QStringLiteral("Malformed DATE reply: '") +
                                           QString::fromLatin1(reply) + u'\'');
        }
    }
}

TEST(NntpWire, SummaryLinesSplitIntoAtMostNineWholeFields) {
    const QByteArray references(600, 'r');
    const QList<QByteArray> nine = SplitSummaryLine(
        "12\tHello\tme@x\tMon, 1 Jan 2024\t<id@x>\t" + references + "\t1234\t56\tXref: a:12\textra");
    ASSERT_EQ(nine.size(), 9);
    EXPECT_EQ(nine[0], "Artid: 12");
    EXPECT_EQ(nine[1], "Subject: Hello");
    EXPECT_EQ(nine[5], "References: " + references);
    EXPECT_EQ(nine[6], "Bytecount: 1234");
    EXPECT_EQ(nine[7], "Lines: 56");
    EXPECT_EQ(nine[8], "Optional-Header: Xref: a:12");

    const QList<QByteArray> three = SplitSummaryLine("7\tSubj\tFrom");
    EXPECT_EQ(three, (QList<QByteArray>{"Artid: 7", "Subject: Subj", "From: From"}));
    EXPECT_EQ(SplitSummaryLine("7\t\tx")[1], "Subject: ");
    EXPECT_EQ(SplitSummaryLine("7\tbad\rtail")[1], QByteArray("Subject: bad\0tail", 17));
}

TEST(NntpWire, HeaderParametersByNameQuotedOrBareAndExtended) {
    struct Case {
        QByteArray field;
        const char* name;
        QByteArray value;
    };
    const QList<Case> cases = {
        {"multipart/mixed; boundary=\"XyZ\"", "boundary", "XyZ"},
        {"multipart/mixed; boundary=XyZ", "boundary", "XyZ"},
        {"multipart/mixed;\tBOUNDARY = \"a b;c\" ; charset=x", "boundary", "a b;c"},
        {"multipart/mixed; charset=x;boundary= XyZ ", "Boundary", "XyZ"},
        {"multipart/mixed; boundary=\"a\\\"b\"", "boundary", "a\"b"},
        {"multipart/mixed; boundary=\"\"", "boundary", ""},
        {"multipart/mixed; boundary=", "boundary", ""},
        {"multipart/mixed; boundary", "boundary", ""},
        {"multipart/mixed", "boundary", ""},
        {"boundary=XyZ", "boundary", ""},             // the field's own value, no parameter
        {"text/plain; xboundary=no", "boundary", ""}, // whole names only
        {"text/plain; junk; name=a.txt", "name", "a.txt"},
        {"attachment; filename*=UTF-8''na%C3%AFve%20file.txt", "filename", "na\xC3\xAFve file.txt"},
        {"attachment; filename=plain.txt; filename*=utf-8'en'better.txt", "filename", "better.txt"},
        {"attachment; FILENAME*0=\"long\"; filename*1*=%20na; filename*2=me.bin", "filename",
         "long name.bin"},
        {"attachment; filename*0*=utf-8''a%2E; filename*1=b", "filename", "a.b"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(HeaderParameter(test.field, test.name), test.value) << test.field.toStdString();
    }
}

TEST(HeaderModel, ValuesByNameWithoutRegardToCase) {
    TExStringList lines;
    lines.Add("Subject: Hello there");
    lines.Add("X-Empty:");
    lines.Add("NoSpace:value");
    lines.Add("no colon here");
    EXPECT_EQ(lines.GetValue("subject"), "Hello there");
    EXPECT_EQ(lines.GetValue("NOSPACE"), "value");
    EXPECT_EQ(lines.GetValue("X-Empty"), "");
    EXPECT_EQ(lines.IndexOfName("no colon here"), -1);
    lines.Insert(1, " continued");
    lines.Insert(2, "\tand again");
    EXPECT_EQ(lines.GetUnfoldedValue("subject"), "Hello there continued\tand again");
    EXPECT_EQ(lines.GetUnfoldedValue("nospace"), "value");
    EXPECT_EQ(lines.GetUnfoldedValue("Missing"), "");
    lines.Delete(2);
    lines.Delete(1);
    EXPECT_EQ(lines.IndexOfName("Missing"), -1);

    lines.SetValue("Subject", "");
    EXPECT_EQ(lines.IndexOfName("Subject"), -1);
    lines.SetValue("Newsgroups", "a.b");
    EXPECT_EQ(lines.Last(), "Newsgroups: a.b");
    lines.SetValue("newsgroups", "c.d");
    EXPECT_EQ(lines.GetValue("Newsgroups"), "c.d");
    EXPECT_EQ(lines.Count(), 4);
}

TEST(HeaderModel, SortedListsAreSearchedByHalves) {
    TExStringList lines;
    for (const char* item : {"Date: d", "from: f", "Lines: 3", "Subject: s", "Xref: x", "Path: p"}) {
        lines.Add(item);
    }
    lines.SetSorted(true);
    for (const char* name : {"date", "From", "LINES", "path", "subject", "xref"}) {
        EXPECT_GE(lines.IndexOfName(name), 0) << name;
    }
    EXPECT_EQ(lines.IndexOfName("Organization"), -1);
    EXPECT_EQ(TExStringList().IndexOfName("x"), -1);
}

TEST(HeaderModel, TheTypedRecordReadsAndWritesTheBoundList) {
    TExStringList lines;
    TPostRecordType record(lines);
    record.SetPrReplyTo("me@example.org");
    EXPECT_EQ(lines[0], "ReplyTo: me@example.org");
    record.SetPrSubject("Hi");
    record.SetPrSubject("");
    EXPECT_EQ(lines.Count(), 1);
    lines.Add("ArtId: 42");
    EXPECT_EQ(record.GetArticleId(), 42);
    lines.Add("Lines: 12");
    EXPECT_EQ(record.GetPrLineCount(), 12);
    try {
        record.GetPrByteCount();
        FAIL() << "a missing Bytecount must raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'' is not a valid integer value"));
    }
    lines.SetValue("ArtId", "x");
    EXPECT_EQ(record.GetArticleId(), 0);
}
