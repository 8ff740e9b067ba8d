// The " Connection/Account " page: connecting, the group list and its filter, and the client's
// connection-level events.
#include "ui/unit1.h"

#include "nntp/nntpwire.h"
#include "ui/displaytext.h"
#include "util/presenter.h"

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

// Group names sort without regard to case, as the host list does.
class TGroupItem : public QListWidgetItem {
public:
    explicit TGroupItem(const QByteArray& name) : QListWidgetItem(DisplayText(name)) {
        setData(kGroupNameRole, name);
    }

    bool operator<(const QListWidgetItem& other) const override {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

// A warning question with Yes and No; declined when there is nobody to ask.
bool WarnYesNo(const QString& caption, const QString& question) {
    TPresenter* presenter = InstalledPresenter();
    return presenter != nullptr && presenter->ConfirmWarning(caption, question);
}

} // namespace

void TForm1::Button1Click() {
    if (QRNNTP1->Connected) {
        QRNNTP1->Disconnect();
    }
    Edit6->clear();
    ListBox1->clear();
    AllGroups.Clear();
    QRNNTP1->ReportLevel = kReportLevel;
    QRNNTP1->TimeOut = kTimeOut;
    QRNNTP1->Host = Edit1->currentText();
    QRNNTP1->Port = nntpwire::StrToInt(WireBytes(Edit2->text()));
    QRNNTP1->UserId = WireBytes(Edit3->text());
    QRNNTP1->Password = WireBytes(Edit4->text());
    QRNNTP1->Security = SelectedSecurity();
    QRNNTP1->Connect();
    ListBox1->setFocus();
}

void TForm1::Button2Click() {
    QRNNTP1->Disconnect();
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

void TForm1::ShowEncryption(const QString& description) {
    Label18->setText(description.isEmpty() ? QStringLiteral("Not encrypted")
                                           : QStringLiteral("Encrypted: ") + description);
    encryptionPanel_->setText(description);
}

void TForm1::FillGroupList(const QString& filter) {
    // Every change starts again from all groups received, so deleting filter characters widens
    // the list again. The list sorts once, after it is filled.
    const QString wanted = filter.toLower();
    ListBox1->clear();
    for (int i = 0; i < AllGroups.Count(); ++i) {
        auto* item = new TGroupItem(AllGroups[i]);
        if (wanted.isEmpty() || item->text().toLower().contains(wanted)) {
            ListBox1->addItem(item);
        } else {
            delete item;
        }
    }
    ListBox1->sortItems();
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
    AddHost(Edit1->currentText());
    SetStatusText(QStringLiteral("Connected"));
    QRNNTP1->GetGroupList();
}

void TForm1::QRNNTP1Disconnect(QObject*) {
    SetStatusText(QStringLiteral("Disconnected"));
    ShowEncryption(QString());
}

void TForm1::QRNNTP1Encrypted(QObject*) {
    ShowEncryption(QRNNTP1->EncryptionDescription());
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
    ShowInfo(QStringLiteral("Connection Failed"));
}

void TForm1::QRNNTP1ConnectionRequired(bool& handled) {
    if (WarnYesNo(QStringLiteral("Connection Required"),
                  QStringLiteral("Connection Required. Connect?"))) {
        handled = true;
        Button1Click();
    }
}

void TForm1::QRNNTP1Status(QObject*, const QString& status) {
    SetStatusText(status);
}

void TForm1::QRNNTP1GroupListUpdate(const QByteArray& name, int, int, bool) {
    ListBox1->addItem(new TGroupItem(name));
    AllGroups.Add(name);
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
