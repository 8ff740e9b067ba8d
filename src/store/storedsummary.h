#pragma once

#include <QByteArray>
#include <QByteArrayView>

// One summary of a group as the server sent it: the article number and the overview line's
// exact bytes (tab-separated: number, Subject, From, Date, Message-ID, References, Bytes,
// Lines, then optional headers such as "Xref: ..."). The fields are read from the line, so
// nothing the server sent is lost or converted.
struct TStoredSummary {
    qint64 number = 0;
    QByteArray line;

    bool operator==(const TStoredSummary&) const = default;

    QByteArrayView Subject() const { return Field(1); }
    QByteArrayView From() const { return Field(2); }
    QByteArrayView Date() const { return Field(3); }
    QByteArrayView MessageId() const { return Field(4); }
    QByteArrayView References() const { return Field(5); }
    QByteArrayView Bytes() const { return Field(6); }
    QByteArrayView Lines() const { return Field(7); }
    // The value of the "Xref:" field after the fixed ones; empty when the line has none.
    QByteArrayView Xref() const;

    // The index-th tab-separated field (0 is the number); empty past the last one.
    QByteArrayView Field(int index) const { return FieldOf(line, index); }
    // The same of any overview line.
    static QByteArrayView FieldOf(QByteArrayView line, int index);
};
