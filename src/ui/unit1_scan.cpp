// Msg Scan and Hdr Scan: stepping article by article until the body or the header contains the
// find dialog's text. The scan runs as a loop inside the click handler that lets the window
// process its events after every step, so the panes follow each article and a click on the
// scanning button, or closing the window, stops it.
#include "ui/unit1.h"

#include "search/editsearch.h"
#include "search/searchengine.h"
#include "search/zkfnddlg.h"
#include "util/finally.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <exception>

void TForm1::Button14Click() {
    ScanClick(false);
}

void TForm1::Button14ContextPopup(bool& handled) {
    ScanContextPopup(false, handled);
}

void TForm1::Button18Click() {
    ScanClick(true);
}

void TForm1::Button18ContextPopup(bool& handled) {
    ScanContextPopup(true, handled);
}

void TForm1::ScanClick(bool headers) {
    ScanPane(headers)->setFocus();
    ScanHeaders = headers;
    if (Scanning) {
        StopScan();
    } else if (zkfind->exec() == QDialog::Accepted) {
        RunScan();
    }
}

void TForm1::ScanContextPopup(bool headers, bool& handled) {
    ScanPane(headers)->setFocus();
    ScanHeaders = headers;
    handled = true;
    if (Scanning) {
        StopScan();
    } else if (!zkfind->fndtxt->currentText().isEmpty()) {
        RunScan();
    }
}

void TForm1::StopScan() {
    // The running loop sees the cleared flag as soon as its own event processing returns.
    Scanning = false;
    QCoreApplication::processEvents();
}

QPlainTextEdit* TForm1::ScanPane(bool headers) const {
    return headers ? Memo3 : Memo2;
}

QPushButton* TForm1::ScanButton(bool headers) const {
    return headers ? Button18 : Button14;
}

void TForm1::RunScan() {
    const bool headers = ScanHeaders;
    Scanning = true;
    ScanButton(headers)->setText(QStringLiteral("Scanning"));
    ScanButton(!headers)->setEnabled(false);
    int number = NumberField();
    for (;;) {
        const int previous = number;
        // The scan ends silently at either end of the group.
        const bool down = zkfind->dirgrp->ItemIndex() == kDirectionDown;
        if (!TSummaryState::ScanCanStep(number, down, QRNNTP1->FirstArticleNo,
                                        QRNNTP1->LastArticleNo)) {
            break;
        }
        // Several articles to fetch in a row are asked for at a time: a server far away then
        // sends one after another instead of one round trip each.
        if (const QList<int> ahead = ScanFetchAhead(number, down); ahead.size() > 1) {
            if (ScanPipelined(ahead, headers)) {
                break;
            }
            number = NumberField();
            continue;
        }
        if (down) {
            BitBtn1Click();
        } else {
            BitBtn3Click();
        }
        QCoreApplication::processEvents();
        number = NumberField();
        if (!Scanning || number == previous) {
            break;
        }
        if (ScanMatched(headers)) {
            break;
        }
    }
    Scanning = false;
    ScanButtonsIdle();
}

bool TForm1::ScanMatched(bool headers) {
    // Ends at a match, and also when the find text cannot match at all: the engine has said
    // why, and every further article would say it again.
    return FindInEdit(ScanPane(headers), 0, zkfind->fndtxt->currentText(),
                      zkfind->mtchwhwrd->isChecked(), zkfind->mtchcase->isChecked()) >= 0 ||
           LastMatchError;
}

QList<int> TForm1::ScanFetchAhead(int number, bool down) const {
    QList<int> ahead;
    if (WorkingOffline()) {
        return ahead;
    }
    const int step = down ? 1 : -1;
    for (int next = number + step;
         next >= QRNNTP1->FirstArticleNo && next <= QRNNTP1->LastArticleNo && next > 0;
         next += step) {
        if (Summary.CachedArticleIndex(next) >= 0) {
            break;
        }
        // A number the summary lacks is stepped over, as a step to it would.
        if (Summary.MayOpen(next)) {
            ahead.append(next);
        }
    }
    return ahead;
}

bool TForm1::ScanPipelined(const QList<int>& ahead, bool headers) {
    if (QRNNTP1->Busy) {
        return true;
    }
    QRNNTP1->AttachmentNames.Clear();
    QRNNTP1->AttachmentProblems.clear();
    QRNNTP1->AttachmentNotices.clear();
    bool stopped = false;
    // A failure of the window's own (the store, say) stops the retrieval, the replies on their
    // way read, and goes on to the caller as a step's would.
    std::exception_ptr windowFailure;
    const auto show = [&](int number, bool found) {
        try {
            stopped = !ScanShowFetched(number, found, headers);
        } catch (...) {
            windowFailure = std::current_exception();
            stopped = true;
        }
        return !stopped;
    };
    try {
        WithFinally([&] { QRNNTP1->FetchArticles(ahead, TQRNNTP::TRetrieval::Whole, show); },
                    [this] { HideProgress(); });
    } catch (const std::exception&) {
        // The client's events have reported the failure, which ends the scan: the articles
        // after it were asked for together with it.
        return true;
    }
    if (windowFailure) {
        std::rethrow_exception(windowFailure);
    }
    return stopped;
}

bool TForm1::ScanShowFetched(int number, bool found, bool headers) {
    Edit7->setText(QString::number(number));
    articleAsked_ = number;
    ArticleNotShown = !found;
    if (found) {
        CacheShownArticle(number);
        KeepReadArticle(number);
        ShowOpenedArticle(number, true);
        LocateInSummary(number);
    }
    HideProgress();
    QCoreApplication::processEvents();
    return Scanning && !(found && ScanMatched(headers));
}

void TForm1::ScanButtonsIdle() {
    Button14->setText(QStringLiteral("&Msg Scan"));
    Button18->setText(QStringLiteral("&Hdr Scan"));
    Button14->setEnabled(true);
    Button18->setEnabled(true);
}
