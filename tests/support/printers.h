#pragma once

// Readable test failure messages for Qt's string and time types.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"';
    for (const char c : bytes) {
        switch (c) {
        case '\r': *out << "\\r"; break;
        case '\n': *out << "\\n"; break;
        case '\t': *out << "\\t"; break;
        case '\0': *out << "\\0"; break;
        default: *out << c;
        }
    }
    *out << '"';
}

inline void PrintTo(const QString& text, std::ostream* out) {
    PrintTo(text.toUtf8(), out);
}

inline void PrintTo(const QList<QByteArray>& list, std::ostream* out) {
    *out << '{';
    for (const QByteArray& item : list) {
        PrintTo(item, out);
        *out << ", ";
    }
    *out << '}';
}

inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '{';
    for (const QString& item : list) {
        PrintTo(item, out);
        *out << ", ";
    }
    *out << '}';
}

inline void PrintTo(const QDateTime& time, std::ostream* out) {
    PrintTo(time.toString(Qt::ISODate), out);
}
