#pragma once

// Small helpers shared by the tests of every folder.
#include "util/exception.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// Reproducible random bytes: the same seed gives the same bytes.
inline QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(random.bounded(256));
    }
    return bytes;
}

// The message of the exception of type E that call raises, or "(nothing raised)".
template <typename E, typename F>
QString MessageOf(F&& call) {
    try {
        call();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("(nothing raised)");
}
