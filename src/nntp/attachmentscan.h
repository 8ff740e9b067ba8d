#pragma once

// The files an article carries, found in its lines without decoding them: uuencoded blocks
// ("begin 644 name"), yEnc blocks ("=ybegin ... name="), and MIME parts that are no text. The
// reading page lists them and shows each block as one line instead of its encoded lines;
// decoding waits until the reader asks for a file.

#include "util/stringlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QList>
#include <QString>

class TYEncDecoder;

struct TFoundAttachment {
    enum class TKind : quint8 { YEnc, Uuencoded, Mime };
    TKind kind = TKind::Mime;
    // A plain file name, made safe as extraction makes it (nntpwire::SafeFileName).
    QString name;
    // The file's size in bytes: yEnc's size= (of the whole file, for a part), else estimated
    // from the encoded lines (sizeEstimated).
    qint64 size = 0;
    bool sizeEstimated = false;
    // For a MIME part, its Content-Transfer-Encoding in lower case; empty when none is given.
    QByteArray transferEncoding;
    // For a yEnc part of a multi-part post: part= and total= (0 when not given). For a
    // uuencoded file cut into several articles, the counter of the article's subject
    // ("name (2/5)"): the block is that article's slice of the file, and for part 2 on it has
    // no "begin" line (its name is then the subject's).
    int part = 0;
    int total = 0;
    // The body lines that hold the file, as indexes into the body: firstLine up to, not
    // including, endLine. For a MIME part they include its header; contentLine is the first
    // line of its content (for a block, firstLine).
    int firstLine = 0;
    int contentLine = 0;
    int endLine = 0;

    // "yEnc", "uuencoded", "MIME base64", "MIME quoted-printable", "MIME".
    QString KindText() const;
    // "1.2 MB", "about 40 KB", "17 bytes".
    QString SizeText() const;
    // The attachments pane's line: "name — 1.2 MB, yEnc, part 2 of 5".
    QString PaneLine() const;
    // The body pane's line standing for the encoded lines: "[yEnc: name, 1.2 MB]".
    QString PlaceholderLine() const;
    // A yEnc block that is one part of a file posted in several, or a uuencoded slice of a
    // file cut into several articles.
    bool IsPart() const {
        return (kind == TKind::YEnc && (part > 0 || total > 1)) ||
               (kind == TKind::Uuencoded && total > 1);
    }
};

// The part counter of a subject, its last "(2/5)": {2, 5}; {0, 0} when there is none.
std::pair<int, int> SubjectPartCounter(QStringView subject);

// A line of uuencoded data: characters from blank to backquote only, as many as its length
// character says (two more or fewer allowed, for encoders that add a check character and
// servers that strip trailing blanks).
bool IsUuDataLine(QByteArrayView line);

// The attachments of an article, in their order in the body. headerLines and bodyLines as the
// news client fills HeaderLines and BodyLines (the body may end with its "." line). A MIME
// multipart body is walked part by part, nested ones included; blocks are looked for in the
// body of a plain article and in the text parts whose lines are the text (no transfer
// encoding, 7bit or 8bit). A block cut short ends where the article or its part ends. In an
// article whose subject counts it as part 2 or later of several, the uuencoded data lines
// from the first full line on are the next slice of a file whose "begin" line came in part 1.
QList<TFoundAttachment> FindAttachments(const TStringList& headerLines,
                                        const TStringList& bodyLines);

// The body lines with each attachment's lines replaced by its placeholder line; a MIME part
// becomes a text part of that line, so that the body still reads as its structure says.
TStringList BodyWithPlaceholders(const TStringList& bodyLines,
                                 const QList<TFoundAttachment>& attachments);

// The file's bytes, decoded from the article's lines with the client's codecs: yEnc blocks
// with TYEncDecoder, uuencoded blocks with the uu codec, MIME parts as TDecodedArticle decodes
// them. A yEnc part is decoded alone (its bytes of the file). problem receives what is wrong
// with the result (a block cut short, a CRC32 or size that does not match, content that does
// not decode), empty when nothing is.
QByteArray DecodeAttachment(const TStringList& headerLines, const TStringList& bodyLines,
                            const TFoundAttachment& attachment, QString& problem);

// What is wrong with a yEnc block decoded (cut short, a CRC32 or size that does not match), as
// DecodeAttachment says it; empty when nothing is.
QString YEncBlockProblem(const TYEncDecoder& block, const QString& fileName);

// True for a file that runs as a program when opened: by its name (".exe", ".sh", ".desktop",
// ".jar", ...), by its first bytes (an ELF or PE header, a "#!" script line), or by the type
// the MIME database gives it from both. Such a file is saved, never opened.
bool IsExecutableFile(const QString& name, QByteArrayView firstBytes);

// Creates and opens a new file named fileName in folder (which ends with a separator, or is
// empty for the current directory): only a new file is opened (O_EXCL), so nothing already
// there is ever written, even when it appears between looking and opening. A name taken by
// anything, a link that points nowhere included, is numbered ("a_1.txt"), and fileName
// receives the name used. The file is readable by all and writable by its owner, never
// executable. A file that cannot be created raises an error naming it.
void CreateFileUnderFreeName(QFile& file, const QString& folder, QString& fileName);
