#pragma once

#include "store/articleranges.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// One group's line of a .newsrc file: "name: ranges" for a group subscribed to, "name! ranges"
// for one not, the ranges the articles read.
struct TNewsrcEntry {
    QByteArray name;
    bool subscribed = false;
    TArticleRanges marks;

    bool operator==(const TNewsrcEntry&) const = default;
};

// Reads a whole .newsrc file, as tin and slrn write it: one group a line (LF or CR LF), blanks
// around a line and empty lines ignored. A line that is no group line, or whose ranges are bad,
// fails with an EStoreError that gives the line's number and quotes it; nothing is returned
// then, so that a bad file changes nothing.
QList<TNewsrcEntry> ParseNewsrc(QByteArrayView text);
// The line of one group, without its line end; ParseNewsrc reads it back as it was.
QByteArray NewsrcLine(const TNewsrcEntry& entry);
