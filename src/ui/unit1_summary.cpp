// The " Article List Summary " page: listing a group's articles as two-line entries, Get
// Article # (through which every way of opening an article goes), and searching the summary.
#include "ui/unit1.h"

#include "nntp/nntpwire.h"
#include "search/searchengine.h"
#include "search/zkfnddlg.h"
#include "ui/displaytext.h"
#include "ui/summaryview.h"
#include "util/edittext.h"
#include "util/finally.h"
#include "util/presenter.h"
#include "util/texthelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

namespace {

// Groups spanning more numbers than this ask where to start; the proposal lists the newest.
constexpr qint64 kListSpan = 500;
// How often the progress bar is painted while a reply arrives.
constexpr qint64 kProgressMilliseconds = 50;

QString EntryMark(int number) {
    return u'[' + QString::number(number) + u']';
}

} // namespace

void TForm1::Button3Click() {
    ListSelectedGroup(false);
}

void TForm1::ListSelectedGroup(bool emptyCaches) {
    // A listing asked for while another client operation waits would be skipped by the client,
    // after the summary had been emptied under the running one.
    if (!QRNNTP1->Busy) {
        ListGroup(SelectedGroup(), emptyCaches);
    }
}

bool TForm1::ListGroup(const QByteArray& name, bool emptyCaches, qint64 articleToOpen) {
    const QByteArray previousGroup = QRNNTP1->CurrentGroup;
    choosingGroup_ = true;
    WithFinally([this, &name] { SelectGroup(name); }, [this] { choosingGroup_ = false; });
    TakeServerMarks();
    // A group opened before shows what the store holds of it and fetches only what is newer;
    // the start is asked for only on the first visit.
    const TStoredListing stored = StoredListing();
    const qint64 start =
        stored.OpenedBefore() ? stored.Start(QRNNTP1->FirstArticleNo) : ListingStart();
    if (start < 0) {
        KeepListedGroup(previousGroup);
        return false;
    }
    ShowSelectedGroup();
    ReadReadMarks();
    if (emptyCaches) {
        Summary.ClearTextCaches();
    }
    Summary.ListStart = static_cast<qint32>(start);
    PageControl1->setCurrentWidget(TabSheet4);
    Memo4->setFocus();
    ShowChosenOrder();
    Summary.Clear(ExpectedEntries(start));
    articleAsked_ = 0;
    shownNumber_ = 0;
    // What the store failed to give is fetched from the server.
    const qint64 shown = stored.range ? ShowStoredSummaries(*stored.range) : stored.high;
    Memo4->ContentsChanged();
    const qint64 fetchFrom = std::max(shown + 1, start);
    if (fetchFrom > QRNNTP1->LastArticleNo) {
        FlushSummary();
        LaySummary();
        OpenListedArticle(articleToOpen);
        return true;
    }
    WithFinally([this, fetchFrom] { QRNNTP1->GetArticleList(false, static_cast<int>(fetchFrom)); },
                [this] {
                    HideProgress();
                    FlushSummary();
                    LaySummary();
                });
    KeepListing();
    ShowUnreadCount(QRNNTP1->CurrentGroup);
    OpenListedArticle(articleToOpen);
    return true;
}

qint64 TForm1::ExpectedEntries(qint64 start) const {
    const qint64 range = std::max<qint64>(0, QRNNTP1->LastArticleNo - start + 1);
    const qint64 announced = QRNNTP1->AnnouncedCount();
    return announced > 0 ? std::min(announced, range) : range;
}

qint64 TForm1::ListingStart() {
    const qint64 first = QRNNTP1->FirstArticleNo;
    const qint64 last = QRNNTP1->LastArticleNo;
    QString value = QString::number(std::max(first, last - kListSpan));
    if (last <= first) {
        ShowInfo(QStringLiteral("No Articles Found"));
        return -1;
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
        return -1;
    }
    if (start < first) {
        return first;
    }
    return start > last ? last - kListSpan : start;
}

void TForm1::KeepListedGroup(const QByteArray& previousGroup) {
    // The summary still lists the group selected before, and opening its entries asks the
    // server by number: that group is selected again, and caption and caches stay with it.
    if (!previousGroup.isEmpty() && previousGroup != QRNNTP1->CurrentGroup) {
        SelectGroup(previousGroup);
    } else {
        ShowSelectedGroup();
    }
}

void TForm1::QRNNTP1HeaderList(QObject*) {
    const TExStringList& fields = QRNNTP1->HeaderLines;
    Summary.AddEntry(QRNNTP1->HeaderRecord, fields.GetValue("Message-ID"),
                     fields.GetUnfoldedValue("References"));
    QueueSummaryFlush();
}

void TForm1::QRNNTP1Summary(const TSummaryLine& summary) {
    AddSummaryEntry(summary);
    QueueSummaryFlush();
}

void TForm1::AddSummaryEntry(const TSummaryLine& summary) {
    Summary.AddEntry(summary.Number(), summary.Field(nntpwire::kFromField),
                     summary.Field(nntpwire::kSubjectField),
                     summary.Field(nntpwire::kMessageIdField),
                     summary.Field(nntpwire::kReferencesField));
}

void TForm1::QueueSummaryFlush() {
    // The entry joins the summary at once, the pane and the number field later: the client
    // reports a whole XOVER listing without processing events in between, so nobody could see
    // them before the last entry anyway. Entries always follow in arrival order, after the
    // last; a caret the user put elsewhere meanwhile (possible only while a server without
    // XOVER is asked article by article) stays where it was put.
    if (!summaryFlushQueued_) {
        summaryFlushQueued_ = true;
        QTimer::singleShot(0, this, [this] { FlushSummary(); });
    }
}

void TForm1::QRNNTP1ListProgress(qint64 received, qint64 announced) {
    // The listing runs from ListStart; the count the group announced may cover more.
    const qint64 listed = std::max<qint64>(0, QRNNTP1->LastArticleNo - Summary.ListStart + 1);
    ShowProgress(QStringLiteral("%v of %m summaries"), received,
                 announced > 0 ? std::min(announced, listed) : listed);
}

void TForm1::QRNNTP1ArticleProgress(qint64 bytesReceived) {
    ShowProgress(QStringLiteral("%v bytes received"), bytesReceived, bytesReceived);
}

void TForm1::ShowProgress(const QString& format, qint64 value, qint64 maximum) {
    // The reply may be arriving faster than it is read, so that the client never waits; a
    // few times a second is enough to see the bar move and to answer Abort at once, and each
    // time repaints the window. The bar is set only then too: it paints itself at once
    // whenever its value changes its text, which would be every report.
    if (!ProgressBar1->isHidden() && !progressShown_.hasExpired(kProgressMilliseconds)) {
        return;
    }
    ProgressBar1->setFormat(format);
    ProgressBar1->setRange(0, static_cast<int>(std::max(value, maximum)));
    ProgressBar1->setValue(static_cast<int>(value));
    ProgressBar1->setVisible(true);
    QCoreApplication::processEvents();
    progressShown_.start();
}

void TForm1::HideProgress() {
    ProgressBar1->setVisible(false);
}

void TForm1::FlushSummary() {
    if (summaryFlushQueued_) {
        summaryFlushQueued_ = false;
        Memo4->ContentsChanged();
        Edit7->setText(DisplayText(Summary.LastEntryNumber()));
    }
}

void TForm1::Button4Click() {
    const int number = nntpwire::StrToInt(WireBytes(Edit7->text()));
    articleAsked_ = number;
    const int cached = Summary.CachedArticleIndex(number);
    if (cached >= 0) {
        ShowCachedArticle(cached);
        // It may have been marked unread since it was read.
        MarkArticleRead(number);
    } else {
        // Numbers from the start of the summary on are fetched only when it lists them.
        if (!Summary.MayOpen(number)) {
            ArticleNotShown = true;
            return;
        }
        // Inside a running operation the client would skip the retrieval, and the panes of the
        // article shown would be cached as this one.
        if (QRNNTP1->Busy || !ArticleAtHand(number)) {
            ArticleNotShown = true;
            return;
        }
        QRNNTP1->AttachmentNames.Clear();
        QRNNTP1->AttachmentProblems.clear();
        QRNNTP1->AttachmentNotices.clear();
        ArticleNotShown = false;
        try {
            WithFinally([this, number] { QRNNTP1->GetArticle(number); },
                        [this] { HideProgress(); });
        } catch (const std::exception&) {
            // The client's events have reported the failure.
            ArticleNotShown = true;
            return;
        }
        CacheShownArticle(number);
        KeepReadArticle(number);
    }
    ShowOpenedArticle(number, cached < 0);
}

void TForm1::ShowOpenedArticle(int number, bool fetched) {
    shownNumber_ = number;
    PageControl1->setCurrentWidget(TabSheet1);
    Memo2->setFocus();
    ShowArticleDetails(number);
    // A file kept despite damage, or a part kept until its file's other parts come, is worth
    // more than the sender's name there.
    const QStringList fileTexts = QRNNTP1->AttachmentProblems + QRNNTP1->AttachmentNotices;
    if (fetched && !fileTexts.isEmpty()) {
        SetStatusText(fileTexts.join(QStringLiteral("; ")));
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
    AddressReply();
}

void TForm1::CacheShownArticle(int number) {
    Summary.CacheArticle(number, TrimBlanksAndControls(PaneText(Memo1)).toUtf8(),
                         QRNNTP1->BodyLines.Text(), QRNNTP1->HeaderLines.Text());
}

void TForm1::ShowCachedArticle(int index) {
    SetEditText(Memo1, QString::fromUtf8(Summary.AttachTextCache[index]));
    TStringList headerLines;
    headerLines.SetText(Summary.HeaderTextCache[index]);
    TStringList bodyLines;
    bodyLines.SetText(Summary.BodyTextCache[index]);
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
    const QByteArray number = Summary.EntryNumberAt();
    if (!number.isEmpty()) {
        Edit7->setText(DisplayText(number));
        Button4Click();
    }
}

void TForm1::OpenListedArticle(qint64 number) {
    if (number == 0) {
        OpenEntryAtCaret();
        return;
    }
    LocateInSummary(static_cast<int>(number));
    Edit7->setText(QString::number(number));
    Button4Click();
}

void TForm1::LocateInSummary(int number) {
    if (Summary.Locate(number)) {
        Memo4->ShowSelection(Summary.SelectionStart(),
                             Summary.SelectionEnd() - Summary.SelectionStart());
    }
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
    // The summary holds UTF-8, and so the find text is matched as its UTF-8.
    if (zkfind->mtchwhwrd->isChecked()) {
        text = QStringLiteral("zkre:\\b") + QString::fromUtf8(WildcardToRegex(text.toUtf8())) +
               QStringLiteral("\\b");
    }
    const TSummaryState::TFindResult found =
        Summary.FindLine(text.toUtf8(), zkfind->mtchcase->isChecked(),
                         zkfind->dirgrp->ItemIndex() == kDirectionDown);
    if (found == TSummaryState::TFindResult::Found) {
        Memo4->ShowSelection(Summary.SelectionStart(),
                             Summary.SelectionEnd() - Summary.SelectionStart());
        OpenEntryAtCaret();
    } else if (found == TSummaryState::TFindResult::NotFound) {
        ShowInfo(QStringLiteral("No More Found\r\n") + text);
    }
}

void TForm1::TabSheet4Show() {
    Memo4->setFocus();
    Memo4->EnsureCaretVisible();
}
