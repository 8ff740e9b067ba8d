#pragma once

#include <QApplication>
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
