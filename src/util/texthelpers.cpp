#include "util/texthelpers.h"

#include "util/filehelpers.h"
#include "util/launch.h"

#include <QByteArrayView>
#include <array>
#include <type_traits>

namespace {

// The characters of RFC 2045's Base64 alphabet.
bool IsBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '/';
}

// The text up to and including the first group of four that holds padding ("TQ==TWFu" ends
// after "TQ=="); false when a character is outside the alphabet or padding stands where no
// padding can be.
bool ValidGroups(const QByteArray& text, QByteArray& groups) {
    for (qsizetype i = 0; i < text.size(); i += 4) {
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (!IsBase64Character(c) && !(c == '=' && k >= 2)) {
                return false;
            }
        }
        if (text[i + 2] == '=' && text[i + 3] != '=') {
            return false;
        }
        if (text[i + 3] == '=') {
            groups = text.left(i + 4);
            return true;
        }
    }
    groups = text;
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
    QByteArray groups;
    if (!ValidGroups(text, groups)) {
        return QByteArray();
    }
    const QByteArray decoded = QByteArray::fromBase64(groups);
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
