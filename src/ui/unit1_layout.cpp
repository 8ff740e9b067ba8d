// The window's controls: names, captions, hints, fonts and colours, page by page.
#include "ui/unit1.h"

#include "search/editsearch.h"
#include "ui/fonts.h"
#include "ui/postfields.h"
#include "ui/summaryview.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr int kStartUpDelay = 200;
constexpr int kHeaderPaneHeight = 85;
constexpr int kAttachmentsPaneHeight = 46;
constexpr int kNumberFieldWidth = 90;
constexpr int kPortFieldWidth = 60;
constexpr int kPageMargin = 6;
constexpr int kButtonRowSpacing = 3;

template <typename Control> Control* Named(Control* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QLabel* NewLabel(const char* name, const QString& caption, QWidget* parent) {
    return Named(new QLabel(caption, parent), name);
}

QPushButton* NewButton(const char* name, const QString& caption, QWidget* parent) {
    return Named(new QPushButton(caption, parent), name);
}

QVBoxLayout* NewPageLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    return layout;
}

QFrame* NewPanel(const char* name, QWidget* parent) {
    auto* panel = Named(new QFrame(parent), name);
    panel->setFrameShape(QFrame::StyledPanel);
    return panel;
}

QFont FontOf(const char* family, int points) {
    QFont font(QString::fromLatin1(family));
    font.setPointSize(points);
    return font;
}

void SetTextColour(QWidget* control, QColor colour) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    control->setPalette(palette);
}

// A pane that shows text: read-only, yet with a caret that the keyboard moves and that marks
// the line the window's operations start from.
QPlainTextEdit* NewPane(const char* name, QWidget* parent) {
    auto* pane = Named(new QPlainTextEdit(parent), name);
    pane->setReadOnly(true);
    // Nobody edits it, and an undo step per text shown would grow without bound over a long
    // read or scan.
    pane->setUndoRedoEnabled(false);
    pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return pane;
}

// View Article at Cursor, shown after the pane's own context menu entries.
QAction* NewViewAction(QPlainTextEdit* pane) {
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* action = new QAction(QStringLiteral("View Article at Cursor"), pane);
    pane->addAction(action);
    return action;
}

} // namespace

void TForm1::SetBackground(QWidget* control, QColor colour) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::Base, colour);
    control->setPalette(palette);
}

void TForm1::CreateControls() {
    InstallFontSubstitutes();
    auto* centre = Named(new QWidget(this), "Centre");
    auto* frame = new QVBoxLayout(centre);
    frame->setContentsMargins(0, 0, 0, 0);
    PageControl1 = Named(new QTabWidget(centre), "PageControl1");
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setFont(FontOf("Arial", 8));
    frame->addWidget(PageControl1);
    setCentralWidget(centre);

    CreateConnectionPage();
    CreateSummaryPage();
    CreateReadingPage();
    CreatePostingPage();
    CreateStatusBar();
    CreateNonVisual();
    PageControl1->setCurrentWidget(TabSheet3);
}

void TForm1::CreateConnectionPage() {
    TabSheet3 = Named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral(" Connection/Account "));
    auto* page = NewPageLayout(TabSheet3);

    Panel4 = NewPanel("Panel4", TabSheet3);
    auto* grid = new QGridLayout(Panel4);
    Label1 = NewLabel("Label1", QStringLiteral("Host: "), Panel4);
    Edit1 = Named(new QComboBox(Panel4), "Edit1");
    Edit1->setEditable(true);
    Edit1->setInsertPolicy(QComboBox::NoInsert);
    Label2 = NewLabel("Label2", QStringLiteral("Port: "), Panel4);
    Edit2 = Named(new QLineEdit(QStringLiteral("119"), Panel4), "Edit2");
    Edit2->setFixedWidth(kPortFieldWidth);
    Label17 = NewLabel("Label17", QStringLiteral("Security: "), Panel4);
    ComboBox1 = Named(new QComboBox(Panel4), "ComboBox1");
    ComboBox1->addItems(
        {QStringLiteral("None"), QStringLiteral("TLS"), QStringLiteral("STARTTLS")});
    ComboBox1->setCurrentIndex(kSecurityNone);
    Label18 = NewLabel("Label18", QStringLiteral("Not encrypted"), Panel4);
    // Wide enough for a usual description, so that the page keeps its columns when it comes.
    Label18->setMinimumWidth(Label18->fontMetrics().horizontalAdvance(
        QStringLiteral("Encrypted: TLSv1.3, TLS_AES_256_GCM_SHA384")));
    Button1 = NewButton("Button1", QStringLiteral("&Connect"), Panel4);
    Label3 = NewLabel("Label3", QStringLiteral("UserID: "), Panel4);
    Edit3 = Named(new QLineEdit(Panel4), "Edit3");
    Label4 = NewLabel("Label4", QStringLiteral("Password: "), Panel4);
    Edit4 = Named(new QLineEdit(Panel4), "Edit4");
    Edit4->setEchoMode(QLineEdit::Password);
    Button2 = NewButton("Button2", QStringLiteral("&Disconnect"), Panel4);
    CheckBox2 = Named(new QCheckBox(QStringLiteral("Work &offline"), Panel4), "CheckBox2");
    CheckBox2->setToolTip(QStringLiteral("The group list, summaries and articles kept in the "
                                         "news store, without connecting to the server"));
    CompressBox = Named(new QCheckBox(QStringLiteral("Co&mpress"), Panel4), "CompressBox");
    CompressBox->setChecked(true);
    CompressBox->setToolTip(QStringLiteral("Ask the server to compress the connection (COMPRESS "
                                           "DEFLATE), once TLS and the login are done"));
    Label7 = NewLabel("Label7", QStringLiteral("Filter List with:"), Panel4);
    Edit6 = Named(new QLineEdit(Panel4), "Edit6");
    CheckBox1 = Named(new QCheckBox(QStringLiteral("Subscribed only"), Panel4), "CheckBox1");
    Button19 = NewButton("Button19", QStringLiteral("Refresh Groups"), Panel4);
    Label5 = NewLabel("Label5", QStringLiteral("Newsgroup List (Double Click to Select)"), Panel4);
    Label5->setAlignment(Qt::AlignHCenter);

    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(Label2, 0, 2);
    grid->addWidget(Edit2, 0, 3);
    grid->addWidget(Label17, 0, 4);
    grid->addWidget(ComboBox1, 0, 5);
    grid->addWidget(Button1, 0, 6);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(Edit3, 1, 1);
    grid->addWidget(Label4, 1, 2);
    grid->addWidget(Edit4, 1, 3);
    grid->addWidget(Label18, 1, 4, 1, 2);
    grid->addWidget(Button2, 1, 6);
    grid->addWidget(CheckBox2, 0, 7);
    grid->addWidget(CompressBox, 1, 7);
    grid->addWidget(Label7, 2, 0);
    grid->addWidget(Edit6, 2, 1, 1, 4);
    grid->addWidget(CheckBox1, 2, 5);
    grid->addWidget(Button19, 2, 6);
    grid->addWidget(Label5, 3, 0, 1, 8);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    page->addWidget(Panel4);

    ListBox1 = Named(new QListWidget(TabSheet3), "ListBox1");
    ListBox1->setSortingEnabled(true);
    ListBox1->setFont(FontOf("Maiandra GD", 10));
    SetTextColour(ListBox1, Qt::red);
    ListBox1->setContextMenuPolicy(Qt::ActionsContextMenu);
    SubscribeAction = new QAction(QStringLiteral("Subscribe"), ListBox1);
    UnsubscribeAction = new QAction(QStringLiteral("Unsubscribe"), ListBox1);
    ListBox1->addActions({SubscribeAction, UnsubscribeAction});
    page->addWidget(ListBox1, 1);
}

void TForm1::CreateSummaryPage() {
    TabSheet4 = Named(new QWidget, "TabSheet4");
    PageControl1->addTab(TabSheet4, QStringLiteral(" Article List Summary "));
    auto* page = NewPageLayout(TabSheet4);

    Panel1 = NewPanel("Panel1", TabSheet4);
    auto* grid = new QGridLayout(Panel1);
    Button3 = NewButton("Button3", QStringLiteral("List Articles in Newsgroup"), Panel1);
    Button8 = NewButton("Button8", QStringLiteral("Abort"), Panel1);
    Button9 = NewButton("Button9", QStringLiteral("&View Article at Cursor"), Panel1);
    Button4 = NewButton("Button4", QStringLiteral("Get Article #"), Panel1);
    Edit7 = Named(new QLineEdit(Panel1), "Edit7");
    Edit7->setFixedWidth(kNumberFieldWidth);
    Label13 = NewLabel("Label13", QStringLiteral("Use Ctrl+F and F3 to find"), Panel1);
    SetTextColour(Label13, Qt::blue);
    Label19 = NewLabel("Label19", QStringLiteral("&Order:"), Panel1);
    ComboBox2 = Named(new QComboBox(Panel1), "ComboBox2");
    ComboBox2->addItems({QStringLiteral("By number"), QStringLiteral("By thread")});
    ComboBox2->setCurrentIndex(kOrderByNumber);
    Label19->setBuddy(ComboBox2);
    auto* order = new QHBoxLayout;
    order->addWidget(Label19);
    order->addWidget(ComboBox2);
    order->addStretch(1);
    grid->addWidget(Button3, 0, 0);
    grid->addWidget(Button8, 0, 1);
    grid->addWidget(Button9, 0, 2);
    grid->addWidget(Button4, 0, 3);
    grid->addWidget(Edit7, 0, 4);
    grid->addLayout(order, 1, 0, 1, 2);
    grid->addWidget(Label13, 1, 2, 1, 3, Qt::AlignRight);
    grid->setColumnStretch(5, 1);
    page->addWidget(Panel1);

    CreateSearchRow(page);

    // The matches above the summary, the two sharing the page's height as the person drags.
    auto* splitter = Named(new QSplitter(Qt::Vertical, TabSheet4), "Splitter1");
    splitter->setChildrenCollapsible(false);
    ListView1 = Named(new QTreeWidget(splitter), "ListView1");
    ListView1->setHeaderLabels({QStringLiteral("Group"), QStringLiteral("#"),
                                QStringLiteral("Date"), QStringLiteral("From"),
                                QStringLiteral("Subject")});
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setStretchLastSection(true);
    ListView1->setVisible(false);
    Memo4 = Named(new TSummaryView(Summary, splitter), "Memo4");
    Memo4->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MarkUnreadAction = new QAction(QStringLiteral("Mark Unread"), Memo4);
    MarkGroupReadAction = new QAction(QStringLiteral("Mark Group Read"), Memo4);
    Memo4->addActions({MarkUnreadAction, MarkGroupReadAction});
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    page->addWidget(splitter, 1);
}

void TForm1::CreateSearchRow(QVBoxLayout* page) {
    auto* row = new QHBoxLayout;
    row->setSpacing(kButtonRowSpacing);
    Label21 = NewLabel("Label21", QStringLiteral("&Search"), TabSheet4);
    Edit12 = Named(new QLineEdit(TabSheet4), "Edit12");
    Edit12->setPlaceholderText(
        QStringLiteral("Subject or From in every stored group: words, \"a phrase\", pre*, "
                       "AND, OR, NOT (Ctrl+Shift+F)"));
    Edit12->setClearButtonEnabled(true);
    Label21->setBuddy(Edit12);
    Label22 = NewLabel("Label22", QString(), TabSheet4);
    SetTextColour(Label22, Qt::blue);
    row->addWidget(Label21);
    row->addWidget(Edit12, 1);
    row->addWidget(Label22);
    page->addLayout(row);
    SearchAction = new QAction(QStringLiteral("Search Stored Summaries"), this);
    SearchAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    SearchAction->setShortcutContext(Qt::WindowShortcut);
    addAction(SearchAction);
}

void TForm1::CreateReadingPage() {
    TabSheet1 = Named(new QWidget, "TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral(" Reading Articles "));
    auto* page = NewPageLayout(TabSheet1);
    const QFont headerFont = FontOf("Tahoma", 7);
    const QFont buttonFont = FontOf("Franklin Gothic Medium", 9);

    Label10 = NewLabel("Label10", QStringLiteral("Article Header"), TabSheet1);
    Label10->setFont(headerFont);
    page->addWidget(Label10);
    Memo3 = NewPane("Memo3", TabSheet1);
    Memo3->setFont(headerFont);
    Memo3->setFixedHeight(kHeaderPaneHeight);
    SetControlTag(Memo3, NoQuestionTag);
    Memo3ViewAction = NewViewAction(Memo3);
    page->addWidget(Memo3);

    auto* row = new QHBoxLayout;
    row->setSpacing(kButtonRowSpacing);
    Button17 = NewButton("Button17", QStringLiteral("&Quote"), TabSheet1);
    Button17->setToolTip(QStringLiteral("Reply Quoting Selected Text\nor Whole Message"));
    Button11 = NewButton("Button11", QStringLiteral("&Launch Text"), TabSheet1);
    BitBtn3 = Named(new QToolButton(TabSheet1), "BitBtn3");
    BitBtn3->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    BitBtn3->setToolTip(QStringLiteral("Previous Article (Ctrl+Up)"));
    BitBtn1 = Named(new QToolButton(TabSheet1), "BitBtn1");
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    BitBtn1->setToolTip(QStringLiteral("Next Article (Ctrl+Down)"));
    const QString scanHintTail = QStringLiteral(
        "\nRight-Click to Search with Same Text Again\nLeft-Click while Scanning to Stop it");
    Button14 = NewButton("Button14", QStringLiteral("&Msg Scan"), TabSheet1);
    Button14->setToolTip(QStringLiteral("Search Each Message Body for Text") + scanHintTail);
    Button18 = NewButton("Button18", QStringLiteral("&Hdr Scan"), TabSheet1);
    Button18->setToolTip(QStringLiteral("Search Each Message Header for Text") + scanHintTail);
    Button13 = NewButton("Button13", QStringLiteral("&Previous in Thread"), TabSheet1);
    Button10 = NewButton("Button10", QStringLiteral("&Next in Thread"), TabSheet1);
    for (QWidget* button : {static_cast<QWidget*>(Button17), static_cast<QWidget*>(Button11),
                            static_cast<QWidget*>(BitBtn3), static_cast<QWidget*>(BitBtn1),
                            static_cast<QWidget*>(Button14), static_cast<QWidget*>(Button18),
                            static_cast<QWidget*>(Button13), static_cast<QWidget*>(Button10)}) {
        button->setFont(buttonFont);
        row->addWidget(button);
    }
    row->addStretch(1);
    page->addLayout(row);

    // Reading on through the unread articles belongs with the body.
    auto* bodyRow = new QHBoxLayout;
    bodyRow->setSpacing(kButtonRowSpacing);
    Label9 = NewLabel("Label9", QStringLiteral("Article Body"), TabSheet1);
    bodyRow->addWidget(Label9, 1);
    Button20 = NewButton("Button20", QStringLiteral("Next &Unread"), TabSheet1);
    Button20->setToolTip(
        QStringLiteral("Next Unread Article, in the Next Subscribed Group when "
                       "this One has None Left\n(Space at the End of an Article)"));
    Button21 = NewButton("Button21", QStringLiteral("Mark Group &Read"), TabSheet1);
    Button21->setToolTip(QStringLiteral("Mark Every Article of this Group Read"));
    for (QPushButton* button : {Button20, Button21}) {
        button->setFont(buttonFont);
        bodyRow->addWidget(button);
    }
    page->addLayout(bodyRow);
    Memo2 = NewPane("Memo2", TabSheet1);
    Memo2->setFont(FontOf("Trebuchet MS", 10));
    SetBackground(Memo2, Qt::cyan);
    SetTextColour(Memo2, QColor(0x00, 0x00, 0x80));
    SetControlTag(Memo2, NoQuestionTag);
    Memo2ViewAction = NewViewAction(Memo2);
    page->addWidget(Memo2, 1);
    auto* attachmentsRow = new QHBoxLayout;
    Label8 = NewLabel("Label8", QStringLiteral("Attachments"), TabSheet1);
    attachmentsRow->addWidget(Label8, 1);
    Button22 = NewButton("Button22", QStringLiteral("Sa&ve Attachments..."), TabSheet1);
    Button22->setFont(buttonFont);
    Button22->setToolTip(QStringLiteral("Save Every File of this Article into a Folder"));
    attachmentsRow->addWidget(Button22);
    page->addLayout(attachmentsRow);
    Memo1 = NewPane("Memo1", TabSheet1);
    Memo1->setFixedHeight(kAttachmentsPaneHeight);
    page->addWidget(Memo1);
}

void TForm1::CreatePostingPage() {
    TabSheet2 = Named(new QWidget, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral(" Posting Articles "));
    auto* page = NewPageLayout(TabSheet2);
    const QFont buttonFont = FontOf("Franklin Gothic Medium", 9);

    Panel3 = NewPanel("Panel3", TabSheet2);
    auto* grid = new QGridLayout(Panel3);
    Label14 = NewLabel("Label14", QStringLiteral("From"), Panel3);
    Edit9 = Named(new QLineEdit(Panel3), "Edit9");
    Label15 = NewLabel("Label15", QStringLiteral("Reply-To Address"), Panel3);
    Edit10 = Named(new QLineEdit(Panel3), "Edit10");
    Label16 = NewLabel("Label16", QStringLiteral("Subject"), Panel3);
    Edit11 = Named(new QLineEdit(Panel3), "Edit11");
    Label23 = NewLabel("Label23", QStringLiteral("Newsgroups"), Panel3);
    Edit13 = Named(new QLineEdit(Panel3), "Edit13");
    Edit13->setToolTip(QStringLiteral("The groups the article goes to, separated by commas"));
    Label23->setBuddy(Edit13);
    Label24 = NewLabel("Label24", QStringLiteral("Followup-To"), Panel3);
    Edit14 = Named(new QLineEdit(Panel3), "Edit14");
    Edit14->setToolTip(QStringLiteral("Where replies go, when not to Newsgroups: groups "
                                      "separated by commas, or poster for replies by mail"));
    Label24->setBuddy(Edit14);
    Label25 = NewLabel("Label25", QStringLiteral("Signature file"), Panel3);
    Edit15 = Named(new QLineEdit(QString::fromLatin1(kDefaultSignatureFile), Panel3), "Edit15");
    Edit15->setToolTip(QStringLiteral("Its text goes under a new post or a quote, after a "
                                      "\"-- \" line; empty for none"));
    Label25->setBuddy(Edit15);
    Button12 = NewButton("Button12", QStringLiteral("Post New Thread"), Panel3);
    Button7 = NewButton("Button7", QStringLiteral("Reply to Thread"), Panel3);
    Button15 = NewButton("Button15", QStringLiteral("&Indent with >"), Panel3);
    Button16 = NewButton("Button16", QStringLiteral("Si&gn Message"), Panel3);
    for (QPushButton* button : {Button12, Button7, Button15, Button16}) {
        button->setFont(buttonFont);
    }
    grid->addWidget(Label14, 0, 0);
    grid->addWidget(Edit9, 0, 1);
    grid->addWidget(Button12, 0, 2);
    grid->addWidget(Button7, 0, 3);
    grid->addWidget(Label15, 1, 0);
    grid->addWidget(Edit10, 1, 1);
    grid->addWidget(Button15, 1, 2);
    grid->addWidget(Button16, 1, 3);
    grid->addWidget(Label16, 2, 0);
    grid->addWidget(Edit11, 2, 1, 1, 3);
    grid->addWidget(Label23, 3, 0);
    grid->addWidget(Edit13, 3, 1, 1, 3);
    grid->addWidget(Label24, 4, 0);
    grid->addWidget(Edit14, 4, 1, 1, 3);
    grid->addWidget(Label25, 5, 0);
    grid->addWidget(Edit15, 5, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    page->addWidget(Panel3);

    Label12 = NewLabel("Label12", QStringLiteral("Article Body"), TabSheet2);
    page->addWidget(Label12);
    Memo5 = Named(new QPlainTextEdit(TabSheet2), "Memo5");
    Memo5->setFont(FontOf("Trebuchet MS", 10));
    SetTextColour(Memo5, QColor(0x80, 0x00, 0x00));
    Memo5->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    page->addWidget(Memo5, 1);
    Label11 = NewLabel("Label11", QStringLiteral("Attachments"), TabSheet2);
    page->addWidget(Label11);

    Panel2 = NewPanel("Panel2", TabSheet2);
    auto* bottom = new QHBoxLayout(Panel2);
    ListBox2 = Named(new QListWidget(Panel2), "ListBox2");
    ListBox2->setMaximumHeight(kHeaderPaneHeight);
    bottom->addWidget(ListBox2, 1);
    Panel5 = NewPanel("Panel5", Panel2);
    auto* buttons = new QVBoxLayout(Panel5);
    Button5 = NewButton("Button5", QStringLiteral("Add"), Panel5);
    Button6 = NewButton("Button6", QStringLiteral("Remove"), Panel5);
    buttons->addWidget(Button5);
    buttons->addWidget(Button6);
    bottom->addWidget(Panel5);
    page->addWidget(Panel2);
}

void TForm1::CreateStatusBar() {
    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    statusPanel_ = Named(new QLabel(StatusBar1), "StatusPanel");
    StatusBar1->addWidget(statusPanel_, 1);
    encryptionPanel_ = Named(new QLabel(StatusBar1), "EncryptionPanel");
    StatusBar1->addPermanentWidget(encryptionPanel_);
    ProgressBar1 = Named(new QProgressBar(StatusBar1), "ProgressBar1");
    ProgressBar1->setVisible(false);
    StatusBar1->addPermanentWidget(ProgressBar1);
    setStatusBar(StatusBar1);
}

void TForm1::CreateNonVisual() {
    QRNNTP1 = Named(new TQRNNTP(this), "QRNNTP1");
    QRNNTP1->Port = 119;
    QRNNTP1->ReportLevel = 0;
    QRNNTP1->CacheMode = TCacheMode::cmRemote;
    QRNNTP1->ParseAttachments = false;
    QRNNTP1->PostRecord.SetPrAppName(QByteArrayLiteral("ZK News Reader"));

    Timer1 = Named(new QTimer(this), "Timer1");
    Timer1->setInterval(kStartUpDelay);
}
