#pragma once

// Files saved piece by piece: a yEnc file posted in several articles, and a uuencoded one cut
// into several. Each piece is written out as it arrives, into a working file beside where the
// file goes, so that a file of any size needs no more memory than one article; the file gets
// its name only once it is whole and checked, and a save that fails or is aborted leaves
// nothing under that name.

#include "nntp/attachmentscan.h"

#include <QFile>
#include <QString>
#include <map>
#include <set>

class TYEncDecoder;

// What keeps a yEnc part out of its file, or nothing: a part counts only when it has a place in
// the file (its bytes within the file's size), came whole (its "=yend" line), and every check
// it carries holds (its CRC32, its size). "CRC32 mismatch in the yEnc part 2 of a.bin".
QString YEncPartFault(const TYEncDecoder& block, const QString& fileName);

// Saves a whole yEnc file into folder as name, or a free name numbered after it, decoding its
// block from the article's lines straight into a working file, so that its bytes are never
// held whole beside the lines. Answers the path; problem receives what DecodeAttachment says
// is wrong with the block (the file is kept as decoded, as extraction keeps it).
QString SaveYEncFile(const QString& folder, const TStringList& bodyLines,
                     const TFoundAttachment& file, QString& problem);

// "parts 2, 4 of 5 are missing": those from 1 to total not in written; "parts are missing"
// when the post gives no total.
QString MissingPartsText(const std::set<int>& written, int total);

// A hidden file ".name.partial" (numbered when taken) created in folder, written at any place,
// and given the name wanted, or a free one numbered after it, by Keep. Destroyed before Keep,
// it is removed. Writes that fail (the disk full) raise an error naming the file.
class TWorkingFile {
public:
    TWorkingFile(const QString& folder, const QString& name);
    ~TWorkingFile();
    TWorkingFile(const TWorkingFile&) = delete;
    TWorkingFile& operator=(const TWorkingFile&) = delete;

    // Writes bytes at offset (0-based), or at the end, handing them to the system at once.
    void WriteAt(qint64 offset, QByteArrayView bytes);
    void Append(QByteArrayView bytes);
    // The CRC32 of the file as written, read back piece by piece.
    quint32 Crc32();
    QString Path() const { return file_.fileName(); }
    qint64 BytesWritten() const { return written_; }

    // Closes the file and moves it to name in its folder, never over anything there (a name
    // taken is numbered, "a_1.txt"). Answers the path it has now.
    QString Keep(const QString& name);

private:
    QString folder_;
    QFile file_;
    qint64 written_ = 0;
    bool kept_ = false;
};

// The parts of a yEnc file posted in several articles, each decoded straight into the working
// file at its place (=ypart begin=) as it is handed over; the article's lines may go as soon as
// AddPart returns.
class TYEncPartJoiner {
public:
    // file is one part of the file, as the attachments scan found it: its name and size= say
    // which blocks belong to the file.
    TYEncPartJoiner(const QString& folder, const TFoundAttachment& file);

    // Decodes the blocks of the file among the article's, writing their bytes at their place.
    // Answers the fault of the first part that fails its checks (YEncPartFault), empty when
    // none did: the file is then not to be kept.
    QString AddParts(const TStringList& headerLines, const TStringList& bodyLines);

    // Every byte of the file is written.
    bool Whole() const;
    // The parts not written, as MissingPartsText says.
    QString Missing() const { return MissingPartsText(parts_, file_.total); }
    int PartsWritten() const { return static_cast<int>(parts_.size()); }
    qint64 BytesWritten() const { return output_.BytesWritten(); }
    qint64 FileSize() const { return file_.size; }

    // Moves the whole file to its name; problem receives a CRC32 of the file that does not
    // hold (the file is kept as decoded, as extraction keeps it).
    QString Keep(QString& problem);

private:
    QString AddPart(const TStringList& bodyLines, const TFoundAttachment& block);

    TFoundAttachment file_;
    TWorkingFile output_;
    // The bytes written, 1-based and inclusive: by first byte, the last.
    std::map<qint64, qint64> written_;
    std::set<int> parts_;
    // The CRC32s of the whole file the parts declare: each must hold.
    std::set<quint32> fileCrcs_;
};

// The data lines of a uuencoded block, or of the slice of one that an article of a file cut
// into several holds, decoded: its "begin" and "end" lines and lines that are no uuencoded
// data (a poster's remark between the parts) are left out.
QByteArray DecodeUuSlice(const TStringList& bodyLines, const TFoundAttachment& slice);
