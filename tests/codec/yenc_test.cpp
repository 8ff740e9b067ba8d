#include "codec/yencdecode.h"

#include "testhelpers.h"
#include "yencencode.h"

#include <gtest/gtest.h>

namespace {

// Decodes a block given as text, one line per LF.
TYEncDecoder DecodeBlock(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    TYEncDecoder block(lines[0]);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        block.AddLine(lines[i]);
    }
    return block;
}

TYEncDecoder DecodeCrLfBlock(const QByteArray& text) {
    QByteArray lf = text;
    lf.replace("\r\n", "\n");
    lf.chop(1);
    return DecodeBlock(lf);
}

} // namespace

TEST(YEncDecode, EveryEscapeAndAnyLineLengthGiveTheBytes) {
    const struct {
        const char* what;
        QByteArray dataLines;
        QByteArray bytes;
    } cases[] = {
        {"plain characters are the byte plus 42", "*+,[\\]",
         QByteArray("\x00\x01\x02\x31\x32\x33", 6)},
        {"escaped NUL, LF, CR and \"=\"", "=@=J=M=}", "\xd6\xe0\xe3\x13"},
        {"escaped \".\" at a line start", "=n.\n=nx", "\x04\x04\x04N"},
        {"TAB and blank escaped at the ends, plain inside", "=I\t =`", "\xdf\xdf\xf6\xf6"},
        {"any line length, line= notwithstanding", "*\n" + QByteArray(1000, '+'),
         '\0' + QByteArray(1000, '\x01')},
        {"an \"=\" that ends a line escapes nothing", "*=\n+", QByteArray("\x00\x01", 2)},
        {"an empty data line adds nothing", "*\n\n+", QByteArray("\x00\x01", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TYEncDecoder block =
            DecodeBlock("=ybegin line=2 size=9 name=x\n" + c.dataLines + "\n=yend");
        EXPECT_EQ(block.Data(), c.bytes);
        EXPECT_TRUE(block.Ended());
    }
}

TEST(YEncDecode, EncodedFilesComeBackForEveryLineLength) {
    const QByteArray everyByte = RandomBytes(4096, 11);
    for (const int lineLength : {1, 2, 3, 61, 127, 128, 129, 997}) {
        SCOPED_TRACE(lineLength);
        const TYEncDecoder block = DecodeCrLfBlock(YEncBlock(everyByte, "f.bin", lineLength));
        EXPECT_TRUE(block.Data() == everyByte);
        EXPECT_EQ(block.DeclaredCrc(), block.Crc());
        EXPECT_EQ(block.DeclaredSize(), everyByte.size());
    }
}

// Bytes taken out while the block is decoded (as a file is written out piece by piece) are the
// block's bytes, and still count in its CRC32 and size.
TEST(YEncDecode, DataTakenAsItIsDecodedAddsUpToTheBlock) {
    const QByteArray everyByte = RandomBytes(20000, 5);
    QByteArray text = YEncBlock(everyByte, "f.bin", 128);
    text.replace("\r\n", "\n");
    text.chop(1);
    const QList<QByteArray> lines = text.split('\n');
    for (const int takeEvery : {1, 7, 1000}) {
        SCOPED_TRACE(takeEvery);
        TYEncDecoder block(lines[0]);
        QByteArray taken;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            block.AddLine(lines[i]);
            if (i % takeEvery == 0) {
                taken += block.TakeData();
            }
        }
        EXPECT_EQ(block.DecodedSize(), everyByte.size());
        EXPECT_EQ(block.DeclaredCrc(), block.Crc());
        EXPECT_TRUE(taken + block.TakeData() == everyByte);
        EXPECT_TRUE(block.Data().isEmpty());
        EXPECT_EQ(block.Crc(), YEncCrc32(everyByte));
    }
}

TEST(YEncDecode, HeaderKeywordsPlaceAndCheckTheBlock) {
    // "123456789" has the well-known CRC32 cbf43926.
    const QByteArray data = "[\\]^_`abc";
    const struct {
        const char* what;
        QByteArray block;
        QByteArray name;
        std::optional<qint64> number;
        std::optional<qint64> begin;
        bool wholeFile;
        std::optional<quint32> declaredCrc;
        std::optional<quint32> fileCrc;
        std::optional<qint64> declaredSize;
    } cases[] = {
        {"a whole file checks crc32",
         "=ybegin line=128 size=9 name=nine.txt\n" + data + "\n=yend size=9 crc32=CBF43926",
         "nine.txt", std::nullopt, std::nullopt, true, 0xcbf43926u, 0xcbf43926u, 9},
        {"pcrc32 is the block's own, before crc32",
         "=ybegin size=9 name=a\n" + data + "\n=yend size=9 pcrc32=cbf43926 crc32=1", "a",
         std::nullopt, std::nullopt, true, 0xcbf43926u, 1u, 9},
        {"a part checks pcrc32, not the file's crc32",
         "=ybegin part=2 total=3 line=128 size=30 name=big name.bin\n=ypart begin=11 end=19\n" +
             data + "\n=yend size=9 part=2 crc32=cbf43926",
         "big name.bin", 2, 11, false, std::nullopt, 0xcbf43926u, 9},
        {"a part that spans the file is the whole file",
         "=ybegin part=1 total=1 size=9 name=n=a=m e \n=ypart begin=1 end=9\n" + data +
             "\n=yend crc32=cbf43926",
         "n=a=m e ", 1, 1, true, 0xcbf43926u, 0xcbf43926u, 9},
        {"without =yend the sizes come from =ypart, then =ybegin",
         "=ybegin size=40 name=x\n=ypart begin=3 end=11\n" + data, "x", std::nullopt, 3, false,
         std::nullopt, std::nullopt, 9},
        {"keywords in any order, name= last",
         "=ybegin size=7  line=2 name=\n" + data + "\n=yend crc32=zz", "", std::nullopt,
         std::nullopt, true, std::nullopt, std::nullopt, 7},
        {"part= within the name is the name's", "=ybegin size=9 name=part=4.bin\n" + data,
         "part=4.bin", std::nullopt, std::nullopt, true, std::nullopt, std::nullopt, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TYEncDecoder block = DecodeBlock(c.block);
        EXPECT_EQ(block.Data(), "123456789");
        EXPECT_EQ(block.Name(), c.name);
        EXPECT_EQ(block.PartNumber(), c.number);
        EXPECT_EQ(block.PartBegin(), c.begin);
        EXPECT_EQ(block.IsWholeFile(), c.wholeFile);
        EXPECT_EQ(block.DeclaredCrc(), c.declaredCrc);
        EXPECT_EQ(block.DeclaredFileCrc(), c.fileCrc);
        EXPECT_EQ(block.DeclaredSize(), c.declaredSize);
    }
    EXPECT_EQ(DecodeBlock("=ybegin size=9 name=a\n" + data).Crc(), 0xcbf43926u);
    // A file checked piece by piece, as its parts are joined.
    const QByteArray file = RandomBytes(5000, 12);
    quint32 crc = 0;
    for (qsizetype at = 0; at < file.size(); at += 1234) {
        crc = YEncCrc32(
            QByteArrayView(file).sliced(at, std::min<qsizetype>(1234, file.size() - at)), crc);
    }
    EXPECT_EQ(crc, BitwiseCrc32(file));
}

TEST(YEncDecode, ControlLinesAreRecognisedOnlyAsWholeWords) {
    EXPECT_TRUE(TYEncDecoder::IsBeginLine("=ybegin line=128 size=1 name=a"));
    EXPECT_FALSE(TYEncDecoder::IsBeginLine("=ybeginning"));
    EXPECT_FALSE(TYEncDecoder::IsBeginLine(" =ybegin size=1"));
    EXPECT_TRUE(TYEncDecoder::IsEndLine("=yend"));
    EXPECT_TRUE(TYEncDecoder::IsEndLine("=yend size=1"));
    EXPECT_FALSE(TYEncDecoder::IsEndLine("=yending"));
    // A "=ypart" line after the data has started is data; lines after =yend are ignored.
    const TYEncDecoder block = DecodeBlock("=ybegin size=2 name=a\n*\n=ypart\n=yend\n+");
    EXPECT_EQ(block.Data(), QByteArray("\x00\x0f\x46\x37\x48\x4a", 6));
    EXPECT_FALSE(block.PartBegin());
}
