// RFC 2047 encoded words: reading them in any charset, writing them in UTF-8.
#include "codec/encodedwords.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(EncodedWords, WordsAreDecodedJoinedAndMalformedOnesLeftAsTheyStand) {
    const struct {
        QByteArray value;
        QString text;
    } cases[] = {
        {"plain subject", u"plain subject"_s},
        {"=?UTF-8?B?U2Now7ZuZSBHcsO8w59l?=", u"Schöne Grüße"_s},
        {"=?iso-8859-1?q?Gr=FC=DFe_aus_K=F6ln?=", u"Grüße aus Köln"_s},
        {"Re: =?KOI8-R?B?8NLJ18XU?= all", u"Re: Привет all"_s},
        {"=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", u"こんにちは"_s},
        // Blanks between two words vanish, also over a fold; blanks next to plain text stay.
        {"=?UTF-8?Q?a?= \t =?UTF-8?Q?b?=  c", u"ab  c"_s},
        {"=?UTF-8?Q?a?=\r\n =?UTF-8?Q?b?=", u"ab"_s},
        // Two charsets side by side.
        {"=?ISO-8859-1?Q?Gr=FC=DFe?= =?KOI8-R?Q?=ED=C9=D2?=", u"GrüßeМир"_s},
        // A character split between two words of one charset comes out whole.
        {"=?UTF-8?B?ww==?= =?UTF-8?B?pA==?=", u"ä"_s},
        {"=?UTF-8?Q?=C3?= =?UTF-8?Q?=A4?=", u"ä"_s},
        // RFC 2231 language suffix, letter case of the encoding, no padding.
        {"=?UTF-8*de?b?w6Q?=", u"ä"_s},
        // Malformed: unknown encoding, unknown charset, bad escape, blank inside, unclosed.
        {"=?UTF-8?X?abc?= x", u"=?UTF-8?X?abc?= x"_s},
        {"=?x-none?Q?abc?=", u"=?x-none?Q?abc?="_s},
        {"=?UTF-8?Q?a=ZZ?=", u"=?UTF-8?Q?a=ZZ?="_s},
        {"=?UTF-8?Q?a b?=", u"=?UTF-8?Q?a b?="_s},
        {"=?UTF-8?B?w6Q", u"=?UTF-8?B?w6Q"_s},
        {"=?=?UTF-8?Q?ok?=", u"=?ok"_s},
        // Japanese mailers end each ISO-2022-JP word in ASCII and start the next one anew.
        {"=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= =?ISO-2022-JP?B?GyRCOGwbKEI=?=", u"日本語"_s},
        {"=?iso-2022-jp?B?GyRCRnxLXBsoQg==?==?ISO-2022-JP?Q?=1B$B8l=1B(B?=", u"日本語"_s},
        // Unclosed words in a row, and a fold inside a word: as they stand.
        {"=?UTF-8?Q?x=?UTF-8?Q?y ?=", u"=?UTF-8?Q?x=?UTF-8?Q?y ?="_s},
        {"=?UTF-8?Q?a\r\n b?=", u"=?UTF-8?Q?a\r\n b?="_s},
        // A decoded line break would break the field's line.
        {"=?UTF-8?Q?a=0D=0Ab?=", u"a  b"_s},
        // Raw bytes outside words: UTF-8 when valid, else Windows-1252.
        {"Zo\xC3\xAB =?UTF-8?Q?x?=", u"Zoë x"_s},
        {"Zo\xEB", u"Zoë"_s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeEncodedWords(c.value), c.text) << c.value.constData();
    }
}

TEST(EncodedWords, EncodingLeavesAsciiAloneAndFoldsUtf8WordsAt76Characters) {
    EXPECT_EQ(EncodeEncodedWords(u"Plain: as it is"_s, 7), "Plain: as it is");
    EXPECT_EQ(EncodeEncodedWords(u"Re: Schöne Grüße <x@y>"_s, 7),
              "Re: =?UTF-8?B?U2Now7ZuZSBHcsO8w59l?= <x@y>");
    const QString texts[] = {
        u"Zoë"_s,
        u"Re: "_s + QString(60, u'ü') + u" and more words after the long one"_s,
        QString(40, u'語') + u" 𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞𝄞"_s,
    };
    for (const QString& text : texts) {
        const QByteArray field = "Subject: " + EncodeEncodedWords(text, 7);
        for (const QByteArray& line : field.split('\n')) {
            EXPECT_LE(line.size(), 77) << field.constData(); // 76 and the CR
        }
        for (const QByteArray& word : field.split(' ')) {
            EXPECT_LE(word.trimmed().size(), 75) << field.constData();
        }
        // Read back unfolded, as a reader unfolds (RFC 5322, section 2.2.3).
        EXPECT_EQ(DecodeEncodedWords(field.mid(9).replace("\r\n", "")), text) << field.constData();
    }
}

TEST(EncodedWords, HostileValuesAreDecodedInLinearTime) {
    // Subjects a poster can send, each a piece repeated: unclosed words (560 KB, as one was
    // seen), words with a blank inside and a single "?=" at the very end, well-formed words,
    // lone "=?", words of a charset read one by one.
    const struct {
        QByteArray piece;
        int count;
    } values[] = {
        {"=?c?Q?x", 80000},        {"=?UTF-8?Q?x ", 80000},
        {"=?UTF-8?Q?a?= ", 80000}, {"=?", 80000},
        {"=?ISO-2022-JP?B?GyRCOGwbKEI=?=", 20000},
    };
    for (const auto& v : values) {
        const QByteArray value = v.piece.repeated(v.count) + "?=";
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(DecodeEncodedWords(value).isEmpty());
        // Read once from start to end, the five take 0.2 s together; a reading that goes on to
        // the end of the value for every word takes 15 s for the first alone. The bound
        // leaves room for the sanitizers and a machine busy with other work.
        EXPECT_LT(timer.elapsed(), 2000) << v.piece.constData();
    }
}
