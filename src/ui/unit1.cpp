#include "ui/unit1.h"

#include "nntp/storecache.h"
#include "search/zkfnddlg.h"
#include "store/newsstore.h"
#include "ui/settingsfiles.h"
#include "ui/summaryview.h"
#include "util/edittext.h"
#include "util/filehelpers.h"
#include "util/presenter.h"
#include "util/texthelpers.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtDebug>

namespace {

constexpr int kDesignWidth = 613;
// The window is as high as the screen but for this margin, and starts this far from its top.
constexpr int kScreenHeightMargin = 100;
constexpr int kStartTop = 15;
// How long closing keeps the window alive after QUIT, so that the reply can arrive.
constexpr int kQuitGraceMilliseconds = 250;

bool IsEnterKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), SettingsDir(ProgramDir()) {
    CreateControls();
    BindControls();
    BindClient();
    Memo4->IsRead = [this](qint64 number) { return readMarks_.Contains(number); };
    SetDesignSize();
    // The start-up step runs once the event loop does.
    Timer1->start();
}

TForm1::~TForm1() {
    // The store's link sets the client's cache hooks back as it goes, so it goes before the
    // client; the client goes next, while everything its events could reach still exists.
    storeCache_.reset();
    delete QRNNTP1;
}

void TForm1::SetDesignSize() {
    setWindowTitle(QStringLiteral("ZK News Reader"));
    const QRect screenArea = screen()->geometry();
    resize(kDesignWidth, screenArea.height() - kScreenHeightMargin);
    move(screenArea.center() - rect().center());
}

QString TForm1::StatusText() const {
    return statusPanel_->text();
}

void TForm1::SetStatusText(const QString& text) {
    // Set every time, painted when the window next processes events: a listing of many
    // entries must not wait for a paint per entry. Reply lines come with their line end.
    statusPanel_->setText(TrimBlanksAndControls(text));
}

// ---------------------------------------------------------------------------------------------
// Handlers entered from the event loop

void TForm1::BindControls() {
    const auto onClick = [this](QAbstractButton* button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { Dispatch([this, handler] { (this->*handler)(); }); });
    };
    onClick(Button1, &TForm1::Button1Click);
    onClick(Button2, &TForm1::Button2Click);
    onClick(Button3, &TForm1::Button3Click);
    onClick(Button4, &TForm1::Button4Click);
    onClick(Button5, &TForm1::Button5Click);
    onClick(Button6, &TForm1::Button6Click);
    onClick(Button7, &TForm1::Button7Click);
    onClick(Button8, &TForm1::Button8Click);
    onClick(Button9, &TForm1::Button9Click);
    onClick(Button10, &TForm1::Button10Click);
    onClick(Button11, &TForm1::Button11Click);
    onClick(Button12, &TForm1::Button12Click);
    onClick(Button13, &TForm1::Button13Click);
    onClick(Button14, &TForm1::Button14Click);
    onClick(Button15, &TForm1::Button15Click);
    onClick(Button16, &TForm1::Button16Click);
    onClick(Button17, &TForm1::Button17Click);
    onClick(Button18, &TForm1::Button18Click);
    onClick(Button19, &TForm1::Button19Click);
    onClick(Button20, &TForm1::Button20Click);
    onClick(Button21, &TForm1::Button21Click);
    onClick(Button22, &TForm1::Button22Click);
    onClick(CheckBox2, &TForm1::CheckBox2Click);
    onClick(BitBtn1, &TForm1::BitBtn1Click);
    onClick(BitBtn3, &TForm1::BitBtn3Click);
    const auto onRightClick = [this](QWidget* button, void (TForm1::*handler)(bool&)) {
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this, [this, handler] {
            bool handled = false;
            Dispatch([this, handler, &handled] { (this->*handler)(handled); });
        });
    };
    onRightClick(Button14, &TForm1::Button14ContextPopup);
    onRightClick(Button18, &TForm1::Button18ContextPopup);
    connect(Timer1, &QTimer::timeout, this, [this] { Dispatch([this] { Timer1Timer(); }); });
    connect(Edit6, &QLineEdit::textChanged, this, [this] { Dispatch([this] { Edit6Change(); }); });
    connect(CheckBox1, &QCheckBox::toggled, this,
            [this] { Dispatch([this] { FillGroupList(Edit6->text()); }); });
    connect(SubscribeAction, &QAction::triggered, this,
            [this] { Dispatch([this] { SubscribeSelected(true); }); });
    connect(UnsubscribeAction, &QAction::triggered, this,
            [this] { Dispatch([this] { SubscribeSelected(false); }); });
    connect(MarkUnreadAction, &QAction::triggered, this,
            [this] { Dispatch([this] { MarkSelectedUnread(); }); });
    connect(MarkGroupReadAction, &QAction::triggered, this,
            [this] { Dispatch([this] { MarkGroupRead(); }); });
    connect(SearchAction, &QAction::triggered, this,
            [this] { Dispatch([this] { SearchActionTrigger(); }); });
    connect(Edit12, &QLineEdit::textChanged, this,
            [this] { Dispatch([this] { Edit12Change(); }); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this] { Dispatch([this] { OpenSearchHit(); }); });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { Dispatch([this] { ComboBox1Change(); }); });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this,
            [this] { Dispatch([this] { ComboBox2Change(); }); });
    for (QPlainTextEdit* pane : {Memo3, Memo2}) {
        connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](QPoint pos) {
            Dispatch([this, pane, pos] { PaneContextMenu(pane, pos); });
        });
    }
    BindAttachments();
    connect(Memo3ViewAction, &QAction::triggered, this,
            [this] { Dispatch([this] { OpenMessageIdAtCursor(Memo3); }); });
    connect(Memo2ViewAction, &QAction::triggered, this,
            [this] { Dispatch([this] { OpenMessageIdAtCursor(Memo2); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == TabSheet4) {
            Dispatch([this] { TabSheet4Show(); });
        } else if (PageControl1->currentWidget() == TabSheet1) {
            Dispatch([this] { TabSheet1Show(); });
        } else if (PageControl1->currentWidget() == TabSheet2) {
            Dispatch([this] { TabSheet2Show(); });
        }
    });
    // The window sees the keys of its controls before they do: every control reports to it.
    for (QWidget* control : findChildren<QWidget*>()) {
        if (control->window() == this) {
            control->installEventFilter(this);
        }
    }
}

void TForm1::BindClient() {
    TQRNNTP& client = *QRNNTP1;
    client.OnConnect = [this](QObject* sender) { QRNNTP1Connect(sender); };
    client.OnDisconnect = [this](QObject* sender) { QRNNTP1Disconnect(sender); };
    client.OnHostResolved = [this](QObject* sender) { QRNNTP1HostResolved(sender); };
    client.OnInvalidHost = [this](bool& handled) { QRNNTP1InvalidHost(handled); };
    client.OnConnectionFailed = [this](QObject* sender) { QRNNTP1ConnectionFailed(sender); };
    client.OnConnectionRequired = [this](bool& handled) { QRNNTP1ConnectionRequired(handled); };
    client.OnStatus = [this](QObject* sender, const QString& status) {
        QRNNTP1Status(sender, status);
    };
    client.OnGroupListUpdate = [this](const QByteArray& name, int first, int last, bool posting) {
        QRNNTP1GroupListUpdate(name, first, last, posting);
    };
    client.OnGroupSelect = [this](QObject* sender) { QRNNTP1GroupSelect(sender); };
    client.OnGroupSelectRequired = [this](bool& handled) { QRNNTP1GroupSelectRequired(handled); };
    client.OnEncrypted = [this](QObject* sender) { QRNNTP1Encrypted(sender); };
    client.OnCompressionFailed = [this](QObject*, quint16, const QString& message) {
        QRNNTP1CompressionFailed(message);
    };
    client.OnHeaderList = [this](QObject* sender) { QRNNTP1HeaderList(sender); };
    client.OnSummary = [this](const TSummaryLine& summary) { QRNNTP1Summary(summary); };
    client.OnListProgress = [this](qint64 received, qint64 announced) {
        QRNNTP1ListProgress(received, announced);
    };
    client.OnArticleProgress = [this](qint64 bytes) { QRNNTP1ArticleProgress(bytes); };
    client.OnHeader = [this](QObject* sender) { QRNNTP1Header(sender); };
    client.OnArticle = [this](QObject* sender) { QRNNTP1Article(sender); };
    client.OnBody = [this](QObject* sender) { QRNNTP1Body(sender); };
    client.OnInvalidArticle = [this](QObject* sender) { QRNNTP1InvalidArticle(sender); };
    client.OnPosted = [this](QObject* sender) { QRNNTP1Posted(sender); };
    client.OnPostFailed = [this](QObject* sender, quint16 errorNumber, const QString& message) {
        QRNNTP1PostFailed(sender, errorNumber, message);
    };
}

void TForm1::Dispatch(const std::function<void()>& handler) {
    // What a handler sees of the summary includes every entry the client reported before.
    FlushSummary();
    ++runningHandlers_;
    QString error;
    try {
        handler();
    } catch (const EShownError&) {
        // The user has seen it.
    } catch (const Exception& exception) {
        error = exception.Message();
    } catch (const std::exception& exception) {
        error = QString::fromLocal8Bit(exception.what());
    }
    --runningHandlers_;
    if (!error.isEmpty()) {
        // Once the window was asked to close, the operations it ended report nothing more.
        if (closing_) {
            qWarning().noquote() << error;
        } else {
            ShowInfo(error);
        }
    }
    if (runningHandlers_ == 0 && releasePending_) {
        ReleaseLists();
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        return KeyPressFilter(watched, static_cast<QKeyEvent*>(event));
    }
    if (event->type() == QEvent::KeyRelease) {
        return KeyReleaseFilter(static_cast<QKeyEvent*>(event));
    }
    // A click on a Message-ID in the header or body pane opens it; the press has put the
    // cursor there.
    if ((watched == Memo3->viewport() || watched == Memo2->viewport()) &&
        event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        QPlainTextEdit* pane = watched == Memo3->viewport() ? Memo3 : Memo2;
        Dispatch([this, pane] { OpenMessageIdAtCursor(pane); });
        return false;
    }
    if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        Dispatch([this] { ListBox1DblClick(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::KeyPressFilter(QObject* watched, QKeyEvent* event) {
    // Enter in the header or body pane is View Article at Cursor there.
    if ((watched == Memo3 || watched == Memo2) && IsEnterKey(event)) {
        bool opened = false;
        QPlainTextEdit* pane = watched == Memo3 ? Memo3 : Memo2;
        Dispatch([&] { opened = OpenMessageIdAtCursor(pane); });
        if (opened) {
            return true;
        }
    }
    if ((watched == Edit12 || watched == ListView1) && SearchKeyPress(watched, event->key())) {
        return true;
    }
    if (watched == Memo4) {
        int key = event->key();
        Dispatch([&] { Memo4KeyDown(key, event->modifiers() & ~Qt::KeypadModifier); });
        return key == 0;
    }
    if (watched == Memo2) {
        int key = event->key();
        Dispatch([&] {
            Memo2KeyDown(key, event->modifiers() & ~Qt::KeypadModifier, event->isAutoRepeat());
        });
        return key == 0;
    }
    if (!IsEnterKey(event)) {
        return false;
    }
    char key = '\r';
    // Typed keys reach the host box itself, which hands them to its line edit directly.
    if (watched == Edit1 || watched == Edit1->lineEdit()) {
        Dispatch([&] { Edit1KeyPress(key); });
    } else if (watched == ListBox1) {
        Dispatch([&] { ListBox1KeyPress(key); });
    } else if (watched == Edit7) {
        Dispatch([&] { Edit7KeyPress(key); });
    }
    return key == 0;
}

bool TForm1::KeyReleaseFilter(QKeyEvent* event) {
    // A held key repeats its presses; the window reacts once, to the key let go.
    if (event->isAutoRepeat()) {
        return false;
    }
    int key = event->key();
    Dispatch([&] { FormKeyUp(key, event->modifiers() & ~Qt::KeypadModifier); });
    return key == 0;
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TForm1::Timer1Timer() {
    Timer1->stop();
    move(x(), kStartTop);
    PageControl1->setCurrentWidget(TabSheet3);
    SetEditText(Memo2, QStringLiteral("No Message Selected Yet."));
    LoadSettings();
    OpenStore();
    ShowLastProfile();
    SetBackground(Memo5, QColor(0xEB, 0xFE, 0xEB));
    SetBackground(Memo4, QColor(0xE9, 0xEA, 0xF8));
    SetBackground(ListBox1, QColor(0xF8, 0xF2, 0xE9));
    zkfind->dirgrp->setVisible(true);
    zkfind->fndtxt->setCurrentText(Edit9->text());
    Edit1->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Settings files

QString TForm1::SettingsFile(const char* name) const {
    return SettingsDir + QString::fromLatin1(name);
}

void TForm1::LoadSettings() {
    TStringList hosts;
    hosts.SetText(SettingsFileUtf8(LoadTextFile(SettingsFile(kHostHistoryFile))));
    SetHostHistory(hosts);
    const TAccountSettings account =
        ParseAccountSettings(SettingsFileUtf8(LoadTextFile(SettingsFile(kAccountFile))));
    Edit9->setText(QString::fromUtf8(account.fromAddress));
    Edit10->setText(QString::fromUtf8(account.replyTo));
    Edit3->setText(QString::fromUtf8(account.userId));
    Edit4->setText(QString::fromUtf8(account.password));
    SelectSecurity(account.security);
    CheckBox2->setChecked(account.workOffline);
    CompressBox->setChecked(account.compress);
    CheckBox1->setChecked(account.subscribedOnly);
    Edit15->setText(QString::fromUtf8(account.signatureFile));
    QRNNTP1->TrustedCertificates = account.trustedCertificates;
    attachmentFolder_ = QString::fromUtf8(account.attachmentFolder);
    QRNNTP1->PipelineDepth = account.pipelineDepth;
}

void TForm1::SaveSettings() {
    SaveTextFile(SettingsFile(kHostHistoryFile), HostHistory().Text());
    // A URL's server visited is not the settings' one.
    const TConnectionFields connection = settingsServer_.value_or(ConnectionFields());
    SaveOwnerOnlyFile(
        SettingsFile(kAccountFile),
        AccountSettingsText(
            {Edit9->text().toUtf8(), Edit10->text().toUtf8(), connection.user.toUtf8(),
             connection.password.toUtf8(), connection.security, QRNNTP1->TrustedCertificates,
             CheckBox2->isChecked(), CheckBox1->isChecked(), Edit15->text().trimmed().toUtf8(),
             attachmentFolder_.toUtf8(), CompressBox->isChecked(), QRNNTP1->PipelineDepth}));
}

void TForm1::SetHostHistory(const TStringList& hosts) {
    // The list is kept sorted without regard to case; replacing it leaves the host typed alone.
    TStringList sorted;
    sorted.Assign(hosts);
    sorted.SetSorted(true);
    const QString typed = Edit1->currentText();
    Edit1->clear();
    for (int i = 0; i < sorted.Count(); ++i) {
        Edit1->addItem(QString::fromUtf8(sorted[i]));
    }
    Edit1->setCurrentText(typed);
}

TStringList TForm1::HostHistory() const {
    TStringList hosts;
    for (int i = 0; i < Edit1->count(); ++i) {
        hosts.Add(Edit1->itemText(i).toUtf8());
    }
    return hosts;
}

void TForm1::AddHost(const QString& host) {
    int place = 0;
    for (; place < Edit1->count(); ++place) {
        const int order = Edit1->itemText(place).compare(host, Qt::CaseInsensitive);
        if (order == 0) {
            return;
        }
        if (order > 0) {
            break;
        }
    }
    const QString typed = Edit1->currentText();
    Edit1->insertItem(place, host);
    Edit1->setCurrentText(typed);
}

// ---------------------------------------------------------------------------------------------
// Closing

void TForm1::closeEvent(QCloseEvent* event) {
    try {
        FormCloseQuery();
    } catch (const std::exception& exception) {
        qWarning() << exception.what();
    }
    event->accept();
}

bool TForm1::FormCloseQuery() {
    closing_ = true;
    // A running scan ends at its next check instead of fetching on after the window is gone.
    Scanning = false;
    SaveSettings();
    // A handler waiting inside a client operation ends it with an abort; the lists it may still
    // touch are released once it has returned.
    if (QRNNTP1->Busy) {
        QRNNTP1->Abort();
    }
    ReleaseLists();
    if (QRNNTP1->Connected) {
        QRNNTP1->Disconnect();
        IdleWait(kQuitGraceMilliseconds);
    }
    return true;
}

void TForm1::ReleaseLists() {
    if (runningHandlers_ > 0) {
        releasePending_ = true;
        return;
    }
    releasePending_ = false;
    AllGroups.Clear();
    Summary.ClearTextCaches();
}
