// The " Reading Articles " page: the three article panes filled by the client's article events,
// stepping to the previous or next article number, following a thread through the summary,
// and launching a piece of the body.
#include "ui/unit1.h"

#include "search/zkfnddlg.h"
#include "ui/bodydisplay.h"
#include "ui/displaytext.h"
#include "ui/summaryview.h"
#include "util/edittext.h"
#include "util/finally.h"
#include "util/launchtext.h"
#include "util/texthelpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>

// ---------------------------------------------------------------------------------------------
// The client's article events

void TForm1::QRNNTP1Header(QObject*) {
    SetEditText(Memo3, ArticleDisplay(QRNNTP1->HeaderLines, TStringList()).header);
}

void TForm1::QRNNTP1Article(QObject*) {
    if (collectingParts_) {
        return;
    }
    ShowArticle(QRNNTP1->HeaderLines, QRNNTP1->BodyLines);
    SetEditText(Memo1, AttachmentsPaneText());
}

void TForm1::QRNNTP1Body(QObject*) {
    ShowBody();
}

void TForm1::QRNNTP1InvalidArticle(QObject*) {
    // The number the client asked for: a scan asks for several before it shows the first.
    SetStatusText(QStringLiteral("Article Number ") + QString::number(QRNNTP1->RequestedArticle()) +
                  QStringLiteral(" is Invalid"));
}

void TForm1::ShowBody() {
    const TArticleDisplay display = ArticleDisplay(QRNNTP1->HeaderLines, QRNNTP1->BodyLines);
    SetEditText(Memo2, display.body);
    unknownCharset_ = display.unknownCharset;
}

void TForm1::ShowArticle(const TStringList& headerLines, const TStringList& bodyLines) {
    const TArticleDisplay display =
        ArticleDisplay(headerLines, bodyLines, KeepShownFiles(headerLines, bodyLines));
    SetEditText(Memo3, display.header);
    SetEditText(Memo2, display.body);
    unknownCharset_ = display.unknownCharset;
}

// ---------------------------------------------------------------------------------------------
// Previous and next article

int TForm1::NumberField() const {
    bool isNumber = false;
    const int number = Edit7->text().toInt(&isNumber);
    return isNumber ? number : 0;
}

void TForm1::BitBtn1Click() {
    const int number = NumberField();
    if (number < 0 || number >= QRNNTP1->LastArticleNo) {
        return;
    }
    OpenNeighbour(number + 1);
}

void TForm1::BitBtn3Click() {
    const int number = NumberField();
    if (number <= 0 || QRNNTP1->FirstArticleNo >= number) {
        return;
    }
    OpenNeighbour(number - 1);
}

void TForm1::OpenNeighbour(int number) {
    // A number the summary lacks is skipped: the field stays on it, so the next step goes on
    // beyond it.
    Edit7->setText(QString::number(number));
    Button4Click();
    if (!ArticleNotShown) {
        LocateInSummary(number);
    }
}

void TForm1::FormKeyUp(int& key, Qt::KeyboardModifiers shift) {
    if (PageControl1->currentWidget() != TabSheet1 || shift != Qt::ControlModifier) {
        return;
    }
    if (key == Qt::Key_Up) {
        key = 0;
        BitBtn3Click();
    } else if (key == Qt::Key_Down) {
        key = 0;
        BitBtn1Click();
    }
}

// ---------------------------------------------------------------------------------------------
// Next unread

void TForm1::Button20Click() {
    // The listing of the next group would be skipped by the client inside a running operation.
    if (QRNNTP1->Busy || OpenUnreadEntryAfter(articleAsked_)) {
        return;
    }
    for (const QByteArray& group : SubscribedGroupsWithUnread()) {
        if (!ListGroup(group, true)) {
            return;
        }
        if (OpenUnreadEntryAfter(0)) {
            return;
        }
    }
    SetStatusText(QStringLiteral("No unread articles left in the subscribed groups."));
}

bool TForm1::OpenUnreadEntryAfter(qint64 after) {
    const qint64 number = Summary.NextEntryNumber(
        after, [this](qint64 entry) { return !readMarks_.Contains(entry); });
    if (number == 0) {
        return false;
    }
    OpenNeighbour(static_cast<int>(number));
    return true;
}

void TForm1::Button21Click() {
    MarkGroupRead();
}

void TForm1::Memo2KeyDown(int& key, Qt::KeyboardModifiers shift, bool repeated) {
    // Space pages down through the body, and at its end goes on to the next unread article. A
    // space held down stops at the end instead of running through the articles.
    if (key != Qt::Key_Space || shift != Qt::NoModifier || !BodyAtEnd()) {
        return;
    }
    key = 0;
    if (!repeated) {
        Button20Click();
    }
}

bool TForm1::BodyAtEnd() const {
    const QScrollBar* scrollBar = Memo2->verticalScrollBar();
    return scrollBar->value() >= scrollBar->maximum();
}

// ---------------------------------------------------------------------------------------------
// Threads

void TForm1::Button10Click() {
    zkfind->dirgrp->SetItemIndex(kDirectionDown);
    FollowThread();
}

void TForm1::Button13Click() {
    zkfind->dirgrp->SetItemIndex(kDirectionUp);
    FollowThread();
}

void TForm1::FollowThread() {
    const QString subject = HeaderValue(QStringLiteral("subject: "));
    Memo2->setFocus();
    if (FollowThreadByReferences(subject, zkfind->dirgrp->ItemIndex() == kDirectionDown)) {
        return;
    }
    if (subject.isEmpty()) {
        return;
    }
    const QString savedFindText = zkfind->fndtxt->currentText();
    zkfind->fndtxt->setCurrentText(TSummaryState::ThreadFindText(subject));
    const qint64 caret = Summary.Caret();
    Summary.PrepareThreadSearch(zkfind->dirgrp->ItemIndex() == kDirectionDown);
    if (Summary.Caret() != caret) {
        Memo4->SetCaret(Summary.Caret());
    }
    WithFinally([this] { FindInSummary(); },
                [this, &savedFindText] { zkfind->fndtxt->setCurrentText(savedFindText); });
}

// ---------------------------------------------------------------------------------------------
// Launch Text

void TForm1::Button11Click() {
    QString text = SelectedPaneText(Memo2);
    if (text.isEmpty()) {
        const QTextDocument* document = Memo2->document();
        const qint64 line = MinInt64(Memo2->textCursor().blockNumber(), document->blockCount() - 1);
        text = TrimBlanksAndControls(document->findBlockByNumber(static_cast<int>(line)).text());
    }
    Memo2->setFocus();
    if (!text.isEmpty()) {
        LaunchText(text);
    }
}

void TForm1::TabSheet1Show() {
    Memo2->setFocus();
    Memo2->ensureCursorVisible();
}
