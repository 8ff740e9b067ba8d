#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// Decodes one yEnc block, as binaries are posted to Usenet today: an "=ybegin" line (line=,
// size=, part=, total=, and name= last, taking the rest of the line), for a part of a
// multi-part post an "=ypart begin= end=" line, data lines, and an "=yend" line (size=, part=,
// pcrc32=, crc32=). A data byte is the encoded character minus 42; "=" escapes the next
// character, which stands for itself minus 64 and minus 42. Encoders escape NUL, LF, CR and
// "=", and often TAB and blank at a line's ends and "." at its start; every escape is undone
// the same way, and lines may have any length whatever line= says.
//
// The caller hands over the block line by line, without line ends, NNTP dot-stuffing already
// undone. Nothing in the data is refused: what cannot be right shows in the checks.
// The CRC32 yEnc declares (ISO-HDLC) of data, continuing the CRC32 crc of the bytes before it,
// so that a file can be checked piece by piece.
quint32 YEncCrc32(QByteArrayView data, quint32 crc = 0);

class TYEncDecoder {
public:
    // "=ybegin " at the start of a line opens a block; "=yend" closes it.
    static bool IsBeginLine(QByteArrayView line);
    static bool IsEndLine(QByteArrayView line);

    // Starts a block at its "=ybegin" line.
    explicit TYEncDecoder(QByteArrayView beginLine);

    // The next line of the block: the "=ypart" line that follows "=ybegin", a data line, or
    // the "=yend" line, after which further lines are ignored.
    void AddLine(QByteArrayView line);

    // True once the "=yend" line came; a block cut short is decoded as far as it goes.
    bool Ended() const { return ended_; }
    // The bytes decoded and not yet taken.
    const QByteArray& Data() const { return data_; }
    // Hands over the bytes decoded since the last call, so that a large block is written out
    // as it is decoded instead of held whole; Crc() and DecodedSize() still count them.
    QByteArray TakeData();
    // All the bytes the block decoded to, those taken included.
    qint64 DecodedSize() const { return takenSize_ + data_.size(); }

    // name= of "=ybegin", as written (a name, not a path to trust).
    const QByteArray& Name() const { return name_; }
    // part= of "=ybegin": the number of this part in a multi-part post.
    std::optional<qint64> PartNumber() const { return partNumber_; }
    // size= of "=ybegin": the size of the whole file, of which this block may be one part.
    std::optional<qint64> FileSize() const { return fileSize_; }
    // The bytes of the file this block holds, 1-based and inclusive, from "=ypart"; absent for
    // a block that is the whole file.
    std::optional<qint64> PartBegin() const { return partBegin_; }
    std::optional<qint64> PartEnd() const { return partEnd_; }
    // No "=ypart" line, or one whose bytes run from 1 to the file's size.
    bool IsWholeFile() const;

    // The size the block declares for its data: size= of "=yend", else the part's length, else
    // the file's size.
    std::optional<qint64> DeclaredSize() const;
    // The CRC32 the "=yend" line gives for this block's data: pcrc32=, else crc32= when the
    // block is the whole file (a part's crc32= is the assembled file's).
    std::optional<quint32> DeclaredCrc() const;
    // crc32= of "=yend": the CRC32 of the whole file, also where the block is one part of it.
    std::optional<quint32> DeclaredFileCrc() const { return fileCrc_; }
    // CRC32 (ISO-HDLC, as zlib computes it) of all the decoded data, that taken included.
    quint32 Crc() const;

private:
    void ReadPartLine(QByteArrayView line);
    void ReadEndLine(QByteArrayView line);
    void AppendDecoded(QByteArrayView line);

    QByteArray data_;
    qint64 takenSize_ = 0;
    quint32 takenCrc_ = 0;
    QByteArray name_;
    std::optional<qint64> partNumber_;
    std::optional<qint64> fileSize_;
    std::optional<qint64> partBegin_;
    std::optional<qint64> partEnd_;
    std::optional<qint64> endSize_;
    std::optional<quint32> partCrc_;
    std::optional<quint32> fileCrc_;
    bool dataStarted_ = false;
    bool ended_ = false;
};
