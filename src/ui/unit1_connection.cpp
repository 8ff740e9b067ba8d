// The " Connection/Account " page: connecting, the group list and its filter, and the client's
// connection-level events.
#include "ui/unit1.h"

#include "nntp/nntpwire.h"
#include "nntp/storecache.h"
#include "ui/displaytext.h"
#include "util/compressionmemory.h"
#include "util/presenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

namespace {

constexpr int kReportLevel = 2;
constexpr int kTimeOut = 120000;
// The usual ports of plain NNTP (and STARTTLS) and of NNTP over TLS.
const QString kPlainPort = QStringLiteral("119");
const QString kTlsPort = QStringLiteral("563");
// Each group item keeps the name's bytes, so that the name selected is the name received.
constexpr int kGroupNameRole = Qt::UserRole;

// Subscribed groups come first, each with its unread count; then the names sort without regard
// to case, as the host list does.
class TGroupItem : public QListWidgetItem {
public:
    TGroupItem(const QByteArray& name, const TStoredGroup* stored)
        : QListWidgetItem(DisplayText(name)), subscribed_(stored != nullptr && stored->subscribed) {
        setData(kGroupNameRole, name);
        if (subscribed_) {
            ShowUnread(stored->unread);
        }
    }

    bool Subscribed() const { return subscribed_; }
    QByteArray Name() const { return data(kGroupNameRole).toByteArray(); }
    void ShowUnread(qint64 unread) {
        setText(DisplayText(Name()) + QStringLiteral(" (") + QString::number(unread) + u')');
    }

    bool operator<(const QListWidgetItem& other) const override {
        const auto& otherGroup = static_cast<const TGroupItem&>(other);
        if (subscribed_ != otherGroup.subscribed_) {
            return subscribed_;
        }
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }

private:
    bool subscribed_;
};

// A warning question with Yes and No; declined when there is nobody to ask.
bool WarnYesNo(const QString& caption, const QString& question) {
    TPresenter* presenter = InstalledPresenter();
    return presenter != nullptr && presenter->ConfirmWarning(caption, question);
}

} // namespace

void TForm1::Button1Click() {
    if (!RefusedWhileBusy()) {
        EndUrlVisit();
        ConnectToServer();
    }
}

bool TForm1::RefusedWhileBusy() {
    // A click handled while an operation waits for its reply runs inside that operation's read
    // loop: a connection closed or made anew under it would mix another reply into the one
    // being read. The operation ends first, or is aborted.
    if (!QRNNTP1->Busy) {
        return false;
    }
    ShowInfo(QStringLiteral("The server is still answering: wait until it has finished, or "
                            "press Abort first."));
    return true;
}

void TForm1::ConnectToServer() {
    if (QRNNTP1->Connected) {
        QRNNTP1->Disconnect();
    }
    Edit6->clear();
    ListBox1->clear();
    AllGroups.Clear();
    storeCache_.reset();
    storedGroups_.clear();
    groupsFromStore_ = false;
    QRNNTP1->ReportLevel = kReportLevel;
    QRNNTP1->TimeOut = kTimeOut;
    QRNNTP1->Host = Edit1->currentText();
    QRNNTP1->Port = nntpwire::StrToInt(WireBytes(Edit2->text()));
    QRNNTP1->UserId = WireBytes(Edit3->text());
    QRNNTP1->Password = WireBytes(Edit4->text());
    QRNNTP1->Security = SelectedSecurity();
    QRNNTP1->Compress =
        CompressBox->isChecked() && !compressionmemory::FailedBefore(QRNNTP1->Host, QRNNTP1->Port);
    QRNNTP1->CacheMode = WorkingOffline() ? TCacheMode::cmLocal : TCacheMode::cmRemote;
    if (WorkingOffline()) {
        OpenStoredServer();
    } else {
        ConnectClient();
    }
    ListBox1->setFocus();
}

void TForm1::ConnectClient() {
    connectionFailed_ = false;
    QRNNTP1->SetLastErrorNo(0);
    try {
        QRNNTP1->Connect();
    } catch (const ESockError& error) {
        if (!connectionFailed_) {
            throw;
        }
        ShowInfo(ConnectionFailureText(error.Message()));
        throw EShownError(error.Message());
    }
}

QString TForm1::ConnectionFailureText(const QString& clientError) {
    // The socket's error is "10061:Connection refused"; a time-out or an abort leaves none,
    // and the client's own text says which.
    const int errorNumber = QRNNTP1->GetLastErrorNo();
    const QString reason =
        errorNumber != 0
            ? QRNNTP1->SocketErrorStr(static_cast<quint16>(errorNumber)).section(u':', 1)
            : clientError;
    return QStringLiteral("Connection to ") + QRNNTP1->Host + u':' +
           QString::number(QRNNTP1->Port) + QStringLiteral(" failed: ") + reason;
}

void TForm1::Button2Click() {
    if (!RefusedWhileBusy()) {
        QRNNTP1->Disconnect();
    }
}

void TForm1::Edit1KeyPress(char& key) {
    if (key == '\r') {
        key = 0;
        Button1Click();
    }
}

void TForm1::Edit6Change() {
    FillGroupList(Edit6->text());
}

TSecurity TForm1::SelectedSecurity() const {
    switch (ComboBox1->currentIndex()) {
    case kSecurityTls:
        return TSecurity::Tls;
    case kSecurityStartTls:
        return TSecurity::StartTls;
    default:
        return TSecurity::None;
    }
}

void TForm1::SelectSecurity(TSecurity security) {
    ComboBox1->setCurrentIndex(security == TSecurity::Tls        ? kSecurityTls
                               : security == TSecurity::StartTls ? kSecurityStartTls
                                                                 : kSecurityNone);
}

void TForm1::ComboBox1Change() {
    const bool tls = SelectedSecurity() == TSecurity::Tls;
    if (tls && Edit2->text() == kPlainPort) {
        Edit2->setText(kTlsPort);
    } else if (!tls && Edit2->text() == kTlsPort) {
        Edit2->setText(kPlainPort);
    }
}

void TForm1::ShowConnectionState(const QString& encryption, bool compressed) {
    const QString compression = compressed ? QStringLiteral("compressed") : QString();
    Label18->setText((encryption.isEmpty() ? QStringLiteral("Not encrypted")
                                           : QStringLiteral("Encrypted: ") + encryption) +
                     (compressed ? QStringLiteral(", ") + compression : QString()));
    const QString separator =
        encryption.isEmpty() || !compressed ? QString() : QStringLiteral("; ");
    encryptionPanel_->setText(encryption + separator + compression);
}

void TForm1::FillGroupList(const QString& filter) {
    // Every change starts again from all groups received, so deleting filter characters widens
    // the list again. The list sorts once, after it is filled.
    const QString wanted = filter.toLower();
    const bool subscribedOnly = CheckBox1->isChecked();
    ListBox1->setSortingEnabled(false);
    ListBox1->clear();
    for (int i = 0; i < AllGroups.Count(); ++i) {
        const auto stored = storedGroups_.constFind(AllGroups[i]);
        const TStoredGroup* group = stored == storedGroups_.cend() ? nullptr : &*stored;
        if (subscribedOnly && (group == nullptr || !group->subscribed)) {
            continue;
        }
        if (wanted.isEmpty() || DisplayText(AllGroups[i]).toLower().contains(wanted)) {
            ListBox1->addItem(new TGroupItem(AllGroups[i], group));
        }
    }
    ListBox1->setSortingEnabled(true);
    ListBox1->sortItems();
}

void TForm1::Button19Click() {
    if (RefusedWhileBusy()) {
        return;
    }
    if (WorkingOffline()) {
        ShowStoredGroups();
    } else {
        ListServerGroups();
    }
}

void TForm1::CheckBox2Click() {
    // The check is what the user asked for; a server still answering keeps the mode it has.
    if (RefusedWhileBusy()) {
        CheckBox2->setChecked(!CheckBox2->isChecked());
        return;
    }
    ConnectToServer();
}

void TForm1::SubscribeSelected(bool subscribed) {
    const QByteArray name = SelectedGroup();
    if (!storeCache_) {
        ShowInfo(QStringLiteral("Subscriptions are kept in the news store, which is not open."));
        return;
    }
    UseStore([&](TNewsStore& store) {
        store.SetSubscribed(storeCache_->GroupId(name), subscribed);
        ReadStoredGroups();
    });
    FillGroupList(Edit6->text());
    const QList<QListWidgetItem*> items =
        ListBox1->findItems(QStringLiteral("*"), Qt::MatchWildcard);
    for (QListWidgetItem* item : items) {
        if (item->data(kGroupNameRole).toByteArray() == name) {
            ListBox1->setCurrentItem(item);
        }
    }
}

void TForm1::ShowGroupUnread(const QByteArray& name, qint64 unread) {
    // Only subscribed groups show a count, and they come first.
    for (int i = 0; i < ListBox1->count(); ++i) {
        auto* item = static_cast<TGroupItem*>(ListBox1->item(i));
        if (!item->Subscribed()) {
            return;
        }
        if (item->Name() == name) {
            item->ShowUnread(unread);
            return;
        }
    }
}

QByteArray TForm1::SelectedGroup() const {
    const QListWidgetItem* item = ListBox1->currentItem();
    if (item == nullptr || !item->isSelected()) {
        throw Exception(QStringLiteral("List index out of bounds (-1)"));
    }
    return item->data(kGroupNameRole).toByteArray();
}

void TForm1::ListBox1DblClick() {
    const QListWidgetItem* item = ListBox1->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return;
    }
    ListSelectedGroup(true);
}

void TForm1::ListBox1KeyPress(char& key) {
    if (key == '\r') {
        key = 0;
        ListBox1DblClick();
    }
}

// ---------------------------------------------------------------------------------------------
// The client's connection-level events

void TForm1::QRNNTP1Connect(QObject*) {
    if (!settingsServer_) {
        AddHost(Edit1->currentText());
    }
    AttachStore();
    SetStatusText(QStringLiteral("Connected"));
    ShowConnectionState(QRNNTP1->EncryptionDescription(), QRNNTP1->Compressed());
    if (AllGroups.Count() == 0) {
        ShowStoredGroups();
        // A connection made for a running operation that needed one: the client would skip
        // the lists inside it, and the next Connect brings the stored list up to date.
        if (!QRNNTP1->Busy) {
            UpdateServerGroups();
        }
    }
}

void TForm1::QRNNTP1Disconnect(QObject*) {
    SetStatusText(QStringLiteral("Disconnected"));
    ShowConnectionState(QString(), false);
}

void TForm1::QRNNTP1Encrypted(QObject*) {
    ShowConnectionState(QRNNTP1->EncryptionDescription(), QRNNTP1->Compressed());
}

void TForm1::QRNNTP1HostResolved(QObject*) {
    SetStatusText(QStringLiteral("Host Resolved"));
}

void TForm1::QRNNTP1InvalidHost(bool& handled) {
    QString host;
    if (PromptFor(QStringLiteral("Invalid Host"), QStringLiteral("Please Choose another host"),
                  host)) {
        handled = true;
        QRNNTP1->Host = host;
    }
}

void TForm1::QRNNTP1ConnectionFailed(QObject*) {
    // Reported once, by the connect it ends, which knows why.
    connectionFailed_ = true;
}

void TForm1::QRNNTP1CompressionFailed(const QString& message) {
    // The status bar says what failed; the next connection to this server asks no more, a
    // connection made again for a running operation included.
    SetStatusText(message);
    QRNNTP1->Compress = false;
    try {
        compressionmemory::Remember(QRNNTP1->Host, QRNNTP1->Port);
    } catch (const Exception& error) {
        SetStatusText(message + QStringLiteral(" (") + error.Message() + u')');
    }
}

void TForm1::QRNNTP1ConnectionRequired(bool& handled) {
    if (WorkingOffline()) {
        SetStatusText(QStringLiteral("Working offline: the server is not asked"));
        return;
    }
    if (!WarnYesNo(QStringLiteral("Connection Required"),
                   QStringLiteral("Connection Required. Connect?"))) {
        return;
    }
    handled = true;
    // The groups listed are those of the server the client was connected to: a connection
    // lost since (an Abort closes it) is made again to that server, and the list stays, as the
    // operation that asked keeps the client from listing the groups again.
    if (AllGroups.Count() > 0) {
        ConnectClient();
    } else {
        ConnectToServer();
    }
}

void TForm1::QRNNTP1Status(QObject*, const QString& status) {
    SetStatusText(status);
}

void TForm1::QRNNTP1GroupListUpdate(const QByteArray& name, int firstArticle, int lastArticle,
                                    bool) {
    listedGroups_.append(TStoredGroup{name, firstArticle, lastArticle});
    if (!groupsFromStore_) {
        const auto stored = storedGroups_.constFind(name);
        ListBox1->addItem(
            new TGroupItem(name, stored == storedGroups_.cend() ? nullptr : &*stored));
        AllGroups.Add(name);
    }
}

void TForm1::QRNNTP1GroupSelect(QObject*) {
    // A group selected to be listed is shown once its listing starts.
    if (!choosingGroup_) {
        ShowSelectedGroup();
    }
}

void TForm1::ShowSelectedGroup() {
    Summary.GroupSelected(QRNNTP1->CurrentGroup);
    setWindowTitle(QStringLiteral("ZK News Reader - ") + DisplayText(QRNNTP1->CurrentGroup) +
                   QStringLiteral(" Start:") + QString::number(QRNNTP1->FirstArticleNo) +
                   QStringLiteral(" End:") + QString::number(QRNNTP1->LastArticleNo));
    AddressNewThread();
}

void TForm1::QRNNTP1GroupSelectRequired(bool& handled) {
    // The client met the server's "no group selected" inside a running operation; it selects
    // its CurrentGroup again once this returns, so the group entered is put there.
    QString group = DisplayText(QRNNTP1->CurrentGroup);
    if (PromptFor(QStringLiteral("Newsgroup selection Required"),
                  QStringLiteral("Enter NewsGroup Name: "), group)) {
        handled = true;
        QRNNTP1->CurrentGroup = WireBytes(group);
    }
}
