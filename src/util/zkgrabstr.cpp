#include "util/zkgrabstr.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace {

constexpr int kWidth = 480;
constexpr int kInitialHeight = 101;
// The dialog's only height: it can be resized in width only.
constexpr int kHeight = 139;
// The entries are this much narrower than the dialog, leaving room for the folder button.
constexpr int kEntryMargin = 30;
constexpr int kEntryLeft = 3;
constexpr int kEntryTop = 30;
constexpr int kEntryHeight = 24;
constexpr int kButtonSize = 25;
constexpr int kHistoryLines = 20;
constexpr qsizetype kLongestRemembered = 4095;

const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kSilver(0xC0, 0xC0, 0xC0);

void SetColours(QWidget* widget, const QColor& text, const QColor& background) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    if (background.isValid()) {
        palette.setColor(QPalette::Window, background);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

} // namespace

Tzkgrabstr::Tzkgrabstr(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Label1(new QLabel(QStringLiteral("Label1"), this)), Edit1(new QComboBox(this)),
      Edit2(new QLineEdit(this)), Label2(new QLabel(QStringLiteral("Label2"), this)),
      BitBtn1(new QPushButton(tr("OK"), this)), BitBtn2(new QPushButton(tr("Cancel"), this)),
      xbtn(new QToolButton(this)) {
    setObjectName(QStringLiteral("zkgrabstr"));
    setWindowTitle(QStringLiteral("zkgrabstr"));

    Label1->setFont(QFont(QStringLiteral("Georgia"), 9));
    SetColours(Label1, kMaroon, kAqua);

    Edit1->setEditable(true);
    Edit1->setInsertPolicy(QComboBox::NoInsert);
    Edit1->setMaxVisibleItems(kHistoryLines);
    // The answer stays as typed: an entry differing from a history item only in letter case
    // must not be replaced by that item when editing ends.
    Edit1->completer()->setCaseSensitivity(Qt::CaseSensitive);
    Edit1->setFont(QFont(QStringLiteral("Arial"), 9));
    SetColours(Edit1, kNavy, QColor());
    Edit1->view()->installEventFilter(this);

    Edit2->setEchoMode(QLineEdit::Password);
    Edit2->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    Edit2->hide();

    Label2->setWordWrap(true);
    Label2->setFont(QFont(QStringLiteral("Tahoma"), 8));
    SetColours(Label2, kMaroon, kSilver);
    Label2->hide();

    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    xbtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    xbtn->setToolTip(QStringLiteral("Navigate To Directory"));
    xbtn->hide();
    connect(xbtn, &QToolButton::clicked, this, &Tzkgrabstr::xbtnClick);

    setTabOrder(xbtn, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, Edit2);
    setTabOrder(Edit2, Edit1);

    setMinimumWidth(kWidth / 2);
    setFixedHeight(kHeight);
    resize(kWidth, kInitialHeight);
}

bool Tzkgrabstr::PromptFor(const QString& caption, const QString& prompt, QString& value) {
    if (isVisible()) {
        bool confirmed = false;
        const QString entry =
            QInputDialog::getText(this, caption, prompt, QLineEdit::Normal, value, &confirmed);
        if (confirmed) {
            value = entry;
        }
        return confirmed;
    }
    setWindowTitle(caption);
    Label1->setText(prompt);
    Remember(value);
    Edit1->setEditText(value);
    if (exec() != QDialog::Accepted) {
        return false;
    }
    value = Edit1->currentText();
    Remember(value);
    return true;
}

void Tzkgrabstr::Remember(const QString& text) {
    if (text.isEmpty() || text.size() > kLongestRemembered ||
        Edit1->findText(text, Qt::MatchFixedString) >= 0) {
        return;
    }
    // Inserting may move the current item; the entry being edited stays as it is.
    const QString editing = Edit1->currentText();
    Edit1->insertItem(0, text);
    Edit1->setEditText(editing);
}

void Tzkgrabstr::done(int result) {
    xbtn->hide();
    QDialog::done(result);
}

void Tzkgrabstr::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void Tzkgrabstr::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

bool Tzkgrabstr::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1->view() && event->type() == QEvent::KeyPress) {
        return Edit1KeyDown(static_cast<QKeyEvent*>(event));
    }
    return QDialog::eventFilter(watched, event);
}

void Tzkgrabstr::FormShow() {
    if (Edit1->isVisibleTo(this)) {
        Edit1->setFocus();
        Edit1->lineEdit()->selectAll();
    } else if (Edit2->isVisibleTo(this)) {
        Edit2->setFocus();
        Edit2->selectAll();
    }
}

void Tzkgrabstr::FormResize() {
    const int w = width();
    const int entryWidth = w - kEntryMargin;
    Label1->setGeometry(kEntryLeft, 5, entryWidth, 20);
    Edit1->setGeometry(kEntryLeft, kEntryTop, entryWidth, kEntryHeight);
    Edit2->setGeometry(kEntryLeft, kEntryTop, entryWidth, kEntryHeight);
    xbtn->setGeometry(kEntryLeft + entryWidth + 1, kEntryTop - 1, kButtonSize, kButtonSize);
    Label2->setGeometry(kEntryLeft, 58, w - 2 * kEntryLeft, 36);
    BitBtn1->setGeometry(w / 2 - 85, 100, 80, 30);
    BitBtn2->setGeometry(w / 2 + 5, 100, 80, 30);
}

// With the drop-down open, Delete removes the highlighted answer from the history; with it
// closed the key reaches the entry and edits the text as usual.
bool Tzkgrabstr::Edit1KeyDown(QKeyEvent* event) {
    if (event->key() != Qt::Key_Delete || !Edit1->view()->isVisible()) {
        return false;
    }
    const int row = Edit1->view()->currentIndex().row();
    if (row >= 0) {
        const QString editing = Edit1->currentText();
        Edit1->removeItem(row);
        Edit1->setEditText(editing);
    }
    return true;
}

void Tzkgrabstr::xbtnClick() {
    const QString entry = Edit1->currentText();
    const QString start =
        !entry.isEmpty() && QFileInfo(entry).isDir() ? entry : QDir::currentPath();
    QFileDialog browser(
        this, QGuiApplication::applicationDisplayName() + QStringLiteral("\nChoose a Directory :-"),
        start);
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    if (browser.exec() == QDialog::Accepted && !browser.selectedFiles().isEmpty()) {
        Edit1->setEditText(browser.selectedFiles().constFirst());
    }
}
