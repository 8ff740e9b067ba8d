#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs action on the next modal dialog to open (one other than outer), from inside its event
// loop, so that a test can answer a dialog the code under test shows with exec(). The test
// fails by its own time-out if no dialog ever opens.
template <typename Dialog>
void WhenModal(std::function<void(Dialog*)> action, QWidget* outer = nullptr) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action, outer] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<Dialog*>(modal);
        if (dialog == nullptr || modal == outer || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        action(dialog);
    });
    poll->start();
}

// Answers the next file dialog with path, typed into its name field as a person types it (a
// selection would wait for the folder to be read), and accepts it.
inline void AnswerFileDialog(const QString& path) {
    WhenModal<QFileDialog>([path](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}
