#include "net/nwire.h"
#include "net/protocollog.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "wait.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

TEST(Nwire, TransactionParsesTheReplyCodeAndKeepsTheLineEnd) {
    ScriptedWire w({"S: 200 hello\nC: GROUP a\nS: 211 3 1 3 a\nC: HELP\nS: hello there\nC: BIG\n"
           "S: 99999 too big"});
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 hello\r\n");
    EXPECT_EQ(w.wire.Transaction("GROUP a"), "211 3 1 3 a\r\n");
    EXPECT_EQ(w.wire.ReplyCode, 211);
    EXPECT_EQ(w.wire.LastReply, "211 3 1 3 a\r\n");
    EXPECT_EQ(w.wire.Transaction("HELP"), "hello there\r\n");
    EXPECT_EQ(w.wire.ReplyCode, 0);
    EXPECT_EQ(MessageOf<Exception>([&] { w.wire.Transaction("BIG"); }),
              QStringLiteral("Range check error"));
    w.ExpectScriptPlayed();
}

TEST(Nwire, LinesArrivingTogetherOrWithBareLfAreSplitAtLf) {
    ScriptedWire w({"R: first\\r\\nsecond\\r\\nthird\\nfourth\\n"});
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "first\r\n");
    EXPECT_EQ(w.wire.ReadLn(), "second\r\n");
    EXPECT_EQ(w.wire.ReadLn(), "third\n");
    EXPECT_EQ(w.wire.ReadLn(), "fourth\n");
}

TEST(Nwire, ALineTrickledByteByByteIsAssembled) {
    ScriptedWire w({"S~ 200 slow but steady"});
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 slow but steady\r\n");
}

// A line may be up to kMaxLineLength long, its line end included. One that passes it ends the
// read as soon as the limit is passed, whether its end has come or not, and closes the
// connection. The server holds the connection open, and the time-out is far above reading the
// bytes on loopback: only a client that waits for the end of the line reaches it.
TEST(Nwire, ALineUpToTheLimitIsReadAndALongerOneEndsTheReadAndTheConnection) {
    const QByteArray longest(TNetwire::kMaxLineLength - 2, 'a');
    const QByteArray tooLong(TNetwire::kMaxLineLength - 1, 'a');
    const auto readLines = [](TNetwire& wire) {
        QList<qsizetype> sizes;
        wire.ReadLinesUntil([&](QByteArrayView line) {
            sizes.append(line.size());
            return sizes.size() == 2;
        });
        return sizes;
    };
    struct Case {
        const char* what;
        QByteArray sent;
        std::function<QList<qsizetype>(TNetwire&)> read;
        QList<qsizetype> sizes; // empty: "Reply line too long"
    };
    const QList<Case> cases = {
        {"the longest line", longest + "\\r\\n",
         [](TNetwire& wire) { return QList<qsizetype>{wire.ReadLn().size()}; },
         {TNetwire::kMaxLineLength}},
        {"the longest among others", "first\\r\\n" + longest + "\\r\\n", readLines,
         {7, TNetwire::kMaxLineLength}},
        {"one byte more", tooLong + "\\r\\n",
         [](TNetwire& wire) { return QList<qsizetype>{wire.ReadLn().size()}; }, {}},
        {"one byte more among others", "first\\r\\n" + tooLong + "\\r\\n", readLines, {}},
        {"no line end at all", tooLong + tooLong, readLines, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedWire w({"R: " + test.sent});
        w.wire.TimeOut = 60000;
        w.wire.Connect();
        if (test.sizes.isEmpty()) {
            EXPECT_EQ(MessageOf<ESockError>([&] { test.read(w.wire); }),
                      QStringLiteral("Reply line too long"));
            EXPECT_FALSE(w.wire.Connected);
        } else {
            EXPECT_EQ(test.read(w.wire), test.sizes);
            EXPECT_TRUE(w.wire.Connected);
        }
    }
}

TEST(Nwire, DottedAddressConnectsWithoutLookupAndConnectTwiceIsRefused) {
    ScriptedWire w({"S: 200 hi"});
    int resolved = 0;
    int connects = 0;
    w.wire.OnHostResolved = [&](QObject*) { ++resolved; };
    w.wire.OnConnect = [&](QObject*) { ++connects; };
    w.wire.Connect();
    EXPECT_TRUE(w.wire.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(w.wire.GetRemoteIP(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(w.wire.GetLocalIP(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(MessageOf<ESockError>([&] { w.wire.Connect(); }), QStringLiteral("Already connected"));
}

TEST(Nwire, NamesAreLookedUpAndAnUnresolvableHostGetsOneSecondChance) {
    ScriptedWire w({"S: 200 hi"});
    int resolved = 0;
    int invalid = 0;
    w.wire.OnHostResolved = [&](QObject*) { ++resolved; };
    w.wire.Host = QStringLiteral("no-such-host.invalid");
    w.wire.OnInvalidHost = [&](bool& handled) {
        ++invalid;
        w.wire.Host = QStringLiteral("localhost");
        handled = true;
    };
    w.wire.Connect();
    EXPECT_EQ(invalid, 1);
    EXPECT_EQ(resolved, 1);
    EXPECT_TRUE(w.wire.Connected);

    TNetwire again;
    again.Host = QStringLiteral("no-such-host.invalid");
    again.Port = w.server.Port();
    invalid = 0;
    again.OnInvalidHost = [&](bool& handled) {
        ++invalid;
        again.Host = QStringLiteral("still-no-such-host.invalid");
        handled = true;
    };
    EXPECT_EQ(MessageOf<ESockError>([&] { again.Connect(); }), QStringLiteral("Null Remote Address"));
    EXPECT_EQ(invalid, 1);

    TNetwire unhandled;
    unhandled.Host = QStringLiteral("no-such-host.invalid");
    EXPECT_EQ(MessageOf<ESockError>([&] { unhandled.Connect(); }),
              QStringLiteral("Null Remote Address"));
}

TEST(Nwire, ARefusedConnectionFailsWithTheTableNumber) {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    TNetwire wire;
    wire.Host = QStringLiteral("127.0.0.1");
    wire.Port = port;
    int failed = 0;
    wire.OnConnectionFailed = [&](QObject*) { ++failed; };
    EXPECT_EQ(MessageOf<ESockError>([&] { wire.Connect(); }), QStringLiteral("Connection Failed"));
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(wire.GetLastErrorNo(), 10061);
    EXPECT_EQ(wire.SocketErrorStr(10061), QStringLiteral("10061:Connection refused"));
    EXPECT_EQ(wire.SocketErrorStr(11001), QStringLiteral("11001:Host not found"));
    EXPECT_EQ(wire.SocketErrorStr(0), QString());
    EXPECT_EQ(wire.SocketErrorStr(4242), QStringLiteral("Unknown Error No. 4242"));
}

TEST(Nwire, ASilentServerTimesOutAndTheNextConnectStartsClean) {
    ScriptedWire w({"S: 200 then silence", "S: 200 second"});
    TNetwire& wire = w.wire;
    wire.TimeOut = 700;
    wire.Connect();
    EXPECT_EQ(wire.ReadLn(), "200 then silence\r\n");
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(MessageOf<EAbortError>([&] { wire.ReadLn(); }), QStringLiteral("Socket readln aborted"));
    EXPECT_GE(elapsed.elapsed(), 600);
    // The server stays silent, so only the time-out can end the read; the bound only tells a
    // time-out that fired from one that did not, with room for a busy machine.
    EXPECT_LT(elapsed.elapsed(), 700 + 9000);
    wire.Disconnect();
    EXPECT_FALSE(wire.Connected);
    wire.Connect();
    EXPECT_EQ(wire.ReadLn(), "200 second\r\n");
}

TEST(Nwire, AbortEndsAWaitingReadAtOnce) {
    ScriptedWire w({"S: 200 hi"});
    w.wire.TimeOut = 0;
    w.wire.Connect();
    w.wire.ReadLn();
    QElapsedTimer elapsed;
    qint64 abortedAt = -1;
    QTimer::singleShot(100, &w.wire, [&] {
        abortedAt = elapsed.elapsed();
        w.wire.Abort();
    });
    elapsed.start();
    EXPECT_EQ(MessageOf<EAbortError>([&] { w.wire.ReadLn(); }), QStringLiteral("Socket readln aborted"));
    // Without the abort the read would never end (no time-out, a silent server); with it, it
    // ends within a wait slice of 300 ms. The bound leaves room for a busy machine.
    ASSERT_GE(abortedAt, 0);
    EXPECT_LT(elapsed.elapsed() - abortedAt, 3000);
}

TEST(Nwire, PeerCloseEndsReadsAtOnceAfterTheBufferedLines) {
    ScriptedWire w({"S: 200 last words\nR: partial\nX:"});
    w.wire.TimeOut = 0; // without the close rule this would wait forever
    int disconnects = 0;
    w.wire.OnDisconnect = [&](QObject*) { ++disconnects; };
    w.wire.Connect();
    ASSERT_TRUE(WaitUntil([&] { return !w.wire.Connected; }));
    EXPECT_GE(disconnects, 1);
    EXPECT_EQ(w.wire.ReadLn(), "200 last words\r\n");
    EXPECT_EQ(MessageOf<EAbortError>([&] { w.wire.ReadLn(); }), QStringLiteral("Socket readln aborted"));
    EXPECT_EQ(MessageOf<EAbortError>([&] { w.wire.Read(100); }), QStringLiteral("Socket send aborted"));
    EXPECT_EQ(w.wire.Read(7), "partial");
}

TEST(Nwire, SendStreamSendsInBlocksAndCountsBytes) {
    ScriptedWire w({QByteArray()});
    TNetwire& wire = w.wire;
    const FakeServer& server = w.server;
    wire.Connect();
    QByteArray payload;
    for (int i = 0; payload.size() < 200000; ++i) {
        payload += QByteArray::number(i).rightJustified(9, '0') + '\n';
    }
    payload.truncate(200000);
    QBuffer stream(&payload);
    stream.open(QIODevice::ReadOnly);
    int packets = 0;
    wire.OnPacketSent = [&](QObject*) { ++packets; };
    wire.SendStream(stream);
    EXPECT_EQ(wire.BytesSent, 200000);
    EXPECT_EQ(wire.BytesTotal, 200000);
    EXPECT_GE(packets, 4);
    ASSERT_TRUE(WaitUntil([&] { return server.Received().size() == 20000; }));
    EXPECT_EQ(server.Received().last(), "000019999");

    QByteArray empty;
    QBuffer nothing(&empty);
    nothing.open(QIODevice::ReadOnly);
    packets = 0;
    wire.SendStream(nothing);
    EXPECT_EQ(packets, 0);
}

TEST(Nwire, WritesOnAClosedConnectionRaiseTheSocketError) {
    TNetwire wire;
    quint16 reported = 0;
    wire.OnError = [&](QObject*, quint16 number, const QString&) { reported = number; };
    EXPECT_EQ(MessageOf<ESockError>([&] { wire.Writeln("QUIT"); }),
              QStringLiteral("10057:Socket is not connected"));
    EXPECT_EQ(reported, 10057);
}

TEST(Nwire, CapturesTakeWhatArrivesAndAbortKeepsIt) {
    // The late bytes come a minute after the first: the abort, 100 ms after those, always
    // comes first, however busy the machine.
    ScriptedWire w({"R: 0123456789\nW: 60000\nR: late"});
    w.wire.Connect();
    QByteArray captured;
    QBuffer stream(&captured);
    stream.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WaitUntil([&] { return w.wire.DataAvailable(); }));
    int packets = 0;
    w.wire.OnPacketRecvd = [&](QObject*) {
        if (++packets == 1) {
            QTimer::singleShot(100, &w.wire, [&] { w.wire.Abort(); });
        }
    };
    EXPECT_EQ(MessageOf<EAbortError>([&] { w.wire.CaptureStream(stream, 1000); }),
              QStringLiteral("Socket capture aborted"));
    EXPECT_EQ(captured, "0123456789");
    EXPECT_EQ(w.wire.BytesRecvd, 10);

    ScriptedWire once({"R: abc"});
    once.wire.Connect();
    ASSERT_TRUE(WaitUntil([&] { return once.wire.DataAvailable(); }));
    QByteArray text;
    once.wire.CaptureString(text, -1);
    EXPECT_EQ(text, "abc");
    QByteArray none;
    QBuffer empty(&none);
    empty.open(QIODevice::WriteOnly);
    packets = 0;
    once.wire.OnPacketRecvd = [&](QObject*) { ++packets; };
    once.wire.CaptureStream(empty, -1);
    EXPECT_EQ(none, "");
    EXPECT_EQ(packets, 1);
}

TEST(Nwire, CaptureUntilCloseAndFilterHeader) {
    ScriptedWire w({"S: Subject: x\nS: From: y\nS: \nS: body\nX:"});
    w.wire.Connect();
    QByteArray header;
    QBuffer headerStream(&header);
    headerStream.open(QIODevice::WriteOnly);
    w.wire.FilterHeader(headerStream);
    EXPECT_EQ(header, "Subject: x\r\nFrom: y\r\n\r\n");
    QByteArray rest;
    QBuffer restStream(&rest);
    restStream.open(QIODevice::WriteOnly);
    w.wire.CaptureStream(restStream, -2);
    EXPECT_EQ(rest, "body\r\n");
}

TEST(Nwire, StatusIsFilteredByReportLevel) {
    ScriptedWire w({"S: 200 hi\nC: X\nS: 500 what"});
    QStringList seen;
    w.wire.OnStatus = [&](QObject*, const QString& status) { seen.append(status); };
    w.wire.ReportLevel = 1;
    w.wire.Connect();
    w.wire.ReadLn();
    w.wire.Transaction("X");
    EXPECT_EQ(seen, QStringList{QStringLiteral("500 what\r\n")});
    seen.clear();
    w.wire.ReportLevel = 8;
    w.wire.Disconnect();
    EXPECT_TRUE(seen.contains(QStringLiteral("Disconnecting")));
    EXPECT_TRUE(seen.contains(QStringLiteral("Request Close Socket")));
}

TEST(NwireText, NthWordAndNthPos) {
    EXPECT_EQ(NthWord("211 3 1 3 misc.test", ' ', 2), "3");
    EXPECT_EQ(NthWord("211 3 1 3 misc.test", ' ', 5), "misc.test");
    EXPECT_EQ(NthWord("a  b", ' ', 2), "");
    EXPECT_EQ(NthWord("a  b", ' ', 3), "b");
    EXPECT_EQ(NthWord("", ' ', 1), "");
    EXPECT_EQ(NthWord("a b", ' ', 7), "");
    EXPECT_EQ(NthPos("a b c", ' ', 2), 4);
    EXPECT_EQ(NthPos("abc", ' ', 1), 4);
    QByteArray out;
    QBuffer stream(&out);
    stream.open(QIODevice::WriteOnly);
    StreamLn(stream, "line");
    EXPECT_EQ(out, "line\r\n");
}

TEST(NwireText, TheProtocolLogNeverShowsAPassword) {
    EXPECT_EQ(protocollog::Masked("AUTHINFO PASS secret\r\n"), "AUTHINFO PASS ********\r\n");
    EXPECT_EQ(protocollog::Masked("authinfo pass secret"), "authinfo pass ********");
    EXPECT_EQ(protocollog::Masked("PASS secret\r\n"), "PASS ********\r\n");
    EXPECT_EQ(protocollog::Masked("AUTHINFO USER fred\r\n"), "AUTHINFO USER fred\r\n");
    EXPECT_EQ(protocollog::Masked("PASSWORD is not a command"), "PASSWORD is not a command");
}
