#pragma once

// Small helpers shared by the tests of every folder.
#include "util/exception.h"
#include "util/stringlist.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QRandomGenerator>
#include <QString>
#include <functional>

// A stream-to-stream codec: the free functions and TQRUUProcessor's QP methods.
using StreamCodec = std::function<void(QIODevice& source, QIODevice& destination)>;

// Runs a codec from a memory stream at position 0 into an empty memory stream.
inline QByteArray Convert(const StreamCodec& codec, const QByteArray& input) {
    QBuffer source;
    source.setData(input);
    source.open(QIODevice::ReadOnly);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    codec(source, destination);
    return destination.data();
}

// The lines of text as a string list reads them.
inline TStringList ListOfLines(const QByteArray& text) {
    TStringList lines;
    lines.SetText(text);
    return lines;
}

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
template <typename E, typename F> QString MessageOf(F&& call) {
    try {
        call();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("(nothing raised)");
}
