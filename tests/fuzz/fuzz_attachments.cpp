// The attachment walker over a whole article: uuencoded blocks in the body, or the parts of a
// MIME multipart body, each decoded into a file of the attachment directory.
#include "fuzzsupport.h"
#include "nntp/attachmentscan.h"
#include "nntp/qrnntp.h"
#include "util/exception.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// The walker is the client's own step after reading an article; this opens it to the target.
class TArticleWalker : public TQRNNTP {
public:
    using TQRNNTP::ExtractAttachments;
};

QTemporaryDir& AttachmentDir() {
    static QTemporaryDir dir;
    return dir;
}

TArticleWalker& Walker() {
    static TArticleWalker walker;
    return walker;
}

// The files, the working folders of yEnc parts and what they hold.
void EmptyAttachmentDir() {
    QDir dir(AttachmentDir().path());
    for (const QFileInfo& entry :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(entry.filePath()).removeRecursively();
        } else {
            // By its whole path: QDir would take a name starting with ":" for a resource.
            QFile::remove(entry.filePath());
        }
    }
    fuzz::Require(
        dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        "the attachment directory empties for the next input");
}

// Decoding makes no more bytes than the article's lines can carry, however large a size the
// article announces: no file, a part kept for its file included, outgrows that. The most a line
// carries is a uuencoded one, whose length character may declare 63 bytes on a line of two (the
// character and its LF), the missing characters read as zero bits.
void CheckNoFileOutgrowsTheArticle(qsizetype articleSize) {
    constexpr qsizetype kMostBytesPerArticleByte = 32;
    QDirIterator entries(AttachmentDir().path(), QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        fuzz::Require(entries.nextFileInfo().size() <= kMostBytesPerArticleByte * articleSize,
                      "no file is larger than the article's lines can carry");
    }
}

// Names from the article never reach outside the attachment directory.
void CheckFilesStayInside(const TStringList& names) {
    const QString dir = QFileInfo(AttachmentDir().path()).canonicalFilePath();
    for (int i = 0; i < names.Count(); ++i) {
        const QFileInfo file(AttachmentDir().path() + QLatin1Char('/') +
                             QString::fromLocal8Bit(names[i]));
        fuzz::Require(file.exists(), "every attachment named was written");
        fuzz::Require(file.canonicalPath() == dir, "attachments stay in their directory");
    }
}

// The files found without decoding lie inside the body, in order, each after the one before;
// the body shown for them keeps every line outside them.
void CheckFoundFiles(const fuzz::TArticle& article) {
    const TStringList& body = article.body;
    const QList<TFoundAttachment> found = FindAttachments(article.header, body);
    int previousEnd = 0;
    for (const TFoundAttachment& file : found) {
        fuzz::Require(previousEnd <= file.firstLine && file.firstLine <= file.contentLine &&
                          file.contentLine <= file.endLine && file.endLine <= body.Count(),
                      "a file's lines lie inside the body, after those of the file before");
        fuzz::Require(!file.name.isEmpty() && !file.name.contains(u'/'),
                      "a file found has a plain name");
        previousEnd = file.endLine;
    }
    const TStringList shown = BodyWithPlaceholders(body, found);
    fuzz::Require(shown.Count() <= body.Count() + 2 * found.size(),
                  "each file's lines become at most two");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    fuzz::Require(AttachmentDir().isValid(), "a temporary attachment directory");
    Walker().SetAttachmentPath(AttachmentDir().path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::TArticle article = fuzz::SplitArticle(fuzz::Bytes(data, size));
    CheckFoundFiles(article);
    TArticleWalker& walker = Walker();
    walker.HeaderLines.Assign(article.header);
    walker.BodyLines.Assign(article.body);
    walker.AttachmentNames.Clear();
    walker.MimeBoundary.clear();
    try {
        walker.ExtractAttachments();
        CheckFilesStayInside(walker.AttachmentNames);
        CheckNoFileOutgrowsTheArticle(static_cast<qsizetype>(size));
        fuzz::Require(walker.BodyLines.Count() > 0 && walker.BodyLines.Last() == ".",
                      "the closing line survives the walk");
    } catch (const Exception&) {
        // A multipart without a part in it: the walker says so.
    }
    EmptyAttachmentDir();
    return 0;
}
