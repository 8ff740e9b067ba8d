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

// White space looks ahead within windows of 1024 bytes: a blank at the end of one window still
// learns what follows it from the next.
TEST(QuotedPrintable, WhiteSpaceLooksAcrossWindows) {
    const QByteArray head = QByteArray(70, 'x') + "\r\n";
    QByteArray text = head.repeated(14) + QByteArray(1023 - 14 * 72, 'x');
    EXPECT_TRUE(Encode(text + " \r\n").endsWith("x=20\r\n"));
    EXPECT_TRUE(Encode(text + " y").endsWith("x y"));
}

// Encodes byte by byte as the encoder is documented to. A TAB or blank looks ahead within
// windows of 1024 bytes, each starting where the one before it ended; a look-ahead that reaches
// its window's end before examining 76 bytes widens the window by 76.
QByteArray EncodeByBytes(const QByteArray& plain) {
    const auto printed = [](uchar c) {
        return (c >= 0x23 && c <= 0x3C) || (c >= 0x3F && c <= 0x7D);
    };
    QByteArray text;
    int length = 0;
    qsizetype windowEnd = 0;
    for (qsizetype at = 0; at < plain.size(); ++at) {
        const auto c = static_cast<uchar>(plain[at]);
        if (length > 76 && c != '\r') {
            text += "=\r\n";
            length = 0;
        }
        while (windowEnd <= at) {
            windowEnd += 1024;
        }
        const bool lineEnd = c == '\r' || c == '\n';
        bool asIs = printed(c) || lineEnd;
        for (qsizetype next = at + 1; (c == ' ' || c == '\t') && next < plain.size(); ++next) {
            if (next == windowEnd) {
                if (next - at - 1 >= 76) {
                    break;
                }
                windowEnd += 76;
            }
            const auto following = static_cast<uchar>(plain[next]);
            if (printed(following) || following == '\r') {
                asIs = following != '\r';
                break;
            }
        }
        if (asIs) {
            text += static_cast<char>(c);
            length = lineEnd ? 0 : length + 1;
        } else {
            text += '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            length += 3;
        }
    }
    return text;
}

// The encoder works through blocks of 16 bytes and chunks of 64 KiB: white space before line
// ends, at window ends and in long runs, lines long and short, CR without LF, all over lengths
// that cross those ends, encode as the byte walk does.
TEST(QuotedPrintable, EncodesAsAByteWalkDoes) {
    const QList<QByteArray> alphabets = {
        " \t\r\nx=\x01", "  \t\r\n\x80", "xy z", "\r\r \t\x01\x01\x01\x01\x01\x01\x01q",
        QByteArray(" \x01=", 3) + QByteArray(60, ' ') + "y", QByteArray()};
    // Each byte of the input is drawn from an alphabet; the empty one stands for every byte.
    quint32 seed = 0;
    for (const QByteArray& alphabet : alphabets) {
        for (const qsizetype length : {15, 17, 1100, 70000}) {
            QByteArray plain = RandomBytes(length, ++seed);
            for (qsizetype i = 0; !alphabet.isEmpty() && i < length; ++i) {
                plain[i] = alphabet[static_cast<uchar>(plain[i]) % alphabet.size()];
            }
            EXPECT_TRUE(Encode(plain) == EncodeByBytes(plain)) << seed;
        }
    }
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
