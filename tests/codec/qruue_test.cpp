#include "codec/qruue.h"
#include "codec/qruuencode.h"
#include "codec/streamio.h"
#include "codec_support.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

namespace {

QByteArray Encode(const QByteArray& data) {
    return Convert(TQRUUProcessor::QPEncode, data);
}
QByteArray Decode(const QByteArray& text) {
    return Convert(TQRUUProcessor::QPDecode, text);
}

// Decodes token by token as the decoder is documented to: nothing when the text ends within
// two bytes of an "=".
std::optional<QByteArray> DecodeByTokens(const QByteArray& text) {
    const auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : static_cast<uchar>(c) - 55;
    };
    QByteArray plain;
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] != '=') {
            plain += text[at];
        } else if (at + 2 >= text.size()) {
            return std::nullopt;
        } else {
            if (text[at + 1] != '\r') {
                plain += static_cast<char>(value(text[at + 1]) * 16 + value(text[at + 2]));
            }
            at += 2;
        }
    }
    return plain;
}

// Replaces perMille of every thousand bytes of text with bytes that trouble a decoder: "=",
// line ends, digits in both cases, letters that are no digits, the extremes.
QByteArray Garble(QByteArray text, int perMille, quint32 seed) {
    static const QByteArray troubles("==\r\n0123456789ABCDEFabcdefGz \0\xFF", 31);
    QRandomGenerator random(seed);
    for (char& c : text) {
        if (static_cast<int>(random.bounded(1000)) < perMille) {
            c = troubles[random.bounded(static_cast<int>(troubles.size()))];
        }
    }
    return text;
}

// A processor between two memory streams that records its events.
struct Job {
    QBuffer input;
    QBuffer output;
    TQRUUProcessor processor;
    QStringList events;

    Job(UUMethods method, const QByteArray& data) {
        input.setData(data);
        input.open(QIODevice::ReadOnly);
        input.seek(input.size());
        output.open(QIODevice::ReadWrite);
        processor.Method = method;
        processor.InputStream = &input;
        processor.OutputStream = &output;
        processor.OnBeginEncode = Recorder(QStringLiteral("BeginEncode"));
        processor.OnEndEncode = Recorder(QStringLiteral("EndEncode"));
        processor.OnBeginDecode = Recorder(QStringLiteral("BeginDecode"));
        processor.OnEndDecode = Recorder(QStringLiteral("EndDecode"));
    }

    TNotifyEvent Recorder(const QString& name) {
        return [this, name](QObject* sender) {
            events.append(sender == &processor ? name : QStringLiteral("wrong sender"));
        };
    }
};

} // namespace

TEST(QuotedPrintable, EncodesOnlyWhatCannotStandAsItself) {
    EXPECT_EQ(Encode("a=b"), "a=3Db");
    EXPECT_EQ(Encode("\xE9"), "=E9");
    EXPECT_EQ(Encode("a b \r\nc\td\t"), "a b=20\r\nc\td=09");
    EXPECT_EQ(Encode("!\"~>\x7F\x01"), "=21=22=7E=3E=7F=01");
}

TEST(QuotedPrintable, LongLinesBreakSoftlyAfter77Characters) {
    const QByteArray letters(100, 'x');
    EXPECT_EQ(Encode(letters + "\r\n"), letters.left(77) + "=\r\n" + letters.mid(77) + "\r\n");
    // Without hard line ends every line is a soft one: more than 76 characters, at most 79,
    // then the "=".
    QByteArray noLineEnds = RandomBytes(20000, 5);
    noLineEnds.replace('\r', 'r').replace('\n', 'n');
    const QList<QByteArray> lines = CrLfLines(Encode(noLineEnds) + "\r\n");
    ASSERT_GT(lines.size(), 100);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith('=')) << i;
        EXPECT_GE(lines[i].size(), 78) << i;
        EXPECT_LE(lines[i].size(), 80) << i;
    }
}

// The input is read in chunks of 1024 bytes: a blank at the end of one chunk still learns
// what follows it from the next.
TEST(QuotedPrintable, WhiteSpaceLooksAcrossChunks) {
    const QByteArray head = QByteArray(70, 'x') + "\r\n";
    QByteArray text = head.repeated(14) + QByteArray(1023 - 14 * 72, 'x');
    EXPECT_TRUE(Encode(text + " \r\n").endsWith("x=20\r\n"));
    EXPECT_TRUE(Encode(text + " y").endsWith("x y"));
}

TEST(QuotedPrintable, DecodesEscapesAndSoftBreaks) {
    EXPECT_EQ(Decode("=3D"), "=");
    EXPECT_EQ(Decode("caf=E9"), "caf\xE9");
    EXPECT_EQ(Decode("joined=\r\ntext\r\n"), "joinedtext\r\n");
    EXPECT_EQ(Decode(QByteArray(1023, 'x') + "=3D"), QByteArray(1023, 'x') + "=");
    EXPECT_THROW(Decode("cut=4"), EStreamError);
    // What comes before a cut escape is written, however long the text.
    for (const qsizetype length : {0, 70000}) {
        QBuffer source;
        source.setData(QByteArray(length, 'x') + "cut=");
        source.open(QIODevice::ReadOnly);
        QBuffer destination;
        destination.open(QIODevice::ReadWrite);
        EXPECT_EQ(MessageOf<EStreamError>([&] { TQRUUProcessor::QPDecode(source, destination); }),
                  QStringLiteral("Stream read error"));
        EXPECT_TRUE(destination.data() == QByteArray(length, 'x') + "cut") << length;
    }
}

// The decoder works through 64-byte blocks and 64 KiB chunks: lengths around their ends, of
// encoded text slightly or wholly garbled, decode as a token walk does.
TEST(QuotedPrintable, DecodesAnyTextAsATokenWalkDoes) {
    const QList<qsizetype> lengths = {1,    2,    3,     65,    66,    67,    130,
                                      1000, 4099, 65535, 65536, 65537, 65538, 131075};
    quint32 seed = 0;
    for (const qsizetype length : lengths) {
        for (const int perMille : {0, 2, 30, 1000}) {
            ++seed;
            const QByteArray encoded = Encode(RandomBytes(length, seed)).left(length);
            const QByteArray text = Garble(encoded, perMille, seed);
            SCOPED_TRACE(QStringLiteral("%1 bytes, %2 garbled in 1000")
                             .arg(length)
                             .arg(perMille)
                             .toStdString());
            const std::optional<QByteArray> plain = DecodeByTokens(text);
            if (plain) {
                EXPECT_TRUE(Decode(text) == *plain);
            } else {
                EXPECT_THROW(Decode(text), EStreamError);
            }
        }
    }
}

TEST(QuotedPrintable, DecodingTheEncodingGivesBackEveryLengthAndMegabytes) {
    for (int length = 0; length <= 200; ++length) {
        const QByteArray data = RandomBytes(length, 3000 + length);
        EXPECT_EQ(Decode(Encode(data)), data) << length;
    }
    QByteArray text = RandomBytes(3 * 1024 * 1024, 11);
    EXPECT_TRUE(Decode(Encode(text)) == text);
    for (qsizetype i = 0; i < text.size(); ++i) {
        text[i] = " \t\r\nab="[static_cast<uchar>(text[i]) % 7];
    }
    EXPECT_TRUE(Decode(Encode(text)) == text);
}

TEST(Processor, EveryMethodRoundTripsFromTheStartAndRewindsBothStreams) {
    const QByteArray data = RandomBytes(5000, 13);
    for (const UUMethods method : {uuMime, uuCode, uuQP, uuNONE}) {
        SCOPED_TRACE(method);
        Job encode(method, data);
        encode.processor.Encode();
        EXPECT_EQ(encode.input.pos(), 0);
        EXPECT_EQ(encode.output.pos(), 0);
        EXPECT_EQ(encode.events,
                  QStringList({QStringLiteral("BeginEncode"), QStringLiteral("EndEncode")}));
        Job decode(method, encode.output.data());
        decode.processor.Decode();
        EXPECT_EQ(decode.output.pos(), 0);
        EXPECT_EQ(decode.events,
                  QStringList({QStringLiteral("BeginDecode"), QStringLiteral("EndDecode")}));
        EXPECT_TRUE(decode.output.data() == data);
    }
}

// The codecs work in whole blocks: the encoders read 65520 bytes (1456 lines) at a time
// through a 65533-byte window, the decoders read 65534 bytes of text and write 64 KiB at a
// time. Sizes on both sides of each of those ends, for the plain and for the encoded side.
TEST(Processor, EveryMethodRoundTripsAtTheSizesWhereBlocksEnd) {
    const QList<qsizetype> sizes = {65519, 65520, 65521, 65533, 65534, 65535, 65536,
                                    46809, 46810, 46811, 47564, 47565, 47566, 131040,
                                    131041, 196615};
    for (const qsizetype size : sizes) {
        const QByteArray data = RandomBytes(size, static_cast<quint32>(size));
        for (const UUMethods method : {uuMime, uuCode, uuQP}) {
            SCOPED_TRACE(QStringLiteral("%1 bytes, method %2").arg(size).arg(method).toStdString());
            Job encode(method, data);
            encode.processor.Encode();
            const QByteArray text = encode.output.data();
            if (method == uuMime) {
                EXPECT_TRUE(QByteArray(text).replace("\r\n", "") == data.toBase64());
            }
            Job decode(method, text);
            decode.processor.Decode();
            EXPECT_TRUE(decode.output.data() == data);
        }
    }
}

TEST(Processor, NoneCopiesInBothDirectionsAndUuCodeWritesUuencode) {
    Job encode(uuNONE, "as it is");
    encode.processor.Encode();
    EXPECT_EQ(encode.output.data(), "as it is");
    Job decode(uuNONE, "as it is");
    decode.processor.Decode();
    EXPECT_EQ(decode.output.data(), "as it is");
    Job uuencode(uuCode, "abc");
    uuencode.processor.Encode();
    EXPECT_EQ(uuencode.output.data(), Convert(UUEEncode, "abc"));
    EXPECT_EQ(TQRUUProcessor().Method, uuMime);
}

TEST(Processor, FailuresPassThroughAndMissingStreamsAreRefused) {
    Job job(uuMime, "*bad");
    try {
        job.processor.Decode();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid data encountered within stream"));
    }
    EXPECT_EQ(job.events, QStringList({QStringLiteral("BeginDecode")}));
    job.processor.OutputStream = nullptr;
    EXPECT_THROW(job.processor.Encode(), Exception);
    EXPECT_EQ(job.events.size(), 1);
}
