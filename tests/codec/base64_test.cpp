#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/streamio.h"
#include "codec_support.h"

#include <gtest/gtest.h>

namespace {

QByteArray Encode(const QByteArray& data) {
    return Convert(B64Encode, data);
}
QByteArray Decode(const QByteArray& text) {
    return Convert(B64Decode, text);
}

QString DecodeError(const QByteArray& text) {
    try {
        Decode(text);
    } catch (const Exception& e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(Base64, KnownBytesGiveKnownText) {
    EXPECT_EQ(Encode("abc"), "YWJj");
    EXPECT_EQ(Encode("ab"), "YWI=");
    EXPECT_EQ(Encode("a"), "YQ==");
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode(Golden("sample.bin")), Golden("sample.b64"));
    EXPECT_EQ(Encode(Golden("whole45.bin")), Golden("whole45.b64"));
}

TEST(Base64, LinesCarry60CharactersAndOnlyFullLinesEndWithCrLf) {
    const QByteArray full = Encode(QByteArray(45, 'a'));
    EXPECT_EQ(full.size(), 62);
    EXPECT_TRUE(full.endsWith("\r\n"));
    EXPECT_EQ(Encode(QByteArray(46, 'a')), full + "YQ==");
    for (int length = 0; length <= 200; ++length) {
        SCOPED_TRACE(length);
        const QByteArray data = RandomBytes(length, length);
        const QByteArray text = Encode(data);
        const qsizetype fullLines = length / 45;
        const QByteArray lastLine = text.mid(fullLines * 62);
        EXPECT_EQ(CrLfLines(text.left(fullLines * 62)).size(), fullLines);
        EXPECT_FALSE(lastLine.contains('\r') || lastLine.contains('\n'));
        EXPECT_LE(lastLine.size(), 60);
        QByteArray joined = text;
        EXPECT_EQ(joined.replace("\r\n", ""), data.toBase64());
    }
}

TEST(Base64, DecodingTheEncodingGivesBackEveryLengthAndMegabytes) {
    for (int length = 0; length <= 200; ++length) {
        const QByteArray data = RandomBytes(length, 2000 + length);
        EXPECT_EQ(Decode(Encode(data)), data) << length;
    }
    const QByteArray large = RandomBytes(3 * 1024 * 1024 + 1, 9);
    EXPECT_TRUE(Decode(Encode(large)) == large);
    EXPECT_EQ(Decode(Golden("sample.b64")), Golden("sample.bin"));
}

TEST(Base64Decode, PaddingEndsALineAndTheLastLineNeedsNoLineEnd) {
    EXPECT_EQ(Decode("YWI="), "ab");
    EXPECT_EQ(Decode("YQ=="), "a");
    EXPECT_EQ(Decode("YQ==YWJj"), "aabc");
    EXPECT_EQ(Decode("YWJj\nYWJj\rYWJj"), "abcabcabc");
}

TEST(Base64Decode, ALineThatCannotStartAGroupRaisesAfterEarlierLines) {
    EXPECT_EQ(DecodeError("*WJj"), QStringLiteral("Invalid data encountered within stream"));
    EXPECT_EQ(DecodeError("Y*Jj"), QStringLiteral("Invalid data encountered within stream"));
    QBuffer source;
    source.setData("YWJj\r\n*WJj\r\n");
    source.open(QIODevice::ReadOnly);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    EXPECT_THROW(B64Decode(source, destination), Exception);
    EXPECT_EQ(destination.data(), "abc");
    // Also when the bytes before the bad line fill several write blocks.
    const QByteArray large = RandomBytes(200000, 4);
    source.close();
    source.setData(Encode(large) + "\r\n*WJj\r\n");
    source.open(QIODevice::ReadOnly);
    QBuffer largeDestination;
    largeDestination.open(QIODevice::ReadWrite);
    EXPECT_THROW(B64Decode(source, largeDestination), Exception);
    EXPECT_TRUE(largeDestination.data() == large);
}

// Lines split at CR, LF and "=" only: a zero byte is refused as data rather than taken for the
// end of the text, and a single line longer than a read block decodes whole.
TEST(Base64Decode, ZeroBytesAreRefusedAndOverlongLinesDecodeWhole) {
    EXPECT_EQ(DecodeError(QByteArray("YWJj\0YWJj", 9)),
              QStringLiteral("Invalid data encountered within stream"));
    const QByteArray data = RandomBytes(150000, 3);
    EXPECT_TRUE(Decode(data.toBase64()) == data);
}

TEST(Base64, FailingStreamsRaiseInsteadOfFinishing) {
    QBuffer output;
    output.open(QIODevice::ReadWrite);
    FailingDevice shortSource(200000, 70000);
    EXPECT_THROW(B64Encode(shortSource, output), EStreamError);
    FailingDevice shortText(200000, 70000);
    EXPECT_THROW(B64Decode(shortText, output), EStreamError);
}
