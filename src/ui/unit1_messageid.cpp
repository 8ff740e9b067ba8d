// Articles opened by Message-ID: a click on one in the header or body pane, Enter on it or View
// Article at Cursor in the pane's context menu, and the news: and nntp: URLs the program is
// started with.
#include "ui/unit1.h"

#include "nntp/storecache.h"
#include "ui/displaytext.h"
#include "util/finally.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>

namespace {

// The port of a URL's host when the URL names none (RFC 5538).
constexpr int kNewsUrlPort = 119;

// The pane line as bytes, position for position: a Message-ID is printable ASCII, so anything
// else becomes a blank, which no Message-ID spans.
QByteArray AsciiOrBlank(const QString& line) {
    QByteArray bytes(line.size(), ' ');
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i].unicode() < 0x7f) {
            bytes[i] = static_cast<char>(line[i].unicode());
        }
    }
    return bytes;
}

} // namespace

QByteArray TForm1::MessageIdAtCursor(const QTextCursor& cursor) {
    if (cursor.hasSelection()) {
        return QByteArray();
    }
    return nntpwire::MessageIdAt(AsciiOrBlank(cursor.block().text()), cursor.positionInBlock());
}

bool TForm1::OpenMessageIdAtCursor(QPlainTextEdit* pane) {
    const QByteArray id = MessageIdAtCursor(pane->textCursor());
    if (id.isEmpty()) {
        return false;
    }
    OpenMessageId(id);
    return true;
}

void TForm1::PaneContextMenu(QPlainTextEdit* pane, QPoint pos) {
    const QTextCursor clicked = pane->cursorForPosition(pos);
    const QTextCursor cursor = pane->textCursor();
    const bool inSelection = cursor.hasSelection() &&
                             clicked.position() >= cursor.selectionStart() &&
                             clicked.position() < cursor.selectionEnd();
    if (!inSelection) {
        pane->setTextCursor(clicked);
    }
    QAction* view = pane == Memo3 ? Memo3ViewAction : Memo2ViewAction;
    view->setEnabled(!MessageIdAtCursor(pane->textCursor()).isEmpty());
    const std::unique_ptr<QMenu> menu(pane->createStandardContextMenu(pos));
    menu->addSeparator();
    menu->addAction(view);
    menu->exec(pane->viewport()->mapToGlobal(pos));
}

void TForm1::OpenMessageId(const QByteArray& typed) {
    QByteArray id;
    try {
        id = nntpwire::CheckedMessageId(typed);
    } catch (const Exception& error) {
        SetStatusText(error.Message());
        return;
    }
    if (RefusedWhileBusy()) {
        return;
    }
    // Working offline the client asks the store only; what it lacks would ask for a connection.
    if (WorkingOffline() && !StoreHoldsMessageId(id)) {
        SetStatusText(QStringLiteral("No such article %1 in the news store (working offline)")
                          .arg(DisplayText(id)));
        return;
    }
    QRNNTP1->AttachmentNames.Clear();
    QRNNTP1->AttachmentProblems.clear();
    QRNNTP1->AttachmentNotices.clear();
    try {
        WithFinally([this, &id] { QRNNTP1->GetArticleById(id); }, [this] { HideProgress(); });
    } catch (const NNTPError& error) {
        SetStatusText(error.Message());
        return;
    }
    // The reply numbers an article of the listed group; one from elsewhere is only shown.
    const int number = nntpwire::StrToIntDef(QRNNTP1->HeaderLines.GetValue("ArtId"), 0);
    if (number > 0) {
        MarkArticleRead(number);
    }
    shownNumber_ = number;
    PageControl1->setCurrentWidget(TabSheet1);
    Memo2->setFocus();
    ShowArticleDetails(number);
}

bool TForm1::StoreHoldsMessageId(const QByteArray& id) {
    bool held = false;
    if (storeCache_) {
        UseStore([this, &id, &held](TNewsStore& store) {
            held = store.ArticleByMessageId(storeCache_->ServerId(), id).has_value();
        });
    }
    return held;
}

void TForm1::OpenUrl(const QByteArray& url) {
    Dispatch([this, &url] { OpenNewsUrl(nntpwire::ParseNewsUrl(url)); });
}

void TForm1::OpenNewsUrl(const nntpwire::NewsUrl& url) {
    if (RefusedWhileBusy()) {
        return;
    }
    if (!url.host.isEmpty()) {
        UseUrlServer(url.host, url.port);
    }
    ConnectToServer();
    if (!url.messageId.isEmpty()) {
        OpenMessageId(url.messageId);
        return;
    }
    ListGroup(url.group, true, url.number);
}

void TForm1::UseUrlServer(const QString& host, int port) {
    // The server of the settings keeps their port, security and login; another is reached on
    // the URL's port, in plain text, without a login.
    const TConnectionFields own = settingsServer_.value_or(ConnectionFields());
    if (host.compare(own.host, Qt::CaseInsensitive) == 0 &&
        (port == 0 || QString::number(port) == own.port)) {
        EndUrlVisit();
        return;
    }
    settingsServer_ = own;
    ShowConnectionFields({host, QString::number(port == 0 ? kNewsUrlPort : port), TSecurity::None,
                          QString(), QString()});
    visitedHost_ = host;
}

void TForm1::EndUrlVisit() {
    if (!settingsServer_) {
        return;
    }
    TConnectionFields restored = *settingsServer_;
    if (Edit1->currentText() != visitedHost_) {
        restored.host = Edit1->currentText();
        restored.port = Edit2->text();
    }
    ShowConnectionFields(restored);
    settingsServer_.reset();
}

TForm1::TConnectionFields TForm1::ConnectionFields() const {
    return {Edit1->currentText(), Edit2->text(), SelectedSecurity(), Edit3->text(), Edit4->text()};
}

void TForm1::ShowConnectionFields(const TConnectionFields& fields) {
    Edit1->setCurrentText(fields.host);
    Edit2->setText(fields.port);
    SelectSecurity(fields.security);
    Edit3->setText(fields.user);
    Edit4->setText(fields.password);
}
