// The news client's file work: extracting the attachments of an article that was read, and
// posting an article with attachments.
#include "codec/qruue.h"
#include "codec/yencdecode.h"
#include "nntp/decodedarticle.h"
#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"
#include "util/finally.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kEmbeddedDefaultName = QStringLiteral("extract.dat");
const QString kPartDefaultName = QStringLiteral("Extract.dat");

bool IsBeginLine(const QByteArray& line) {
    return line.contains("begin 644") || line.contains("begin 666");
}

// The file name a part's header gives: Content-Disposition's filename, else Content-Type's name.
QString PartFileName(const TExStringList& partHeader, const QString& fallback) {
    QByteArray name =
        nntpwire::HeaderParameter(partHeader.GetUnfoldedValue("Content-Disposition"), "filename");
    if (name.isEmpty()) {
        name = nntpwire::HeaderParameter(partHeader.GetUnfoldedValue("Content-Type"), "name");
    }
    return nntpwire::SafeFileName(name, fallback);
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

} // namespace

// ---------------------------------------------------------------------------------------------
// Extraction

void TQRNNTP::ExtractAttachments() {
    AttachmentProblems.clear();
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
    QString fileName;
    SaveAttachment(
        nntpwire::SafeFileName(block.Name(), kEmbeddedDefaultName),
        [&](QString& name) {
            WriteYEncBlock(block, name);
            fileName = name;
        },
        newBody, true);
    CheckYEncBlock(block, fileName);
    return i;
}

void TQRNNTP::WriteYEncBlock(const TYEncDecoder& block, QString& fileName) {
    const std::optional<qint64> begin = block.PartBegin();
    const std::optional<qint64> end = block.PartEnd();
    const std::optional<qint64> size = block.FileSize();
    const bool placed = !block.IsWholeFile() && begin && end && size && *begin >= 1 &&
                        *end >= *begin && *end <= *size;
    if (!placed) {
        QFile file;
        CreateAttachmentFile(file, fileName);
        WriteAttachmentBytes(file, block.Data());
        if (!block.IsWholeFile()) {
            AttachmentProblems.append(
                QStringLiteral(
                    "The yEnc part in %1 has no place in its file; it is saved on its own")
                    .arg(fileName));
        }
        return;
    }
    // The parts of one file meet in it, each at its place. A file of that name already larger
    // than the whole is not this one, and the parts go to the first numbered name that fits.
    const QString wanted = fileName;
    for (int n = 1; QFileInfo(AttachFilePath() + fileName).size() > *size; ++n) {
        fileName = nntpwire::NumberedFileName(wanted, n);
    }
    QFile file(AttachFilePath() + fileName);
    if (!file.open(QIODevice::ReadWrite)) {
        throw Exception(QStringLiteral("Cannot create file ") + file.fileName() +
                        QStringLiteral(": ") + file.errorString());
    }
    if (!file.seek(*begin - 1)) {
        throw Exception(QStringLiteral("Cannot write file ") + file.fileName() +
                        QStringLiteral(": ") + file.errorString());
    }
    // Bytes past the part's end belong to the next part.
    WriteAttachmentBytes(file, block.Data().left(*end - *begin + 1));
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
    const QString wanted = fileName;
    for (int n = 1; QFileInfo::exists(AttachFilePath() + fileName); ++n) {
        fileName = nntpwire::NumberedFileName(wanted, n);
    }
    file.setFileName(AttachFilePath() + fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw Exception(QStringLiteral("Cannot create file ") + file.fileName() +
                        QStringLiteral(": ") + file.errorString());
    }
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
