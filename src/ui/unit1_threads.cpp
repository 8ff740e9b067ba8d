// Threads in the window: the summary laid out by number or by thread, the order chosen
// remembered per group, and Next and Previous in Thread along the thread by References.
#include "ui/unit1.h"

#include "nntp/storecache.h"
#include "ui/summaryview.h"
#include "util/presenter.h"

#include <QComboBox>
#include <QSignalBlocker>

void TForm1::ComboBox2Change() {
    const bool threaded = ComboBox2->currentIndex() == kOrderByThread;
    if (!QRNNTP1->CurrentGroup.isEmpty()) {
        RememberSummaryOrder(QRNNTP1->CurrentGroup, threaded);
    }
    LaySummary();
}

bool TForm1::ThreadedSummaryChosen(const QByteArray& group) {
    bool threaded = threadedGroups_.value(group, false);
    if (storeCache_) {
        UseStore([this, &group, &threaded](TNewsStore& store) {
            threaded = store.ThreadedSummary(storeCache_->GroupId(group));
        });
    }
    return threaded;
}

void TForm1::RememberSummaryOrder(const QByteArray& group, bool threaded) {
    // Kept for the session too: a store that fails meanwhile loses nothing of it.
    threadedGroups_.insert(group, threaded);
    if (storeCache_) {
        UseStore([this, &group, threaded](TNewsStore& store) {
            store.SetThreadedSummary(storeCache_->GroupId(group), threaded);
        });
    }
}

void TForm1::ShowChosenOrder() {
    // Shown, not chosen: nothing is laid out before the listing ends.
    const QSignalBlocker quiet(ComboBox2);
    ComboBox2->setCurrentIndex(ThreadedSummaryChosen(QRNNTP1->CurrentGroup) ? kOrderByThread
                                                                            : kOrderByNumber);
}

void TForm1::LaySummary() {
    const TSummaryState::TOrder order = ComboBox2->currentIndex() == kOrderByThread
                                            ? TSummaryState::TOrder::ByThread
                                            : TSummaryState::TOrder::ByNumber;
    if (!Summary.LayOut(order)) {
        return;
    }
    Memo4->ContentsChanged();
    // A caret on no entry (behind the last one as a listing leaves it) moves nobody's view.
    if (Summary.HasSelection()) {
        Memo4->ShowSelection(Summary.SelectionStart(),
                             Summary.SelectionEnd() - Summary.SelectionStart());
    }
}

bool TForm1::FollowThreadByReferences(const QString& subject, bool down) {
    if (shownNumber_ <= 0) {
        return false;
    }
    const std::optional<qint64> next = Summary.ThreadNeighbour(shownNumber_, down);
    if (!next) {
        return false;
    }
    if (*next == 0) {
        ShowInfo(QStringLiteral("No More Found\r\n") + TSummaryState::ThreadFindText(subject));
    } else {
        OpenNeighbour(static_cast<int>(*next));
    }
    return true;
}
