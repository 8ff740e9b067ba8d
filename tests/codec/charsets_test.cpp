// Bytes in each charset an article may declare, and bytes that declare none.
#include "codec/charsets.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TCharsetCase {
    const char* charset;
    const char* bytes;
    QString text;
};

} // namespace

TEST(Charsets, EveryDeclaredCharsetIsReadInAnyLetterCase) {
    // The bytes were written by an encoder other than the ones read here (Python's codecs).
    const TCharsetCase cases[] = {
        {"US-ASCII", "Plain text", u"Plain text"_s},
        {"utf-8", "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F""e \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC", u"Schöne Grüße — 日本"_s},
        {"ISO-8859-1", "Gr\xFC\xDF""e aus K\xF6ln", u"Grüße aus Köln"_s},
        {"ISO-8859-2", "Za\xBF\xF3\xB3\xE6 g\xEA\xB6l\xB1", u"Zażółć gęślą"_s},
        {"ISO-8859-3", "\xA1""alib \xF5""did", u"Ħalib ġdid"_s},
        {"ISO-8859-4", "\xD3\xEFmija", u"Ķīmija"_s},
        {"ISO-8859-5", "\xBF\xE0\xD8\xD2\xD5\xE2", u"Привет"_s},
        {"ISO-8859-6", "\xE5\xD1\xCD\xC8\xC7", u"مرحبا"_s},
        {"ISO-8859-7", "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1", u"Καλημέρα"_s},
        {"ISO-8859-8", "\xF9\xEC\xE5\xED", u"שלום"_s},
        {"ISO-8859-9", "G\xFCnayd\xFDn", u"Günaydın"_s},
        {"ISO-8859-10", "\xAF\xBB", u"Ŋŧ"_s},
        {"ISO-8859-11", "\xCA\xC7\xD1\xCA\xB4\xD5", u"สวัสดี"_s},
        {"ISO-8859-13", "\xC0\xE8\xE6\xEB\xE1\xF0\xF8\xFB\xFE", u"Ąčęėįšųūž"_s},
        {"ISO-8859-14", "\xD0\xFE \xA2", u"Ŵŷ ḃ"_s},
        {"iso-8859-15", "Prix: 5 \xA4", u"Prix: 5 €"_s},
        {"ISO-8859-16", "Rom\xE2n\xE3: \xFE""ar\xE3", u"Română: țară"_s},
        {"windows-1250", "\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2", u"Žluťoučký kůň"_s},
        {"Windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2", u"Привет"_s},
        {"WINDOWS-1252", "\x93Gr\xFC\xDF""e\x94 \x96 5 \x80", u"“Grüße” – 5 €"_s},
        {"windows-1253", "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1", u"Καλημέρα"_s},
        {"windows-1254", "G\xFCnayd\xFDn", u"Günaydın"_s},
        {"windows-1255", "\xF9\xEC\xE5\xED", u"שלום"_s},
        {"windows-1256", "\xE3\xD1\xCD\xC8\xC7", u"مرحبا"_s},
        {"windows-1257", "\xC0\xE8\xE6\xEB\xE1\xF0\xF8\xFB\xFE", u"Ąčęėįšųūž"_s},
        {"windows-1258", "\xD0\xF5n", u"Đơn"_s},
        {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2", u"Привет, мир"_s},
        {"koi8-u", "\xB7\xD6\xC1\xCB \xA6 \xAD\xC1\xCE\xCF\xCB", u"Їжак і ґанок"_s},
        {"ISO-2022-JP", "\x1B$B$3$s$K$A$O@$3&\x1B(B", u"こんにちは世界"_s},
        {"Shift_JIS", "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\x90\xA2\x8A""E", u"こんにちは世界"_s},
        {"EUC-JP", "\xA4\xB3\xA4\xF3\xA4\xCB\xA4\xC1\xA4\xCF\xC0\xA4\xB3\xA6", u"こんにちは世界"_s},
        {"GB2312", "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7", u"你好世界"_s},
        {"GBK", "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7", u"你好世界"_s},
        {"GB18030", "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7", u"你好世界"_s},
        {"Big5", "\xA7""A\xA6n\xA5@\xAC\xC9", u"你好世界"_s},
        {"EUC-KR", "\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4", u"안녕하세요"_s},
        {"\"utf-8\"", "Zo\xC3\xAB", u"Zoë"_s},
        {" koi8-r ", "\xED\xC9\xD2", u"Мир"_s},
    };
    for (const TCharsetCase& c : cases) {
        bool known = true;
        EXPECT_EQ(TextOfCharset(c.bytes, c.charset, &known), c.text) << c.charset;
        EXPECT_TRUE(known) << c.charset;
    }
}

TEST(Charsets, UndeclaredAndUnknownCharsetsAreUtf8WhenValidElseWindows1252) {
    const struct {
        const char* charset;
        QByteArray bytes;
        QString text;
        bool known;
    } cases[] = {
        {"", "Gr\xC3\xBC\xC3\x9F""e", u"Grüße"_s, true},
        {"", "Gr\xFC\xDF""e \x80", u"Grüße €"_s, true},
        // Windows-1252 leaves five bytes unassigned; they stay, as control characters.
        {"", "\x81\x8D", u"\u0081\u008D"_s, true},
        {"", QByteArray("a\0b", 3), u"a\0b"_s, true},
        {"x-unknown", "Gr\xC3\xBC\xC3\x9F""e", u"Grüße"_s, false},
        {"x-unknown", "Gr\xFC\xDF""e", u"Grüße"_s, false},
        // As real programs declare them: 8-bit US-ASCII, and Windows-1252 marked ISO-8859-1.
        {"us-ascii", "Zo\xC3\xAB", u"Zoë"_s, true},
        {"ISO-8859-1", "\x93quoted\x94 \xE9", u"“quoted” é"_s, true},
        // A byte the declared charset does not allow is replaced, not dropped.
        {"utf-8", "a\xFFz", u"a\uFFFDz"_s, true},
    };
    for (const auto& c : cases) {
        bool known = true;
        EXPECT_EQ(TextOfCharset(c.bytes, c.charset, &known), c.text) << c.bytes.toHex().constData();
        EXPECT_EQ(known, c.known) << c.charset;
    }
    EXPECT_TRUE(IsKnownCharset("ISO-8859-16"));
    EXPECT_FALSE(IsKnownCharset("x-unknown"));
}

TEST(Charsets, AsciiBytesReadAsThemselvesOnlyInCharsetsThatAreAsciiCompatible) {
    // Each of these is all ASCII bytes; in the last four they are not ASCII text.
    const struct {
        const char* charset;
        QByteArray bytes;
        QString text;
        bool asciiCompatible;
    } cases[] = {
        {"utf-8", "a+b ~{c}", u"a+b ~{c}"_s, true},
        {"KOI8-R", "a+b ~{c}", u"a+b ~{c}"_s, true},
        {"ISO-8859-1", "a+b ~{c}", u"a+b ~{c}"_s, true},
        {"UTF-7", "+ZeVnLIqe- +AKM-5", u"日本語 £5"_s, false},
        {"utf-7", "+ZeVnLIqe +AKM-5", u"日本語 £5"_s, false},
        {"HZ-GB-2312", "~{Dc:C~}", u"你好"_s, false},
        {"UTF-16LE", QByteArray("A\0B\0", 4), u"AB"_s, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextOfCharset(c.bytes, c.charset), c.text) << c.charset;
        EXPECT_EQ(IsAsciiCompatibleCharset(c.charset), c.asciiCompatible) << c.charset;
    }
    EXPECT_FALSE(IsAsciiCompatibleCharset("ISO-2022-JP"));
    EXPECT_FALSE(IsAsciiCompatibleCharset("x-unknown"));
}
