#include "net/deflatestream.h"

#include "testhelpers.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Lines of an overview listing, the text a compressed connection carries most.
QByteArray OverviewLines(int count) {
    QByteArray lines;
    for (int n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n);
        lines += number + "\tRe: Subject of thread " + QByteArray::number(n / 5) + "\tuser" +
                 number + "@example.org (User " + number +
                 ")\tMon, 1 Jan 2024 10:00:00 +0000\t<" + number + "@example.org>\t\t1200\t30\r\n";
    }
    return lines;
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(8054);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

QByteArray AllByteValues() {
    QByteArray bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(value);
    }
    return bytes;
}

// A stored block (RFC 1951, 3.2.4) that is the stream's last: "abc", then the stream ends.
const QByteArray kFinalStoredBlock = QByteArray("\x01\x03\x00\xfc\xff" "abc", 8);

} // namespace

TEST(DeflateStream, WhatIsDeflatedInflatesToTheSameBytes) {
    struct Case {
        const char* name;
        QByteArray plain;
    };
    const Case cases[] = {
        {"a command", "GROUP zk.test.small\r\n"},
        {"one byte", "x"},
        {"every byte value", AllByteValues()},
        {"an overview listing", OverviewLines(2000)},
        {"random bytes, which do not shrink", RandomBytes(300000)},
        {"ten megabytes of zeros", QByteArray(10 * 1024 * 1024, '\0')},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TDeflateStream client;
        TDeflateStream server;
        const QByteArray compressed = client.Deflate(test.plain);
        EXPECT_EQ(server.Inflate(compressed), test.plain);
    }
}

TEST(DeflateStream, EachWriteIsFlushedWholeAndTextShrinks) {
    // The peer must be able to act on every write at once: each deflated piece alone inflates
    // to all of its text, with nothing held back for the next.
    TDeflateStream sender;
    TDeflateStream receiver;
    qsizetype plainBytes = 0;
    qsizetype compressedBytes = 0;
    for (const QByteArray& write :
         {QByteArray("GROUP zk.test.big\r\n"), OverviewLines(500), QByteArray("QUIT\r\n"),
          OverviewLines(500)}) {
        const QByteArray compressed = sender.Deflate(write);
        EXPECT_EQ(receiver.Inflate(compressed), write);
        plainBytes += write.size();
        compressedBytes += compressed.size();
    }
    // An overview listing deflates five to ten times; a third is a wide bound.
    EXPECT_LT(compressedBytes * 3, plainBytes);
}

TEST(DeflateStream, DataSplitAtAnyByteInflatesTheSame) {
    TDeflateStream sender;
    const QByteArray plain = "200 ready\r\n" + OverviewLines(20) + "205 bye\r\n";
    QByteArray compressed = sender.Deflate(plain.left(11));
    compressed += sender.Deflate(plain.mid(11));
    for (qsizetype split = 0; split <= compressed.size(); ++split) {
        SCOPED_TRACE(split);
        TDeflateStream receiver;
        QByteArray inflated = receiver.Inflate(compressed.left(split));
        inflated += receiver.Inflate(compressed.mid(split));
        ASSERT_EQ(inflated, plain);
    }
    TDeflateStream byteByByte;
    QByteArray inflated;
    for (const char byte : compressed) {
        inflated += byteByByte.Inflate(QByteArrayView(&byte, 1));
    }
    EXPECT_EQ(inflated, plain);
}

TEST(DeflateStream, AStreamCutShortGivesWhatItHoldsAndTheRestCompletesIt) {
    TDeflateStream sender;
    const QByteArray first = "211 3 1 3 a.b\r\n";
    QByteArray compressed = sender.Deflate(first);
    compressed += sender.Deflate(OverviewLines(50));
    TDeflateStream receiver;
    QByteArray inflated = receiver.Inflate(compressed.left(compressed.size() / 2));
    EXPECT_TRUE(inflated.startsWith(first));
    EXPECT_LT(inflated.size(), first.size() + OverviewLines(50).size());
    inflated += receiver.Inflate(compressed.mid(compressed.size() / 2));
    EXPECT_EQ(inflated, first + OverviewLines(50));
}

TEST(DeflateStream, DataThatDoesNotInflateRaisesAndKeepsRaising) {
    TDeflateStream sender;
    const QByteArray valid = sender.Deflate("211 3 1 3 a.b\r\n");
    struct Case {
        const char* name;
        QByteArray received;
        QByteArray plainBeforeTheFault;
        const char* reason;
    };
    const Case cases[] = {
        {"a reserved block type", "\xff\xff\xff\xff", "", "invalid block type"},
        {"a stored block whose length fails its check", QByteArray("\x00\x05\x00\x00\x00", 5),
         "", "invalid stored block lengths"},
        {"garbage after a good reply", valid + "\xff\xff\xff", "211 3 1 3 a.b\r\n",
         "invalid block type"},
        {"bytes after the stream's last block", kFinalStoredBlock + "x", "abc",
         "data after the end of the compressed stream"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TDeflateStream receiver;
        QByteArray plain;
        const QString message = MessageOf<EDeflateError>([&] {
            receiver.Inflate(test.received, [&](QByteArrayView piece) { plain.append(piece); });
        });
        EXPECT_EQ(plain, test.plainBeforeTheFault);
        EXPECT_EQ(message, QStringLiteral("Compressed data from the server does not inflate: ") +
                               QLatin1String(test.reason));
        EXPECT_EQ(MessageOf<EDeflateError>([&] { receiver.Inflate(valid); }), message)
            << "a broken stream cannot be taken up again";
    }
}

TEST(DeflateStream, ALargeInflationArrivesInBoundedPieces) {
    // A few kilobytes on the wire can stand for megabytes: they reach the buffer piece by
    // piece instead of all at once in memory.
    const QByteArray plain(20 * 1024 * 1024, 'a');
    const QByteArray compressed = TDeflateStream().Deflate(plain);
    EXPECT_LT(compressed.size(), 64 * 1024);
    TDeflateStream receiver;
    qsizetype total = 0;
    qsizetype largest = 0;
    receiver.Inflate(compressed, [&](QByteArrayView piece) {
        total += piece.size();
        largest = std::max(largest, piece.size());
    });
    EXPECT_EQ(total, plain.size());
    EXPECT_LE(largest, TDeflateStream::kPiece);
}
