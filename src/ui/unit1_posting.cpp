// The " Posting Articles " page: composing with quoting, indenting and signing, attaching
// files, and posting a new thread or a reply to the article shown on the reading page, to the
// groups its Newsgroups field names.
#include "ui/unit1.h"

#include "nntp/postcharset.h"
#include "ui/displaytext.h"
#include "ui/postfields.h"
#include "util/edittext.h"
#include "util/presenter.h"
#include "util/texthelpers.h"

#include <QDateTime>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextLayout>

namespace {

const QString kIndent = QStringLiteral("> ");

// The compose pane's lines as the pane shows them: each line that word wrap made on screen is
// a line of its own. The empty line after a final line end is no line, as in any text.
QStringList ScreenLines(const QPlainTextEdit* pane) {
    const QTextDocument* document = pane->document();
    const auto* layout = qobject_cast<const QPlainTextDocumentLayout*>(document->documentLayout());
    QStringList lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        // Blocks outside the visible part are laid out on demand.
        layout->ensureBlockLayout(block);
        const QTextLayout* blockLayout = block.layout();
        if (blockLayout->lineCount() == 0) {
            lines << block.text();
            continue;
        }
        for (int i = 0; i < blockLayout->lineCount(); ++i) {
            const QTextLine line = blockLayout->lineAt(i);
            lines << block.text().mid(line.textStart(), line.textLength());
        }
    }
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

// The Date header: "Mon, 1 Jan 2024 09:05:03 -0000". The zone "-0000" declares the time to be
// Universal Time, so the time written is, and the names are the English ones the header's
// grammar knows, whatever the user's locale.
QByteArray PostDate() {
    const QString date = QLocale::c().toString(QDateTime::currentDateTimeUtc(),
                                               QStringLiteral("ddd, d MMM yyyy hh:mm:ss"));
    return date.toLatin1() + QByteArrayLiteral(" -0000");
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Posting

void TForm1::Button12Click() {
    ComposeAndPost(false);
}

void TForm1::Button7Click() {
    ComposeAndPost(true);
}

void TForm1::ComposeAndPost(bool reply) {
    // Inside a running operation the client would skip the post, after its lists had been
    // rewritten under the operation; a running post still reads its attachment list.
    if (QRNNTP1->Busy) {
        return;
    }
    const auto [newsgroups, followupTo] = CheckedDestination();
    const QByteArray identity = PostIdentity(newsgroups);
    // A post the server took leaves the pane as it was, for a corrected copy; the same text
    // once more is more likely a second click than a wish.
    if (identity == acceptedPost_ &&
        !ConfirmBox(QStringLiteral("This text was already posted once. Post it again"))) {
        SetStatusText(QStringLiteral("Not posted again"));
        return;
    }
    QRNNTP1->UserId = WireBytes(Edit3->text());
    QRNNTP1->Password = WireBytes(Edit4->text());
    // Typed text goes out as UTF-8; DeclareUtf8Article below says so when it is not ASCII.
    QRNNTP1->PostBody.Clear();
    for (const QString& line : ScreenLines(Memo5)) {
        QRNNTP1->PostBody.Add(line.toUtf8());
    }
    TPostRecordType& record = QRNNTP1->PostRecord;
    record.SetPrTimeDate(PostDate());
    record.SetPrFromAddress(Edit9->text().toUtf8());
    record.SetPrReplyTo(Edit10->text().toUtf8());
    record.SetPrSubject(Edit11->text().toUtf8());
    record.SetNewsGroups(newsgroups);
    QRNNTP1->PostHeader.SetValue("Followup-To", followupTo);
    record.SetPrAppName(QByteArrayLiteral("ZK News Reader"));
    // A reply continues the parent's References with the parent itself; a new thread removes
    // whatever an earlier reply left there.
    QByteArray references;
    if (reply) {
        references = WireBytes(HeaderValue(QStringLiteral("references: ")) + u' ' +
                               HeaderValue(QStringLiteral("message-id: ")));
    }
    QRNNTP1->PostHeader.SetValue("References", references);
    // An ASCII post after one that was not goes out without the earlier declaration.
    for (const char* name : kMimeDeclarationNames) {
        QRNNTP1->PostHeader.SetValue(name, QByteArray());
    }
    DeclareUtf8Article(QRNNTP1->PostHeader, QRNNTP1->PostBody);
    QRNNTP1->PostAttachments.Clear();
    for (int i = 0; i < ListBox2->count(); ++i) {
        QRNNTP1->PostAttachments.Add(ListBox2->item(i)->text().toLocal8Bit());
    }
    // The pane, the fields and the attachment list stay as they are, so that a post that
    // failed can be sent again.
    sendingPost_ = identity;
    QRNNTP1->PostArticle();
}

std::pair<QByteArray, QByteArray> TForm1::CheckedDestination() {
    try {
        return {CheckedNewsgroups(Edit13->text()), CheckedFollowupTo(Edit14->text())};
    } catch (const EPostField& refusal) {
        SetStatusText(QStringLiteral("Not posted: ") + refusal.Message());
        ShowInfo(refusal.Message());
        throw EShownError(refusal.Message());
    }
}

QByteArray TForm1::PostIdentity(const QByteArray& newsgroups) const {
    return Edit11->text().toUtf8() + '\n' + newsgroups + '\n' + PaneText(Memo5).toUtf8();
}

void TForm1::QRNNTP1Posted(QObject*) {
    acceptedPost_ = sendingPost_;
    SetStatusText(QStringLiteral("Article posted to ") +
                  QString::fromLatin1(QRNNTP1->PostRecord.GetNewsGroups()));
    ShowInfo(QStringLiteral("Article Posted"));
}

void TForm1::QRNNTP1PostFailed(QObject*, quint16 errorNumber, const QString& message) {
    ShowInfo(QStringLiteral("Post Failed. Error: ") + QString::number(errorNumber) +
             QStringLiteral("; ") + TrimBlanksAndControls(message));
}

// ---------------------------------------------------------------------------------------------
// Composing

bool TForm1::ComposingPost() const {
    return Edit13->text() != filledNewsgroups_ ||
           !WithoutSignature(PaneText(Memo5)).trimmed().isEmpty();
}

void TForm1::FillNewsgroups(const QString& groups) {
    filledNewsgroups_ = groups;
    Edit13->setText(groups);
}

void TForm1::AddressNewThread() {
    FillNewsgroups(DisplayText(QRNNTP1->CurrentGroup));
}

void TForm1::AddressReply() {
    if (!ComposingPost()) {
        AddressReplyToShown();
    }
}

void TForm1::AddressReplyToShown() {
    FillNewsgroups(ReplyGroups(HeaderValue(QStringLiteral("followup-to: ")),
                               HeaderValue(QStringLiteral("newsgroups: ")),
                               DisplayText(QRNNTP1->CurrentGroup)));
}

void TForm1::TabSheet2Show() {
    if (PaneText(Memo5).isEmpty()) {
        AppendSignature();
    }
}

void TForm1::Button17Click() {
    AddressReplyToShown();
    PageControl1->setCurrentWidget(TabSheet2);
    const QString selected = SelectedPaneText(Memo2);
    // The parent's signature is no part of what is answered.
    SetEditText(Memo5, selected.isEmpty() ? WithoutSignature(PaneText(Memo2)) : selected);
    Memo5->selectAll();
    Button15Click();
    const QString date = HeaderValue(QStringLiteral("date: "));
    const QString from = HeaderValue(QStringLiteral("from: "));
    SetEditText(Memo5, from + QStringLiteral(" wrote on ") + date + QStringLiteral(" :-\n") +
                           PaneText(Memo5));
    AppendEmptyLines(2);
    AppendSignature();
    if (Edit13->text().trimmed().compare(QLatin1String(kFollowupToPoster),
                                         Qt::CaseInsensitive) == 0) {
        SetStatusText(ReplyByMailText());
        ShowInfo(ReplyByMailText());
    }
}

void TForm1::Button15Click() {
    Memo5->setFocus();
    QTextCursor selection = Memo5->textCursor();
    if (!selection.hasSelection()) {
        return;
    }
    const QString selected = SelectedPaneText(Memo5);
    QString text = TrimmedEnd(selected);
    // Trailing empty lines go, but a line end the selection took stays when text follows it,
    // so that the next line is not joined to the last one indented.
    const bool lineEndTaken = selected.indexOf(u'\n', text.size()) >= 0;
    const bool textFollows = selection.selectionEnd() < Memo5->document()->characterCount() - 1;
    text = kIndent + text.replace(u'\n', u'\n' + kIndent);
    if (lineEndTaken && textFollows) {
        text += u'\n';
    }
    selection.insertText(text);
    Memo5->setTextCursor(selection);
}

void TForm1::Button16Click() {
    Memo5->setFocus();
    SetEditText(Memo5, TrimmedEnd(PaneText(Memo5)) + QStringLiteral("\n\n") + Edit9->text());
}

void TForm1::AppendEmptyLines(int count) {
    // A final line end already ends the last line; each empty line adds one more.
    const QString text = PaneText(Memo5);
    const int lineEnds = text.isEmpty() || text.endsWith(u'\n') ? count - 1 : count;
    QTextCursor end(Memo5->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString(lineEnds, u'\n'));
}

void TForm1::AppendSignature() {
    const TSignature signature = ReadSignature(Edit15->text());
    if (!signature.notice.isEmpty()) {
        SetStatusText(signature.notice);
    }
    if (signature.text.isEmpty()) {
        return;
    }
    // The line the caret stands on, empty, is where the text goes.
    QString text = PaneText(Memo5);
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    const int caret = static_cast<int>(text.size());
    SetEditText(Memo5, text + u'\n' + QLatin1String(kSignatureSeparator) + u'\n' +
                           signature.text);
    QTextCursor cursor = Memo5->textCursor();
    cursor.setPosition(caret);
    Memo5->setTextCursor(cursor);
}

// ---------------------------------------------------------------------------------------------
// Attachments

void TForm1::Button5Click() {
    // Made on first use and kept, so that it opens where the last file was taken from: a file
    // dialog starts reading its directory, and the type of every file in it, once it exists,
    // which a window that never attaches a file should not pay for while it lists a group.
    if (OpenDialog1 == nullptr) {
        OpenDialog1 = new QFileDialog(this, QStringLiteral("Add Attachment"), QStringLiteral("."));
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    }
    if (OpenDialog1->exec() == QDialog::Accepted) {
        ListBox2->addItems(OpenDialog1->selectedFiles());
    }
}

void TForm1::Button6Click() {
    const QList<QListWidgetItem*> selected = ListBox2->selectedItems();
    for (QListWidgetItem* item : selected) {
        delete ListBox2->takeItem(ListBox2->row(item));
    }
}
