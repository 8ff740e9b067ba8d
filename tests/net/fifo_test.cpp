#include "net/qrfifobuffer.h"
#include "net/qrfilebuffer.h"
#include "util/exception.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include "testhelpers.h"

#include <gtest/gtest.h>

TEST(Fifo, RemoveDeliversTheOldestBytesAndNeverMoreThanHeld) {
    TQRFifoBuffer fifo;
    fifo.Append("0123456789", 10);
    EXPECT_EQ(fifo.Remove(4), "0123");
    EXPECT_EQ(fifo.Count(), 6);
    EXPECT_EQ(fifo.Remove(10), "456789");
    EXPECT_EQ(fifo.Count(), 0);
    char byte;
    EXPECT_EQ(fifo.Remove(&byte, 1), 0);
    EXPECT_EQ(fifo.Append(nullptr, 0), 0);
}

TEST(Fifo, SearchFindsTheFirstLineOrSaysImpossible) {
    TQRFifoBuffer fifo;
    EXPECT_EQ(fifo.Search("\n"), 0);
    fifo.Append("abcd", 4);
    EXPECT_EQ(fifo.Search("\n"), 0);
    EXPECT_EQ(fifo.Search("abcdef"), -1);
    fifo.Clear();
    fifo.Append("ab\r\ncd", 6);
    EXPECT_EQ(fifo.Search("\n"), 4);
    char peeked[4];
    EXPECT_EQ(fifo.Peek(peeked, 4), 4);
    EXPECT_EQ(fifo.Count(), 6);
}

TEST(Fifo, BadArgumentsRaiseTheirTexts) {
    TQRFifoBuffer fifo;
    try {
        fifo.Append(nullptr, 3);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Can't read the source buffer"));
    }
    fifo.Append("abc", 3);
    try {
        fifo.Remove(nullptr, 3);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Can't write to the destination buffer"));
    }
    try {
        fifo.SetMemoryBufferCapacity(2);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Can not lower memory capacity at this time"));
    }
    EXPECT_EQ(fifo.Remove(3), "abc");
}

TEST(Fifo, OverflowGoesToDiskAndComesBackInOrder) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    const QByteArray data = RandomBytes(70000, 1);
    fifo.Append(data);
    EXPECT_EQ(fifo.MemoryBytes(), 65536);
    EXPECT_EQ(fifo.DiskBytes(), 4464);
    const QString overflow = fifo.FileName();
    EXPECT_TRUE(QFile::exists(overflow));
    EXPECT_TRUE(overflow.contains(QStringLiteral("/Buf")));

    QByteArray out = fifo.Remove(65536);
    // The memory part is drained: the refill runs on its worker, the next call waits for it.
    out += fifo.Remove(10000);
    EXPECT_EQ(out, data);
    EXPECT_EQ(fifo.Count(), 0);

    fifo.Append(data);
    fifo.Clear();
    EXPECT_FALSE(QFile::exists(overflow));
    fifo.Append(data);
    EXPECT_FALSE(fifo.FileName().isEmpty());
    EXPECT_EQ(fifo.Remove(70000), data);
}

TEST(Fifo, RaisingTheCapacityWithBytesOnDiskKeepsTheOrder) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    const QByteArray older = RandomBytes(70000, 4);
    const QByteArray newer = RandomBytes(5000, 5);
    fifo.Append(older);
    ASSERT_GT(fifo.DiskBytes(), 0);
    fifo.SetMemoryBufferCapacity(200000);
    fifo.Append(newer);
    EXPECT_EQ(fifo.Remove(fifo.Count()), older + newer);
}

TEST(Fifo, MemoryBlockFollowsTheBytesHeld) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(8 << 20);
    fifo.Append(RandomBytes(3000, 6));
    EXPECT_LE(fifo.AllocatedBytes(), 4096);
    const QByteArray large = RandomBytes(3'000'000, 7);
    fifo.Append(large);
    EXPECT_EQ(fifo.DiskBytes(), 0);
    EXPECT_GE(fifo.AllocatedBytes(), 3'003'000);
    EXPECT_LE(fifo.AllocatedBytes(), 8 << 20);
    fifo.Remove(3000);
    EXPECT_EQ(fifo.Remove(fifo.Count()), large);
    EXPECT_LE(fifo.AllocatedBytes(), 4096);
}

TEST(Fifo, ManyOverflowsInterleavedWithReadsKeepOrder) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    const QByteArray data = RandomBytes(1'000'000, 2);
    QByteArray out;
    qsizetype written = 0;
    while (written < data.size()) {
        const qsizetype n = std::min<qsizetype>(30'000, data.size() - written);
        fifo.Append(data.constData() + written, n);
        written += n;
        out += fifo.Remove(7'000);
    }
    while (fifo.Count() > 0) {
        out += fifo.Remove(50'000);
    }
    EXPECT_EQ(out, data);
}

TEST(Fifo, SearchFindsAPatternAcrossTheMemoryDiskSeam) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    QByteArray data(65535, 'x');
    data += "\r\nrest";
    fifo.Append(data);
    ASSERT_GT(fifo.DiskBytes(), 0);
    EXPECT_EQ(fifo.Search("\r\n"), 65537);
    EXPECT_EQ(fifo.Search("\n"), 65537);
    EXPECT_EQ(fifo.Search("rest"), data.size());
    EXPECT_EQ(fifo.Search("nothere"), 0);
}

TEST(Fifo, SearchFromAPositionFindsOnlyTheOccurrencesThatStartThere) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    // Line ends at 10, across the memory/disk seam at 65536, and at 70010 on disk.
    QByteArray data(70'020, 'x');
    data.replace(9, 2, "\r\n");
    data.replace(65'535, 2, "\r\n");
    data.replace(70'008, 2, "\r\n");
    fifo.Append(data);
    ASSERT_GT(fifo.DiskBytes(), 0);
    EXPECT_EQ(fifo.Search("\r\n", 0), 11);
    EXPECT_EQ(fifo.Search("\r\n", 9), 11);
    EXPECT_EQ(fifo.Search("\r\n", 10), 65'537);
    EXPECT_EQ(fifo.Search("\r\n", 65'535), 65'537);
    EXPECT_EQ(fifo.Search("\n", 65'536), 65'537);
    EXPECT_EQ(fifo.Search("\r\n", 65'536), 70'010);
    EXPECT_EQ(fifo.Search("\n", 66'000), 70'010);
    EXPECT_EQ(fifo.Search("\n", 70'010), 0);
}

TEST(Fifo, LoadFromStreamLargerThanMemoryRefillsFromDisk) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(65536);
    QByteArray data = RandomBytes(200'000, 3);
    QBuffer stream(&data);
    stream.open(QIODevice::ReadOnly);
    fifo.LoadFromStream(stream);
    EXPECT_EQ(fifo.Count(), 200'000);
    EXPECT_EQ(fifo.Remove(200'000).left(65536), data.left(65536));
}

TEST(Fifo, ThresholdIsAtLeast64KiBAndAMultipleOf1KiB) {
    EXPECT_EQ(TQRFifoBuffer::CalculateThreshold(0.0), 65536);
    const qint64 fivePercent = TQRFifoBuffer::CalculateThreshold(0.05);
    EXPECT_GE(fivePercent, 65536);
    EXPECT_EQ(fivePercent % 1024, 0);
}

TEST(FileBuffer, LoadsTheStreamAndCarriesTheTail) {
    QByteArray ten = "0123456789";
    QBuffer small(&ten);
    small.open(QIODevice::ReadOnly);
    TQRFileBuffer buffer(small);
    EXPECT_EQ(buffer.FillCount(), 10);
    EXPECT_EQ(QByteArray(buffer.Cursor(), buffer.End() - buffer.Cursor()), ten);
    EXPECT_EQ(*buffer.End(), 0);
    EXPECT_FALSE(buffer.NextMemoryBuffer(nullptr, 0));

    QByteArray big = RandomBytes(100'000, 4);
    QBuffer large(&big);
    large.open(QIODevice::ReadOnly);
    TQRFileBuffer window(large);
    EXPECT_EQ(window.FillCount(), TQRFileBuffer::kWindowSize);
    // Carry the last 5 bytes of the window into the next one.
    ASSERT_TRUE(window.NextMemoryBuffer(window.End() - 5, 5));
    EXPECT_EQ(QByteArray(window.Cursor(), window.End() - window.Cursor()),
              big.mid(TQRFileBuffer::kWindowSize - 5));
}
