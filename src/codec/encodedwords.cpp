#include "codec/encodedwords.h"

#include "codec/charsets.h"

#include <QList>
#include <algorithm>

namespace {

// RFC 2047, section 2: an encoded word is at most 75 characters.
constexpr qsizetype kMaxWordLength = 75;
constexpr qsizetype kMaxLineLength = 76;
const QByteArray kUtf8WordStart = QByteArrayLiteral("=?UTF-8?B?");
const QByteArray kWordEnd = QByteArrayLiteral("?=");

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// RFC 2047, section 4.2: "_" is a blank, "=XX" a byte.
bool DecodeQ(QByteArrayView text, QByteArray& bytes) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            bytes += ' ';
        } else if (text[i] != '=') {
            bytes += text[i];
        } else {
            const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = high < 0 ? -1 : HexDigit(text[i + 2]);
            if (low < 0) {
                return false;
            }
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return true;
}

bool DecodeB(QByteArrayView text, QByteArray& bytes) {
    const QByteArray::FromBase64Result result = QByteArray::fromBase64Encoding(
        text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    bytes = result.decoded;
    return static_cast<bool>(result);
}

struct TEncodedWord {
    qsizetype end = 0; // just past "?="
    QByteArray charset;
    QByteArray bytes;
};

// Where a piece of an encoded word that starts at `from` ends: at the first "?" or blank (a
// fold left in the value counts as blank), or at the value's end. No piece holds either
// (RFC 2047, section 2).
qsizetype PieceEnd(QByteArrayView value, qsizetype from) {
    for (qsizetype i = from; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '?' || IsBlank(c) || c == '\r' || c == '\n') {
            return i;
        }
    }
    return value.size();
}

// The encoded word that starts with "=?" at `at`, or false when there is no well-formed one.
// Each piece is read up to its first "?" or blank only, never on to a "?=" further away: a
// value of many unclosed words is read in time linear in its length.
bool ParseWord(QByteArrayView value, qsizetype at, TEncodedWord& word) {
    const qsizetype charsetEnd = PieceEnd(value, at + 2);
    if (charsetEnd + 3 > value.size() || value[charsetEnd] != '?' ||
        value[charsetEnd + 2] != '?') {
        return false;
    }
    const qsizetype textEnd = PieceEnd(value, charsetEnd + 3);
    if (textEnd + 2 > value.size() || value[textEnd] != '?' || value[textEnd + 1] != '=') {
        return false;
    }
    const QByteArrayView text = value.sliced(charsetEnd + 3, textEnd - charsetEnd - 3);
    QByteArrayView charset = value.sliced(at + 2, charsetEnd - at - 2);
    const qsizetype language = charset.indexOf('*'); // RFC 2231, section 5
    if (language >= 0) {
        charset = charset.first(language);
    }
    if (charset.isEmpty() || !IsKnownCharset(charset)) {
        return false;
    }
    word.charset = charset.toByteArray().toLower();
    word.bytes.clear();
    const char encoding = value[charsetEnd + 1];
    const bool decoded = encoding == 'B' || encoding == 'b'   ? DecodeB(text, word.bytes)
                         : encoding == 'Q' || encoding == 'q' ? DecodeQ(text, word.bytes)
                                                              : false;
    word.end = textEnd + 2;
    return decoded;
}

// Collects the decoded text; the bytes of adjacent words in one charset wait in pending until
// a word in another charset or plain text comes, so that a character a mailer split between
// two words comes out whole. Not so in a charset that is not ASCII-compatible: each word of
// ISO-2022-JP or UTF-7 ends by shifting back to ASCII (RFC 1468), and the next shift that
// would follow at once reads as an error, so such words are read one by one.
class TDecodedValue {
public:
    void AddPlain(QByteArrayView bytes) {
        Flush();
        text_ += TextOfUndeclaredBytes(bytes);
    }
    void AddWord(const TEncodedWord& word) {
        if (word.charset != pendingCharset_ || !IsAsciiCompatibleCharset(word.charset)) {
            Flush();
            pendingCharset_ = word.charset;
        }
        pendingBytes_ += word.bytes;
    }
    QString Take() {
        Flush();
        return text_;
    }

private:
    void Flush() {
        if (!pendingCharset_.isEmpty()) {
            // A header field is one line: a line break or other control character that an
            // encoded word carries would break the line in two wherever the field is shown.
            QString words = TextOfCharset(pendingBytes_, pendingCharset_);
            for (QChar& c : words) {
                if (c.unicode() < u' ' || c.unicode() == 0x7F) {
                    c = u' ';
                }
            }
            text_ += words;
        }
        pendingCharset_.clear();
        pendingBytes_.clear();
    }

    QString text_;
    QByteArray pendingCharset_;
    QByteArray pendingBytes_;
};

bool IsAsciiText(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            return false;
        }
    }
    return true;
}

// A header field value built token by token; a token that would pass the line length starts
// a new line (CR LF and a blank), unless it is the line's first.
class TFoldedField {
public:
    explicit TFoldedField(qsizetype nameLength) : lineLength_(nameLength + 2) {}

    void Add(const QByteArray& token) {
        if (!atLineStart_ && !Fits(token.size())) {
            Break();
        }
        if (!atLineStart_) {
            value_ += ' ';
            ++lineLength_;
        }
        value_ += token;
        lineLength_ += token.size();
        atLineStart_ = false;
    }
    // Goes on with a new line; the field's first token always stays on the name's line.
    void Break() {
        if (!value_.isEmpty()) {
            value_ += "\r\n ";
            lineLength_ = 1;
            atLineStart_ = true;
        }
    }
    bool Fits(qsizetype tokenLength) const {
        return lineLength_ + (atLineStart_ ? 0 : 1) + tokenLength <= kMaxLineLength;
    }
    const QByteArray& Value() const { return value_; }

private:
    QByteArray value_;
    qsizetype lineLength_;
    bool atLineStart_ = true;
};

QByteArray Utf8Word(const QByteArray& bytes) {
    return kUtf8WordStart + bytes.toBase64() + kWordEnd;
}

// Adds text as B-encoded words, each as long as the line it goes on or the word length allows,
// never cut inside a character.
void AddEncodedWords(TFoldedField& field, const QString& text) {
    QByteArray piece;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray character = text.mid(i, length).toUtf8();
        i += length - 1;
        const QByteArray longer = Utf8Word(piece + character);
        if (!piece.isEmpty() && (longer.size() > kMaxWordLength || !field.Fits(longer.size()))) {
            field.Add(Utf8Word(piece));
            field.Break();
            piece.clear();
        }
        piece += character;
    }
    field.Add(Utf8Word(piece));
}

} // namespace

bool MayHoldEncodedWords(QByteArrayView value) {
    // Searched for the "=" alone: a search for the pair takes a slower, general route.
    for (qsizetype at = value.indexOf('='); at >= 0 && at + 1 < value.size();
         at = value.indexOf('=', at + 1)) {
        if (value[at + 1] == '?') {
            return true;
        }
    }
    return false;
}

QString DecodeEncodedWords(QByteArrayView value) {
    TDecodedValue decoded;
    qsizetype plainStart = 0;
    qsizetype lastWordEnd = -1;
    qsizetype at = value.indexOf("=?");
    while (at >= 0) {
        TEncodedWord word;
        if (!ParseWord(value, at, word)) {
            // Past the "=?" only: the scan stays linear however many "=?" a value holds.
            at = value.indexOf("=?", at + 2);
            continue;
        }
        QByteArrayView between = value.sliced(plainStart, at - plainStart);
        // A fold left in the value counts as blank too.
        const bool onlyBlanks = std::all_of(between.begin(), between.end(), [](char c) {
            return IsBlank(c) || c == '\r' || c == '\n';
        });
        if (!(lastWordEnd == plainStart && onlyBlanks)) {
            decoded.AddPlain(between);
        }
        decoded.AddWord(word);
        plainStart = lastWordEnd = word.end;
        at = value.indexOf("=?", word.end);
    }
    decoded.AddPlain(value.sliced(plainStart));
    return decoded.Take();
}

QByteArray EncodeEncodedWords(const QString& value, qsizetype nameLength) {
    if (IsAsciiText(value)) {
        return value.toLatin1();
    }
    const QStringList tokens = value.split(u' ');
    qsizetype first = 0;
    while (IsAsciiText(tokens[first])) {
        ++first;
    }
    qsizetype last = tokens.size() - 1;
    while (IsAsciiText(tokens[last])) {
        --last;
    }
    TFoldedField field(nameLength);
    for (qsizetype i = 0; i < first; ++i) {
        field.Add(tokens[i].toLatin1());
    }
    // The blanks between the words encoded are part of the encoded text: blanks between
    // encoded words vanish when they are read.
    AddEncodedWords(field, tokens.mid(first, last - first + 1).join(u' '));
    for (qsizetype i = last + 1; i < tokens.size(); ++i) {
        field.Add(tokens[i].toLatin1());
    }
    return field.Value();
}
