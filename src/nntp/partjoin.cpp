#include "nntp/partjoin.h"

#include "codec/qruudecode.h"
#include "codec/yencdecode.h"
#include "nntp/nntpwire.h"
#include "util/exception.h"

#include <QBuffer>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Decoded bytes are written out once this many have gathered: large enough for few writes,
// small beside an article.
constexpr qsizetype kWriteChunk = 1 << 20;

// "yEnc part 2 of a.bin", for the texts about one part.
QString PartLabel(const TYEncDecoder& block, const QString& fileName) {
    if (block.PartNumber()) {
        return QStringLiteral("yEnc part %1 of %2").arg(*block.PartNumber()).arg(fileName);
    }
    return QStringLiteral("yEnc part of %1 from byte %2")
        .arg(fileName)
        .arg(block.PartBegin().value_or(0));
}

// Moves from to to, failing with EEXIST when anything, a link that points nowhere included, is
// named to: never replaces it. Where the file system cannot rename so, a hard link and the
// removal of the old name do the same.
bool RenameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    if (::link(source.constData(), target.constData()) != 0) {
        return false;
    }
    ::unlink(source.constData());
    return true;
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString YEncPartFault(const TYEncDecoder& block, const QString& fileName) {
    const QString part = PartLabel(block, fileName);
    const std::optional<qint64> begin = block.PartBegin();
    const std::optional<qint64> end = block.PartEnd();
    const std::optional<qint64> size = block.FileSize();
    if (!begin || !end || !size || *begin < 1 || *end < *begin || *end > *size) {
        const auto known = [](std::optional<qint64> value) {
            return value ? QString::number(*value) : QStringLiteral("?");
        };
        return QStringLiteral("The %1 has no place in its file (bytes %2 to %3 of %4)")
            .arg(part, known(begin), known(end), known(size));
    }
    if (!block.Ended()) {
        return QStringLiteral("The %1 is incomplete").arg(part);
    }
    const std::optional<quint32> crc = block.DeclaredCrc();
    if (crc && *crc != block.Crc()) {
        return QStringLiteral("CRC32 mismatch in the %1").arg(part);
    }
    const qint64 placeSize = *end - *begin + 1;
    const qint64 declaredSize = block.DeclaredSize().value_or(placeSize);
    const qint64 decodedSize = block.DecodedSize();
    if (decodedSize != placeSize || declaredSize != placeSize) {
        return QStringLiteral("Size mismatch in the %1: %2 bytes decoded, %3 declared")
            .arg(part, QString::number(decodedSize),
                 QString::number(decodedSize != placeSize ? placeSize : declaredSize));
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------
// The working file

TWorkingFile::TWorkingFile(const QString& folder, const QString& name) : folder_(folder) {
    QString workingName = u'.' + name + QStringLiteral(".partial");
    CreateFileUnderFreeName(file_, folder_, workingName);
}

TWorkingFile::~TWorkingFile() {
    if (!kept_) {
        file_.close();
        QFile::remove(file_.fileName());
    }
}

void TWorkingFile::WriteAt(qint64 offset, QByteArrayView bytes) {
    // Flushed at once: the bytes are on their way to the disk, and a disk that is full says so
    // with the piece that does not fit.
    if (!file_.seek(offset) || file_.write(bytes.data(), bytes.size()) != bytes.size() ||
        !file_.flush()) {
        throw Exception(QStringLiteral("Cannot write file ") + file_.fileName() +
                        QStringLiteral(": ") + file_.errorString());
    }
    written_ += bytes.size();
}

void TWorkingFile::Append(QByteArrayView bytes) {
    WriteAt(file_.size(), bytes);
}

quint32 TWorkingFile::Crc32() {
    QFile reading(file_.fileName());
    if (!reading.open(QIODevice::ReadOnly)) {
        throw Exception(QStringLiteral("Cannot read file ") + file_.fileName() +
                        QStringLiteral(": ") + reading.errorString());
    }
    quint32 crc = 0;
    for (QByteArray chunk = reading.read(kWriteChunk); !chunk.isEmpty();
         chunk = reading.read(kWriteChunk)) {
        crc = YEncCrc32(chunk, crc);
    }
    return crc;
}

QString TWorkingFile::Keep(const QString& name) {
    // The data reaches the disk before the file gets its name: a full disk shows here, not in
    // a file that seems complete.
    if (!file_.flush() || ::fsync(file_.handle()) != 0) {
        throw Exception(QStringLiteral("Cannot write file ") + file_.fileName() +
                        QStringLiteral(": ") + file_.errorString());
    }
    file_.close();
    QString fileName = name;
    for (int n = 1;; ++n) {
        if (RenameWithoutReplacing(file_.fileName(), folder_ + fileName)) {
            kept_ = true;
            return folder_ + fileName;
        }
        if (errno != EEXIST) {
            throw Exception(QStringLiteral("Cannot name the file ") + folder_ + fileName +
                            QStringLiteral(": ") + ErrnoText());
        }
        fileName = nntpwire::NumberedFileName(name, n);
    }
}

// ---------------------------------------------------------------------------------------------
// yEnc files and parts

QString SaveYEncFile(const QString& folder, const TStringList& bodyLines,
                     const TFoundAttachment& file, QString& problem) {
    TWorkingFile output(folder, file.name);
    TYEncDecoder decoder(bodyLines[file.firstLine]);
    for (int i = file.firstLine + 1; i < file.endLine; ++i) {
        decoder.AddLine(bodyLines[i]);
        if (decoder.Data().size() >= kWriteChunk) {
            output.Append(decoder.TakeData());
        }
    }
    output.Append(decoder.TakeData());
    problem = YEncBlockProblem(decoder, file.name);
    return output.Keep(file.name);
}

TYEncPartJoiner::TYEncPartJoiner(const QString& folder, const TFoundAttachment& file)
    : file_(file), output_(folder, file.name) {}

QString TYEncPartJoiner::AddParts(const TStringList& headerLines, const TStringList& bodyLines) {
    for (const TFoundAttachment& block : FindAttachments(headerLines, bodyLines)) {
        if (block.IsPart() && block.name == file_.name && block.size == file_.size) {
            const QString fault = AddPart(bodyLines, block);
            if (!fault.isEmpty()) {
                return fault;
            }
        }
    }
    return QString();
}

QString TYEncPartJoiner::AddPart(const TStringList& bodyLines, const TFoundAttachment& block) {
    TYEncDecoder decoder(bodyLines[block.firstLine]);
    // The bytes go to their place as they come, never past the place the part declares; a part
    // that turns out wrong keeps the file from being kept, whatever it wrote.
    const auto writeDecoded = [&] {
        const qint64 begin = decoder.PartBegin().value_or(0);
        const qint64 end = std::min(decoder.PartEnd().value_or(0), file_.size);
        const qint64 at = begin + decoder.DecodedSize() - decoder.Data().size();
        const QByteArray bytes = decoder.TakeData();
        const qint64 fits = std::clamp<qint64>(end - at + 1, 0, bytes.size());
        if (begin >= 1 && fits > 0) {
            output_.WriteAt(at - 1, QByteArrayView(bytes).first(fits));
        }
    };
    for (int i = block.firstLine + 1; i < block.endLine; ++i) {
        decoder.AddLine(bodyLines[i]);
        if (decoder.Data().size() >= kWriteChunk) {
            writeDecoded();
        }
    }
    writeDecoded();
    const QString fault = YEncPartFault(decoder, file_.name);
    if (!fault.isEmpty()) {
        return fault;
    }
    qint64& last = written_[*decoder.PartBegin()];
    last = std::max(last, *decoder.PartEnd());
    parts_.insert(block.part);
    if (decoder.DeclaredFileCrc()) {
        fileCrcs_.insert(*decoder.DeclaredFileCrc());
    }
    return QString();
}

bool TYEncPartJoiner::Whole() const {
    qint64 reach = 0;
    for (const auto& [first, last] : written_) {
        if (first > reach + 1) {
            break;
        }
        reach = std::max(reach, last);
    }
    return reach >= file_.size;
}

QString TYEncPartJoiner::Keep(QString& problem) {
    if (!fileCrcs_.empty() && fileCrcs_ != std::set<quint32>{output_.Crc32()}) {
        problem = QStringLiteral("CRC32 mismatch in %1, joined from its parts").arg(file_.name);
    }
    return output_.Keep(file_.name);
}

QString MissingPartsText(const std::set<int>& written, int total) {
    QStringList missing;
    for (int part = 1; part <= total; ++part) {
        if (!written.contains(part)) {
            missing << QString::number(part);
        }
    }
    if (missing.isEmpty()) {
        return QStringLiteral("parts are missing");
    }
    return QStringLiteral("%1 %2 of %3 %4 missing")
        .arg(missing.size() == 1 ? QStringLiteral("part") : QStringLiteral("parts"),
             missing.join(QStringLiteral(", ")), QString::number(total),
             missing.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"));
}

// ---------------------------------------------------------------------------------------------
// uuencoded slices

QByteArray DecodeUuSlice(const TStringList& bodyLines, const TFoundAttachment& slice) {
    QByteArray encoded;
    for (int i = slice.firstLine; i < slice.endLine; ++i) {
        if (IsUuDataLine(bodyLines[i])) {
            encoded += bodyLines[i] + "\r\n";
        }
    }
    QBuffer input(&encoded);
    input.open(QIODevice::ReadOnly);
    QByteArray decoded;
    QBuffer output(&decoded);
    output.open(QIODevice::WriteOnly);
    UUEDecode(input, output);
    return decoded;
}
