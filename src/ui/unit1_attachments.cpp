// The files of the article shown: listed in the attachments pane as they were found in its
// lines, and decoded only when the reader saves or opens one.
#include "ui/unit1.h"

#include "codec/yencdecode.h"
#include "nntp/nntpwire.h"
#include "nntp/partjoin.h"
#include "ui/displaytext.h"
#include "ui/summarystate.h"
#include "util/edittext.h"
#include "util/filehelpers.h"
#include "util/finally.h"
#include "util/texthelpers.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
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
#include <utility>
#include <functional>
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

// Files Open put in its folder are left there for the program opened with them, which may
// read them later; a day on they are taken for done with.
constexpr qint64 kOpenedFileSeconds = 24 * 60 * 60;

// Removes the files in folder last written before the time given. Only plain files directly
// in it go: a folder inside, and a link (wherever it points), are left alone, and the folder
// itself is not cleaned when it is a link.
void RemoveFilesOlderThan(const QString& folder, const QDateTime& before) {
    if (QFileInfo(folder).isSymLink()) {
        return;
    }
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (entry.isFile() && !entry.isSymLink() && entry.lastModified() < before) {
            QFile::remove(entry.filePath());
        }
    }
}

// Where Open puts files for the program that opens them; the files left there from more than a
// day ago go.
QString OpenedFilesFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                           QStringLiteral("/attachments");
    if (!QDir().mkpath(folder)) {
        throw Exception(QStringLiteral("Cannot create the folder ") + folder);
    }
    RemoveFilesOlderThan(folder, QDateTime::currentDateTime().addSecs(-kOpenedFileSeconds));
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
    // Abort stops the parts of a file being saved, also between two articles, when no
    // retrieval is running for the client to stop.
    connect(Button8, &QAbstractButton::clicked, this, [this] { partsAborted_ = true; });
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
    TWorkingFile output(WithSeparator(folder), name);
    output.Append(bytes);
    return output.Keep(name);
}

void TForm1::SaveAttachmentsInto(const QList<TFoundAttachment>& files, const QString& folder) {
    // Fetching the articles of a file's other parts lets the window show another article
    // meanwhile (one read before, from its cache): the files are those of this one.
    const TStringList headerLines = shownHeaderLines_;
    const TStringList bodyLines = shownBodyLines_;
    const QString subject = HeaderValue(QStringLiteral("subject: "));
    partsAborted_ = false;
    QStringList saved;
    QStringList problems;
    for (const TFoundAttachment& file : files) {
        QString problem;
        try {
            QString path;
            if (file.IsPart()) {
                path = SaveJoinedParts(file, folder, subject, headerLines, bodyLines, problem);
            } else if (file.kind == TFoundAttachment::TKind::YEnc) {
                path = SaveYEncFile(WithSeparator(folder), bodyLines, file, problem);
            } else {
                path = WriteAttachment(DecodeAttachment(headerLines, bodyLines, file, problem),
                                       folder, file.name);
            }
            if (!path.isEmpty()) {
                saved << path;
            }
        } catch (const Exception& error) {
            problem = file.name + QStringLiteral(" is not saved: ") + error.Message();
        }
        if (!problem.isEmpty()) {
            problems << problem;
        }
        if (partsAborted_) {
            break;
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

std::vector<std::pair<int, qint64>> TForm1::ListedParts(const QString& subject) const {
    const QString shown = WithoutPartCounter(subject);
    const QByteArray subjectPrefix = QByteArrayLiteral("Subject: ");
    const QByteArray fromMark = QByteArrayLiteral("] From: ");
    QHash<qint64, QByteArray> senders;
    std::vector<std::pair<int, qint64>> parts;
    for (qint64 line = 0; line < Summary.LineCount(); ++line) {
        const QByteArray text = Summary.Line(line).trimmed();
        const qint64 number = Summary.EntryNumberOfLine(line);
        const qsizetype from = text.indexOf(fromMark);
        if (text.startsWith('[') && from > 0) {
            senders.insert(number, text.mid(from + fromMark.size()));
            continue;
        }
        if (number == shownNumber_ || number <= 0 || !text.startsWith(subjectPrefix)) {
            continue;
        }
        const QString entrySubject = QString::fromUtf8(text.mid(subjectPrefix.size()));
        if (WithoutPartCounter(entrySubject) == shown) {
            parts.emplace_back(SubjectPartCounter(entrySubject).first, number);
        }
    }
    // The parts of one file come from one poster: another's file of the same name and subject
    // is not mixed in.
    if (senders.contains(shownNumber_)) {
        const QByteArray poster = senders.value(shownNumber_);
        std::erase_if(parts, [&](const std::pair<int, qint64>& part) {
            return senders.value(part.second) != poster;
        });
    }
    std::stable_sort(parts.begin(), parts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return parts;
}

std::vector<qint64> TForm1::PartArticles(const QString& subject) const {
    std::vector<qint64> numbers;
    for (const auto& [part, number] : ListedParts(subject)) {
        numbers.push_back(number);
    }
    return numbers;
}

void TForm1::ForEachPartArticle(const std::vector<qint64>& numbers, const TPartLines& onArticle) {
    // Runs of articles the window has not cached are fetched together, in order with those it
    // has, as the slices of a uuencoded file decode only in order.
    QList<int> toFetch;
    for (const qint64 number : numbers) {
        const int cached = Summary.CachedArticleIndex(static_cast<int>(number));
        if (cached < 0) {
            if (ArticleAtHand(static_cast<int>(number))) {
                toFetch.append(static_cast<int>(number));
            }
            continue;
        }
        if (!FetchPartArticles(std::exchange(toFetch, {}), onArticle)) {
            return;
        }
        TStringList headerLines;
        TStringList bodyLines;
        headerLines.SetText(Summary.HeaderTextCache[cached]);
        bodyLines.SetText(Summary.BodyTextCache[cached]);
        if (!onArticle(headerLines, bodyLines)) {
            return;
        }
    }
    FetchPartArticles(toFetch, onArticle);
}

bool TForm1::FetchPartArticles(const QList<int>& numbers, const TPartLines& onArticle) {
    if (partsAborted_) {
        return false;
    }
    if (numbers.isEmpty() || QRNNTP1->Busy) {
        return true;
    }
    // Fetched for their parts only: the panes keep the article shown. Each article's lines go
    // once its part is written.
    bool going = true;
    collectingParts_ = true;
    try {
        WithFinally(
            [&] {
                QRNNTP1->FetchArticles(numbers, TQRNNTP::TRetrieval::Whole, [&](int, bool found) {
                    going = !found || onArticle(QRNNTP1->HeaderLines, QRNNTP1->BodyLines);
                    return going && !partsAborted_;
                });
            },
            [this] {
                collectingParts_ = false;
                HideProgress();
            });
    } catch (const std::exception&) {
        // Aborted, or the connection lost: the parts not fetched by then are missing.
    }
    return going && !partsAborted_;
}

void TForm1::ShowPartsProgress(int parts, int total, qint64 bytes, qint64 size) {
    const QString partsText = total > 0 ? QStringLiteral("%1 of %2 parts").arg(parts).arg(total)
                                        : QStringLiteral("%1 parts").arg(parts);
    // In kilobytes: the bar counts in int, and a file may be larger than that.
    const qint64 kilobytes = bytes / 1024;
    if (size > 0) {
        ShowProgress(partsText + QStringLiteral(", %v of %m KB written"), kilobytes, size / 1024);
    } else {
        ShowProgress(partsText + QStringLiteral(", %1 KB written").arg(kilobytes), parts, total);
    }
    // Between two parts, Abort is seen before the next article is asked for, also when the
    // part came from the cache and the bar has just been painted.
    QCoreApplication::processEvents();
}

QString TForm1::SaveJoinedParts(const TFoundAttachment& file, const QString& folder,
                                const QString& subject, const TStringList& headerLines,
                                const TStringList& bodyLines, QString& problem) {
    QString path;
    WithFinally(
        [&] {
            path = file.kind == TFoundAttachment::TKind::YEnc
                       ? SaveYEncParts(file, folder, subject, headerLines, bodyLines, problem)
                       : SaveUuParts(file, folder, subject, headerLines, bodyLines, problem);
        },
        [this] { HideProgress(); });
    return path;
}

QString TForm1::SaveYEncParts(const TFoundAttachment& file, const QString& folder,
                              const QString& subject, const TStringList& headerLines,
                              const TStringList& bodyLines, QString& problem) {
    TYEncPartJoiner joiner(WithSeparator(folder), file);
    const auto addParts = [&](const TStringList& partHeader, const TStringList& partBody) {
        const QString fault = joiner.AddParts(partHeader, partBody);
        ShowPartsProgress(joiner.PartsWritten(), file.total, joiner.BytesWritten(), file.size);
        return fault;
    };
    QString fault = addParts(headerLines, bodyLines);
    if (fault.isEmpty() && !joiner.Whole()) {
        ForEachPartArticle(PartArticles(subject),
                           [&](const TStringList& partHeader, const TStringList& partBody) {
                               fault = addParts(partHeader, partBody);
                               return fault.isEmpty() && !joiner.Whole();
                           });
    }
    if (!fault.isEmpty()) {
        problem = file.name + QStringLiteral(" is not saved: ") + fault;
        return QString();
    }
    if (!joiner.Whole()) {
        problem = file.name + QStringLiteral(" is not saved: ") + joiner.Missing();
        return QString();
    }
    return joiner.Keep(problem);
}

QString TForm1::SaveUuParts(const TFoundAttachment& file, const QString& folder,
                            const QString& subject, const TStringList& headerLines,
                            const TStringList& bodyLines, QString& problem) {
    // The slices decode only in order, so every part must be listed before any is fetched.
    std::map<int, qint64> listed;
    for (const auto& [part, number] : ListedParts(subject)) {
        listed.emplace(part, number);
    }
    std::set<int> present{file.part};
    std::vector<qint64> numbers;
    for (int part = 1; part <= file.total; ++part) {
        if (listed.contains(part) && part != file.part) {
            present.insert(part);
            numbers.push_back(listed.at(part));
        }
    }
    if (static_cast<int>(present.size()) < file.total) {
        problem =
            file.name + QStringLiteral(" is not saved: ") + MissingPartsText(present, file.total);
        return QString();
    }
    TWorkingFile output(WithSeparator(folder), file.name);
    QString name = file.name;
    std::set<int> written;
    // Appends the article's slice when it is the next part; false when it is not.
    const auto appendSlice = [&](const TStringList& partHeader, const TStringList& partBody) {
        const int next = static_cast<int>(written.size()) + 1;
        for (const TFoundAttachment& slice : FindAttachments(partHeader, partBody)) {
            if (slice.kind == TFoundAttachment::TKind::Uuencoded && slice.part == next &&
                slice.total == file.total) {
                // The name is the "begin" line's, in part 1.
                if (next == 1) {
                    name = slice.name;
                }
                output.Append(DecodeUuSlice(partBody, slice));
                written.insert(next);
                ShowPartsProgress(next, file.total, output.BytesWritten(), 0);
                return true;
            }
        }
        return false;
    };
    // The article shown holds its slice at hand: appended when its turn comes.
    const auto appendShownWhenDue = [&] {
        return static_cast<int>(written.size()) + 1 != file.part ||
               appendSlice(headerLines, bodyLines);
    };
    if (appendShownWhenDue()) {
        ForEachPartArticle(numbers,
                           [&](const TStringList& partHeader, const TStringList& partBody) {
                               return appendSlice(partHeader, partBody) && appendShownWhenDue();
                           });
    }
    if (static_cast<int>(written.size()) < file.total) {
        problem =
            file.name + QStringLiteral(" is not saved: ") + MissingPartsText(written, file.total);
        return QString();
    }
    return output.Keep(name);
}
