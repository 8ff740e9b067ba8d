#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

// Processes events until the condition holds or the time runs out; true when it holds. The
// default limit only ends a wait for an event that never comes: it is wide because a process
// started on a busy machine may take seconds to run, and a wait that succeeds ends at once.
inline bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 30000) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
