#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The program's one-line prompt: a caption, a prompt label and an editable entry whose
// drop-down list remembers earlier answers (most recent first) for the run of the program.
// Created once at start-up; the controls keep the names the rest of the program knows them by.
class Tzkgrabstr : public QDialog {
    Q_OBJECT
public:
    explicit Tzkgrabstr(QWidget* parent = nullptr);

    // Asks with caption and prompt, value being the proposed answer. True when the user
    // confirmed, value then holding the entry; otherwise value is left as passed in. A prompt
    // asked while this one is open uses a plain input box instead.
    bool PromptFor(const QString& caption, const QString& prompt, QString& value);

    // Puts text at the top of the answer history, unless it is empty, 4096 characters or
    // longer, or already there in any letter case.
    void Remember(const QString& text);

    QLabel* Label1;       // the prompt
    QComboBox* Edit1;     // the entry and its history
    QLineEdit* Edit2;     // a masked entry in the same place, hidden unless a caller shows it
    QLabel* Label2;       // a note below the entry, hidden unless a caller shows it
    QPushButton* BitBtn1; // OK
    QPushButton* BitBtn2; // Cancel
    QToolButton* xbtn;    // folder browser; a caller shows it before each prompt that wants it

    // Closing hides the folder button again.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FormResize();
    bool Edit1KeyDown(QKeyEvent* event);
    void xbtnClick();
};
