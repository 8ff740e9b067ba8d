#include "nntp/decodedarticle.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"
#include "codec/qr64decode.h"
#include "codec/qruudecode.h"
#include "codec/qruue.h"
#include "nntp/nntpwire.h"
#include "nntp/qrextstr.h"
#include "util/exception.h"

#include <QBuffer>
#include <optional>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsContinuation(const QByteArray& line) {
    return !line.isEmpty() && IsBlank(line[0]);
}

bool IsIdentifierField(QByteArrayView name) {
    return name.compare("Message-ID", Qt::CaseInsensitive) == 0 ||
           name.compare("References", Qt::CaseInsensitive) == 0;
}

// Header lines into fields, up to the empty line, the "." line or the end, the lines taken
// collected in raw when it is given. The client's own "ArtId" item is no field of the article.
QList<THeaderField> ParseFields(const TStringList& lines, int& index, int end,
                                QByteArray* raw = nullptr) {
    QList<THeaderField> fields;
    for (; index < end; ++index) {
        const QByteArray& line = lines[index];
        if (line.isEmpty() || nntpwire::IsTerminator(line)) {
            ++index;
            break;
        }
        QByteArray name;
        const bool isArtId = TExStringList::NameOf(line, name) &&
                             name.compare("ArtId", Qt::CaseInsensitive) == 0;
        if (raw != nullptr && !isArtId) {
            *raw += line + "\r\n";
        }
        if (IsContinuation(line)) {
            if (!fields.isEmpty()) {
                fields.last().value += line;
            }
            continue;
        }
        if (name.isEmpty() || isArtId) {
            continue;
        }
        QByteArray value = line.mid(name.size() + 1);
        if (value.startsWith(' ')) {
            value.remove(0, 1);
        }
        fields.append({name, value});
    }
    return fields;
}

QByteArray FieldValue(const QList<THeaderField>& fields, QByteArrayView name) {
    for (const THeaderField& field : fields) {
        if (field.name.compare(name, Qt::CaseInsensitive) == 0) {
            return field.value;
        }
    }
    return QByteArray();
}

// Quoted-printable as real programs write it, made exact for the codec: escapes in lower case
// become upper case (RFC 2045, section 6.7, note 1), and an "=" that starts neither an escape
// nor a soft line break is text, written as "=3D".
QByteArray NormalisedQuotedPrintable(const QByteArray& text) {
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    QByteArray exact;
    exact.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            exact += text[i];
        } else if (i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            exact += '=' + text.mid(i + 1, 2).toUpper();
            i += 2;
        } else if (text.mid(i + 1, 2) == "\r\n") {
            exact += '=';
        } else if (i + 1 == text.size()) {
            // A soft line break whose line end went to the delimiter line after the part.
        } else {
            exact += "=3D";
        }
    }
    return exact;
}

using TStreamDecoder = void (*)(QIODevice&, QIODevice&);

QByteArray DecodedBy(TStreamDecoder decoder, const QByteArray& encoded) {
    QByteArray input = encoded;
    QBuffer source(&input);
    source.open(QIODevice::ReadOnly);
    QByteArray output;
    QBuffer destination(&output);
    destination.open(QIODevice::ReadWrite);
    decoder(source, destination);
    return output;
}

void Base64Decoder(QIODevice& source, QIODevice& destination) {
    B64Decode(source, destination);
}

// Base64 lines hold the alphabet and padding only (RFC 2045, section 6.8), and the blanks that
// programs leave at their ends; a body with anything else is not Base64, whatever its header
// says, and is better shown as it came.
bool IsBase64Text(const QByteArray& text) {
    for (const char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=' ||
                           c == '\r' || c == '\n' || c == ' ' || c == '\t';
        if (!valid) {
            return false;
        }
    }
    return true;
}

// The data lines of a uuencoded part: those between its "begin" line and its "end" line, either
// of which may be missing.
QByteArray UuencodedDataLines(const QByteArray& encoded) {
    const QList<QByteArray> lines = encoded.split('\n');
    qsizetype first = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith("begin ")) {
            first = i + 1;
            break;
        }
    }
    QByteArray data;
    for (qsizetype i = first; i < lines.size() && lines[i].trimmed() != "end"; ++i) {
        data += lines[i] + '\n';
    }
    return data;
}

void UuDecoder(QIODevice& source, QIODevice& destination) {
    UUEDecode(source, destination);
}

// The content with its transfer encoding undone by the codecs; nothing when the encoding is none
// they know, or the content does not decode.
std::optional<QByteArray> DecodedContent(const QByteArray& encoded,
                                         const QByteArray& transferEncoding) {
    try {
        if (transferEncoding == "quoted-printable") {
            return DecodedBy(TQRUUProcessor::QPDecode, NormalisedQuotedPrintable(encoded));
        }
        if (transferEncoding == "base64" && IsBase64Text(encoded)) {
            return DecodedBy(Base64Decoder, encoded);
        }
        if (transferEncoding == "x-uuencode" || transferEncoding == "x-uue") {
            return DecodedBy(UuDecoder, UuencodedDataLines(encoded));
        }
    } catch (const Exception&) {
        // Kept as it came: a reader still sees what the poster sent.
    }
    return std::nullopt;
}

// Transfer encodings that leave the content as it is (RFC 2045, section 6.2).
bool IsIdentityEncoding(const QByteArray& transferEncoding) {
    return transferEncoding.isEmpty() || transferEncoding == "7bit" ||
           transferEncoding == "8bit" || transferEncoding == "binary";
}

// Where an entity's lines are: a whole body, or one part of a multipart.
struct TEntityPlace {
    int first = 0;
    int end = 0;
    // The media type when the header names none: text/plain, and message/rfc822 for the parts
    // of a multipart/digest (RFC 2046, section 5.1.5).
    QByteArray defaultType = QByteArrayLiteral("text/plain");
    // A delimiter line follows the lines, and the line end of the last one is its (RFC 2046,
    // section 5.1.1): no part of the content.
    bool delimited = false;
};

TArticlePart MakePart(const QList<THeaderField>& header, const QByteArray& encoded,
                      const TEntityPlace& place) {
    TArticlePart part;
    part.header = header;
    const QByteArray contentType = FieldValue(header, "Content-Type");
    part.mediaType = MediaTypeOf(contentType, place.defaultType);
    part.charset = nntpwire::HeaderParameter(contentType, "charset").trimmed();
    part.transferEncoding = FieldValue(header, "Content-Transfer-Encoding").trimmed().toLower();
    part.fileName =
        nntpwire::HeaderParameter(FieldValue(header, "Content-Disposition"), "filename");
    if (part.fileName.isEmpty()) {
        part.fileName = nntpwire::HeaderParameter(contentType, "name");
    }
    part.encoded = encoded;
    const QByteArray exact =
        place.delimited && encoded.endsWith("\r\n") ? encoded.chopped(2) : encoded;
    const std::optional<QByteArray> decoded = DecodedContent(exact, part.transferEncoding);
    part.content = decoded ? *decoded : exact;
    part.undecodable = !decoded && !IsIdentityEncoding(part.transferEncoding);
    return part;
}

// RFC 2046, section 5.1.1: a delimiter line is "--" and the boundary; the close delimiter has
// "--" after it.
bool IsDelimiter(QByteArrayView line, const QByteArray& boundary) {
    return line.startsWith("--") && line.sliced(2).startsWith(boundary);
}

bool IsCloseDelimiter(QByteArrayView line, const QByteArray& boundary) {
    return IsDelimiter(line, boundary) && line.sliced(2 + boundary.size()).startsWith("--");
}

QByteArray JoinedLines(const TStringList& lines, int first, int end) {
    QByteArray text;
    for (int i = first; i < end; ++i) {
        text += lines[i] + "\r\n";
    }
    return text;
}

// The end of a part's header: the empty line, a delimiter line, or the first line that is
// neither a field nor its continuation, with which the content begins when a program left out
// the empty line.
int PartHeaderEnd(const TStringList& lines, int first, int end, const QByteArray& boundary) {
    int i = first;
    for (; i < end && !lines[i].isEmpty() && !IsDelimiter(lines[i], boundary); ++i) {
        QByteArray name;
        if (!IsContinuation(lines[i]) && !TExStringList::NameOf(lines[i], name)) {
            break;
        }
    }
    return i;
}

bool AppendEntity(const QList<THeaderField>& header, const TStringList& lines,
                  const TEntityPlace& place, QList<TArticlePart>& parts, int depth);

// The parts of a multipart body between first and end; false when no delimiter line is there
// (the body is then read as one part).
bool AppendMultipart(const QByteArray& boundary, const QByteArray& mediaType,
                     const TStringList& lines, const TEntityPlace& place,
                     QList<TArticlePart>& parts, int depth) {
    int i = place.first;
    while (i < place.end && !IsDelimiter(lines[i], boundary)) {
        ++i; // the preamble is no part
    }
    if (i == place.end) {
        return false;
    }
    TEntityPlace partPlace;
    if (mediaType == "multipart/digest") {
        partPlace.defaultType = QByteArrayLiteral("message/rfc822");
    }
    bool closed = false;
    while (i < place.end && !closed) {
        ++i; // past the delimiter
        const int headerEnd = PartHeaderEnd(lines, i, place.end, boundary);
        const QList<THeaderField> partHeader = ParseFields(lines, i, headerEnd);
        if (i < place.end && lines[i].isEmpty()) {
            ++i; // the empty line that ends the header
        }
        partPlace.first = i;
        while (i < place.end && !IsDelimiter(lines[i], boundary)) {
            ++i;
        }
        closed = i >= place.end || IsCloseDelimiter(lines[i], boundary);
        partPlace.end = i;
        partPlace.delimited = i < place.end;
        AppendEntity(partHeader, lines, partPlace, parts, depth + 1);
    }
    return true;
}

// Nesting deeper than this is read as plain parts: no article needs more, and a crafted one
// must not exhaust the stack.
constexpr int kMaxNesting = 8;

// The parts of an entity (a body, or a part of a multipart) with the given header: itself, or
// the parts of the multipart it is. True when it was read as a multipart.
bool AppendEntity(const QList<THeaderField>& header, const TStringList& lines,
                  const TEntityPlace& place, QList<TArticlePart>& parts, int depth) {
    const QByteArray contentType = FieldValue(header, "Content-Type");
    const QByteArray mediaType = MediaTypeOf(contentType, place.defaultType);
    const bool multipart = mediaType.startsWith("multipart/");
    if (multipart && depth < kMaxNesting) {
        const QByteArray boundary = nntpwire::HeaderParameter(contentType, "boundary");
        if (!boundary.isEmpty() &&
            AppendMultipart(boundary, mediaType, lines, place, parts, depth)) {
            return true;
        }
    }
    parts.append(MakePart(header, JoinedLines(lines, place.first, place.end), place));
    if (multipart) {
        // Declared multipart without a part in it (or rewritten by attachment extraction), or
        // nested too deep: plain text after all.
        parts.last().mediaType = QByteArrayLiteral("text/plain");
    }
    return false;
}

// RFC 3676: in a format=flowed text a line that ends in a blank goes on in the next line of
// the same quote depth; a line's leading blank is stuffing, and with DelSp=yes the blank that
// marks the line as flowed is no part of the text. Quoted lines come out as ">" per depth and
// a blank; the signature separator "-- " never flows.
QString Unflowed(const QString& text, bool deleteSpace) {
    QString unflowed;
    QString paragraph;
    qsizetype paragraphDepth = 0;
    bool open = false;
    const auto flush = [&] {
        if (paragraphDepth > 0) {
            unflowed += QString(paragraphDepth, u'>') + u' ';
        }
        unflowed += paragraph + QStringLiteral("\r\n");
        paragraph.clear();
        open = false;
    };
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast(); // after the last line end
    }
    for (const QString& line : lines) {
        qsizetype depth = 0;
        while (depth < line.size() && line[depth] == u'>') {
            ++depth;
        }
        QString content = line.mid(depth);
        if (content.startsWith(u' ')) {
            content.remove(0, 1);
        }
        if (open && depth != paragraphDepth) {
            flush();
        }
        paragraph += content;
        paragraphDepth = depth;
        open = content.endsWith(u' ') && content != QStringLiteral("-- ");
        if (open && deleteSpace) {
            paragraph.chop(1);
        }
        if (!open) {
            flush();
        }
    }
    if (open) {
        flush();
    }
    return unflowed;
}

QString HeaderLinesOf(const TArticlePart& part) {
    QString text;
    for (const THeaderField& field : part.header) {
        text += TextOfUndeclaredBytes(field.name) + QStringLiteral(": ") +
                FieldDisplayValue(field.name, field.value) + QStringLiteral("\r\n");
    }
    return text;
}

} // namespace

QString TArticlePart::Text(bool* charsetKnown) const {
    const QString text = TextOfCharset(content, charset, charsetKnown);
    const QByteArray contentType = FieldValue(header, "Content-Type");
    if (nntpwire::HeaderParameter(contentType, "format").toLower() != "flowed") {
        return text;
    }
    return Unflowed(text, nntpwire::HeaderParameter(contentType, "delsp").toLower() == "yes");
}

TDecodedArticle::TDecodedArticle(const TStringList& headerLines, const TStringList& bodyLines) {
    int index = 0;
    fields_ = ParseFields(headerLines, index, headerLines.Count(), &header_);
    int end = bodyLines.Count();
    if (end > 0 && nntpwire::IsTerminator(bodyLines.Last())) {
        --end;
    }
    body_ = JoinedLines(bodyLines, 0, end);
    TEntityPlace place;
    place.end = end;
    mediaType_ = MediaTypeOf(FieldValue(fields_, "Content-Type"), place.defaultType);
    multipart_ = AppendEntity(fields_, bodyLines, place, parts_, 0);
}

QString TDecodedArticle::BodyText(QByteArray* unknownCharset) const {
    QString text;
    for (const TArticlePart& part : parts_) {
        if (!text.isEmpty()) {
            text += QStringLiteral("\r\n");
        }
        if (!part.IsText()) {
            // A part that is no text reads as it came, its header with it.
            text += HeaderLinesOf(part) + QStringLiteral("\r\n") +
                    TextOfUndeclaredBytes(part.encoded);
            continue;
        }
        bool known = true;
        text += part.Text(&known);
        // The line end before a delimiter line is no part of the text, but it still ends the
        // part's last line on the screen.
        if (multipart_ && !text.endsWith(QStringLiteral("\r\n"))) {
            text += QStringLiteral("\r\n");
        }
        if (!known && unknownCharset != nullptr && unknownCharset->isEmpty()) {
            *unknownCharset = part.charset;
        }
    }
    return text;
}

QByteArray MediaTypeOf(const QByteArray& contentType, const QByteArray& defaultType) {
    const qsizetype semicolon = contentType.indexOf(';');
    const QByteArray type =
        (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
    return type.isEmpty() ? defaultType : type;
}

QString FieldDisplayValue(QByteArrayView name, QByteArrayView value) {
    return IsIdentifierField(name) ? TextOfUndeclaredBytes(value) : DecodeEncodedWords(value);
}

QString HeaderDisplayText(const TStringList& headerLines) {
    QString text;
    for (int i = 0; i < headerLines.Count(); ++i) {
        const QByteArray& line = headerLines[i];
        QByteArray name;
        if (TExStringList::NameOf(line, name) && !IsIdentifierField(name)) {
            QByteArray value = line.mid(name.size() + 1);
            int next = i + 1;
            while (next < headerLines.Count() && IsContinuation(headerLines[next])) {
                value += headerLines[next++];
            }
            if (MayHoldEncodedWords(value)) {
                // Shown on one line: a fold between encoded words is no blank of the text.
                text += TextOfUndeclaredBytes(name) + u':' + DecodeEncodedWords(value) +
                        QStringLiteral("\r\n");
                i = next - 1;
                continue;
            }
        }
        text += TextOfUndeclaredBytes(line) + QStringLiteral("\r\n");
    }
    return text;
}
