// The local news store behind the window: opening it (or setting a damaged one aside), the
// last server profile, and keeping what the client fetches.
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
        StatusBar1->showMessage(QStringLiteral("News store: ") + error.Message(),
                                kStoreTroubleMs);
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
        store.SaveLastProfile(TServerProfile{QRNNTP1->Host, static_cast<quint16>(QRNNTP1->Port),
                                             SecurityName(QRNNTP1->Security), Edit3->text()});
        storeCache_ = std::make_unique<TStoreCache>(*QRNNTP1, store);
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
    UseStore([this, number](TNewsStore& store) {
        storeCache_->KeepArticle(number);
        const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
        store.MarkRead(group, number, number);
        store.NoteArticleRead(group, number);
        readMarks_ = store.ReadMarks(group);
    });
    Memo4->viewport()->update();
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
    if (storeCache_) {
        UseStore([this](TNewsStore& store) {
            store.SaveGroupList(storeCache_->ServerId(), listedGroups_);
        });
        ReadStoredGroups();
    }
    listedGroups_.clear();
    FillGroupList(Edit6->text());
}

std::optional<std::pair<qint64, qint64>> TForm1::StoredSummaryRange() {
    std::optional<std::pair<qint64, qint64>> range;
    if (storeCache_) {
        UseStore([this, &range](TNewsStore& store) {
            const qint64 group = storeCache_->GroupId(QRNNTP1->CurrentGroup);
            range = store.SummaryRange(group, QRNNTP1->FirstArticleNo);
        });
    }
    return range;
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
    const QByteArray& line = summary.line;
    const nntpwire::SummaryFields located = nntpwire::LocateSummaryFields(line);
    if (located.hasCr) {
        // The client turns a CR into a NUL: its own splitting keeps the entry as it would be.
        TExStringList fields;
        for (const QByteArray& field : nntpwire::SplitSummaryLine(line)) {
            fields.Add(field);
        }
        Summary.AddEntry(TPostRecordType(fields));
        return;
    }
    // The fields where the line holds them, as the client's record would give them.
    const auto field = [&](int index) {
        if (index >= located.count) {
            return QByteArray();
        }
        const QByteArrayView bytes = located.Field(line, index);
        return QByteArray::fromRawData(bytes.data(), bytes.size());
    };
    Summary.AddEntry(nntpwire::StrToIntDef(field(0), 0), field(2), field(1));
}

void TForm1::ReadReadMarks() {
    readMarks_ = TArticleRanges();
    if (storeCache_) {
        UseStore([this](TNewsStore& store) {
            readMarks_ = store.ReadMarks(storeCache_->GroupId(QRNNTP1->CurrentGroup));
        });
    }
}
