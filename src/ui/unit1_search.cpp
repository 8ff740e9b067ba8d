// The search over the stored summaries of every group: a field above the summary (Ctrl+Shift+F
// from anywhere in the window) that lists the matches as the person types, newest first, and
// opens the article of a match, listing its group first when another one is listed.
#include "ui/unit1.h"

#include "nntp/storecache.h"
#include "store/summarysearch.h"
#include "ui/summaryview.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

// Matches shown for one search text: the newest, as many as a person looks through before
// typing more.
constexpr qsizetype kSearchHitsShown = 200;

enum TSearchColumn { kGroupColumn, kNumberColumn, kDateColumn, kFromColumn, kSubjectColumn };

// Where a match's article is: its group and number, kept on the row.
constexpr int kGroupRole = Qt::UserRole;
constexpr int kNumberRole = Qt::UserRole + 1;

QTreeWidgetItem* HitRow(const TSearchHit& hit) {
    auto* row = new QTreeWidgetItem;
    row->setText(kGroupColumn, QString::fromUtf8(hit.group));
    row->setText(kNumberColumn, QString::number(hit.number));
    row->setTextAlignment(kNumberColumn, Qt::AlignRight | Qt::AlignVCenter);
    if (hit.date.isValid()) {
        row->setText(kDateColumn, hit.date.toLocalTime().toString(u"yyyy-MM-dd hh:mm"));
    }
    row->setText(kFromColumn, hit.from);
    row->setText(kSubjectColumn, hit.subject);
    row->setData(kGroupColumn, kGroupRole, hit.group);
    row->setData(kGroupColumn, kNumberRole, hit.number);
    return row;
}

QString FoundText(qsizetype count) {
    if (count == 0) {
        return QStringLiteral("Nothing found");
    }
    if (count >= kSearchHitsShown) {
        return QStringLiteral("The newest %1 shown").arg(count);
    }
    return count == 1 ? QStringLiteral("1 found") : QStringLiteral("%1 found").arg(count);
}

} // namespace

void TForm1::SearchActionTrigger() {
    PageControl1->setCurrentWidget(TabSheet4);
    Edit12->setFocus();
    Edit12->selectAll();
}

void TForm1::Edit12Change() {
    ListView1->clear();
    const QString text = Edit12->text().trimmed();
    ListView1->setVisible(!text.isEmpty());
    if (text.isEmpty()) {
        Label22->clear();
        return;
    }
    if (!store_) {
        Label22->setText(QStringLiteral("Searching needs the news store, which is not open"));
        return;
    }
    QList<TSearchHit> hits;
    QString unreadable;
    UseStore([&](TNewsStore& store) {
        try {
            hits = store.Search(SearchedServer(store), text, {}, kSearchHitsShown);
        } catch (const EStoreSearchError& error) {
            // Half-typed text ("a lone quote) is usual while typing: said beside the field, as
            // the count is, never in a box.
            unreadable = error.Message();
        }
    });
    if (!unreadable.isEmpty()) {
        Label22->setText(unreadable);
        return;
    }
    for (const TSearchHit& hit : hits) {
        ListView1->addTopLevelItem(HitRow(hit));
    }
    if (!hits.isEmpty()) {
        ListView1->setCurrentItem(ListView1->topLevelItem(0));
    }
    // Group, number, date and sender whole; the subject takes the rest.
    for (const int column : {kGroupColumn, kNumberColumn, kDateColumn, kFromColumn}) {
        ListView1->resizeColumnToContents(column);
    }
    Label22->setText(FoundText(hits.size()));
}

qint64 TForm1::SearchedServer(TNewsStore& store) {
    if (storeCache_) {
        return storeCache_->ServerId();
    }
    // Before any connection: the server named on the connection page.
    const TConnectionFields fields = ConnectionFields();
    return store.ServerId(fields.host, fields.port.toUShort());
}

void TForm1::OpenSearchHit() {
    const QTreeWidgetItem* row = ListView1->currentItem();
    if (row == nullptr || RefusedWhileBusy()) {
        return;
    }
    const QByteArray group = row->data(kGroupColumn, kGroupRole).toByteArray();
    const qint64 number = row->data(kGroupColumn, kNumberRole).toLongLong();
    if (group == QRNNTP1->CurrentGroup && Summary.HasEntry(number)) {
        OpenListedArticle(number);
    } else {
        ListGroup(group, true, number);
    }
}

bool TForm1::SearchKeyPress(QObject* watched, int key) {
    if (key == Qt::Key_Escape) {
        Edit12->clear();
        Memo4->setFocus();
        return true;
    }
    if (watched == Edit12 && key == Qt::Key_Down && ListView1->topLevelItemCount() > 0) {
        ListView1->setFocus();
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        Dispatch([this] { OpenSearchHit(); });
        return true;
    }
    return false;
}
