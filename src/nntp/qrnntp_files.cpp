// The news client's file work: extracting the attachments of an article that was read, and
// posting an article with attachments.
#include "codec/qruue.h"
#include "codec/yencdecode.h"
#include "nntp/attachmentscan.h"
#include "nntp/decodedarticle.h"
#include "nntp/nntpwire.h"
#include "nntp/partjoin.h"
#include "nntp/qrnntp.h"
#include "util/filehelpers.h"
#include "util/finally.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

namespace {

const QString kEmbeddedDefaultName = QStringLiteral("extract.dat");
const QString kPartDefaultName = QStringLiteral("Extract.dat");

bool IsBeginLine(const QByteArray& line) {
    return line.contains("begin 644") || line.contains("begin 666");
}

// The file name a part's header gives: Content-Disposition's filename, else Content-Type's name.
QString PartFileName(const TExStringList& partHeader, const QString& fallback) {
    QString name = nntpwire::HeaderParameterText(partHeader.GetUnfoldedValue("Content-Disposition"),
                                                 "filename");
    if (name.isEmpty()) {
        name = nntpwire::HeaderParameterText(partHeader.GetUnfoldedValue("Content-Type"), "name");
    }
    return PlainFileName(name, fallback);
}

// A full uuencoded data line (45 bytes) also starts a block when no "begin" line came first.
bool IsFullDataLine(const QByteArray& line) {
    return line.size() == 61 && !line.contains(' ');
}

// The file name of a "begin 644 NAME" line: everything after the mode.
QByteArray BeginLineName(const QByteArray& line) {
    qsizetype at = line.indexOf("begin 644");
    if (at < 0) {
        at = line.indexOf("begin 666");
    }
    return line.mid(at + 9).trimmed();
}

void WriteAttachmentBytes(QFile& file, const QByteArray& bytes) {
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        throw Exception(QStringLiteral("Cannot write file ") + file.fileName() +
                        QStringLiteral(": ") + file.errorString());
    }
}

// The parts of a multi-part yEnc file wait for each other in a working folder hidden in the
// attachment directory and named after the file; its size keeps apart files of one name.
QString PartsFolderName(const QString& fileName, qint64 fileSize) {
    return QLatin1Char('.') + fileName + QLatin1Char('.') + QString::number(fileSize) +
           QStringLiteral(".yparts");
}

// One part kept in the working folder as "part<number>.<begin>-<end>": its bytes of the file,
// 1-based and inclusive, are in the name, so that a part fetched twice is kept once.
struct TYEncPiece {
    qint64 begin;
    qint64 end;
    QString path;
};

QString PieceName(std::optional<qint64> number, qint64 begin, qint64 end) {
    return QStringLiteral("part%1.%2-%3")
        .arg(number ? QString::number(*number) : QString(), QString::number(begin),
             QString::number(end));
}

// The pieces in folder with a place in a file of fileSize bytes, by place. Anything else there
// (a name of no piece, a piece of another length, a link) is passed over.
QList<TYEncPiece> PiecesIn(const QString& folder, qint64 fileSize) {
    static const QRegularExpression pieceName(QStringLiteral("^part\\d*\\.(\\d+)-(\\d+)$"));
    QList<TYEncPiece> pieces;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = pieceName.match(entry.fileName());
        if (!match.hasMatch()) {
            continue;
        }
        // A number too large for the file's size reads as 0 and is passed over.
        const TYEncPiece piece{match.captured(1).toLongLong(), match.captured(2).toLongLong(),
                               entry.filePath()};
        if (piece.begin >= 1 && piece.end >= piece.begin && piece.end <= fileSize &&
            entry.size() == piece.end - piece.begin + 1) {
            pieces.append(piece);
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const TYEncPiece& a, const TYEncPiece& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });
    return pieces;
}

// The bytes from the file's first on that the pieces hold without a gap.
qint64 BytesFromStart(const QList<TYEncPiece>& pieces) {
    qint64 reach = 0;
    for (const TYEncPiece& piece : pieces) {
        if (piece.begin > reach + 1) {
            break;
        }
        reach = std::max(reach, piece.end);
    }
    return reach;
}

// The bytes of the file the pieces hold, each counted once where pieces overlap.
qint64 BytesHeld(const QList<TYEncPiece>& pieces) {
    qint64 held = 0;
    qint64 reach = 0;
    for (const TYEncPiece& piece : pieces) {
        held += std::max<qint64>(0, piece.end - std::max(reach, piece.begin - 1));
        reach = std::max(reach, piece.end);
    }
    return held;
}

// Writes the file from the pieces, which hold it from its first byte to its last: each byte
// from the first piece that holds it. Answers the CRC32 of the bytes written.
quint32 JoinPieces(const QList<TYEncPiece>& pieces, QFile& file) {
    constexpr qint64 kChunk = 1 << 20;
    quint32 crc = 0;
    qint64 written = 0;
    for (const TYEncPiece& piece : pieces) {
        if (piece.end <= written) {
            continue;
        }
        QFile source(piece.path);
        if (!source.open(QIODevice::ReadOnly) || !source.seek(written - (piece.begin - 1))) {
            throw Exception(QStringLiteral("Cannot read file ") + piece.path +
                            QStringLiteral(": ") + source.errorString());
        }
        for (qint64 left = piece.end - written; left > 0;) {
            const QByteArray chunk = source.read(std::min(left, kChunk));
            if (chunk.isEmpty()) {
                throw Exception(QStringLiteral("Cannot read file ") + piece.path +
                                QStringLiteral(": ") + source.errorString());
            }
            WriteAttachmentBytes(file, chunk);
            crc = YEncCrc32(chunk, crc);
            left -= chunk.size();
        }
        written = piece.end;
    }
    return crc;
}

// A part fetched again is already there, checked as it was kept.
void StorePiece(const QString& path, const QByteArray& bytes) {
    if (QFileInfo(path).isFile()) {
        return;
    }
    QSaveFile piece(path);
    if (!piece.open(QIODevice::WriteOnly) || piece.write(bytes) != bytes.size() ||
        !piece.commit()) {
        throw Exception(QStringLiteral("Cannot write file ") + path + QStringLiteral(": ") +
                        piece.errorString());
    }
}

// The pieces of a file that is written; the folder goes too unless anything else is in it.
void RemovePieces(const QString& folder, const QList<TYEncPiece>& pieces) {
    for (const TYEncPiece& piece : pieces) {
        QFile::remove(piece.path);
    }
    QDir().rmdir(folder);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Extraction

void TQRNNTP::ExtractAttachments() {
    AttachmentProblems.clear();
    AttachmentNotices.clear();
    // Mail and news programs commonly put the boundary on a continuation line.
    const QByteArray contentType = HeaderLines.GetUnfoldedValue("Content-Type");
    if (!MediaTypeOf(contentType).startsWith("multipart/")) {
        ExtractEmbedded();
        return;
    }
    MimeBoundary = nntpwire::HeaderParameter(contentType, "boundary");
    ExtractMultipart();
}

QByteArray TQRNNTP::MarkingLine(const QString& fileName) const {
    return "\r\nFile \"" + (AttachFilePath() + fileName).toLocal8Bit() + "\" extracted";
}

void TQRNNTP::DecodeToAttachment(const QByteArray& data, QString fileName, int method,
                                 TStringList& newBody, bool announce) {
    SaveAttachment(
        fileName,
        [&](QString& name) {
            QByteArray bytes = data;
            QBuffer stream(&bytes);
            stream.open(QIODevice::ReadOnly);
            Decode(stream, name, method);
        },
        newBody, announce);
}

void TQRNNTP::SaveAttachment(QString fileName, const std::function<void(QString&)>& write,
                             TStringList& newBody, bool announce) {
    if (announce && OnDecodeStart) {
        OnDecodeStart(fileName);
    }
    write(fileName);
    if (announce) {
        Raise(OnDecodeEnd);
    }
    AttachmentNames.Add(fileName.toLocal8Bit());
    newBody.Add(MarkingLine(fileName));
}

bool TQRNNTP::IsClosingLine(int index) const {
    // Only the last line can be the one that closed the reply: body lines arrive unstuffed,
    // so a "." in the middle is text the poster wrote.
    return index == BodyLines.Count() - 1 && nntpwire::IsTerminator(BodyLines[index]);
}

void TQRNNTP::ExtractEmbedded() {
    TStringList newBody;
    bool ended = false;
    int i = 0;
    while (i < BodyLines.Count() && !ended) {
        const QByteArray& line = BodyLines[i];
        if (TYEncDecoder::IsBeginLine(line)) {
            i = ExtractYEncBlock(i, newBody);
            continue;
        }
        const bool begin = IsBeginLine(line);
        if (!begin && !IsFullDataLine(line)) {
            newBody.Add(line);
            ended = IsClosingLine(i);
            ++i;
            continue;
        }
        QString fileName = kEmbeddedDefaultName;
        if (begin) {
            fileName = nntpwire::SafeFileName(BeginLineName(line), kEmbeddedDefaultName);
            ++i;
        }
        QByteArray data;
        while (i < BodyLines.Count()) {
            const QByteArray& dataLine = BodyLines[i];
            const bool stops = begin ? dataLine.contains("end") : dataLine.size() != 61;
            // A block left open runs up to the end of the article, never into its "." line.
            if (stops || IsClosingLine(i)) {
                break;
            }
            data += dataLine + "\r\n";
            ++i;
        }
        if (i < BodyLines.Count()) {
            ended = IsClosingLine(i);
            ++i; // the line that closed the block is consumed
        }
        DecodeToAttachment(data, fileName, uuCode, newBody, true);
        if (ended) {
            newBody.Add(".");
        }
    }
    BodyLines.Assign(newBody);
}

int TQRNNTP::ExtractYEncBlock(int first, TStringList& newBody) {
    TYEncDecoder block(BodyLines[first]);
    int i = first + 1;
    // A block left open ends where the next one begins or the article ends, and the "." line
    // stays the body's.
    for (; i < BodyLines.Count() && !block.Ended(); ++i) {
        if (IsClosingLine(i) || TYEncDecoder::IsBeginLine(BodyLines[i])) {
            break;
        }
        block.AddLine(BodyLines[i]);
    }
    const QString name = nntpwire::SafeFileName(block.Name(), kEmbeddedDefaultName);
    if (block.IsWholeFile()) {
        QString fileName;
        SaveAttachment(
            name,
            [&](QString& saved) {
                QFile file;
                CreateAttachmentFile(file, saved);
                WriteAttachmentBytes(file, block.Data());
                fileName = saved;
            },
            newBody, true);
        CheckYEncBlock(block, fileName);
    } else {
        KeepYEncPart(block, name, newBody);
    }
    return i;
}

void TQRNNTP::KeepYEncPart(const TYEncDecoder& block, const QString& fileName,
                           TStringList& newBody) {
    const QString fault = YEncPartFault(block, fileName);
    if (!fault.isEmpty()) {
        AttachmentProblems.append(fault + QStringLiteral("; it is not kept"));
        newBody.Add("\r\nFile \"" + fileName.toLocal8Bit() + "\": a part was not kept");
        return;
    }
    const qint64 fileSize = *block.FileSize();
    const QString folder = YEncPartsFolder(fileName, fileSize);
    StorePiece(folder + PieceName(block.PartNumber(), *block.PartBegin(), *block.PartEnd()),
               block.Data());
    const QList<TYEncPiece> pieces = PiecesIn(folder, fileSize);
    if (BytesFromStart(pieces) < fileSize) {
        AttachmentNotices.append(
            QStringLiteral("%1 waits for its other parts: %2 of its %3 bytes are here")
                .arg(fileName, QString::number(BytesHeld(pieces)), QString::number(fileSize)));
        newBody.Add("\r\nFile \"" + fileName.toLocal8Bit() + "\" waits for its other parts");
        return;
    }
    QString savedName;
    quint32 crc = 0;
    SaveAttachment(
        fileName,
        [&](QString& saved) {
            QFile file;
            CreateAttachmentFile(file, saved);
            crc = JoinPieces(pieces, file);
            savedName = saved;
        },
        newBody, true);
    const std::optional<quint32> declaredCrc = block.DeclaredFileCrc();
    if (declaredCrc && *declaredCrc != crc) {
        AttachmentProblems.append(
            QStringLiteral("CRC32 mismatch in %1, joined from its parts; the file is kept as "
                           "decoded")
                .arg(savedName));
    }
    RemovePieces(folder, pieces);
}

QString TQRNNTP::YEncPartsFolder(const QString& fileName, qint64 fileSize) const {
    const QString folder = AttachFilePath() + PartsFolderName(fileName, fileSize);
    const QFileInfo existing(folder);
    const bool usable = existing.isDir() && !existing.isSymLink();
    if (!usable && !QDir().mkdir(folder)) {
        throw Exception(QStringLiteral("Cannot create the folder ") + folder +
                        QStringLiteral(" for the parts of ") + fileName);
    }
    return folder + QLatin1Char('/');
}

void TQRNNTP::CheckYEncBlock(const TYEncDecoder& block, const QString& fileName) {
    QString problem;
    const std::optional<quint32> crc = block.DeclaredCrc();
    const std::optional<qint64> size = block.DeclaredSize();
    if (!block.Ended()) {
        problem = QStringLiteral("The yEnc block of %1 is incomplete; the file is kept as decoded")
                      .arg(fileName);
    } else if (crc && *crc != block.Crc()) {
        problem = QStringLiteral("CRC32 mismatch in %1; the file is kept as decoded").arg(fileName);
    } else if (size && *size != block.Data().size()) {
        problem = QStringLiteral("Size mismatch in %1: %2 bytes decoded, %3 declared; the file is "
                                 "kept as decoded")
                      .arg(fileName)
                      .arg(block.Data().size())
                      .arg(*size);
    }
    if (!problem.isEmpty()) {
        AttachmentProblems.append(problem);
    }
}

void TQRNNTP::ExtractMultipart() {
    // The parts at every depth, read as the reading pane reads them.
    const TDecodedArticle article(HeaderLines, BodyLines);
    // Without a single part there is nothing to extract, and an empty file is no answer.
    if (!article.IsMultipart()) {
        throw Exception(QStringLiteral("The article is declared multipart, but no part was found"));
    }
    TStringList newBody;
    for (const TArticlePart& part : article.Parts()) {
        if (!part.IsAttachment()) {
            TStringList lines;
            lines.SetText(part.encoded);
            for (int k = 0; k < lines.Count(); ++k) {
                newBody.Add(lines[k]);
            }
            continue;
        }
        TExStringList partHeader;
        for (const THeaderField& field : part.header) {
            partHeader.Add(field.name + ": " + field.value);
        }
        const QString fileName = PartFileName(partHeader, kPartDefaultName);
        // A part in an encoding that does not decode is saved as it came, not dropped.
        QString savedName;
        SaveAttachment(
            fileName,
            [&](QString& name) {
                QFile file;
                CreateAttachmentFile(file, name);
                WriteAttachmentBytes(file, part.content);
                savedName = name;
            },
            newBody, false);
        if (part.undecodable) {
            AttachmentProblems.append(
                QStringLiteral("The %1 encoding of %2 does not decode; the file is kept as it came")
                    .arg(QString::fromLatin1(part.transferEncoding), savedName));
        }
    }
    newBody.Add(".");
    BodyLines.Assign(newBody);
}

void TQRNNTP::CreateAttachmentFile(QFile& file, QString& fileName) const {
    CreateFileUnderFreeName(file, AttachFilePath(), fileName);
}

void TQRNNTP::Decode(QIODevice& data, QString& fileName, int method) {
    QFile file;
    CreateAttachmentFile(file, fileName);
    TQRUUProcessor codec(this);
    codec.Method = static_cast<UUMethods>(method);
    data.seek(0);
    codec.InputStream = &data;
    codec.OutputStream = &file;
    codec.Decode();
}

// ---------------------------------------------------------------------------------------------
// Posting

void TQRNNTP::PostArticle() {
    if (Busy) {
        return;
    }
    // Header and body go out in one write that a NUL byte would cut short.
    if (PostHeader.Text().contains('\0') || PostBody.Text().contains('\0')) {
        throw Exception(QStringLiteral("The article contains a NUL byte and cannot be posted"));
    }
    Busy = true;
    bool success = false;
    WithFinally(
        [&] {
            CertifyConnect();
            Transaction("POST");
            // A refused POST (440 and the like) gets no article text: the server would take
            // every line of it for a command and answer each, out of step with us for good.
            if (ReplyCode >= 400) {
                throw NNTPError(QStringLiteral("Posting Failed"));
            }
            exchangeOpen_ = true; // until the server has answered the whole article
            SendArticleText();
            for (int i = 0; i < PostAttachments.Count(); ++i) {
                SendAttachment(QString::fromLocal8Bit(PostAttachments[i]));
            }
            Transaction(".");
            if (ReplyCode > 299) {
                throw NNTPError(QStringLiteral("Posting Failed"));
            }
            success = true;
        },
        [&] {
            DropIfExchangeOpen();
            Busy = false;
            if (success) {
                Raise(OnPosted);
            } else if (OnPostFailed) {
                OnPostFailed(this, static_cast<quint16>(ReplyCode), QString::fromLatin1(LastReply));
            }
        });
}

void TQRNNTP::SendArticleText() {
    // Header, the empty line that ends it and one more that starts the body, then the body.
    // Every line is dot-stuffed: a body line "." would otherwise end the article there.
    Write(nntpwire::DotStuff(PostHeader.Text() + "\r\n\r\n" + PostBody.Text()));
}

void TQRNNTP::SendAttachment(const QString& path) {
    Writeln("\r\n");
    Writeln("begin 666 " + QFileInfo(path).fileName().toLocal8Bit());
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray encoded;
        QBuffer output(&encoded);
        output.open(QIODevice::ReadWrite);
        TQRUUProcessor codec(this);
        codec.Method = uuCode;
        codec.InputStream = &file;
        codec.OutputStream = &output;
        codec.Encode();
        // A last line of 14 bytes has "." for its length character: stuffed like any other.
        QByteArray stuffed = nntpwire::DotStuff(encoded);
        QBuffer stream(&stuffed);
        stream.open(QIODevice::ReadOnly);
        SendStream(stream);
    }
    Writeln("end");
    Writeln("\r\n");
}
