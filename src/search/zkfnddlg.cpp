#include "search/zkfnddlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int kWidth = 539;
constexpr int kHistoryLines = 25;
const QString kPrefix = QStringLiteral("zkre:");
// The help panel's pale background.
const QColor kHelpBackground(0xC0, 0xF3, 0xF2);
const QColor kNavy(0x00, 0x00, 0x80);

bool HasPrefix(const QString& text) {
    return text.left(kPrefix.size()).toLower() == kPrefix;
}

// The history is kept sorted without regard to letter case.
int SortedPlace(const QComboBox* box, const QString& text) {
    int place = 0;
    while (place < box->count() &&
           QString::compare(box->itemText(place), text, Qt::CaseInsensitive) <= 0) {
        ++place;
    }
    return place;
}

} // namespace

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
    auto* columns = new QHBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        buttons_->addButton(button, i);
        columns->addWidget(button);
    }
    connect(buttons_, &QButtonGroup::idClicked, this, &TRadioGroup::Click);
}

int TRadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons_->button(index)) {
        button->setChecked(true);
    }
}

Tzkfind::Tzkfind(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("zkfind"));
    setWindowTitle(QStringLiteral("Find :-"));
    setFont(QFont(QStringLiteral("Arial"), 8));
    CreateControls();
    ConnectHandlers();
    setFixedSize(kWidth, kCollapsedHeight);
}

void Tzkfind::CreateControls() {
    Label1 = new QLabel(QStringLiteral("Text to Find :-"), this);
    Label1->setGeometry(8, 8, 200, 16);

    fndtxt = new QComboBox(this);
    fndtxt->setEditable(true);
    fndtxt->setInsertPolicy(QComboBox::NoInsert);
    fndtxt->setMaxVisibleItems(kHistoryLines);
    // Letter case matters to a search: an entry differing from a history item only in case
    // must not be replaced by that item when editing ends.
    fndtxt->completer()->setCaseSensitivity(Qt::CaseSensitive);
    fndtxt->setGeometry(8, 26, 420, 24);

    mtchcase = new QCheckBox(QStringLiteral("Match &Case"), this);
    mtchcase->setGeometry(8, 56, 160, 18);
    mtchwhwrd = new QCheckBox(QStringLiteral("Match &Whole Word"), this);
    mtchwhwrd->setGeometry(8, 76, 160, 18);
    regexp = new QCheckBox(QStringLiteral("&Regular Expression"), this);
    regexp->setGeometry(8, 96, 160, 18);
    regexp->setToolTip(QStringLiteral(
        "Toggles the find text prefix 'zkre:'\nwhich denotes a regular expression search"));

    dirgrp = new TRadioGroup(QStringLiteral("Direction :-"),
                             {QStringLiteral("Up"), QStringLiteral("Down")}, this);
    dirgrp->setGeometry(190, 54, 170, 50);
    dirgrp->SetItemIndex(1);
    dirgrp->hide();

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setGeometry(440, 24, 90, 28);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setGeometry(440, 58, 90, 28);

    Label2 = new QLabel(QStringLiteral("Regular Expression Syntax :-"), this);
    Label2->setGeometry(8, 124, 300, 16);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    QPalette navy = Label2->palette();
    navy.setColor(QPalette::WindowText, kNavy);
    Label2->setPalette(navy);

    Memox = new QPlainTextEdit(this);
    Memox->setGeometry(8, 142, kWidth - 16, kExpandedHeight - 150);
    Memox->setReadOnly(true);
    Memox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memox->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette pale = Memox->palette();
    pale.setColor(QPalette::Base, kHelpBackground);
    Memox->setPalette(pale);
    Memox->setTabStopDistance(
        Memox->fontMetrics().horizontalAdvance(QStringLiteral("(cat|dog|kid)nap ")));
    Memox->setPlainText(RegexHelpText());

    setTabOrder(fndtxt, mtchcase);
    setTabOrder(mtchcase, mtchwhwrd);
    setTabOrder(mtchwhwrd, regexp);
    setTabOrder(regexp, dirgrp);
    setTabOrder(dirgrp, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, Memox);
}

void Tzkfind::ConnectHandlers() {
    connect(fndtxt, &QComboBox::editTextChanged, this, &Tzkfind::fndtxtChange);
    // Toggled fires for changes made by code as well as by the user, and only on real changes.
    connect(regexp, &QCheckBox::toggled, this, &Tzkfind::regexpClick);
    connect(mtchwhwrd, &QCheckBox::toggled, this, &Tzkfind::mtchwhwrdClick);
    connect(dirgrp, &TRadioGroup::Click, this, &Tzkfind::dirgrpClick);
    connect(BitBtn1, &QPushButton::clicked, this, &Tzkfind::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void Tzkfind::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void Tzkfind::FormShow() {
    fndtxt->setFocus();
    fndtxtChange();
}

void Tzkfind::fndtxtChange() {
    regexp->setChecked(HasPrefix(fndtxt->currentText()));
}

void Tzkfind::regexpClick() {
    const QString text = fndtxt->currentText();
    if (regexp->isChecked() && !HasPrefix(text)) {
        fndtxt->setEditText(kPrefix + text);
        mtchwhwrd->setChecked(false);
    } else if (!regexp->isChecked() && HasPrefix(text)) {
        fndtxt->setEditText(text.mid(kPrefix.size()));
    }
    setFixedHeight(regexp->isChecked() ? kExpandedHeight : kCollapsedHeight);
}

void Tzkfind::mtchwhwrdClick() {
    if (mtchwhwrd->isChecked()) {
        regexp->setChecked(false);
    }
}

void Tzkfind::dirgrpClick() {
    if (isVisible()) {
        fndtxt->setFocus();
    }
}

void Tzkfind::BitBtn1Click() {
    const QString text = fndtxt->currentText();
    if (text.isEmpty()) {
        return;
    }
    if (fndtxt->findText(text, Qt::MatchFixedString) < 0) {
        fndtxt->insertItem(SortedPlace(fndtxt, text), text);
        // Inserting may make another item current; the find text stays what was confirmed.
        fndtxt->setEditText(text);
    }
    accept();
}

QString RegexHelpText() {
    return QStringLiteral(
        "Time Savers\n"
        " \\w\ta \"word\" character: a letter, a digit or \"_\"\n"
        " \\W\ta character that is not a \"word\" character\n"
        " \\s\ta white-space character: blank, tab, form feed, line end\n"
        " \\S\ta character that is not white space\n"
        " \\d\ta digit 0 to 9\n"
        " \\D\ta character that is not a digit\n"
        " .\tany character except a line end\n"
        "=================================\n"
        "Pattern Repeat Specifiers\n"
        " *\tMatch 0 or more times (equivalent to {0,})\n"
        " +\tMatch 1 or more times (equivalent to {1,})\n"
        " ?\tMatch 0 or 1 times (equivalent to {0,1})\n"
        " {n}\tMatch exactly n times\n"
        " {n,}\tMatch at least n times\n"
        " {n,m}\tMatch at least n but not more than m times\n"
        "A ? after a repeat makes it take as many characters as possible\n"
        "instead of the default of as few as possible; (?-U) at the start\n"
        "does that for every repeat of the pattern.\n"
        "=================================\n"
        "Special Characters\n"
        " \\\tescape: the next character stands for itself, e.g. \\. \\\\ \\$ \\^ \\|\n"
        " \\t\ttab\n"
        " \\f\tform feed\n"
        " \\r\tcarriage return\n"
        " \\n\tline feed (new line)\n"
        " \\xHH\tthe character with the hexadecimal code HH\n"
        " ^\tstart of a line\n"
        " $\tend of a line\n"
        " \\b\ta word boundary\n"
        " \\B\tanywhere but a word boundary\n"
        " \\A\tstart of the text\n"
        " \\Z\tend of the text, or before a line end that ends it\n"
        " \\z\tend of the text\n"
        " |\teither the expression on the left or the one on the right\n"
        " ()\tgroups an expression: (ab)+ repeats ab\n"
        " []\tany one of the characters inside the brackets\n"
        " [^]\tany one character that is not inside the brackets\n"
        "=================================\n"
        "Examples\n"
        " E-mail Address Validator\n"
        " ^[\\w.'%+-]+@([\\w-]+\\.)+[A-Za-z]{2,4}$\n"
        " UK Postcode Validator\n"
        " ^[A-Za-z]{1,2}\\d{1,2}[A-Za-z]? \\d[A-Za-z]{2}$\n"
        " [abc]\ta, b or c\n"
        " [^abc]\tany character except a, b and c\n"
        " [0-3]\t0, 1, 2 or 3\n"
        " [03-]\t0, 3 or -\n"
        " [aeiou]{5}\tfive vowels in a row\n"
        " (cat|dog|kid)nap\tcatnap, dognap or kidnap\n"
        " \\w\tis [A-Za-z0-9_]\n"
        " \\W\tis [^A-Za-z0-9_]\n"
        " \\s\tis [ \\t\\f\\r\\n]\n"
        " \\S\tis [^ \\t\\f\\r\\n]\n"
        " \\d\tis [0-9]\n"
        " \\D\tis [^0-9]\n"
        "=================================\n"
        "Matching is ungreedy by default: every repeat takes as few characters\n"
        "as it can. Prefix an expression with (?-U) to get the longest match.\n"
        "The address jo.bloggs@example.com tested against the validator above\n"
        "without its ^ and $:\n"
        " zkre:[\\w.'%+-]+@([\\w-]+\\.)+[A-Za-z]{2,4}\n"
        "   finds jo.bloggs@example.co\n"
        " zkre:(?-U)[\\w.'%+-]+@([\\w-]+\\.)+[A-Za-z]{2,4}\n"
        "   finds jo.bloggs@example.com\n"
        "=================================\n"
        "Flags can appear anywhere in a pattern and act from that point on:\n"
        " (?i)\tturn on case insensitivity (usually the default)\n"
        " (?-i)\tturn off case insensitivity\n"
        " (?m)\t^ and $ also match around every line end (default)\n"
        " (?-m)\t^ and $ match only at the start and end of the text\n"
        " (?s)\tthe dot matches line ends too\n"
        " (?-s)\tthe dot does not match line ends (default)\n"
        " (?x)\tblanks and # comments in the pattern are ignored\n"
        " (?-x)\tblanks in the pattern count (default)\n"
        " (?U)\tmatch a minimum amount of characters (default)\n"
        " (?-U)\tmatch a maximum amount of characters\n");
}
