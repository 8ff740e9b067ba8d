#include "util/texthelpers.h"

#include "util/filehelpers.h"
#include "util/launch.h"

#include <QByteArrayView>
#include <array>
#include <type_traits>

namespace {

constexpr int kFirstEscapedCode = 9;
constexpr int kEqualsSign = 61;

// The value of a base64 character (RFC 2045 alphabet), -1 for any other character.
int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// Decodes groups of four characters until the end or a padded group; nothing when a
// character is outside the alphabet or padding stands where no padding can be.
bool DecodeBase64Groups(const QByteArray& text, QByteArray& decoded) {
    decoded.reserve(text.size() / 4 * 3);
    for (qsizetype i = 0; i < text.size(); i += 4) {
        std::array<int, 4> values{};
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            values[k] = c == '=' && k >= 2 ? 0 : Base64Value(c);
            if (values[k] < 0) {
                return false;
            }
        }
        const int bits = values[0] << 18 | values[1] << 12 | values[2] << 6 | values[3];
        decoded += static_cast<char>(bits >> 16);
        if (text[i + 2] == '=') {
            return true;
        }
        decoded += static_cast<char>(bits >> 8 & 0xFF);
        if (text[i + 3] == '=') {
            return true;
        }
        decoded += static_cast<char>(bits & 0xFF);
    }
    return true;
}

// Writes decoded into a new file in ProgramDir; "~" and the file's name, or the bytes
// themselves when the file cannot be written.
QByteArray SaveDecodedFile(const QByteArray& decoded) {
    const QString name = ProgramDir() + QStringLiteral("zk64_") + RandomLetters(20).toLower() +
                         u'.' + QString::fromLatin1(SniffExtension(decoded));
    const std::unique_ptr<QFile> file = OpenFileRetry(name, TOpenMode::Write);
    if (!file) {
        return decoded;
    }
    if (file->write(decoded) != decoded.size() || !file->flush()) {
        file->remove();
        return decoded;
    }
    return QByteArrayLiteral("~") + QFile::encodeName(name);
}

struct TSignature {
    QByteArrayView leadingBytes;
    const char* extension;
};

} // namespace

QByteArray NthField(const QByteArray& text, const QByteArray& delimiters, qint32 n) {
    QByteArray field;
    qint32 counter = 1;
    for (const char c : text) {
        if (delimiters.contains(c)) {
            if (counter == n) {
                return field;
            }
            ++counter;
        } else if (counter == n) {
            field += c;
        }
    }
    if (counter < n) {
        return QByteArrayLiteral("\n");
    }
    return field;
}

qint64 MinInt64(qint64 a, qint64 b) {
    return a < b ? a : b;
}

QByteArray ReplaceText(const QByteArray& text, const QByteArray& oldText, const QByteArray& newText,
                       bool caseSensitive, bool firstOnly) {
    if (oldText.isEmpty() || text.isEmpty()) {
        return text;
    }
    // Lower-casing keeps every byte in place, so positions found in the working copy are
    // positions in the text.
    const QByteArray working = caseSensitive ? text : text.toLower();
    const QByteArray needle = caseSensitive ? oldText : oldText.toLower();
    qsizetype found = working.indexOf(needle);
    if (found < 0) {
        return text;
    }
    if (needle.size() == 1 && newText.size() == 1) {
        QByteArray result = text;
        for (qsizetype i = found; i < working.size(); ++i) {
            if (working[i] == needle[0]) {
                result[i] = newText[0];
                if (firstOnly) {
                    break;
                }
            }
        }
        return result;
    }
    // Appending to a byte array grows its capacity geometrically, so a large text is built in
    // linear time without a separate flush buffer.
    QByteArray result;
    result.reserve(text.size());
    qsizetype copied = 0;
    while (found >= 0) {
        result += QByteArrayView(text).sliced(copied, found - copied);
        result += newText;
        copied = found + needle.size();
        if (firstOnly) {
            break;
        }
        found = working.indexOf(needle, copied);
    }
    result += QByteArrayView(text).sliced(copied);
    return result;
}

QByteArray ReplaceAll(const QByteArray& text, const QByteArray& oldText, const QByteArray& newText,
                      bool caseSensitive) {
    return ReplaceText(text, oldText, newText, caseSensitive, false);
}

QByteArray DecodeQuotedPrintable(const QByteArray& body) {
    // A soft line break followed by a line whose leading dot was doubled for transmission.
    QByteArray text = ReplaceAll(body, QByteArrayLiteral("=\r\n.."), QByteArrayLiteral("."), true);
    text = ReplaceAll(text, QByteArrayLiteral("=\r\n"), QByteArray(), true);
    if (!text.contains('=')) {
        return text;
    }
    for (int code = kFirstEscapedCode; code <= 255; ++code) {
        if (code == kEqualsSign) {
            continue;
        }
        const QByteArray escape =
            '=' + QByteArray::number(code, 16).toUpper().rightJustified(2, '0');
        text = ReplaceAll(text, escape, QByteArray(1, static_cast<char>(code)), false);
    }
    // Last, so that an encoded equals sign never starts a new escape.
    return ReplaceAll(text, QByteArrayLiteral("=3D"), QByteArrayLiteral("="), false);
}

QByteArray DecodeBase64Text(const QByteArray& body) {
    QByteArray text = body;
    const bool toFile = text.startsWith('~');
    if (toFile) {
        text.remove(0, 1);
    }
    text = ReplaceAll(text, QByteArrayLiteral("\r\n"), QByteArray(), true);
    if (text.isEmpty() || text.size() % 4 != 0) {
        return QByteArray();
    }
    QByteArray decoded;
    if (!DecodeBase64Groups(text, decoded)) {
        return QByteArray();
    }
    return toFile ? SaveDecodedFile(decoded) : decoded;
}

QByteArray SniffExtension(const QByteArray& data) {
    using namespace Qt::Literals::StringLiterals;
    if (data.startsWith("RIFF"_ba)) {
        return data.mid(8, 3) == "AVI"_ba ? "avi"_ba : "wav"_ba;
    }
    static const std::array<TSignature, 17> signatures{{
        {"BM", "bmp"},
        {"MZ", "exe"},
        {"PK\x03\x04", "zip"},
        {"MThd", "mid"},
        {"\x89PNG", "png"},
        {QByteArrayView("\x00\x00\x01\xBA", 4), "mpg"},
        {"\x60\xEA", "arj"},
        {"\xD7\xCD", "wmf"},
        {QByteArrayView("\x05\x00", 2), "cpd"},
        {QByteArrayView("\x06\x00", 2), "cpd"},
        {"GIF", "gif"},
        {QByteArrayView("\x00\x01\x00\x00", 4), "mdb"},
        {QByteArrayView("\x00\x00\x01\x00", 4), "ico"},
        {QByteArrayView("\x01\x00\x00\x00", 4), "emf"},
        {"\xFF\xD8\xFF", "jpg"},
        {"{\\rt", "rtf"},
        {"BEGIN:VCALENDAR", "ics"},
    }};
    for (const TSignature& signature : signatures) {
        if (data.startsWith(signature.leadingBytes)) {
            return QByteArray(signature.extension);
        }
    }
    return "bin"_ba;
}

namespace {

template <typename Text>
Text TrimmedOfBlanksAndControls(const Text& text) {
    const auto isBlankOrControl = [&](qsizetype i) {
        if constexpr (std::is_same_v<Text, QString>) {
            return text[i].unicode() <= u' ';
        } else {
            return static_cast<unsigned char>(text[i]) <= ' ';
        }
    };
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlankOrControl(first)) {
        ++first;
    }
    while (last > first && isBlankOrControl(last - 1)) {
        --last;
    }
    return text.mid(first, last - first);
}

} // namespace

QByteArray TrimBlanksAndControls(const QByteArray& text) {
    return TrimmedOfBlanksAndControls(text);
}

QString TrimBlanksAndControls(const QString& text) {
    return TrimmedOfBlanksAndControls(text);
}
