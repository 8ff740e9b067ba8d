#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"
#include "testhelpers.h"

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

// Message-IDs as a person types or pastes them: only "<part@domain>" of printable ASCII goes
// to the server; a blank or a line end inside could end the command and start another.
TEST(NntpWire, MessageIdsAreCheckedBeforeTheyAreSent) {
    struct Case {
        QByteArray typed;
        QByteArray sent; // empty: refused
    };
    const QByteArray longest = '<' + QByteArray(kMaxMessageIdBytes - 11, 'a') + "@domain.x>";
    const Case cases[] = {
        {"<abc@example.org>", "<abc@example.org>"},
        {"  <a.b$c+d@[127.0.0.1]>\n", "<a.b$c+d@[127.0.0.1]>"},
        {longest, longest},
        {longest.first(longest.size() - 1) + "y>", ""},
        {"abc@example.org", ""},
        {"<abc.example.org>", ""},
        {"<@example.org>", ""},
        {"<abc@>", ""},
        {"<abc@example.org", ""},
        {"<ab c@example.org>", ""},
        {"<abc@example.org>\r\nQUIT", ""},
        {"<abc@example.org\r\nGROUP x>", ""},
        {QByteArray("<a\0b@x>", 7), ""},
        {"<a\tb@x>", ""},
        {"<a<b@x>", ""},
        {"<caf\xc3\xa9@x>", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        if (c.sent.isEmpty()) {
            const QString message = MessageOf<Exception>([&] { CheckedMessageId(c.typed); });
            EXPECT_TRUE(message.startsWith(QStringLiteral("Not a Message-ID: '"))) << message.toStdString();
            EXPECT_FALSE(message.contains(u'\r') || message.contains(u'\n') || message.contains(QChar(0)));
        } else {
            EXPECT_EQ(CheckedMessageId(c.typed), c.sent);
        }
    }
}

// RFC 5538: what the program is started with from a browser's link.
TEST(NntpWire, NewsAndNntpUrls) {
    struct Case {
        const char* url;
        const char* messageId;
        const char* group;
        int number;
        const char* host;
        int port;
    };
    const Case valid[] = {
        {"news:<abc@example.org>", "<abc@example.org>", "", 0, "", 0},
        {"news:abc@example.org", "<abc@example.org>", "", 0, "", 0},
        {"NEWS:%3Cabc@example.org%3E", "<abc@example.org>", "", 0, "", 0},
        {"news:comp.lang.c++", "", "comp.lang.c++", 0, "", 0},
        {"news://news.example.org/abc@example.org", "<abc@example.org>", "", 0,
         "news.example.org", 0},
        {"news://news.example.org:1119/zk.test", "", "zk.test", 0, "news.example.org", 1119},
        {"nntp://127.0.0.1/zk.test.small/3", "", "zk.test.small", 3, "127.0.0.1", 0},
        {"nntp://[::1]:563/alt.test/12", "", "alt.test", 12, "::1", 563},
    };
    for (const Case& c : valid) {
        SCOPED_TRACE(c.url);
        EXPECT_TRUE(IsNewsUrl(c.url));
        const NewsUrl url = ParseNewsUrl(c.url);
        EXPECT_EQ(url.messageId, c.messageId);
        EXPECT_EQ(url.group, c.group);
        EXPECT_EQ(url.number, c.number);
        EXPECT_EQ(url.host, QString::fromLatin1(c.host));
        EXPECT_EQ(url.port, c.port);
    }
    const char* const malformed[] = {
        "news:", "news:<a b@x>", "news:a%0D%0AQUIT@x", "news:a%20b@x", "news:group%0Aname",
        "news:*", "nntp:zk.test/3", "nntp://host/zk.test", "nntp://host/zk.test/x",
        "nntp://host/zk.test/0", "nntp://host:99999/zk.test/1", "nntp:///zk.test/1",
        "http://example.org/",
    };
    for (const char* url : malformed) {
        SCOPED_TRACE(url);
        const QString message = MessageOf<Exception>([&] { ParseNewsUrl(url); });
        EXPECT_TRUE(message.startsWith(QStringLiteral("Not a news URL: '"))) << message.toStdString();
    }
    EXPECT_FALSE(IsNewsUrl("news.example.org"));
}

// Where a click or the cursor in a pane lands: on an id of a References line, of the body's
// text, or of a news: URL there; nowhere else.
TEST(NntpWire, TheMessageIdUnderTheCursor) {
    const QByteArray references = "References: <a@x> <b@y><c@z> news:d@w <news:e@v>. <bad id@x>";
    struct Case {
        const char* on; // the cursor stands before the first occurrence of this text
        int shift;      // ... moved by this much
        const char* found;
    };
    const Case cases[] = {
        {"<a@x>", 0, "<a@x>"},  {"a@x>", 0, "<a@x>"},      {"> <b", 1, "<a@x>"},
        {"b@y", 2, "<b@y>"},    {"<c@z>", 0, "<c@z>"},     {"c@z", 2, "<c@z>"},
        {"d@w", 0, "<d@w>"},    {"news:d", 0, "<d@w>"},    {"e@v", 1, "<e@v>"},
        {"References", 3, ""},  {"bad", 0, ""},            {"id@x", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.on);
        EXPECT_EQ(MessageIdAt(references, references.indexOf(c.on) + c.shift), c.found);
    }
    EXPECT_EQ(MessageIdAt(references, -5), "");
    EXPECT_EQ(MessageIdAt(references, references.size() + 5), "");
    EXPECT_EQ(MessageIdAt("", 0), "");
}

// A References header of 100 KB, in the shapes a hostile or broken article may have: the id
// under the cursor is found (or not) looking at the few hundred bytes around it only.
TEST(NntpWire, AHundredKilobyteReferencesLineIsReadAroundTheCursorOnly) {
    QByteArray spaced = "References:";
    while (spaced.size() < 100 * 1024) {
        spaced += " <" + QByteArray::number(spaced.size()) + "@example>";
    }
    const qsizetype middle = spaced.indexOf('<', spaced.size() / 2);
    const QByteArray expected = spaced.mid(middle, spaced.indexOf('>', middle) - middle + 1);
    const QByteArray runs[] = {spaced, QByteArray(100 * 1024, '<'), QByteArray(100 * 1024, 'a'),
                               '<' + QByteArray(100 * 1024, '@') + '>',
                               QByteArray(100 * 1024, '<').replace(50000, 3, "a@b")};
    // A search that went back and forth over the whole line for every "<" would not end here.
    for (const QByteArray& run : runs) {
        for (const qsizetype at : {qsizetype(0), run.size() / 2, run.size()}) {
            MessageIdAt(run, at);
        }
    }
    EXPECT_EQ(MessageIdAt(spaced, middle + 2), expected);
    EXPECT_EQ(MessageIdAt(runs[1], 50000), "");
    EXPECT_EQ(MessageIdAt(runs[3], 50000), "");
}

TEST(NntpWire, TheArticleNumberOfARetrievalReply) {
    EXPECT_EQ(ReplyArticleNumber("220 12 <a@x> article\r\n"), 12);
    EXPECT_EQ(ReplyArticleNumber("220 0 <a@x>"), 0);
    EXPECT_EQ(ReplyArticleNumber("221 x <a@x>"), 0);
    EXPECT_EQ(ReplyArticleNumber("222 -4 <a@x>"), 0);
    EXPECT_EQ(ReplyArticleNumber(""), 0);
}

TEST(NntpWire, ABinaryReplyIsOneWithoutAStatusCodeAndWithControlBytes) {
    struct Case {
        QByteArray line;
        bool binary;
    };
    const Case cases[] = {
        {"211 3 1 3 a.b\r\n", false},
        {"205\r\n", false},
        {"500", false},
        {"what?\r\n", false},
        {"", false},
        {"211 a\x01 b\r\n", false},                              // a status line, however odd
        {QByteArray("224T0V\x00\xe1\r\n", 10), true},             // deflated, digits by chance
        {QByteArray("\x32\x8a\x00\x00\xff\xff\n", 7), true},
        {"text with a \x1b escape\r\n", true},
        {"12", false},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(nntpwire::IsBinaryReply(test.line), test.binary) << test.line.toHex().constData();
    }
}
