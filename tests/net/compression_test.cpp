// The compressed connection against the fake server, whose side of the streams is zlib's own.
#include "net/nwire.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "wait.h"

#include <gtest/gtest.h>

namespace {

// The agreement, as the news protocol reaches it: from the server's Z: on both sides compress.
constexpr char kAgreed[] = "S: 200 hello\nC: COMPRESS DEFLATE\nS: 206 compression active\nZ:\n";

// Lines of an overview listing: text that deflates many times.
QByteArray OverviewScript(int count) {
    QByteArray lines = "S: 224 overview follows\n";
    for (int n = 1; n <= count; ++n) {
        lines += "S: " + QByteArray::number(n) + "\tSubject number " + QByteArray::number(n) +
                 "\tuser@example.org\tMon, 1 Jan 2024 10:00:00 +0000\t<" + QByteArray::number(n) +
                 "@example.org>\t\t1200\t30\n";
    }
    return lines + "S: .\n";
}

// Connects, reads the greeting and agrees on compression.
void Agree(TNetwire& wire) {
    wire.Connect();
    EXPECT_EQ(wire.ReadLn(), "200 hello\r\n");
    EXPECT_EQ(wire.Transaction("COMPRESS DEFLATE"), "206 compression active\r\n");
    wire.StartCompression();
}

qint64 ReadListing(TNetwire& wire) {
    qint64 plainBytes = 0;
    QByteArray line;
    do {
        line = wire.ReadLn();
        plainBytes += line.size();
    } while (line != ".\r\n" && !line.isEmpty());
    return plainBytes;
}

} // namespace

TEST(Compression, LinesGoBothWaysCompressedAndTheWireCarriesFewerBytes) {
    struct Case {
        const char* name;
        TSecurity security;
        QByteArray opening;
    };
    const Case cases[] = {
        {"plain", TSecurity::None, ""},
        {"inside TLS", TSecurity::Tls, "E:\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedWire w({test.opening + kAgreed + "C: GROUP a.b\nS: 211 3 1 3 a.b\nC: XOVER 1-3000\n" +
                        OverviewScript(3000) + "C: QUIT\nS: 205 bye\n"},
                       test.security);
        Agree(w.wire);
        EXPECT_TRUE(w.wire.Compressed());
        EXPECT_EQ(w.wire.Encrypted(), test.security == TSecurity::Tls);
        EXPECT_EQ(w.wire.Transaction("GROUP a.b"), "211 3 1 3 a.b\r\n");
        const qint64 wireBefore = w.wire.WireBytesRecvd;
        const qint64 sentBefore = w.wire.WireBytesSent;
        EXPECT_EQ(w.wire.Transaction("XOVER 1-3000"), "224 overview follows\r\n");
        const qint64 plainBytes = ReadListing(w.wire) + 24;
        // An overview listing deflates five to ten times; a third is a wide bound.
        EXPECT_LT((w.wire.WireBytesRecvd - wireBefore) * 3, plainBytes);
        EXPECT_GT(w.wire.WireBytesSent, sentBefore);
        EXPECT_EQ(w.wire.Transaction("QUIT"), "205 bye\r\n");
        ASSERT_TRUE(WaitUntil([&] { return w.server.Finished(); }));
        w.ExpectScriptPlayed();
    }
}

TEST(Compression, BytesBufferedBehindTheAgreementAreInflated) {
    // The server compresses from the byte after its 206 line; what it sent at once behind that
    // line lies in the buffer, still compressed, when compression starts.
    ScriptedWire w({QByteArray(kAgreed) + "S: 211 3 1 3 a.b\nS: 211 4 1 4 c.d\n"});
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 hello\r\n");
    EXPECT_EQ(w.wire.Transaction("COMPRESS DEFLATE"), "206 compression active\r\n");
    ASSERT_TRUE(WaitUntil([&] { return w.server.Finished(); }));
    ASSERT_TRUE(WaitUntil([&] { return w.wire.DataAvailable(); }));
    w.wire.StartCompression();
    EXPECT_EQ(w.wire.ReadLn(), "211 3 1 3 a.b\r\n");
    EXPECT_EQ(w.wire.ReadLn(), "211 4 1 4 c.d\r\n");
}

TEST(Compression, ABrokenStreamIsAClearErrorAndDropsTheConnection) {
    struct Case {
        const char* name;
        QByteArray afterAgreement;
        const char* error;
    };
    const Case cases[] = {
        {"garbage where the reply should be", "R: \\xff\\xff\\xff\\xff\n",
         "Compressed data from the server does not inflate: invalid block type"},
        {"garbage after a good line", "S: 211 3 1 3 a.b\nR: \\xff\\xff\\xff\\xff\n",
         "Compressed data from the server does not inflate: invalid block type"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedWire w({kAgreed + test.afterAgreement});
        Agree(w.wire);
        const QString error = MessageOf<ESockError>([&] {
            while (w.wire.ReadLn() == "211 3 1 3 a.b\r\n") {
            }
        });
        EXPECT_EQ(error, QString::fromLatin1(test.error));
        EXPECT_FALSE(w.wire.Connected);
        EXPECT_FALSE(w.wire.Compressed());
        ASSERT_TRUE(WaitUntil([&] { return w.server.OpenConnections() == 0; }));
    }
}

TEST(Compression, AConnectionEndingInsideABlockEndsAsAPlainOneDoes) {
    // A server that goes away leaves its stream wherever its last flush left it: that is a
    // connection that ended, not a stream that broke.
    ScriptedWire w({QByteArray(kAgreed) + "R: \\x00\\x10\\x00\\xef\\xffhalf\nX:\n"});
    Agree(w.wire);
    EXPECT_EQ(MessageOf<EAbortError>([&] { w.wire.ReadLn(); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_FALSE(w.wire.Connected);
}

TEST(Compression, ANewConnectionStartsUncompressedWithItsCountersAtZero) {
    ScriptedWire w({QByteArray(kAgreed) + "C: QUIT\nS: 205 bye\nX:\n",
                    "S: 200 hello again\nC: GROUP a.b\nS: 211 3 1 3 a.b\n"});
    Agree(w.wire);
    EXPECT_EQ(w.wire.Transaction("QUIT"), "205 bye\r\n");
    w.wire.Disconnect();
    EXPECT_FALSE(w.wire.Compressed());
    w.wire.Connect();
    EXPECT_EQ(w.wire.WireBytesSent, 0);
    EXPECT_FALSE(w.wire.Compressed());
    EXPECT_EQ(w.wire.ReadLn(), "200 hello again\r\n");
    EXPECT_EQ(w.wire.Transaction("GROUP a.b"), "211 3 1 3 a.b\r\n");
    // Uncompressed, the wire carries exactly the lines.
    EXPECT_EQ(w.wire.WireBytesRecvd, 17 + 15);
    EXPECT_EQ(w.wire.WireBytesSent, 11);
    w.ExpectScriptPlayed();
}
