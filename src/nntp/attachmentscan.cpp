#include "nntp/attachmentscan.h"

#include "codec/qruue.h"
#include "codec/yencdecode.h"
#include "nntp/decodedarticle.h"
#include "nntp/nntpwire.h"
#include "util/exception.h"
#include "util/filehelpers.h"

#include <QBuffer>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <array>

namespace {

// The names extraction falls back on for a block and for a MIME part.
const QString kBlockDefaultName = QStringLiteral("extract.dat");
const QString kPartDefaultName = QStringLiteral("Extract.dat");

// The MIME fields of an entity's header, unfolded, and where its content begins.
struct TEntityHeader {
    QByteArray contentType;
    QByteArray disposition;
    QByteArray transferEncoding;
    // An article's Subject, which may count the article as one part of a file.
    QByteArray subject;
    int contentLine = 0;
};

// Header lines from first up to the empty line (or the "." line, or end); contentLine is the
// line after it. A line that is neither a field nor its continuation ends the header too, and
// is the first of the content: some programs leave out the empty line.
TEntityHeader ReadEntityHeader(const TStringList& lines, int first, int end) {
    TEntityHeader header;
    QByteArray* last = nullptr;
    int i = first;
    for (; i < end; ++i) {
        const QByteArray& line = lines[i];
        if (line.isEmpty() || nntpwire::IsTerminator(line)) {
            ++i;
            break;
        }
        if ((line.startsWith(' ') || line.startsWith('\t'))) {
            if (last != nullptr) {
                *last += line;
            }
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.left(colon).contains(' ')) {
            break;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        last = nullptr;
        if (name == "content-type") {
            last = &header.contentType;
        } else if (name == "content-disposition") {
            last = &header.disposition;
        } else if (name == "content-transfer-encoding") {
            last = &header.transferEncoding;
        } else if (name == "subject") {
            last = &header.subject;
        }
        if (last != nullptr) {
            *last = value;
        }
    }
    header.transferEncoding = header.transferEncoding.trimmed().toLower();
    header.contentLine = i;
    return header;
}

// The bytes a uuencoded line carries, as its length character says.
qint64 UuLineBytes(QByteArrayView line) {
    return line.isEmpty() ? 0 : (static_cast<unsigned char>(line[0]) - 32) & 63;
}

bool IsIdentityEncoding(const QByteArray& encoding) {
    return encoding.isEmpty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

QByteArray WithoutCr(const QByteArray& line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The value of "key=" on a yEnc "=ybegin" line, before its name=; 0 when absent.
int YEncKeyword(const QByteArray& line, const QByteArray& key) {
    const qsizetype nameAt = line.indexOf(" name=");
    const QByteArray head = nameAt < 0 ? line : line.left(nameAt);
    const qsizetype at = head.indexOf(' ' + key + '=');
    if (at < 0) {
        return 0;
    }
    const qsizetype start = at + key.size() + 2;
    qsizetype stop = head.indexOf(' ', start);
    return head.mid(start, stop < 0 ? -1 : stop - start).toInt();
}

const QRegularExpression& UuBeginLine() {
    static const QRegularExpression begin(QStringLiteral("^begin [0-7]{3,4} (.+)$"));
    return begin;
}

// A yEnc block from its "=ybegin" line at first: up to its "=yend" line, the next "=ybegin"
// or end.
int FindYEncBlock(const TStringList& lines, int first, int end, QList<TFoundAttachment>& found) {
    const TYEncDecoder begin(lines[first]);
    TFoundAttachment file;
    file.kind = TFoundAttachment::TKind::YEnc;
    file.name = nntpwire::SafeFileName(begin.Name(), kBlockDefaultName);
    file.size = begin.FileSize().value_or(0);
    file.part = YEncKeyword(lines[first], "part");
    file.total = YEncKeyword(lines[first], "total");
    file.firstLine = first;
    file.contentLine = first;
    int i = first + 1;
    for (; i < end && !TYEncDecoder::IsBeginLine(lines[i]); ++i) {
        if (TYEncDecoder::IsEndLine(lines[i])) {
            ++i;
            break;
        }
    }
    file.endLine = i;
    found.append(file);
    return i;
}

// A line of 45 bytes, as uuencoders fill every line but the last: where a slice of a file cut
// into several articles begins.
bool IsFullUuLine(QByteArrayView line) {
    return line.startsWith('M') && IsUuDataLine(line) && UuLineBytes(line) == 45;
}

// The slice of a uuencoded file in an article of its later parts: from the first full data line
// through the data lines after it and the "end" line that may close the file.
void FindUuSlice(const TStringList& lines, int end, const QString& name,
                 std::pair<int, int> counter, QList<TFoundAttachment>& found) {
    int first = 0;
    while (first < end && !IsFullUuLine(WithoutCr(lines[first]))) {
        ++first;
    }
    if (first == end) {
        return;
    }
    TFoundAttachment slice;
    slice.kind = TFoundAttachment::TKind::Uuencoded;
    slice.name = name;
    slice.sizeEstimated = true;
    slice.firstLine = first;
    slice.contentLine = first;
    slice.part = counter.first;
    slice.total = counter.second;
    int i = first;
    for (; i < end && IsUuDataLine(WithoutCr(lines[i])); ++i) {
        slice.size += UuLineBytes(lines[i]);
    }
    if (i < end && WithoutCr(lines[i]).trimmed() == "end") {
        ++i;
    }
    slice.endLine = i;
    found.append(slice);
}

// The file name a subject gives before its counter: a quoted name, else its last word.
QString SubjectFileName(const QString& subject) {
    static const QRegularExpression counter(QStringLiteral("\\(\\d+/\\d+\\)[^(]*$"));
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
    const QString before = QString(subject).remove(counter).trimmed();
    const QRegularExpressionMatch match = quoted.match(before);
    const QString name = match.hasMatch() ? match.captured(1) : before.section(u' ', -1);
    return nntpwire::SafeFileName(name.toUtf8(), kBlockDefaultName);
}

// A uuencoded block from its "begin" line at first up to its "end" line, or end.
int FindUuBlock(const TStringList& lines, int first, int end, const QString& name,
                QList<TFoundAttachment>& found) {
    TFoundAttachment file;
    file.kind = TFoundAttachment::TKind::Uuencoded;
    file.name = nntpwire::SafeFileName(name.toUtf8(), kBlockDefaultName);
    file.sizeEstimated = true;
    file.firstLine = first;
    file.contentLine = first;
    int i = first + 1;
    for (; i < end; ++i) {
        if (WithoutCr(lines[i]).trimmed() == "end") {
            ++i;
            break;
        }
        file.size += UuLineBytes(lines[i]);
    }
    file.endLine = i;
    found.append(file);
    return i;
}

void FindBlocks(const TStringList& lines, int first, int end, QList<TFoundAttachment>& found) {
    int i = first;
    while (i < end) {
        const QByteArray& line = lines[i];
        if (TYEncDecoder::IsBeginLine(line)) {
            i = FindYEncBlock(lines, i, end, found);
            continue;
        }
        if (line.startsWith("begin ")) {
            const QRegularExpressionMatch match =
                UuBeginLine().match(QString::fromLatin1(WithoutCr(line)));
            if (match.hasMatch()) {
                i = FindUuBlock(lines, i, end, match.captured(1).trimmed(), found);
                continue;
            }
        }
        ++i;
    }
}

// The bytes the encoded lines of a MIME part hold, estimated from their length.
qint64 EstimatedPartSize(const TStringList& lines, int first, int end, const QByteArray& encoding) {
    qint64 size = 0;
    for (int i = first; i < end; ++i) {
        const QByteArray& line = lines[i];
        if (encoding == "base64") {
            size += (WithoutCr(line).trimmed().size() * 3) / 4;
        } else if (encoding == "x-uuencode" || encoding == "uuencode") {
            size += line.startsWith("begin ") || line.trimmed() == "end" ? 0 : UuLineBytes(line);
        } else if (encoding == "quoted-printable") {
            size += line.size() - 2 * line.count('=') + (line.endsWith('=') ? 1 : 2);
        } else {
            size += line.size() + 2;
        }
    }
    return size;
}

void FindInEntity(const TStringList& lines, const TEntityHeader& header, int end,
                  const QByteArray& defaultType, int firstLine, QList<TFoundAttachment>& found);

// The parts of a multipart entity between its delimiter lines. False when there is none.
bool FindInParts(const TStringList& lines, const QByteArray& boundary, int first, int end,
                 const QByteArray& childType, QList<TFoundAttachment>& found) {
    const QByteArray delimiter = "--" + boundary;
    int partStart = -1;
    bool any = false;
    for (int i = first; i < end; ++i) {
        const QByteArray line = WithoutCr(lines[i]);
        if (!line.startsWith(delimiter)) {
            continue;
        }
        const QByteArray rest = line.mid(delimiter.size());
        const bool close = rest.startsWith("--");
        if (!close && !rest.trimmed().isEmpty()) {
            continue;
        }
        if (partStart >= 0) {
            FindInEntity(lines, ReadEntityHeader(lines, partStart, i), i, childType, partStart,
                         found);
        }
        any = true;
        partStart = i + 1;
        if (close) {
            return true;
        }
    }
    if (partStart >= 0) {
        FindInEntity(lines, ReadEntityHeader(lines, partStart, end), end, childType, partStart,
                     found);
    }
    return any;
}

void FindInEntity(const TStringList& lines, const TEntityHeader& header, int end,
                  const QByteArray& defaultType, int firstLine, QList<TFoundAttachment>& found) {
    const QByteArray mediaType = MediaTypeOf(header.contentType, defaultType);
    if (mediaType.startsWith("multipart/")) {
        const QByteArray boundary = nntpwire::HeaderParameter(header.contentType, "boundary");
        const QByteArray childType =
            mediaType == "multipart/digest" ? "message/rfc822" : "text/plain";
        if (!boundary.isEmpty() &&
            FindInParts(lines, boundary, header.contentLine, end, childType, found)) {
            return;
        }
    }
    if (mediaType.startsWith("text/") || mediaType == "message/rfc822" ||
        mediaType.startsWith("multipart/")) {
        if (IsIdentityEncoding(header.transferEncoding)) {
            FindBlocks(lines, header.contentLine, end, found);
        }
        return;
    }
    TFoundAttachment file;
    file.kind = TFoundAttachment::TKind::Mime;
    QString name = nntpwire::HeaderParameterText(header.disposition, "filename");
    if (name.isEmpty()) {
        name = nntpwire::HeaderParameterText(header.contentType, "name");
    }
    file.name = PlainFileName(name, kPartDefaultName);
    file.transferEncoding = header.transferEncoding;
    file.size = EstimatedPartSize(lines, header.contentLine, end, header.transferEncoding);
    file.sizeEstimated = true;
    file.firstLine = firstLine;
    file.contentLine = header.contentLine;
    file.endLine = end;
    found.append(file);
}

// The body's lines without the "." line that closed the reply.
int BodyEnd(const TStringList& bodyLines) {
    const int count = bodyLines.Count();
    return count > 0 && nntpwire::IsTerminator(bodyLines.Last()) ? count - 1 : count;
}

QByteArray JoinedLines(const TStringList& lines, int first, int end) {
    QByteArray text;
    for (int i = first; i < end; ++i) {
        text += lines[i] + "\r\n";
    }
    return text;
}

QByteArray DecodeYEnc(const TStringList& lines, const TFoundAttachment& file, QString& problem) {
    TYEncDecoder block(lines[file.firstLine]);
    for (int i = file.firstLine + 1; i < file.endLine; ++i) {
        block.AddLine(lines[i]);
    }
    problem = YEncBlockProblem(block, file.name);
    return block.Data();
}

QByteArray DecodeUu(const TStringList& lines, const TFoundAttachment& file) {
    const bool ended =
        file.endLine > file.firstLine + 1 && WithoutCr(lines[file.endLine - 1]).trimmed() == "end";
    // A slice of a later part has no "begin" line.
    const int data =
        lines[file.firstLine].startsWith("begin ") ? file.firstLine + 1 : file.firstLine;
    QByteArray encoded = JoinedLines(lines, data, file.endLine - (ended ? 1 : 0));
    QBuffer input(&encoded);
    input.open(QIODevice::ReadOnly);
    QByteArray decoded;
    QBuffer output(&decoded);
    output.open(QIODevice::WriteOnly);
    TQRUUProcessor codec;
    codec.Method = uuCode;
    codec.InputStream = &input;
    codec.OutputStream = &output;
    codec.Decode();
    return decoded;
}

QByteArray DecodeMimePart(const TStringList& headerLines, const TStringList& lines,
                          const TFoundAttachment& file, QString& problem) {
    // A part is read as an article of its own header and content; the body of a single-part
    // article has the article's header.
    TStringList partHeader;
    if (file.contentLine == file.firstLine) {
        partHeader.Assign(headerLines);
    } else {
        for (int i = file.firstLine; i < file.contentLine; ++i) {
            partHeader.Add(lines[i]);
        }
    }
    TStringList content;
    for (int i = file.contentLine; i < file.endLine; ++i) {
        content.Add(lines[i]);
    }
    const TDecodedArticle part(partHeader, content);
    if (part.Parts().isEmpty()) {
        return QByteArray();
    }
    const TArticlePart& decoded = part.Parts().first();
    if (decoded.undecodable) {
        problem = QStringLiteral("the %1 encoding of %2 does not decode; saved as it came")
                      .arg(QString::fromLatin1(decoded.transferEncoding), file.name);
    }
    // Within a multipart, the line end before the next delimiter line is the delimiter's.
    const bool delimited = file.contentLine > file.firstLine;
    if (delimited && IsIdentityEncoding(decoded.transferEncoding) &&
        decoded.content.endsWith("\r\n")) {
        return decoded.content.chopped(2);
    }
    return decoded.content;
}

} // namespace

QString YEncBlockProblem(const TYEncDecoder& block, const QString& fileName) {
    const std::optional<quint32> crc = block.DeclaredCrc();
    const std::optional<qint64> size = block.DeclaredSize();
    if (!block.Ended()) {
        return QStringLiteral("the yEnc block of %1 is incomplete").arg(fileName);
    }
    if (crc && *crc != block.Crc()) {
        return QStringLiteral("CRC32 mismatch in %1").arg(fileName);
    }
    if (size && *size != block.DecodedSize()) {
        return QStringLiteral("size mismatch in %1: %2 bytes decoded, %3 declared")
            .arg(fileName)
            .arg(block.DecodedSize())
            .arg(*size);
    }
    return QString();
}

QString TFoundAttachment::KindText() const {
    switch (kind) {
    case TKind::YEnc:
        return QStringLiteral("yEnc");
    case TKind::Uuencoded:
        return QStringLiteral("uuencoded");
    case TKind::Mime:
        break;
    }
    if (transferEncoding == "base64" || transferEncoding == "quoted-printable") {
        return QStringLiteral("MIME ") + QString::fromLatin1(transferEncoding);
    }
    if (transferEncoding == "x-uuencode" || transferEncoding == "uuencode") {
        return QStringLiteral("MIME uuencoded");
    }
    return QStringLiteral("MIME");
}

QString TFoundAttachment::SizeText() const {
    const QString bytes = size < 1000
                              ? QString::number(size) + QStringLiteral(" bytes")
                              : QLocale::c().formattedDataSize(size, 1, QLocale::DataSizeSIFormat);
    return sizeEstimated ? QStringLiteral("about ") + bytes : bytes;
}

QString TFoundAttachment::PaneLine() const {
    QString line =
        name + QStringLiteral(" \u2014 ") + SizeText() + QStringLiteral(", ") + KindText();
    if (IsPart()) {
        line += QStringLiteral(", part %1 of %2")
                    .arg(part)
                    .arg(total > 0 ? QString::number(total) : QStringLiteral("?"));
    }
    return line;
}

QString TFoundAttachment::PlaceholderLine() const {
    const QString label = kind == TKind::Mime ? QStringLiteral("MIME") : KindText();
    return u'[' + label + QStringLiteral(": ") + name + QStringLiteral(", ") + SizeText() + u']';
}

std::pair<int, int> SubjectPartCounter(QStringView subject) {
    static const QRegularExpression counter(QStringLiteral("\\((\\d+)/(\\d+)\\)"));
    std::pair<int, int> last{0, 0};
    for (const QRegularExpressionMatch& match : counter.globalMatch(subject)) {
        last = {match.captured(1).toInt(), match.captured(2).toInt()};
    }
    return last;
}

bool IsUuDataLine(QByteArrayView line) {
    if (line.isEmpty() || std::any_of(line.begin(), line.end(), [](char c) {
            return static_cast<uchar>(c) < ' ' || static_cast<uchar>(c) > '`';
        })) {
        return false;
    }
    const qsizetype characters = 1 + (UuLineBytes(line) + 2) / 3 * 4;
    return line.size() >= characters - 2 && line.size() <= characters + 2;
}

QList<TFoundAttachment> FindAttachments(const TStringList& headerLines,
                                        const TStringList& bodyLines) {
    QList<TFoundAttachment> found;
    TEntityHeader header = ReadEntityHeader(headerLines, 0, headerLines.Count());
    header.contentLine = 0;
    const int end = BodyEnd(bodyLines);
    FindInEntity(bodyLines, header, end, "text/plain", 0, found);
    const QString subject = QString::fromUtf8(header.subject);
    const std::pair<int, int> counter = SubjectPartCounter(subject);
    if (counter.second < 2) {
        return found;
    }
    const auto uuencoded = std::find_if(found.begin(), found.end(), [](const TFoundAttachment& f) {
        return f.kind == TFoundAttachment::TKind::Uuencoded;
    });
    if (uuencoded != found.end()) {
        // The first part: its "begin" line, and no "end" when the file goes on; a block with
        // its "end" is a whole file, in whichever part.
        const bool ended = WithoutCr(bodyLines[uuencoded->endLine - 1]).trimmed() == "end";
        if (counter.first == 1 && !ended) {
            uuencoded->part = counter.first;
            uuencoded->total = counter.second;
        }
    } else if (found.isEmpty() && counter.first > 1 &&
               !MediaTypeOf(header.contentType, "text/plain").startsWith("multipart/")) {
        FindUuSlice(bodyLines, end, SubjectFileName(subject), counter, found);
    }
    return found;
}

TStringList BodyWithPlaceholders(const TStringList& bodyLines,
                                 const QList<TFoundAttachment>& attachments) {
    TStringList body;
    int next = 0;
    for (const TFoundAttachment& file : attachments) {
        for (; next < file.firstLine; ++next) {
            body.Add(bodyLines[next]);
        }
        if (file.contentLine > file.firstLine) {
            body.Add(QByteArray()); // the part's empty header: a text part
        }
        body.Add(file.PlaceholderLine().toUtf8());
        next = file.endLine;
    }
    for (; next < bodyLines.Count(); ++next) {
        body.Add(bodyLines[next]);
    }
    return body;
}

QByteArray DecodeAttachment(const TStringList& headerLines, const TStringList& bodyLines,
                            const TFoundAttachment& attachment, QString& problem) {
    problem.clear();
    switch (attachment.kind) {
    case TFoundAttachment::TKind::YEnc:
        return DecodeYEnc(bodyLines, attachment, problem);
    case TFoundAttachment::TKind::Uuencoded:
        return DecodeUu(bodyLines, attachment);
    case TFoundAttachment::TKind::Mime:
        break;
    }
    return DecodeMimePart(headerLines, bodyLines, attachment, problem);
}

bool IsExecutableFile(const QString& name, QByteArrayView firstBytes) {
    static const std::array<QString, 38> kRunnableSuffixes{
        QStringLiteral("exe"),     QStringLiteral("com"),      QStringLiteral("bat"),
        QStringLiteral("cmd"),     QStringLiteral("scr"),      QStringLiteral("msi"),
        QStringLiteral("pif"),     QStringLiteral("cpl"),      QStringLiteral("dll"),
        QStringLiteral("vbs"),     QStringLiteral("vbe"),      QStringLiteral("js"),
        QStringLiteral("jse"),     QStringLiteral("wsf"),      QStringLiteral("wsh"),
        QStringLiteral("ps1"),     QStringLiteral("lnk"),      QStringLiteral("reg"),
        QStringLiteral("hta"),     QStringLiteral("sh"),       QStringLiteral("bash"),
        QStringLiteral("csh"),     QStringLiteral("ksh"),      QStringLiteral("zsh"),
        QStringLiteral("desktop"), QStringLiteral("appimage"), QStringLiteral("jar"),
        QStringLiteral("py"),      QStringLiteral("pl"),       QStringLiteral("rb"),
        QStringLiteral("php"),     QStringLiteral("run"),      QStringLiteral("bin"),
        QStringLiteral("so"),      QStringLiteral("deb"),      QStringLiteral("rpm"),
        QStringLiteral("command"), QStringLiteral("out"),
    };
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = dot < 0 ? QString() : name.mid(dot + 1).trimmed().toLower();
    if (std::find(kRunnableSuffixes.begin(), kRunnableSuffixes.end(), suffix) !=
        kRunnableSuffixes.end()) {
        return true;
    }
    if (firstBytes.startsWith("\x7f"
                              "ELF") ||
        firstBytes.startsWith("#!") || firstBytes.startsWith("MZ")) {
        return true;
    }
    static const std::array<const char*, 9> kRunnableTypes{
        "application/x-executable",     "application/x-sharedlib",
        "application/x-shellscript",    "application/x-msdownload",
        "application/x-desktop",        "application/x-ms-dos-executable",
        "application/x-java-archive",   "application/vnd.microsoft.portable-executable",
        "application/x-pie-executable",
    };
    const QMimeType type =
        QMimeDatabase().mimeTypeForFileNameAndData(name, firstBytes.toByteArray());
    for (const char* runnable : kRunnableTypes) {
        if (type.inherits(QString::fromLatin1(runnable))) {
            return true;
        }
    }
    return false;
}

void CreateFileUnderFreeName(QFile& file, const QString& folder, QString& fileName) {
    constexpr QFileDevice::Permissions kNotExecutable =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
        QFileDevice::ReadOther;
    const QString wanted = fileName;
    for (int n = 1;; ++n) {
        file.setFileName(folder + fileName);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kNotExecutable)) {
            return;
        }
        const QFileInfo taken(file.fileName());
        if (!taken.exists() && !taken.isSymLink()) {
            throw Exception(QStringLiteral("Cannot create file ") + file.fileName() +
                            QStringLiteral(": ") + file.errorString());
        }
        fileName = nntpwire::NumberedFileName(wanted, n);
    }
}
