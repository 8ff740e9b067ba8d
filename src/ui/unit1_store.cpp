// The local news store behind the window: opening it (or setting a damaged one aside), the
// last server profile, keeping what the client fetches, and the read marks.
#include "ui/unit1.h"

#include "nntp/nntpwire.h"
#include "nntp/storecache.h"
#include "store/newsstore.h"
#include "store/storeerror.h"
#include "store/storepath.h"
#include "ui/displaytext.h"
#include "ui/settingsfiles.h"
#include "ui/summaryview.h"
#include "util/presenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>

namespace {

// Long enough to read a message naming a file.
constexpr int kStoreTroubleMs = 20000;

const QString kWithoutStore =
    QStringLiteral("\n\nThe reader works from the server, keeping nothing until it starts again.");

// The SQLite files that go with a store file and must move with it.
const QStringList kStoreCompanions = {QStringLiteral("-wal"), QStringLiteral("-shm"),
                                      QStringLiteral("-journal")};

// A name beside path, not yet taken, that says when the file was set aside.
QString SetAsideName(const QString& path) {
    const QString dated = path + u'.' + QDate::currentDate().toString(Qt::ISODate);
    QString name = dated;
    for (int n = 2; QFile::exists(name); ++n) {
        name = dated + u'-' + QString::number(n);
    }
    return name;
}

// Renames the store file and its companions to name; throws when the file stays where it is.
void SetStoreAside(const QString& path, const QString& name) {
    QFile store(path);
    if (!store.rename(name)) {
        throw EStoreError(QStringLiteral("Could not rename ") + path + QStringLiteral(": ") +
                          store.errorString());
    }
    for (const QString& suffix : kStoreCompanions) {
        if (QFile::exists(path + suffix)) {
            QFile::rename(path + suffix, name + suffix);
        }
    }
}

} // namespace

void TForm1::OpenStore() {
    QString path;
    try {
        path = NewsStorePath();
        store_ = std::make_unique<TNewsStore>(path);
        return;
    } catch (const EStoreError& error) {
        if (path.isEmpty() || !QFile::exists(path) || !OfferToSetStoreAside(path, error)) {
            ShowInfo(error.Message() + kWithoutStore);
            return;
        }
    }
    try {
        store_ = std::make_unique<TNewsStore>(path);
    } catch (const EStoreError& error) {
        ShowInfo(error.Message() + kWithoutStore);
    }
}

bool TForm1::OfferToSetStoreAside(const QString& path, const EStoreError& error) {
    const QString name = SetAsideName(path);
    const QString question =
        QStringLiteral("The news store cannot be opened: ") + error.Message() +
        QStringLiteral("\n\nSet it aside as ") + name +
        QStringLiteral(" and start a new one? The reader works from the server either way.");
    TPresenter* presenter = InstalledPresenter();
    if (presenter == nullptr ||
        !presenter->ConfirmWarning(QStringLiteral("News Store"), question)) {
        return false;
    }
    try {
        SetStoreAside(path, name);
    } catch (const EStoreError& renameError) {
        ShowInfo(renameError.Message() + kWithoutStore);
        return false;
    }
    return true;
}

void TForm1::UseStore(const std::function<void(TNewsStore& store)>& work) {
    if (!store_) {
        return;
    }
    try {
        work(*store_);
    } catch (const EStoreError& error) {
        // The reader goes on from the server: the store's trouble is shown, not raised. It
        // stands over the status line for a while: the details of the article shown next would
        // replace it there at once.
        StatusBar1->showMessage(QStringLiteral("News store: ") + error.Message(), kStoreTroubleMs);
    }
}

void TForm1::ShowLastProfile() {
    UseStore([this](TNewsStore& store) {
        const std::optional<TServerProfile> profile = store.LastProfile();
        if (!profile) {
            return;
        }
        Edit1->setCurrentText(profile->host);
        Edit2->setText(QString::number(profile->port));
        SelectSecurity(SecurityNamed(profile->security));
        Edit3->setText(profile->user);
    });
}

void TForm1::AttachStore() {
    storeCache_.reset();
    UseStore([this](TNewsStore& store) {
        if (!WorkingOffline() && !settingsServer_) {
            store.SaveLastProfile(TServerProfile{QRNNTP1->Host, static_cast<quint16>(QRNNTP1->Port),
                                                 SecurityName(QRNNTP1->Security), Edit3->text()});
        }
        storeCache_ = std::make_unique<TStoreCache>(*QRNNTP1, store);
        // Articles read are kept as they arrive and shown from the store the next time.
        storeCache_->Attach();
    });
}

void TForm1::KeepListing() {
    if (storeCache_) {
        UseStore([this](TNewsStore&) { storeCache_->KeepListing(); });
    }
}

void TForm1::KeepReadArticle(int number) {
    if (!storeCache_) {
        return;
    }
    // The attached store has kept the article as it arrived, or has just answered it.
    MarkArticleRead(number);
}

void TForm1::ReadStoredGroups() {
    storedGroups_.clear();
    if (!storeCache_) {
        return;
    }
    UseStore([this](TNewsStore& store) {
        for (const TStoredGroup& group : store.GroupList(storeCache_->ServerId())) {
            storedGroups_.insert(group.name, group);
        }
    });
}

void TForm1::ShowStoredGroups() {
    ReadStoredGroups();
    AllGroups.Clear();
    for (auto group = storedGroups_.cbegin(); group != storedGroups_.cend(); ++group) {
        AllGroups.Add(group.key());
    }
    FillGroupList(Edit6->text());
}

void TForm1::ListServerGroups() {
    listedGroups_.clear();
    groupsFromStore_ = AllGroups.Count() > 0;
    // Asked before the list, so that a group made while it arrives is new the next time.
    const QDateTime listedAt = QRNNTP1->GetServerTime();
    QRNNTP1->GetGroupList();
    // A list that was read ends with its "." line; a refused LIST leaves nothing, and the
    // groups shown stay.
    if (QRNNTP1->GroupLines.IsEmpty()) {
        return;
    }
    AllGroups.Clear();
    for (const TStoredGroup& group : std::as_const(listedGroups_)) {
        AllGroups.Add(group.name);
    }
    KeepListedGroups(listedAt);
}

void TForm1::UpdateServerGroups() {
    const std::optional<QDateTime> since = StoredGroupListTime();
    if (!since || !ListNewGroups(*since)) {
        ListServerGroups();
    }
}

bool TForm1::ListNewGroups(const QDateTime& since) {
    listedGroups_.clear();
    groupsFromStore_ = true;
    const QDateTime listedAt = QRNNTP1->GetServerTime();
    QRNNTP1->GetNewGroups(since);
    if (QRNNTP1->GroupLines.IsEmpty()) {
        return false;
    }
    // The groups known before keep what the store says of them; the new ones join them.
    KeepListedGroups(listedAt);
    ShowStoredGroups();
    return true;
}

void TForm1::KeepListedGroups(const QDateTime& listedAt) {
    if (storeCache_) {
        UseStore([this, &listedAt](TNewsStore& store) {
            store.SaveGroupList(storeCache_->ServerId(), listedGroups_);
            store.SetGroupListTime(storeCache_->ServerId(), listedAt);
        });
        ReadStoredGroups();
    }
    listedGroups_.clear();
    FillGroupList(Edit6->text());
}

std::optional<QDateTime> TForm1::StoredGroupListTime() {
    std::optional<QDateTime> time;
    if (storeCache_) {
        UseStore([this, &time](TNewsStore& store) {
            time = store.GroupListTime(storeCache_->ServerId());
        });
    }
    return time;
}

bool TForm1::WorkingOffline() const {
    return CheckBox2->isChecked();
}

void TForm1::OpenStoredServer() {
    AttachStore();
    if (!storeCache_) {
        SetStatusText(QStringLiteral("Working offline needs the news store, which is not open"));
        return;
    }
    ShowStoredGroups();
    const int count = AllGroups.Count();
    SetStatusText(QStringLiteral("Working offline: %1 %2 of %3:%4 from the news store")
                      .arg(count)
                      .arg(count == 1 ? QStringLiteral("group") : QStringLiteral("groups"))
                      .arg(QRNNTP1->Host)
                      .arg(QRNNTP1->Port));
}

void TForm1::SelectGroup(const QByteArray& name) {
    if (WorkingOffline()) {
        SelectStoredGroup(name);
    } else {
        QRNNTP1->SetGroup(name);
    }
}

void TForm1::SelectStoredGroup(const QByteArray& name) {
    // The marks the server gave last; a group of which nothing is stored has nothing to list.
    const TStoredGroup group = storedGroups_.value(name);
    qint64 stored = 0;
    if (storeCache_) {
        UseStore([this, &name, &stored](TNewsStore& store) {
            stored = store.SummaryCount(storeCache_->GroupId(name));
        });
    }
    QRNNTP1->CurrentGroup = name;
    QRNNTP1->FirstArticleNo = stored > 0 ? static_cast<int>(group.low) : 0;
    QRNNTP1->LastArticleNo = stored > 0 ? static_cast<int>(group.high) : 0;
    if (stored == 0) {
        SetStatusText(QStringLiteral("Working offline: the news store holds no summaries of ") +
                      DisplayText(name));
    }
    QRNNTP1GroupSelect(QRNNTP1);
}

bool TForm1::ArticleAtHand(int number) {
    if (!WorkingOffline()) {
        return true;
    }
    bool stored = false;
    if (storeCache_) {
        UseStore([this, number, &stored](TNewsStore& store) {
            const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
            stored = store.Article(group, number).has_value();
        });
    }
    if (!stored) {
        SetStatusText(QStringLiteral("Working offline: article %1 of %2 is not in the news store")
                          .arg(number)
                          .arg(DisplayText(QRNNTP1->CurrentGroup)));
    }
    return stored;
}

void TForm1::TakeServerMarks() {
    if (!storeCache_ || WorkingOffline()) {
        return;
    }
    UseStore([this](TNewsStore& store) {
        const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
        storeCache_->ForgetOutdated(group, QRNNTP1->FirstArticleNo, QRNNTP1->LastArticleNo);
        store.SetGroupMarks(group, QRNNTP1->FirstArticleNo, QRNNTP1->LastArticleNo);
    });
}

TForm1::TStoredListing TForm1::StoredListing() {
    TStoredListing stored;
    if (storeCache_) {
        UseStore([this, &stored](TNewsStore& store) {
            const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
            stored.high = store.StoredHigh(group);
            stored.range = store.SummaryRange(group, QRNNTP1->FirstArticleNo);
        });
    }
    return stored;
}

qint64 TForm1::ShowStoredSummaries(std::pair<qint64, qint64> range) {
    // About a screenful first, then parts that keep the summaries read but not yet shown small.
    constexpr qint64 kFirstPart = 200;
    constexpr qint64 kPart = 20000;
    qint64 part = kFirstPart;
    qint64 shown = range.first - 1;
    for (qint64 from = range.first; from <= range.second;) {
        QList<TStoredSummary> stored;
        UseStore([&](TNewsStore& store) {
            stored = store.Summaries(storeCache_->GroupId(QRNNTP1->CurrentGroup), from, part);
        });
        if (stored.isEmpty()) {
            return shown;
        }
        for (const TStoredSummary& summary : std::as_const(stored)) {
            // A sync of another process may have stored newer ones meanwhile: they are
            // fetched from the server with the rest.
            if (summary.number > range.second) {
                return shown;
            }
            AddStoredEntry(summary);
            shown = summary.number;
        }
        if (part == kFirstPart) {
            Memo4->ContentsChanged();
            Memo4->viewport()->repaint();
        }
        from = stored.last().number + 1;
        part = kPart;
    }
    return shown;
}

void TForm1::AddStoredEntry(const TStoredSummary& summary) {
    const nntpwire::SummaryFields located = nntpwire::LocateSummaryFields(summary.line);
    if (!located.hasCr) {
        AddSummaryEntry({summary.line, located});
        return;
    }
    // As the client reports such a line.
    const QByteArray line = nntpwire::SummaryCrAsNul(summary.line);
    AddSummaryEntry({line, located});
}

void TForm1::ReadReadMarks() {
    readMarks_ = TArticleRanges();
    if (storeCache_) {
        UseStore([this](TNewsStore& store) {
            readMarks_ = store.ReadMarks(storeCache_->GroupId(QRNNTP1->CurrentGroup));
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Read marks

void TForm1::MarkArticleRead(int number) {
    if (!storeCache_) {
        return;
    }
    UseStore([this, number](TNewsStore& store) {
        const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
        store.MarkRead(group, number, number);
        store.NoteArticleRead(group, number);
        readMarks_ = store.ReadMarks(group);
    });
    ReadMarksChanged();
}

bool TForm1::ReadMarksKept() {
    if (QRNNTP1->CurrentGroup.isEmpty()) {
        SetStatusText(QStringLiteral("No group is listed."));
        return false;
    }
    if (!storeCache_) {
        ShowInfo(QStringLiteral("Read marks are kept in the news store, which is not open."));
        return false;
    }
    return true;
}

void TForm1::MarkGroupRead() {
    if (!ReadMarksKept()) {
        return;
    }
    UseStore([this](TNewsStore& store) {
        const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
        // The high mark the server gave on selecting the group, its latest word.
        store.MarkRead(group, 1, QRNNTP1->LastArticleNo);
        readMarks_ = store.ReadMarks(group);
    });
    ReadMarksChanged();
}

void TForm1::MarkSelectedUnread() {
    if (!ReadMarksKept()) {
        return;
    }
    TArticleRanges numbers;
    for (const qint64 number : Summary.SelectedEntryNumbers()) {
        numbers.Add(number, number);
    }
    if (numbers.IsEmpty()) {
        return;
    }
    UseStore([this, &numbers](TNewsStore& store) {
        const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
        store.MarkUnread(group, numbers);
        readMarks_ = store.ReadMarks(group);
    });
    ReadMarksChanged();
}

void TForm1::ReadMarksChanged() {
    Memo4->viewport()->update();
    ShowUnreadCount(QRNNTP1->CurrentGroup);
}

void TForm1::ShowUnreadCount(const QByteArray& name) {
    const auto stored = storedGroups_.find(name);
    if (!storeCache_ || stored == storedGroups_.end()) {
        return;
    }
    UseStore([this, &stored](TNewsStore& store) {
        stored->unread = store.UnreadCount(storeCache_->GroupId(stored->name));
    });
    ShowGroupUnread(name, stored->unread);
}

QList<QByteArray> TForm1::SubscribedGroupsWithUnread() {
    QList<QByteArray> after;
    QList<QByteArray> before;
    if (!storeCache_) {
        return after;
    }
    UseStore([this, &after, &before](TNewsStore& store) {
        const QByteArray& current = QRNNTP1->CurrentGroup;
        for (const QByteArray& name : store.Subscriptions(storeCache_->ServerId())) {
            // A group the server no longer lists could not be selected.
            if (name != current && AllGroups.IndexOf(name) >= 0 &&
                store.UnreadCount(storeCache_->GroupId(name)) > 0) {
                (name > current ? after : before).append(name);
            }
        }
    });
    // Round from the current group: those after it by name first, then those before.
    return after + before;
}
