// The files of the article shown: listed in the attachments pane as they were found in its
// lines, and decoded only when the reader saves or opens one.
#include "ui/unit1.h"

#include "codec/yencdecode.h"
#include "nntp/nntpwire.h"
#include "ui/displaytext.h"
#include "ui/summarystate.h"
#include "util/edittext.h"
#include "util/filehelpers.h"
#include "util/finally.h"
#include "util/texthelpers.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBlock>
#include <QUrl>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace {

// How much of a file tells its type by its content: an ELF or script header, a magic number.
constexpr qsizetype kTypeSniffBytes = 4096;

// Why a yEnc part is not opened or saved under another name on its own: it holds a piece of its
// file only; Save and Save Attachments join it with its other parts.
QString PartRefusal(const TFoundAttachment& file) {
    return QStringLiteral("%1 is one part of a file posted in several: Save joins it with its "
                          "other parts")
        .arg(file.name);
}

// A subject without its part counter, "name (2/5)" read as "name ()": the articles of one
// file's parts share it.
QString WithoutPartCounter(const QString& subject) {
    static const QRegularExpression counter(QStringLiteral("\\(\\d+/\\d+\\)"));
    return QString(subject).replace(counter, QStringLiteral("()")).trimmed();
}

// The yEnc blocks of one file found in an article, decoded; a block that fails its checks (cut
// short, a CRC32 or size that does not match, no place in the file) is left out.
struct TFilePieces {
    // By the first byte of the file each holds (1-based), the bytes.
    std::map<qint64, QByteArray> pieces;
    std::set<int> parts;
    // The CRC32s of the whole file the parts declare: each must hold.
    std::set<quint32> fileCrcs;

    void Add(const TStringList& body, const TFoundAttachment& block) {
        TYEncDecoder decoder(body[block.firstLine]);
        for (int i = block.firstLine + 1; i < block.endLine; ++i) {
            decoder.AddLine(body[i]);
        }
        const std::optional<qint64> begin = decoder.PartBegin();
        const std::optional<qint64> end = decoder.PartEnd();
        const std::optional<quint32> crc = decoder.DeclaredCrc();
        const bool fits = begin && end && *begin >= 1 && *end <= block.size &&
                          decoder.Data().size() == *end - *begin + 1;
        if (!decoder.Ended() || !fits || (crc && *crc != decoder.Crc())) {
            return;
        }
        pieces.emplace(*begin, decoder.Data());
        parts.insert(block.part);
        if (decoder.DeclaredFileCrc()) {
            fileCrcs.insert(*decoder.DeclaredFileCrc());
        }
    }

    // The file from its first byte to its last; empty when a piece is missing.
    QByteArray Joined(qint64 size) const {
        QByteArray file;
        for (const auto& [begin, data] : pieces) {
            if (begin > file.size() + 1) {
                return QByteArray();
            }
            file += data.mid(file.size() + 1 - begin);
        }
        return file.size() == size ? file : QByteArray();
    }

    // "parts 2, 4 of 5 are missing"; the numbers unknown when the post gives no total.
    QString Missing(int total) const {
        QStringList missing;
        for (int part = 1; part <= total; ++part) {
            if (!parts.contains(part)) {
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
};

// Where Open puts files for the program that opens them.
QString OpenedFilesFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                           QStringLiteral("/attachments");
    if (!QDir().mkpath(folder)) {
        throw Exception(QStringLiteral("Cannot create the folder ") + folder);
    }
    return WithSeparator(folder);
}

} // namespace

void TForm1::BindAttachments() {
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    const auto newAction = [this](const QString& text, void (TForm1::*handler)()) {
        auto* action = new QAction(text, Memo1);
        Memo1->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, handler] { Dispatch([this, handler] { (this->*handler)(); }); });
        return action;
    };
    SaveAttachmentAction = newAction(QStringLiteral("Save"), &TForm1::SaveAttachmentAtCursor);
    SaveAttachmentAsAction =
        newAction(QStringLiteral("Save As..."), &TForm1::SaveAttachmentAtCursorAs);
    OpenAttachmentAction = newAction(QStringLiteral("Open"), &TForm1::OpenAttachmentAtCursor);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](QPoint pos) { Dispatch([this, pos] { Memo1ContextMenu(pos); }); });
}

const QList<TFoundAttachment>& TForm1::KeepShownFiles(const TStringList& headerLines,
                                                      const TStringList& bodyLines) {
    shownHeaderLines_.Assign(headerLines);
    shownBodyLines_.Assign(bodyLines);
    shownFiles_ = FindAttachments(headerLines, bodyLines);
    return shownFiles_;
}

QString TForm1::AttachmentsPaneText() const {
    QStringList lines;
    for (const TFoundAttachment& file : shownFiles_) {
        lines << file.PaneLine();
    }
    // Files the client extracted itself as it retrieved the article, by their local names.
    const QByteArray names = ReplaceAll(QRNNTP1->AttachmentNames.Text(), QByteArrayLiteral("\r\n"),
                                        QByteArrayLiteral(" "), true);
    if (!names.isEmpty()) {
        lines << QString::fromLocal8Bit(names);
    }
    return lines.join(u'\n');
}

const TFoundAttachment* TForm1::FileAtCursor() const {
    const int line = Memo1->textCursor().blockNumber();
    return line < shownFiles_.size() ? &shownFiles_[line] : nullptr;
}

void TForm1::Memo1ContextMenu(QPoint pos) {
    const QTextCursor clicked = Memo1->cursorForPosition(pos);
    if (!Memo1->textCursor().hasSelection()) {
        Memo1->setTextCursor(clicked);
    }
    const bool onFile = FileAtCursor() != nullptr;
    const std::unique_ptr<QMenu> menu(Memo1->createStandardContextMenu(pos));
    menu->addSeparator();
    for (QAction* action : {SaveAttachmentAction, SaveAttachmentAsAction, OpenAttachmentAction}) {
        action->setEnabled(onFile);
        menu->addAction(action);
    }
    menu->exec(Memo1->viewport()->mapToGlobal(pos));
}

QString TForm1::ChooseAttachmentFolder() {
    if (SaveDialog1 == nullptr) {
        SaveDialog1 = new QFileDialog(this, QStringLiteral("Save Attachments into Folder"));
        SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
        SaveDialog1->setFileMode(QFileDialog::Directory);
        SaveDialog1->setOption(QFileDialog::ShowDirsOnly);
    }
    SaveDialog1->setDirectory(attachmentFolder_.isEmpty() ? QDir::homePath() : attachmentFolder_);
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) {
        return QString();
    }
    attachmentFolder_ = SaveDialog1->selectedFiles().first();
    return attachmentFolder_;
}

QString TForm1::WriteAttachment(const QByteArray& bytes, const QString& folder,
                                const QString& name) {
    QString savedName = name;
    QFile output;
    CreateFileUnderFreeName(output, WithSeparator(folder), savedName);
    if (output.write(bytes) != bytes.size() || !output.flush()) {
        throw Exception(QStringLiteral("Cannot write file ") + output.fileName() +
                        QStringLiteral(": ") + output.errorString());
    }
    return output.fileName();
}

void TForm1::SaveAttachmentsInto(const QList<TFoundAttachment>& files, const QString& folder) {
    // Fetching the articles of a file's other parts lets the window show another article
    // meanwhile (one read before, from its cache): the files are those of this one.
    const TStringList headerLines = shownHeaderLines_;
    const TStringList bodyLines = shownBodyLines_;
    const QString subject = HeaderValue(QStringLiteral("subject: "));
    QStringList saved;
    QStringList problems;
    for (const TFoundAttachment& file : files) {
        QString problem;
        try {
            if (file.IsPart()) {
                const QByteArray joined =
                    JoinedParts(file, subject, headerLines, bodyLines, problem);
                if (!joined.isEmpty()) {
                    saved << WriteAttachment(joined, folder, file.name);
                }
            } else {
                saved << WriteAttachment(DecodeAttachment(headerLines, bodyLines, file, problem),
                                         folder, file.name);
            }
        } catch (const Exception& error) {
            problem = error.Message();
        }
        if (!problem.isEmpty()) {
            problems << problem;
        }
    }
    QString status = saved.isEmpty() ? QStringLiteral("Nothing saved")
                                     : QStringLiteral("Saved ") + saved.join(QStringLiteral(", "));
    if (!problems.isEmpty()) {
        status += QStringLiteral("; ") + problems.join(QStringLiteral("; "));
    }
    SetStatusText(status);
}

void TForm1::Button22Click() {
    if (shownFiles_.isEmpty()) {
        SetStatusText(QStringLiteral("The article shown has no attachments"));
        return;
    }
    const QString folder = ChooseAttachmentFolder();
    if (!folder.isEmpty()) {
        SaveAttachmentsInto(QList<TFoundAttachment>(shownFiles_), folder);
    }
}

void TForm1::SaveAttachmentAtCursor() {
    const TFoundAttachment* file = FileAtCursor();
    if (file == nullptr) {
        return;
    }
    const TFoundAttachment chosen = *file;
    const QString folder = ChooseAttachmentFolder();
    if (!folder.isEmpty()) {
        SaveAttachmentsInto({chosen}, folder);
    }
}

std::optional<TFoundAttachment> TForm1::WholeFileAtCursor() {
    const TFoundAttachment* found = FileAtCursor();
    if (found == nullptr) {
        return std::nullopt;
    }
    if (found->IsPart()) {
        SetStatusText(PartRefusal(*found));
        return std::nullopt;
    }
    return *found;
}

void TForm1::SaveAttachmentAtCursorAs() {
    const std::optional<TFoundAttachment> whole = WholeFileAtCursor();
    if (!whole) {
        return;
    }
    const TFoundAttachment& file = *whole;
    if (SaveDialog2 == nullptr) {
        SaveDialog2 = new QFileDialog(this, QStringLiteral("Save Attachment As"));
        SaveDialog2->setObjectName(QStringLiteral("SaveDialog2"));
        SaveDialog2->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog2->setFileMode(QFileDialog::AnyFile);
        // A file that is there is never written over: the new one gets a free name.
        SaveDialog2->setOption(QFileDialog::DontConfirmOverwrite);
    }
    SaveDialog2->setDirectory(attachmentFolder_.isEmpty() ? QDir::homePath() : attachmentFolder_);
    SaveDialog2->selectFile(file.name);
    if (SaveDialog2->exec() != QDialog::Accepted || SaveDialog2->selectedFiles().isEmpty()) {
        return;
    }
    const QFileInfo chosen(SaveDialog2->selectedFiles().first());
    attachmentFolder_ = chosen.absolutePath();
    QString problem;
    const QString path =
        WriteAttachment(DecodeAttachment(shownHeaderLines_, shownBodyLines_, file, problem),
                        attachmentFolder_, PlainFileName(chosen.fileName(), file.name));
    SetStatusText(QStringLiteral("Saved ") + path +
                  (problem.isEmpty() ? QString() : QStringLiteral("; ") + problem));
}

void TForm1::OpenAttachmentAtCursor() {
    const std::optional<TFoundAttachment> whole = WholeFileAtCursor();
    if (!whole) {
        return;
    }
    const TFoundAttachment& file = *whole;
    QString problem;
    const QByteArray bytes = DecodeAttachment(shownHeaderLines_, shownBodyLines_, file, problem);
    const QByteArrayView head =
        QByteArrayView(bytes).first(std::min(bytes.size(), kTypeSniffBytes));
    if (IsExecutableFile(file.name, head)) {
        SetStatusText(file.name + QStringLiteral(" is not opened: it would run as a program. "
                                                 "Save it to look at it."));
        return;
    }
    const QString path = WriteAttachment(bytes, OpenedFilesFolder(), file.name);
    SetStatusText(QStringLiteral("Opened ") + path +
                  (problem.isEmpty() ? QString() : QStringLiteral("; ") + problem));
    // The desktop's program for the file's type, handed the file's URL: never a command line.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::vector<qint64> TForm1::PartArticles(const QString& subject) const {
    const QString shown = WithoutPartCounter(subject);
    const QByteArray subjectPrefix = QByteArrayLiteral("Subject: ");
    const QByteArray fromMark = QByteArrayLiteral("] From: ");
    QHash<qint64, QByteArray> senders;
    std::vector<qint64> numbers;
    for (qint64 line = 0; line < Summary.LineCount(); ++line) {
        const QByteArray text = Summary.Line(line).trimmed();
        const qint64 number = Summary.EntryNumberOfLine(line);
        const qsizetype from = text.indexOf(fromMark);
        if (text.startsWith('[') && from > 0) {
            senders.insert(number, text.mid(from + fromMark.size()));
        } else if (number != shownNumber_ && number > 0 && text.startsWith(subjectPrefix) &&
                   WithoutPartCounter(QString::fromUtf8(text.mid(subjectPrefix.size()))) == shown) {
            numbers.push_back(number);
        }
    }
    // The parts of one file come from one poster: another's file of the same name and subject
    // is not mixed in.
    if (senders.contains(shownNumber_)) {
        const QByteArray poster = senders.value(shownNumber_);
        std::erase_if(numbers, [&](qint64 number) { return senders.value(number) != poster; });
    }
    return numbers;
}

void TForm1::ForEachPartArticle(const std::vector<qint64>& numbers, const TPartLines& take) {
    QList<int> fetched;
    for (const qint64 number : numbers) {
        const int cached = Summary.CachedArticleIndex(static_cast<int>(number));
        if (cached >= 0) {
            TStringList headerLines;
            TStringList bodyLines;
            headerLines.SetText(Summary.HeaderTextCache[cached]);
            bodyLines.SetText(Summary.BodyTextCache[cached]);
            take(headerLines, bodyLines);
        } else if (ArticleAtHand(static_cast<int>(number))) {
            fetched.append(static_cast<int>(number));
        }
    }
    if (fetched.isEmpty() || QRNNTP1->Busy) {
        return;
    }
    // Fetched for their parts only, several at a time: the panes keep the article shown.
    collectingParts_ = true;
    try {
        WithFinally(
            [&] {
                QRNNTP1->FetchArticles(fetched, TQRNNTP::TRetrieval::Whole, [&](int, bool found) {
                    if (found) {
                        take(QRNNTP1->HeaderLines, QRNNTP1->BodyLines);
                    }
                    return true;
                });
            },
            [this] {
                collectingParts_ = false;
                HideProgress();
            });
    } catch (const std::exception&) {
        // Aborted, or the connection lost: the parts not fetched by then are missing.
    }
}

QByteArray TForm1::JoinedParts(const TFoundAttachment& file, const QString& subject,
                               const TStringList& headerLines, const TStringList& bodyLines,
                               QString& problem) {
    const auto addPieces = [&file](TFilePieces& pieces, const TStringList& partHeader,
                                   const TStringList& partBody) {
        for (const TFoundAttachment& block : FindAttachments(partHeader, partBody)) {
            if (block.IsPart() && block.name == file.name && block.size == file.size) {
                pieces.Add(partBody, block);
            }
        }
    };
    TFilePieces pieces;
    addPieces(pieces, headerLines, bodyLines);
    ForEachPartArticle(PartArticles(subject),
                       [&](const TStringList& partHeader, const TStringList& partBody) {
                           addPieces(pieces, partHeader, partBody);
                       });
    const QByteArray joined = pieces.Joined(file.size);
    if (joined.isEmpty()) {
        problem = file.name + QStringLiteral(" is not saved: ") + pieces.Missing(file.total);
    } else if (!pieces.fileCrcs.empty() &&
               pieces.fileCrcs != std::set<quint32>{YEncCrc32(joined)}) {
        problem = QStringLiteral("CRC32 mismatch in %1, joined from its parts").arg(file.name);
    }
    return joined;
}
