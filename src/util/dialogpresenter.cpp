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

// A question box with two buttons; true when agree was pressed.
bool Ask(QMessageBox::Icon icon, const QString& caption, const QString& text,
         QMessageBox::StandardButton agree, QMessageBox::StandardButton decline) {
    BringAppToFront();
    QMessageBox box(icon, caption, DisplayText(text), agree | decline, MainWindow());
    box.setTextFormat(Qt::PlainText);
    // The second button is the default, so that a hasty Enter declines.
    box.setDefaultButton(decline);
    box.setEscapeButton(decline);
    return box.exec() == agree;
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
    if (buttons == TConfirmButtons::OkCancel) {
        return Ask(QMessageBox::Information, Caption(), text, QMessageBox::Ok, QMessageBox::Cancel);
    }
    return Ask(QMessageBox::Question, Caption(), text, QMessageBox::Yes, QMessageBox::No);
}

bool TDialogPresenter::ConfirmWarning(const QString& caption, const QString& text) {
    return Ask(QMessageBox::Warning, caption, text, QMessageBox::Yes, QMessageBox::No);
}

bool TDialogPresenter::PromptFor(const QString& caption, const QString& prompt, QString& value) {
    return prompt_.PromptFor(caption, prompt, value);
}

TCertificateAnswer TDialogPresenter::AskAboutCertificate(const TCertificateQuestion& question) {
    BringAppToFront();
    const QString caption = question.changed ? QStringLiteral("Certificate changed")
                                             : QStringLiteral("Certificate not trusted");
    QMessageBox box(QMessageBox::Warning, caption, DisplayText(CertificateQuestionText(question)),
                    QMessageBox::NoButton, MainWindow());
    box.setTextFormat(Qt::PlainText);
    QPushButton* once = box.addButton(QStringLiteral("Connect this once"), QMessageBox::AcceptRole);
    // Kept for the host and the port: the same host on another port is asked about again.
    QPushButton* always = box.addButton(
        QStringLiteral("Always trust this certificate for this server (host and port)"),
        QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Only a deliberate choice connects: Enter and Escape cancel.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == once) {
        return TCertificateAnswer::ConnectOnce;
    }
    if (box.clickedButton() == always) {
        return TCertificateAnswer::AlwaysTrust;
    }
    return TCertificateAnswer::Cancel;
}
