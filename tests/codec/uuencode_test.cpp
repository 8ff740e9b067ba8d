#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codec/streamio.h"
#include "codec_support.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

namespace {

QByteArray Encode(const QByteArray& data) {
    return Convert(UUEEncode, data);
}
QByteArray Decode(const QByteArray& text) {
    return Convert(UUEDecode, text);
}

} // namespace

TEST(Uuencode, KnownBytesGiveKnownLines) {
    EXPECT_EQ(Encode("abc"), "#86)C\r\n");
    EXPECT_EQ(Encode("A"), "!00``\r\n");
    EXPECT_EQ(Encode(""), "`\r\n");
    EXPECT_EQ(Encode(Golden("sample.bin")), Golden("sample.uue"));
    EXPECT_EQ(Encode(Golden("whole45.bin")), Golden("whole45.uue"));
}

TEST(Uuencode, FullLinesCarry45BytesAndTheLastLineTheRest) {
    for (int length = 0; length <= 200; ++length) {
        SCOPED_TRACE(length);
        const QList<QByteArray> lines = CrLfLines(Encode(RandomBytes(length, length)));
        ASSERT_EQ(lines.size(), length / 45 + 1);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].size(), 61);
            EXPECT_EQ(lines[i][0], 'M');
        }
        const int rest = length % 45;
        EXPECT_EQ(lines.last().size(), 1 + 4 * ((rest + 2) / 3));
        EXPECT_EQ(lines.last()[0], rest == 0 ? '`' : static_cast<char>(rest + 32));
        for (const QByteArray& line : lines) {
            EXPECT_FALSE(line.contains(' ')) << "a zero must be written as a backquote";
        }
    }
}

TEST(Uuencode, DecodingTheEncodingGivesBackEveryLength) {
    for (int length = 0; length <= 200; ++length) {
        const QByteArray data = RandomBytes(length, 1000 + length);
        EXPECT_EQ(Decode(Encode(data)), data) << length;
    }
    EXPECT_EQ(Decode(Golden("sample.uue")), Golden("sample.bin"));
}

TEST(Uuencode, SeveralMegabytesThroughFilesRoundTrip) {
    const QByteArray data = RandomBytes(3 * 1024 * 1024 + 17, 7);
    QTemporaryFile plain;
    QTemporaryFile encoded;
    QTemporaryFile decoded;
    ASSERT_TRUE(plain.open() && encoded.open() && decoded.open());
    plain.write(data);
    EXPECT_TRUE(UUEEncode(plain, encoded));
    encoded.seek(0);
    EXPECT_TRUE(UUEDecode(encoded, decoded));
    decoded.seek(0);
    EXPECT_TRUE(decoded.readAll() == data);
}

TEST(Uuencode, BothDirectionsAppendToTheDestination) {
    QBuffer source;
    source.setData("#86)C\r\n");
    source.open(QIODevice::ReadOnly);
    source.seek(0);
    QBuffer destination;
    destination.setData("xyz");
    destination.open(QIODevice::ReadWrite);
    UUEDecode(source, destination);
    EXPECT_EQ(destination.data(), "xyzabc");
    UUEEncode(source, destination);
    EXPECT_EQ(destination.data(), "xyzabc" + Encode("#86)C\r\n"));
}

TEST(Uudecode, ReadsFromTheCurrentPositionAndAcceptsAnyLineEnd) {
    QBuffer source;
    source.setData("begin 666 x\r\n#86)C\n#86)C\r#86)C\r\n\r\n#86)C");
    source.open(QIODevice::ReadOnly);
    source.seek(13);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    UUEDecode(source, destination);
    EXPECT_EQ(destination.data(), "abcabcabcabc");
}

TEST(Uudecode, ZeroCountLinesWriteNothingAndShortLinesCountAsAllBitsSet) {
    EXPECT_EQ(Decode(" \r\n`\r\n"), "");
    EXPECT_EQ(Decode("!00``junk after the needed group"), "A");
    EXPECT_EQ(Decode("#86"), QByteArray("a\x7f\xff"));
}

// The decoder splits lines at CR and LF only: a zero byte is data, not the end of the block,
// and a line longer than a block is carried whole.
TEST(Uudecode, ZeroBytesAndOverlongLinesLoseNothing) {
    EXPECT_EQ(Decode(QByteArray("#86)C\0junk\r\n#86)C\r\n", 19)), "abcabc");
    EXPECT_EQ(Decode("#86)C" + QByteArray(200000, 'x') + "\r\n#86)C"), "abcabc");
    // A CR at the very end of a 65534-byte block with its LF in the next one, then a data
    // line that straddles the next boundary.
    const QByteArray lineEndSplit = QByteArray(65533, '`') + "\r\n#86)C\r\n";
    EXPECT_EQ(Decode(lineEndSplit), "abc");
    const QByteArray lineSplit = QByteArray(65530, '`') + "\r\n#86)C\r\n";
    EXPECT_EQ(Decode(lineSplit), "abc");
}

TEST(Uuencode, FailingStreamsRaiseInsteadOfFinishing) {
    QBuffer output;
    output.open(QIODevice::ReadWrite);
    FailingDevice shortSource(200000, 70000);
    EXPECT_THROW(UUEEncode(shortSource, output), EStreamError);
    FailingDevice shortText(200000, 70000);
    EXPECT_THROW(UUEDecode(shortText, output), EStreamError);
    QBuffer source;
    source.setData("abc");
    source.open(QIODevice::ReadOnly);
    FailingDevice fullDisk(0, 0);
    try {
        UUEEncode(source, fullDisk);
        FAIL();
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Stream write error"));
    }
}
