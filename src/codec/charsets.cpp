#include "codec/charsets.h"

#include <QHash>
#include <QStringDecoder>
#include <cerrno>
#include <iconv.h>
#include <mutex>
#include <optional>

namespace {

// A charset name as the libraries want it: no blanks or quotes around it.
QByteArray CleanName(QByteArrayView charset) {
    QByteArray name = charset.trimmed().toByteArray();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"')) {
        name = name.mid(1, name.size() - 2).trimmed();
    }
    return name;
}

// iconv's conversion to UTF-8, unknown bytes replaced; nothing when iconv does not know the
// charset.
std::optional<QString> TextByIconv(QByteArrayView bytes, const QByteArray& name) {
    const iconv_t conversion = iconv_open("UTF-8", name.constData());
    if (conversion == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    QByteArray utf8;
    QByteArray input = bytes.toByteArray();
    char* in = input.data();
    size_t inLeft = static_cast<size_t>(input.size());
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(conversion, &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
        // A byte the charset does not allow, or a sequence cut off at the end: one
        // replacement character, and on with the next byte.
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            utf8.append("\xEF\xBF\xBD");
            ++in;
            --inLeft;
        }
    }
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    iconv(conversion, nullptr, nullptr, &out, &outLeft); // a stateful charset's closing shift
    utf8.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
    iconv_close(conversion);
    return QString::fromUtf8(utf8);
}

bool IconvKnows(const QByteArray& name) {
    const iconv_t conversion = iconv_open("UTF-8", name.constData());
    if (conversion == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    iconv_close(conversion);
    return true;
}

bool IsUsAscii(const QByteArray& name) {
    return name.compare("us-ascii", Qt::CaseInsensitive) == 0 ||
           name.compare("ascii", Qt::CaseInsensitive) == 0;
}

bool IsLatin1(const QByteArray& name) {
    return name.compare("iso-8859-1", Qt::CaseInsensitive) == 0 ||
           name.compare("iso_8859-1", Qt::CaseInsensitive) == 0 ||
           name.compare("latin1", Qt::CaseInsensitive) == 0;
}

// The text of bytes by Qt's decoder for the charset, else by iconv; nothing when neither
// knows the charset.
std::optional<QString> TextByLibraries(QByteArrayView bytes, const QByteArray& name) {
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    if (decoder.isValid()) {
        return decoder.decode(bytes);
    }
    return TextByIconv(bytes, name);
}

// Every ASCII byte once, in order: a charset that reads them as themselves reads any ASCII
// text as itself. Those that do not: UTF-7 ("+" opens Base64), the ISO-2022 family (ESC
// switches sets), HZ ("~{"), UTF-16, EBCDIC.
const QByteArray& AsciiProbe() {
    static const QByteArray probe = [] {
        QByteArray bytes;
        for (int c = 0; c < 0x80; ++c) {
            bytes += static_cast<char>(c);
        }
        return bytes;
    }();
    return probe;
}

// Charsets whose ASCII compatibility is remembered at most.
constexpr qsizetype kMaxRememberedCharsets = 256;

} // namespace

bool IsAscii(QByteArrayView bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool IsValidUtf8(QByteArrayView bytes) {
    if (IsAscii(bytes)) {
        return true;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

QString TextOfUndeclaredBytes(QByteArrayView bytes) {
    if (IsAscii(bytes)) {
        return QString::fromLatin1(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        return text;
    }
    QStringDecoder windows1252("windows-1252", QStringDecoder::Flag::Stateless);
    return windows1252.decode(bytes);
}

QString TextOfCharset(QByteArrayView bytes, QByteArrayView charset, bool* known) {
    QByteArray name = CleanName(charset);
    // Programs declare US-ASCII by default, whatever the text holds: 8-bit bytes under it are
    // read as undeclared.
    if (name.isEmpty() || (IsUsAscii(name) && !IsAscii(bytes))) {
        return TextOfUndeclaredBytes(bytes);
    }
    // Text declared ISO-8859-1 is Windows-1252 in practice (quotes and dashes at 0x80 to
    // 0x9F, where ISO-8859-1 has only control characters), as browsers read it too.
    if (IsLatin1(name)) {
        name = QByteArrayLiteral("windows-1252");
    }
    if (IsAscii(bytes) && IsAsciiCompatibleCharset(name)) {
        return QString::fromLatin1(bytes);
    }
    if (std::optional<QString> text = TextByLibraries(bytes, name)) {
        return *text;
    }
    if (known != nullptr) {
        *known = false;
    }
    return TextOfUndeclaredBytes(bytes);
}

bool IsKnownCharset(QByteArrayView charset) {
    const QByteArray name = CleanName(charset);
    return QStringDecoder(name.constData()).isValid() || IconvKnows(name);
}

bool IsAsciiCompatibleCharset(QByteArrayView charset) {
    const QByteArray name = CleanName(charset).toLower();
    static std::mutex mutex;
    static QHash<QByteArray, bool> remembered;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto found = remembered.constFind(name); found != remembered.cend()) {
        return *found;
    }
    const std::optional<QString> probe = TextByLibraries(AsciiProbe(), name);
    const bool compatible = probe && *probe == QString::fromLatin1(AsciiProbe());
    // Names come from articles, and iconv takes endless spellings of one charset.
    if (remembered.size() >= kMaxRememberedCharsets) {
        remembered.clear();
    }
    remembered.insert(name, compatible);
    return compatible;
}
