// The files of the article shown: listed in the attachments pane as they were found in its
// lines, and decoded only when the reader saves or opens one.
#include "ui/unit1.h"

#include "nntp/nntpwire.h"
#include "ui/displaytext.h"
#include "util/edittext.h"
#include "util/filehelpers.h"
#include "util/texthelpers.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextBlock>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace {

// How much of a file tells its type by its content: an ELF or script header, a magic number.
constexpr qsizetype kTypeSniffBytes = 4096;

// Why a yEnc part is not saved or opened on its own: it holds a piece of its file only.
QString PartRefusal(const TFoundAttachment& file) {
    return QStringLiteral("%1 is one part of a file posted in several; a part alone is not saved")
        .arg(file.name);
}

QString WithSeparator(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

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

QByteArray TForm1::DecodeShownFile(const TFoundAttachment& file, QString& problem) const {
    if (file.IsPart()) {
        throw Exception(PartRefusal(file));
    }
    return DecodeAttachment(shownHeaderLines_, shownBodyLines_, file, problem);
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
    QStringList saved;
    QStringList problems;
    for (const TFoundAttachment& file : files) {
        QString problem;
        try {
            saved << WriteAttachment(DecodeShownFile(file, problem), folder, file.name);
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
        SaveAttachmentsInto(shownFiles_, folder);
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

void TForm1::SaveAttachmentAtCursorAs() {
    const TFoundAttachment* found = FileAtCursor();
    if (found == nullptr) {
        return;
    }
    const TFoundAttachment file = *found;
    if (file.IsPart()) {
        SetStatusText(PartRefusal(file));
        return;
    }
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
    const QString path = WriteAttachment(DecodeShownFile(file, problem), attachmentFolder_,
                                         PlainFileName(chosen.fileName(), file.name));
    SetStatusText(QStringLiteral("Saved ") + path +
                  (problem.isEmpty() ? QString() : QStringLiteral("; ") + problem));
}

void TForm1::OpenAttachmentAtCursor() {
    const TFoundAttachment* found = FileAtCursor();
    if (found == nullptr) {
        return;
    }
    const TFoundAttachment file = *found;
    if (file.IsPart()) {
        SetStatusText(PartRefusal(file));
        return;
    }
    QString problem;
    const QByteArray bytes = DecodeShownFile(file, problem);
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
