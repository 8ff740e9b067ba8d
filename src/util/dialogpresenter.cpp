#include "util/dialogpresenter.h"

#include "util/zkgrabstr.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Message texts carry CR LF line ends; a label breaks at LF alone.
QString DisplayText(const QString& text) {
    QString display = text;
    return display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString Caption() {
    return QGuiApplication::applicationDisplayName();
}

QWidget* MainWindow() {
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

} // namespace

void BringAppToFront() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            widget->raise();
        }
    }
    if (QWidget* main = MainWindow()) {
        main->activateWindow();
    }
}

void TDialogPresenter::ShowInfo(const QString& text) {
    BringAppToFront();
    QMessageBox box(QMessageBox::Information, Caption(), DisplayText(text), QMessageBox::Ok,
                    MainWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool TDialogPresenter::Confirm(const QString& text, TConfirmButtons buttons) {
    BringAppToFront();
    const bool okCancel = buttons == TConfirmButtons::OkCancel;
    const QMessageBox::StandardButton agree = okCancel ? QMessageBox::Ok : QMessageBox::Yes;
    const QMessageBox::StandardButton decline = okCancel ? QMessageBox::Cancel : QMessageBox::No;
    QMessageBox box(okCancel ? QMessageBox::Information : QMessageBox::Question, Caption(),
                    DisplayText(text), agree | decline, MainWindow());
    box.setTextFormat(Qt::PlainText);
    // The second button is the default, so that a hasty Enter declines.
    box.setDefaultButton(decline);
    box.setEscapeButton(decline);
    return box.exec() == agree;
}

bool TDialogPresenter::PromptFor(const QString& caption, const QString& prompt, QString& value) {
    return prompt_.PromptFor(caption, prompt, value);
}
