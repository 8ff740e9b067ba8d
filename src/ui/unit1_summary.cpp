// The " Article List Summary " page: listing a group's articles as two-line entries, Get
// Article # (through which every way of opening an article goes), and searching the summary.
#include "ui/unit1.h"

#include "codec/encodedwords.h"
#include "nntp/nntpwire.h"
#include "search/editsearch.h"
#include "search/searchengine.h"
#include "search/zkfnddlg.h"
#include "ui/displaytext.h"
#include "util/texthelpers.h"
#include "util/edittext.h"
#include "util/finally.h"
#include "util/presenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>

namespace {

// Groups spanning more numbers than this ask where to start; the proposal lists the newest.
constexpr qint64 kListSpan = 500;

// Each entry is two lines: "[number] From: address", then "    Subject: subject", both fields
// with their encoded words decoded. The presence test, OpenEntryAtCaret and the search rely on
// this form.
QString SummaryEntry(const TPostRecordType& record) {
    return u'[' + QString::number(record.GetArticleId()) + QStringLiteral("] From: ") +
           DecodeEncodedWords(record.GetPrFromAddress()) + QStringLiteral("\n    Subject: ") +
           DecodeEncodedWords(record.GetPrSubject()) + u'\n';
}

QString EntryMark(int number) {
    return u'[' + QString::number(number) + u']';
}

const QString kSubjectMark = QStringLiteral("Subject: ");

} // namespace

void TForm1::Button3Click() {
    // A listing asked for while another client operation waits would be skipped by the client,
    // after the summary had been emptied under the running one.
    if (QRNNTP1->Busy) {
        return;
    }
    QRNNTP1->SetGroup(SelectedGroup());
    const qint64 first = QRNNTP1->FirstArticleNo;
    const qint64 last = QRNNTP1->LastArticleNo;
    QString value = QString::number(std::max(first, last - kListSpan));
    if (last <= first) {
        ShowInfo(QStringLiteral("No Articles Found"));
        return;
    }
    qint64 start = first;
    if (last - first > kListSpan) {
        start =
            AskNumber(QStringLiteral("Start at Posting Number"),
                      QStringLiteral("Enter a Number (Range ") + QString::number(first) +
                          QStringLiteral(" - ") + QString::number(last) + QStringLiteral(") :-"),
                      value);
    }
    // A cancelled prompt or an entry that is no number leaves a marker starting with "z".
    if (value.startsWith(u'z')) {
        return;
    }
    if (start < first) {
        start = first;
    } else if (start > last) {
        start = last - kListSpan;
    }
    ListStart = static_cast<qint32>(start);
    PageControl1->setCurrentWidget(TabSheet4);
    Memo4->setFocus();
    Memo4->clear();
    WithFinally([this] { QRNNTP1->GetArticleList(false, ListStart); },
                [this] { FlushSummary(); });
    OpenEntryAtCaret();
}

void TForm1::QRNNTP1HeaderList(QObject*) {
    // Entries are gathered and inserted at the caret together, when the listing returns or the
    // next event is processed: the client reports a whole XOVER listing without processing
    // events in between, so nobody could see or move the caret before the last entry anyway,
    // and inserting 200,000 lines one entry at a time took most of a large listing's time.
    // Entries follow in arrival order unless the user clicks elsewhere meanwhile (possible
    // only while a server without XOVER is asked article by article).
    const TPostRecordType& record = QRNNTP1->HeaderRecord;
    pendingSummary_ += SummaryEntry(record);
    Edit7->setText(QString::number(record.GetArticleId()));
    if (!summaryFlushQueued_) {
        summaryFlushQueued_ = true;
        QTimer::singleShot(0, this, [this] { FlushSummary(); });
    }
}

void TForm1::FlushSummary() {
    summaryFlushQueued_ = false;
    if (!pendingSummary_.isEmpty()) {
        Memo4->textCursor().insertText(pendingSummary_);
        pendingSummary_.clear();
    }
}

void TForm1::Button4Click() {
    const int number = nntpwire::StrToInt(WireBytes(Edit7->text()));
    const int cached = CachedArticleIndex(number);
    if (cached >= 0) {
        ShowCachedArticle(cached);
    } else {
        // Numbers from the start of the summary on are fetched only when it lists them.
        if (number >= ListStart && !SummaryHasEntry(number)) {
            ArticleNotShown = true;
            return;
        }
        // Inside a running operation the client would skip the retrieval, and the panes of the
        // article shown would be cached as this one.
        if (QRNNTP1->Busy) {
            ArticleNotShown = true;
            return;
        }
        QRNNTP1->AttachmentNames.Clear();
        QRNNTP1->AttachmentProblems.clear();
        ArticleNotShown = false;
        try {
            QRNNTP1->GetArticle(number);
        } catch (const std::exception&) {
            // The client's events have reported the failure.
            ArticleNotShown = true;
            return;
        }
        CacheShownArticle(number);
    }
    PageControl1->setCurrentWidget(TabSheet1);
    Memo2->setFocus();
    ShowArticleDetails(number);
    // A file kept despite damage is worth more than the sender's name there.
    if (cached < 0 && !QRNNTP1->AttachmentProblems.isEmpty()) {
        SetStatusText(QRNNTP1->AttachmentProblems.join(QStringLiteral("; ")));
    }
}

void TForm1::ShowArticleDetails(int number) {
    const QString subject = HeaderValue(QStringLiteral("subject: "));
    const QString date = HeaderValue(QStringLiteral("date: "));
    Label10->setText(EntryMark(number) + u' ' + subject + QStringLiteral(" [") + date + u']');
    const QString lines = HeaderValue(QStringLiteral("lines: "));
    const QString from = HeaderValue(QStringLiteral("from: "));
    QString status = QStringLiteral("From :") + from + QStringLiteral("  Lines=") + lines;
    if (!unknownCharset_.isEmpty()) {
        status += QStringLiteral("  Unknown charset \"") + DisplayText(unknownCharset_) +
                  QStringLiteral("\": shown as UTF-8 or Windows-1252");
    }
    SetStatusText(status);
    const bool isReply = subject.left(4).toLower() == QStringLiteral("re: ");
    Edit11->setText(isReply ? subject : QStringLiteral("Re: ") + subject);
}

bool TForm1::SummaryHasEntry(int number) const {
    return PaneText(Memo4).contains(EntryMark(number));
}

int TForm1::CachedArticleIndex(int number) const {
    for (int i = 0; i < AttachTextCache.Count(); ++i) {
        if (AttachTextCache.Objects(i).toInt() == number) {
            return i;
        }
    }
    return -1;
}

void TForm1::CacheShownArticle(int number) {
    AttachTextCache.AddObject(TrimBlanksAndControls(PaneText(Memo1)).toUtf8(), number);
    BodyTextCache.AddObject(QRNNTP1->BodyLines.Text(), number);
    HeaderTextCache.AddObject(QRNNTP1->HeaderLines.Text(), number);
}

void TForm1::ShowCachedArticle(int index) {
    SetEditText(Memo1, QString::fromUtf8(AttachTextCache[index]));
    TStringList headerLines;
    headerLines.SetText(HeaderTextCache[index]);
    TStringList bodyLines;
    bodyLines.SetText(BodyTextCache[index]);
    ShowArticle(headerLines, bodyLines);
}

void TForm1::Edit7KeyPress(char& key) {
    if (key == '\r') {
        key = 0;
        Button4Click();
    }
}

void TForm1::Button8Click() {
    QRNNTP1->Abort();
}

void TForm1::Button9Click() {
    OpenEntryAtCaret();
}

void TForm1::OpenEntryAtCaret() {
    QTextBlock line = Memo4->document()->findBlock(Memo4->textCursor().selectionStart());
    if (!line.isValid()) {
        return;
    }
    // The second line of an entry belongs to the first.
    if (line.text().contains(kSubjectMark)) {
        line = line.previous();
        if (!line.isValid()) {
            return;
        }
    }
    const QString text = line.text();
    const qsizetype close = text.indexOf(u']');
    if (close > 1) {
        Edit7->setText(text.mid(1, close - 1));
        Button4Click();
    }
}

void TForm1::LocateInSummary(int number) {
    FindInEdit(Memo4, 0, EntryMark(number), false, false);
}

QString TForm1::HeaderValue(const QString& prefix) const {
    const QStringList lines = PaneText(Memo3).split(u'\n');
    const auto field = std::find_if(lines.cbegin(), lines.cend(), [&prefix](const QString& line) {
        return line.left(prefix.size()).toLower() == prefix;
    });
    if (field == lines.cend()) {
        return QString();
    }
    QString value = field->mid(prefix.size());
    // A folded field goes on over the following lines without a colon; the empty line that
    // ends the header ends it too.
    for (auto next = field + 1; next != lines.cend() && !next->contains(u':'); ++next) {
        const QString folded = TrimBlanksAndControls(*next);
        if (folded.isEmpty()) {
            break;
        }
        value += u' ' + folded;
    }
    return value;
}

void TForm1::Memo4KeyDown(int& key, Qt::KeyboardModifiers shift) {
    if (key == Qt::Key_F && shift == Qt::ControlModifier) {
        key = 0;
        if (zkfind->exec() == QDialog::Accepted) {
            FindInSummary();
        }
    } else if (key == Qt::Key_F3 && shift == Qt::NoModifier) {
        key = 0;
        FindInSummary();
    }
}

void TForm1::FindInSummary() {
    QString text = zkfind->fndtxt->currentText();
    if (text.isEmpty() || text.toLower() == QStringLiteral("zkre:")) {
        return;
    }
    if (zkfind->mtchwhwrd->isChecked()) {
        text = QStringLiteral("zkre:\\b") +
               QString::fromLatin1(WildcardToRegex(SearchBytes(text))) + QStringLiteral("\\b");
    }
    const QByteArray findText = SearchBytes(text);
    const bool caseSensitive = zkfind->mtchcase->isChecked();
    const bool down = zkfind->dirgrp->ItemIndex() == kDirectionDown;
    // The pane's text is taken once, one byte per character as a line's text would be, and
    // each line matched where it lies: a summary has 200,000 lines. Lines end with LF there,
    // which no line's own text holds.
    const QByteArray summary = SearchBytes(PaneText(Memo4));
    const QTextBlock caretLine = Memo4->document()->findBlock(Memo4->textCursor().selectionEnd());
    qsizetype start = caretLine.position();
    qsizetype end = start + caretLine.length() - 1;
    for (;;) {
        if (down) {
            start = end + 1;
            end = summary.indexOf('\n', start);
            end = end < 0 ? summary.size() : end;
        } else {
            end = start - 1;
            start = end > 0 ? summary.lastIndexOf('\n', end - 1) + 1 : 0;
        }
        if (start > summary.size() || end < 0) {
            break;
        }
        const QByteArray line = QByteArray::fromRawData(summary.constData() + start, end - start);
        if (MatchPatternCase(findText, line, caseSensitive)) {
            ShowSelection(Memo4, static_cast<int>(start) + LastMatchStart - 1,
                          LastMatchEnd - LastMatchStart + 1);
            OpenEntryAtCaret();
            return;
        }
        // The engine has shown why the find text cannot match; every line would repeat it.
        if (LastMatchError) {
            return;
        }
    }
    ShowInfo(QStringLiteral("No More Found\r\n") + text);
}

void TForm1::TabSheet4Show() {
    Memo4->setFocus();
    Memo4->ensureCursorVisible();
}
