#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// A titled group of radio buttons laid out in columns, one of them selected by index.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    // The selected item's index, -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);

signals:
    // The user clicked an item.
    void Click();

private:
    QButtonGroup* buttons_;
};

// The find dialog: the find text with its history, and the options match case, whole word,
// regular expression and direction. It searches nothing itself: the window reads its controls
// after OK. Created once; the controls keep their state from one use to the next. The find
// text and the regular-expression box are kept in step (the box shows the prefix "zkre:"), and
// a help panel on the expression syntax unfolds while the box is checked.
class Tzkfind : public QDialog {
    Q_OBJECT
public:
    explicit Tzkfind(QWidget* parent = nullptr);

    static constexpr int kCollapsedHeight = 121;
    static constexpr int kExpandedHeight = 430;

    QLabel* Label1;
    QComboBox* fndtxt;    // the find text, "zkre:" in front of a regular expression
    QCheckBox* mtchcase;  // case sensitive
    QCheckBox* mtchwhwrd; // whole word
    QCheckBox* regexp;    // regular expression: shows and toggles the prefix
    TRadioGroup* dirgrp;  // "Up" (0) or "Down" (1); hidden until the window shows it
    QPushButton* BitBtn1; // OK
    QPushButton* BitBtn2; // Cancel
    QLabel* Label2;
    QPlainTextEdit* Memox; // the regular-expression help

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    void FormShow();
    void fndtxtChange();
    void regexpClick();
    void mtchwhwrdClick();
    void dirgrpClick();
    void BitBtn1Click();
};

// The regular-expression help shown in the find dialog.
QString RegexHelpText();
