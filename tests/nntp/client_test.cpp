#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"

#include "overviewshapes.h"
#include "scriptedclient.h"
#include "testhelpers.h"

#include <QEventLoop>
#include <QTimeZone>
#include <QTimer>
#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;

// ---------------------------------------------------------------------------------------------
// Greeting and login

TEST(NntpLogin, Greetings200And201NeedNoLogin) {
    for (const QByteArray greeting : {"S: 200 ready", "S: 201 ready, no posting"}) {
        ScriptedNntp c({greeting});
        c.nntp.Connect();
        EXPECT_TRUE(c.nntp.Connected);
        EXPECT_EQ(c.events, QStringList{QStringLiteral("connect")});
        EXPECT_TRUE(c.server.Received().isEmpty());
        EXPECT_FALSE(c.nntp.Busy);
    }
}

TEST(NntpLogin, Greeting480LogsInWithUserAndPass) {
    ScriptedNntp c(
        {"S: 480 login first\nC: USER fred\nS: 381 more\nC: PASS secret\nS: 281 welcome"});
    c.nntp.UserId = "fred";
    c.nntp.Password = "secret";
    c.nntp.Connect();
    EXPECT_TRUE(c.nntp.Connected);
    EXPECT_EQ(c.events, QStringList{QStringLiteral("connect")});
    c.ExpectScriptPlayed();
}

TEST(NntpLogin, RefusingGreetingsAndRejectedPasswordsLeaveItDisconnected) {
    ScriptedNntp refused({"S: 502 go away\nC: QUIT\nS: 205 bye"});
    EXPECT_EQ(MessageOf<ESockError>([&] { refused.nntp.Connect(); }),
              QStringLiteral("Log in to server failed"));
    EXPECT_FALSE(refused.nntp.Connected);
    EXPECT_TRUE(refused.events.isEmpty());

    ScriptedNntp rejected(
        {"S: 480 login\nC: USER fred\nS: 381 more\nC: PASS wrong\nS: 481 no\nC: QUIT\n"
         "S: 205 bye"});
    rejected.nntp.UserId = "fred";
    rejected.nntp.Password = "wrong";
    EXPECT_EQ(MessageOf<NNTPError>([&] { rejected.nntp.Connect(); }),
              QStringLiteral("Authentication failed"));
    EXPECT_EQ(rejected.events, QStringList{QStringLiteral("authfailed")});
    EXPECT_FALSE(rejected.nntp.Connected);

    ScriptedNntp anonymous({"S: 480 login\nC: QUIT\nS: 205 bye"});
    EXPECT_EQ(MessageOf<NNTPError>([&] { anonymous.nntp.Connect(); }),
              QStringLiteral("Authentication failed"));
    EXPECT_TRUE(anonymous.events.isEmpty()); // no credentials asked for: no failure event
}

TEST(NntpLogin, ACommandAnswered480LogsInWithAuthinfoAndIsRepeated) {
    ScriptedNntp c(
        {"S: 200 ready\nC: GROUP a.b\nS: 480 auth needed\nC: AUTHINFO USER fred\nS: 381 pass\n"
         "C: AUTHINFO PASS secret\nS: 281 ok\nC: GROUP a.b\nS: 211 3 1 3 a.b"});
    c.nntp.Connect();
    int asked = 0;
    c.nntp.OnAuthenticationNeeded = [&](bool& handled) {
        ++asked;
        c.nntp.UserId = "fred";
        c.nntp.Password = "secret";
        handled = true;
    };
    c.nntp.SetGroup("a.b");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(c.nntp.LastArticleNo, 3);
    EXPECT_EQ(c.nntp.LastReply, "211 3 1 3 a.b\r\n");
    c.ExpectScriptPlayed();
}

TEST(NntpLogin, RejectedAuthinfoReadsAsAuthenticationFailed) {
    // RFC 4643 servers answer a wrong password with 481, older ones with 502.
    for (const QByteArray refusal : {"481 rejected", "502 no", "482 out of sequence"}) {
        ScriptedNntp c({"S: 200 ready\nC: LIST\nS: 480 auth\nC: AUTHINFO USER fred\nS: 381 pass\n"
                        "C: AUTHINFO PASS bad\nS: " +
                        refusal});
        c.nntp.UserId = "fred";
        c.nntp.Password = "bad";
        c.nntp.Connect();
        EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.GetGroupList(); }),
                  QStringLiteral("Authentication failed"))
            << refusal.toStdString();
        EXPECT_TRUE(c.events.contains(QStringLiteral("authfailed")));
        EXPECT_FALSE(c.nntp.Busy);
    }

    ScriptedNntp anonymous({"S: 200 ready\nC: LIST\nS: 480 auth"});
    anonymous.nntp.Connect();
    EXPECT_EQ(MessageOf<NNTPError>([&] { anonymous.nntp.GetGroupList(); }),
              QStringLiteral("Authentication failed"));
    EXPECT_TRUE(anonymous.events.contains(QStringLiteral("authfailed")));
}

// ---------------------------------------------------------------------------------------------
// Group selection and recovery

TEST(NntpGroups, A412ReselectsTheCurrentGroupOnceAndRepeatsTheCommand) {
    ScriptedNntp c(
        {"S: 200 ready\nC: GROUP a.b\nS: 211 3 1 3 a.b\nC: HEAD 2\nS: 412 no group\n"
         "C: GROUP a.b\nS: 211 3 1 3 a.b\nC: HEAD 2\nS: 221 2 <x>\nS: Subject: s\nS: .\n"
         "C: HEAD 3\nS: 412 no group\nC: GROUP a.b\nS: 211 3 1 3 a.b\nC: HEAD 3\nS: 412 still"});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    c.events.clear();
    c.nntp.GetArticleHeader(2);
    EXPECT_EQ(c.events, (QStringList{QStringLiteral("group"), QStringLiteral("header")}));
    EXPECT_EQ(c.nntp.HeaderLines.GetValue("Subject"), "s");
    // A server that keeps answering 412 gets one new selection, then the caller sees the reply.
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.GetArticleHeader(3); }),
              QStringLiteral("Retreival Failed"));
    EXPECT_EQ(c.nntp.ReplyCode, 412);
    EXPECT_FALSE(c.nntp.Busy);
    c.ExpectScriptPlayed();
}

TEST(NntpGroups, A412ToTheNewSelectionEndsTheRecoveryWhateverTheCommand) {
    // A server that answers 412 to every GROUP: one new selection, then "Invalid Group".
    ScriptedNntp c({"S: 200 ready\nC: GROUP a.b\nS: 412 no\nC: GROUP a.b\nS: 412 no\n"
                    "C: HEAD 2\nS: 412 no\nC: GROUP a.b\nS: 412 no\n"
                    "C: HEAD 3\nS: 221 3 <x>\nS: Subject: s\nS: ."});
    c.nntp.Connect();
    c.nntp.CurrentGroup = "a.b";
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.SetGroup("a.b"); }),
              QStringLiteral("Invalid Group"));
    EXPECT_EQ(c.nntp.ReplyCode, 412);
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.GetArticleHeader(2); }),
              QStringLiteral("Invalid Group"));
    EXPECT_FALSE(c.nntp.Busy);
    // Still in step with the server.
    c.nntp.GetArticleHeader(3);
    EXPECT_EQ(c.nntp.HeaderLines.GetValue("Subject"), "s");
    c.ExpectScriptPlayed();
}

TEST(NntpGroups, A412WithoutAGroupRaisesNoGroupSelected) {
    ScriptedNntp c({"S: 200 ready\nC: XOVER 0-0\nS: 412 no group"});
    c.nntp.Connect();
    EXPECT_EQ(MessageOf<Exception>([&] { c.nntp.GetArticleList(true, 0); }),
              QStringLiteral("No Group Selected"));
    EXPECT_FALSE(c.nntp.Busy);
}

TEST(NntpGroups, TheGroupSelectHandlerMaySupplyTheGroup) {
    ScriptedNntp c({"S: 200 ready\nC: BODY 1\nS: 412 no group\nC: GROUP x.y\nS: 211 1 1 1 x.y\n"
                    "C: BODY 1\nS: 222 1 <a>\nS: text\nS: ."});
    c.nntp.Connect();
    c.nntp.OnGroupSelectRequired = [&](bool& handled) {
        c.nntp.CurrentGroup = "x.y";
        handled = true;
    };
    c.nntp.GetArticleBody(1);
    EXPECT_EQ(c.nntp.BodyLines.Text(), "text\r\n.\r\n");
    c.ExpectScriptPlayed();
}

TEST(NntpGroups, AnInvalidGroupKeepsTheSelectionAndRaisesNoEvent) {
    ScriptedNntp c(
        {"S: 200 ready\nC: GROUP a.b\nS: 211 6 5 10 a.b\nC: GROUP nope\nS: 411 no such group"});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    EXPECT_EQ(c.nntp.FirstArticleNo, 5);
    c.events.clear();
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.SetGroup("nope"); }),
              QStringLiteral("Invalid Group"));
    EXPECT_TRUE(c.events.isEmpty());
    EXPECT_EQ(c.nntp.CurrentGroup, "a.b");
    EXPECT_EQ(c.nntp.LastArticleNo, 10);
}

TEST(NntpGroups, LocalCacheModeSelectsWithoutTheServer) {
    ScriptedNntp c({"S: 200 ready\nC: ARTICLE 4\nS: 220 4 <a>\nS: Subject: s\nS: \nS: b\nS: ."});
    c.nntp.Connect();
    c.nntp.CacheMode = TCacheMode::cmLocal;
    c.nntp.CurrentGroup = "kept";
    c.nntp.SetGroup("other");
    EXPECT_EQ(c.events.last(), QStringLiteral("group"));
    EXPECT_EQ(c.nntp.CurrentGroup, "kept");
    EXPECT_EQ(c.nntp.FirstArticleNo, 0);
    c.nntp.GetGroupList();
    c.nntp.GetArticleList(true, 0);
    c.nntp.GetArticle(4); // without a cache, articles come from the server
    EXPECT_EQ(c.events.last(), QStringLiteral("article"));
    c.ExpectScriptPlayed();
}

// NEWGROUPS reports the new groups as LIST does, only once the whole reply is read and every
// line is a group line: a malformed reply reports none, and the connection stays in step.
TEST(NntpGroups, NewGroupsReportsWholeReplyOrNothing) {
    struct Case {
        const char* name;
        QByteArray reply;
        QStringList reported;
        QString error;
    };
    const QList<Case> cases = {
        {"new groups", "S: 231 new groups\nS: a.new 10 5 y\nS: b.new 3 1 n\nS: .\n",
         {QStringLiteral("a.new 5-10"), QStringLiteral("b.new 1-3")}, {}},
        {"none", "S: 231 new groups\nS: .\n", {}, {}},
        {"refused", "S: 500 what?\n", {}, {}},
        {"malformed", "S: 231 new groups\nS: a.new 10 5 y\nS: b.new x 1 n\nS: .\n", {},
         QStringLiteral("Malformed NEWGROUPS reply, line 2 is no group line: 'b.new x 1 n'")},
    };
    for (const Case& c : cases) {
        ScriptedNntp client({script::Greeting() + "C: NEWGROUPS 20260102 030405 GMT\n" +
                             c.reply + script::Date("20260102030406")});
        client.nntp.Connect();
        QStringList reported;
        client.nntp.OnGroupListUpdate = [&](const QByteArray& name, int first, int last, bool) {
            reported << QStringLiteral("%1 %2-%3").arg(QString::fromLatin1(name)).arg(first).arg(last);
        };
        const QDateTime since(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
        QString error;
        try {
            client.nntp.GetNewGroups(since);
        } catch (const Exception& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(reported, c.reported) << c.name;
        EXPECT_EQ(client.nntp.GroupLines.IsEmpty(), c.reply.startsWith("S: 5")) << c.name;
        EXPECT_EQ(client.nntp.GetServerTime(), since.addSecs(1)) << c.name;
        client.ExpectScriptPlayed();
    }
}

// DATE gives the server's clock; a server that does not know it leaves the local clock, and a
// reply without a time is an error.
TEST(NntpGroups, ServerTimeFromDateOrTheLocalClock) {
    ScriptedNntp client({script::Greeting() + "C: DATE\nS: 500 unknown command\n" +
                         "C: DATE\nS: 111 yesterday\n" + script::Date("19991231235959")});
    client.nntp.Connect();
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const QDateTime local = client.nntp.GetServerTime();
    EXPECT_GE(local, before);
    EXPECT_LE(local, QDateTime::currentDateTimeUtc());
    EXPECT_EQ(MessageOf<Exception>([&] { client.nntp.GetServerTime(); }),
              QStringLiteral("Malformed DATE reply: '111 yesterday'"));
    EXPECT_EQ(client.nntp.GetServerTime(),
              QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), QTimeZone::utc()));
    client.ExpectScriptPlayed();
    // Working from the cache alone, the server is not asked.
    client.nntp.CacheMode = TCacheMode::cmLocal;
    client.nntp.GetServerTime();
    client.nntp.GetNewGroups(before);
    EXPECT_TRUE(client.nntp.GroupLines.IsEmpty());
    EXPECT_EQ(client.server.Received().size(), 3);
}

TEST(NntpGroups, TheGroupListRaisesOneEventPerGroup) {
    ScriptedNntp c({"S: 200 ready\nC: LIST\nS: 215 list follows\nS: a.b 10 5 y\nS: c.d 0000000003 "
                    "0000000001 n\n"
                    "S: e.f 7 7 m\nS: ."});
    c.nntp.Connect();
    QStringList groups;
    c.nntp.OnGroupListUpdate = [&](const QByteArray& name, int first, int last, bool posting) {
        groups << QStringLiteral("%1 %2-%3 %4")
                      .arg(QString::fromLatin1(name))
                      .arg(first)
                      .arg(last)
                      .arg(posting);
    };
    c.nntp.GetGroupList();
    EXPECT_EQ(groups, (QStringList{QStringLiteral("a.b 5-10 1"), QStringLiteral("c.d 1-3 0"),
                                   QStringLiteral("e.f 7-7 1")}));
    EXPECT_EQ(c.nntp.GroupLines.Count(), 4);
    EXPECT_EQ(c.nntp.GroupLines.Last(), ".");
    EXPECT_EQ(c.nntp.ListingGroups, 0);
}

// ---------------------------------------------------------------------------------------------
// Summaries

TEST(NntpSummaries, XoverLinesBecomeHeaderListsOnePerArticle) {
    ScriptedNntp c({"S: 200 ready\nC: GROUP a.b\nS: 211 3 5 7 a.b\nC: XOVER 5-7\nS: 224 follows\n"
                    "R: 5\\tFirst\\tann@x\\tMon\\t<1@x>\\t\\t100\\t3\\tXref: h a.b:5\\r\\n\n"
                    "R: 6\\tSecond\\tbob@x\\tTue\\t<2@x>\\t<1@x>\\t200\\t4\\r\\n\n"
                    "S: .\nC: XOVER 7-7\nS: 224 follows\nS: .\nC: XOVER 6-7\nS: 224\nS: ."});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    QList<QByteArray> subjects;
    c.nntp.OnHeaderList = [&](QObject*) {
        subjects << c.nntp.HeaderRecord.GetPrSubject();
        EXPECT_EQ(c.nntp.HeaderLines[0], "Artid: " + QByteArray::number(4 + subjects.size()));
    };
    c.nntp.GetArticleList(false, 1); // below the first number: starts at the first
    EXPECT_EQ(subjects, (QList<QByteArray>{"First", "Second"}));
    EXPECT_EQ(c.nntp.HeaderRecord.GetPrLineCount(), 4);
    EXPECT_EQ(c.nntp.HeaderLines.GetValue("References"), "<1@x>");
    EXPECT_EQ(c.nntp.SummaryLines.Count(), 3);

    subjects.clear();
    c.nntp.GetArticleList(false, 7);
    EXPECT_TRUE(subjects.isEmpty());
    c.nntp.GetArticleList(false, 6);
    c.ExpectScriptPlayed();
}

// The fields OnSummary gives are those the header lines give OnHeaderList, whatever the shape
// of the line; and with OnSummary set no header lines are made.
TEST(NntpSummaries, OnSummaryGivesEachLinesFieldsAsItsHeaderListHasThem) {
    const QByteArray lines = OverviewShapesScript() + "S: x11\tnot a number\th@x\n";
    const QByteArray listing = "C: XOVER 1-11\nS: 224 follows\n" + lines + "S: .\n";
    ScriptedNntp c({"S: 200 ready\nC: GROUP a.b\nS: 211 11 1 11 a.b\n" + listing + listing});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    using TFields = std::array<QByteArray, 6>;
    QList<TFields> fromHeaderLines;
    c.nntp.OnHeaderList = [&](QObject*) {
        const TPostRecordType& record = c.nntp.HeaderRecord;
        fromHeaderLines.append({QByteArray::number(record.GetArticleId()),
                                record.GetPrFromAddress(), record.GetPrSubject(),
                                record.GetPrTimeDate(), c.nntp.HeaderLines.GetValue("Message-ID"),
                                c.nntp.HeaderLines.GetUnfoldedValue("References")});
    };
    c.nntp.GetArticleList(true, 1);
    ASSERT_EQ(fromHeaderLines.size(), kOverviewShapes + 1);

    const QList<TFields> before = std::exchange(fromHeaderLines, {});
    const TExStringList lastHeaderLines = c.nntp.HeaderLines;
    QList<TFields> fromFields;
    c.nntp.OnSummary = [&](const TSummaryLine& summary) {
        fromFields.append({QByteArray::number(summary.Number()),
                           summary.Field(nntpwire::kFromField).toByteArray(),
                           summary.Field(nntpwire::kSubjectField).toByteArray(),
                           summary.Field(nntpwire::kDateField).toByteArray(),
                           summary.Field(nntpwire::kMessageIdField).toByteArray(),
                           summary.Field(nntpwire::kReferencesField).toByteArray()});
    };
    c.nntp.GetArticleList(true, 1);
    EXPECT_EQ(fromFields, before);
    EXPECT_TRUE(fromHeaderLines.isEmpty());
    EXPECT_EQ(c.nntp.HeaderLines.Text(), lastHeaderLines.Text());
    c.ExpectScriptPlayed();
}

TEST(NntpSummaries, ARefusedXoverFallsBackToOneHeadPerArticle) {
    ScriptedNntp c(
        {"S: 200 ready\nC: GROUP a.b\nS: 211 2 1 2 a.b\nC: XOVER 1-2\nS: 500 what?\n"
         "C: HEAD 1\nS: 221 1 <1@x>\nS: Subject: one\nS: .\nC: HEAD 2\nS: 423 no such article"});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    QList<int> sizes;
    c.nntp.OnHeaderList = [&](QObject*) { sizes << c.nntp.HeaderLines.Count(); };
    c.nntp.GetArticleList(true, 0);
    EXPECT_EQ(sizes, (QList<int>{2, 0}));
    c.ExpectScriptPlayed();
}

TEST(NntpSummaries, AnOperationStartedFromAHandlerOfARunningOneDoesNothing) {
    ScriptedNntp c({"S: 200 ready\nC: GROUP a.b\nS: 211 1 1 1 a.b\nC: XOVER 1-1\nS: 224\n"
                    "R: 1\\ts\\tf\\td\\tm\\t\\t1\\t1\\r\\n\nS: ."});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    c.nntp.OnHeaderList = [&](QObject*) {
        c.nntp.GetArticle(1);
        c.nntp.SetGroup("x.y");
    };
    c.events.clear();
    c.nntp.GetArticleList(true, 0);
    EXPECT_TRUE(c.events.isEmpty());
    EXPECT_EQ(c.server.Received().size(), 2);
}

namespace {

// A script step that sends bytes as they are.
QByteArray RawStep(QByteArrayView bytes) {
    QByteArray step = "R: ";
    for (const char c : bytes) {
        switch (c) {
        case '\r':
            step += "\\r";
            break;
        case '\n':
            step += "\\n";
            break;
        case '\t':
            step += "\\t";
            break;
        case '\\':
            step += "\\\\";
            break;
        default:
            step += c;
        }
    }
    return step + '\n';
}

// Script steps that send bytes in pieces of pieceSize, each apart from the next.
QByteArray InPieces(const QByteArray& bytes, qsizetype pieceSize) {
    QByteArray steps;
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize) {
        steps += RawStep(QByteArrayView(bytes).sliced(at, std::min(pieceSize, bytes.size() - at)));
        steps += "W: 1\n";
    }
    return steps;
}

} // namespace

TEST(NntpSummaries, LinesCutAnywhereByTheNetworkGiveTheSameHeaderLists) {
    const QList<QByteArray> wireLines = {
        "1\tFirst\tann@x\tMon\t<1@x>\t\t100\t3\tXref: h a.b:1",
        "2\tonly two fields",
        "3\ta\tb\tc\td\te\tf\tg\th\tpast the ninth\tand more",
        "..4\tstuffed\tx",
        "5\tcarriage\rreturn\tx",
        "6\tlong\tx\td\t<6@x>\t" + QByteArray(4500, 'r') + "\t1\t1",
        "7\t\t\t\t\t\t\t\t",
    };
    QByteArray reply = "224 follows\r\n";
    QList<QByteArray> expected;
    for (const QByteArray& line : wireLines) {
        reply += line + "\r\n";
        QByteArray headerText;
        for (const QByteArray& field : nntpwire::SplitSummaryLine(nntpwire::Unstuff(line))) {
            headerText += field + "\r\n";
        }
        expected << headerText;
    }
    reply += ".\r\n";
    // A memory part of 100 bytes puts lines across its end into the overflow file; a handler
    // that lets the socket deliver meanwhile makes the buffer grow (the reply is over 4 KiB)
    // and move the bytes held.
    struct Case {
        qsizetype pieceSize;
        qint64 fifoCapacity;
        bool handlerPumps;
    };
    for (const Case& test :
         {Case{1, 0, false}, Case{2, 0, false}, Case{13, 0, false}, Case{64, 0, false},
          Case{1500, 0, false}, Case{100000, 0, false}, Case{1500, 0, true}, Case{13, 100, true},
          Case{1500, 100, false}, Case{100000, 100, true}}) {
        SCOPED_TRACE(testing::Message()
                     << test.pieceSize << " " << test.fifoCapacity << " " << test.handlerPumps);
        ScriptedNntp c({"S: 200 ready\nC: GROUP a.b\nS: 211 7 1 7 a.b\nC: XOVER 1-7\n" +
                        InPieces(reply, test.pieceSize)});
        c.nntp.Connect();
        c.nntp.SetGroup("a.b");
        if (test.fifoCapacity > 0) {
            c.nntp.SetFifoCapacity(test.fifoCapacity);
        }
        int linesSeen = 0;
        if (test.handlerPumps) {
            // Once the handler waits with the events running, as a window that repaints does,
            // and the rest of the reply arrives meanwhile.
            c.nntp.OnPacketRecvd = [&](QObject*) {
                if (++linesSeen == 2) {
                    QEventLoop pause;
                    QTimer::singleShot(100, &pause, &QEventLoop::quit);
                    pause.exec();
                }
            };
        }
        QList<QByteArray> headerTexts;
        c.nntp.OnHeaderList = [&](QObject*) {
            headerTexts << c.nntp.HeaderLines.Text();
            // A handler that changes the list must not leave its change in the next entry.
            c.nntp.HeaderLines.SetValue("X-Seen", "yes");
        };
        c.nntp.GetArticleList(true, 0);
        EXPECT_EQ(headerTexts, expected);
        EXPECT_EQ(c.nntp.SummaryLines.Count(), wireLines.size() + 1);
        EXPECT_EQ(c.nntp.SummaryLines[3], ".4\tstuffed\tx");
        c.ExpectScriptPlayed();
    }
}

namespace {

// A GROUP exchange announcing `announced` articles and an XOVER reply of count summaries.
QByteArray ListingScript(int count, int announced) {
    QByteArray script = "S: 200 ready\nC: GROUP a.b\nS: 211 " + QByteArray::number(announced) +
                        " 1 " + QByteArray::number(count) + " a.b\nC: XOVER 1-" +
                        QByteArray::number(count) + "\nS: 224 follows\n";
    for (int n = 1; n <= count; ++n) {
        script += RawStep(QByteArray::number(n) + "\ts\tf\td\tm\t\t1\t1\r\n");
    }
    return script + "S: .";
}

} // namespace

TEST(NntpSummaries, ProgressCountsSummariesAgainstTheAnnouncedCountAndAbortEndsTheListing) {
    ScriptedNntp c({ListingScript(2500, 2600)});
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    QStringList seen;
    c.nntp.OnListProgress = [&](qint64 received, qint64 announced) {
        seen << QStringLiteral("%1 of %2").arg(received).arg(announced);
    };
    c.nntp.OnHeaderList = [&](QObject*) {
        if (seen.last() != QStringLiteral("entries")) {
            seen << QStringLiteral("entries");
        }
    };
    c.nntp.GetArticleList(true, 0);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("1000 of 2600"), QStringLiteral("2000 of 2600"),
                                 QStringLiteral("2500 of 2600"), QStringLiteral("entries")}));

    ScriptedNntp aborted({ListingScript(2500, 2500)});
    aborted.nntp.Connect();
    aborted.nntp.SetGroup("a.b");
    int entries = 0;
    aborted.nntp.OnListProgress = [&](qint64, qint64) { aborted.nntp.Abort(); };
    aborted.nntp.OnHeaderList = [&](QObject*) { ++entries; };
    EXPECT_THROW(aborted.nntp.GetArticleList(true, 0), EAbortError);
    EXPECT_EQ(entries, 0);
    EXPECT_EQ(aborted.nntp.SummaryLines.Count(), 1000);
    EXPECT_FALSE(aborted.nntp.Connected);
}

// ---------------------------------------------------------------------------------------------
// Articles

TEST(NntpArticles, AnArticleFillsHeaderAndBodyAsTheyWereWritten) {
    ScriptedNntp c(
        {"S: 200 ready\nC: ARTICLE 9\nS: 220 9 <9@x> article\nS: Subject: dots\nS: Lines: 4\n"
         "S:  folded continuation\nS: \nS: ..starts with a dot\nS: ..\nS: plain\nS: ...\nS: ."});
    c.nntp.Connect();
    c.nntp.GetArticle(9);
    EXPECT_EQ(c.events.last(), QStringLiteral("article"));
    EXPECT_EQ(c.nntp.HeaderLines.Text(),
              "Subject: dots\r\nLines: 4\r\n folded continuation\r\n\r\nArtId: 9\r\n");
    EXPECT_EQ(c.nntp.HeaderRecord.GetArticleId(), 9);
    EXPECT_EQ(c.nntp.BodyLines.Text(), ".starts with a dot\r\n.\r\nplain\r\n..\r\n.\r\n");
    EXPECT_EQ(c.nntp.BytesTotal, 4);
    EXPECT_EQ(c.nntp.BytesRecvd, 5);
    EXPECT_EQ(c.nntp.LastArticleRequested, 9);
}

TEST(NntpArticles, AServerEndingLinesWithLfAloneIsReadWholly) {
    ScriptedNntp c({"R: 200 ready\\n\nC: ARTICLE 3\n"
                    "R: 220 3 <3@x>\\nSubject: lf\\nArtID: 77\\n\\nline one\\n..dot\\n.\\n"});
    c.nntp.Connect();
    c.nntp.GetArticle(3);
    EXPECT_EQ(c.nntp.HeaderLines.Text(), "Subject: lf\r\nArtId: 3\r\n\r\n");
    EXPECT_EQ(c.nntp.BodyLines.Text(), "line one\r\n.dot\r\n.\r\n");
}

TEST(NntpArticles, AMissingArticleIsReportedAndNotShown) {
    ScriptedNntp c(
        {"S: 200 ready\nC: ARTICLE 5\nS: 423 no such article number\nC: ARTICLE 6\nS: 430 gone"});
    c.nntp.Connect();
    c.nntp.LastArticleRequested = 1;
    EXPECT_EQ(MessageOf<Exception>([&] { c.nntp.GetArticle(5); }),
              QStringLiteral("Article not Found"));
    EXPECT_EQ(c.events, (QStringList{QStringLiteral("connect"), QStringLiteral("invalid")}));
    EXPECT_EQ(MessageOf<Exception>([&] { c.nntp.GetArticle(6); }),
              QStringLiteral("Article not Found"));
    EXPECT_EQ(c.events.size(), 2);
    EXPECT_EQ(c.nntp.LastArticleRequested, 1);
    EXPECT_FALSE(c.nntp.Busy);
}

TEST(NntpArticles, HeaderAndBodyAloneAndTheirRefusals) {
    ScriptedNntp c(
        {"S: 200 ready\nC: HEAD 2\nS: 221 2 <2@x>\nS: Subject: h\nS: .\nC: BODY 2\nS: 222 2 <2@x>\n"
         "S: b\nS: .\nC: HEAD 3\nS: 423 none\nC: BODY 3\nS: 423 none"});
    c.nntp.Connect();
    c.nntp.GetArticleHeader(2);
    EXPECT_EQ(c.nntp.HeaderLines.Text(), "Subject: h\r\n.\r\nArtId: 2\r\n");
    c.nntp.GetArticleBody(2);
    EXPECT_EQ(c.nntp.BodyLines.Text(), "b\r\n.\r\n");
    c.events.clear();
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.GetArticleHeader(3); }),
              QStringLiteral("Retreival Failed"));
    EXPECT_EQ(c.nntp.HeaderLines.Text(), "ArtId: 3\r\n");
    EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.GetArticleBody(3); }),
              QStringLiteral("Retreival Failed"));
    EXPECT_EQ(c.events, (QStringList{QStringLiteral("header"), QStringLiteral("body")}));
}

TEST(NntpArticles, ProgressReportsTheBodyBytesEvery64KibAndAtTheEnd) {
    QByteArray script = "S: 200 ready\nC: BODY 2\nS: 222 2 <2@x>\n";
    for (int n = 0; n < 3000; ++n) {
        script += "S: " + QByteArray(48, 'a' + n % 26) + '\n';
    }
    ScriptedNntp c({script + "S: ."});
    c.nntp.Connect();
    QList<qint64> progress;
    c.nntp.OnArticleProgress = [&](qint64 bytes) { progress << bytes; };
    c.nntp.GetArticleBody(2);
    EXPECT_EQ(progress, (QList<qint64>{65550, 131100, 150000}));
}

// ---------------------------------------------------------------------------------------------
// Disconnecting and the rest

TEST(NntpSession, DisconnectSendsQuitOnlyWhenConnected) {
    ScriptedNntp c({"S: 200 ready\nC: QUIT\nS: 205 bye"});
    c.nntp.Disconnect();
    EXPECT_EQ(c.server.Connections(), 0);
    c.nntp.Connect();
    c.nntp.Disconnect();
    EXPECT_FALSE(c.nntp.Connected);
    c.ExpectScriptPlayed();
}

TEST(NntpSession, OperationsWithoutAConnectionAskForOne) {
    ScriptedNntp c({"S: 200 ready\nC: LIST\nS: 215\nS: ."});
    EXPECT_EQ(MessageOf<Exception>([&] { c.nntp.GetGroupList(); }),
              QStringLiteral("Not Connected"));
    EXPECT_FALSE(c.nntp.Busy);
    c.nntp.OnConnectionRequired = [&](bool& handled) {
        c.nntp.Connect();
        handled = true;
    };
    c.nntp.GetGroupList();
    EXPECT_EQ(c.nntp.GroupLines.Count(), 1);
    EXPECT_FALSE(c.nntp.Busy);
}

TEST(NntpSession, DirectoriesKeepATrailingSeparator) {
    TQRNNTP nntp;
    EXPECT_EQ(nntp.Port, 119);
    nntp.SetAttachmentPath(QStringLiteral("/tmp/att"));
    EXPECT_EQ(nntp.AttachFilePath(), QStringLiteral("/tmp/att/"));
    nntp.SetAttachmentPath(QStringLiteral("/tmp/att/"));
    EXPECT_EQ(nntp.AttachFilePath(), QStringLiteral("/tmp/att/"));
    nntp.SetAttachmentPath(QString());
    EXPECT_EQ(nntp.AttachFilePath(), QString());
    nntp.SetNewsDir(QStringLiteral("news"));
    EXPECT_EQ(nntp.NewsDir(), QStringLiteral("news/"));
}

// RFC 3977, section 6.2.1: by Message-ID, as by number, with the number the reply gives; an
// unknown id is said as such, and a malformed one never reaches the server.
TEST(NntpArticles, ByMessageIdFromAnyGroupOrNone) {
    ScriptedNntp c({"S: 200 ready\n"
                    "C: ARTICLE <a@x>\nS: 220 0 <a@x>\nS: Subject: elsewhere\nS: \nS: body\nS: .\n"
                    "C: HEAD <b@x>\nS: 221 7 <b@x>\nS: Subject: here\nS: .\n"
                    "C: BODY <b@x>\nS: 222 7 <b@x>\nS: text\nS: .\n"
                    "C: ARTICLE <gone@x>\nS: 430 no such article\n"
                    "C: HEAD <gone@x>\nS: 430 no such article\n"
                    "C: BODY <gone@x>\nS: 430 no such article\n"
                    "C: QUIT\nS: 205 bye"});
    c.nntp.Connect();
    c.nntp.LastArticleRequested = 3;
    c.nntp.GetArticleById("<a@x>");
    EXPECT_EQ(c.nntp.HeaderLines.Text(), "Subject: elsewhere\r\n\r\nArtId: 0\r\n");
    EXPECT_EQ(c.nntp.BodyLines.Text(), "body\r\n.\r\n");
    c.nntp.GetArticleHeaderById("<b@x>");
    EXPECT_EQ(c.nntp.HeaderLines.Text(), "Subject: here\r\n.\r\nArtId: 7\r\n");
    c.nntp.GetArticleBodyById("<b@x>");
    EXPECT_EQ(c.nntp.BodyLines.Text(), "text\r\n.\r\n");
    EXPECT_EQ(c.nntp.LastArticleRequested, 3);
    EXPECT_EQ(c.events, (QStringList{u"connect"_s, u"article"_s, u"header"_s, u"body"_s}));

    const std::function<void(const QByteArray&)> retrievals[] = {
        [&](const QByteArray& id) { c.nntp.GetArticleById(id); },
        [&](const QByteArray& id) { c.nntp.GetArticleHeaderById(id); },
        [&](const QByteArray& id) { c.nntp.GetArticleBodyById(id); }};
    for (const auto& retrieve : retrievals) {
        EXPECT_EQ(MessageOf<NNTPError>([&] { retrieve("<gone@x>"); }),
                  u"No such article <gone@x>"_s);
        EXPECT_TRUE(c.nntp.Connected);
        for (const QByteArray& malformed : {QByteArray("<a@x>\r\nQUIT"), QByteArray("a@x"),
                                            QByteArray("<a b@x>"), QByteArray("<a\x01@x>")}) {
            EXPECT_TRUE(MessageOf<Exception>([&] { retrieve(malformed); })
                            .startsWith(u"Not a Message-ID"_s));
        }
        EXPECT_FALSE(c.nntp.Busy);
    }
    c.nntp.Disconnect();
    c.ExpectScriptPlayed();
}
