#pragma once

#include "util/stringlist.h"

// A list of header lines ("Name: value") with access by name. Names are the text before the
// first colon and compare without regard to case; an item without a colon has no name.
class TExStringList : public TStringList {
public:
    // Index of the first item with that name, or -1. A sorted list is searched by halves.
    int IndexOfName(QByteArrayView name) const;
    // The value after "Name:" with one leading space removed; empty when there is no such item.
    QByteArray GetValue(QByteArrayView name) const;
    // As GetValue, with the continuation lines that follow the item (those beginning with a
    // blank, RFC 5322 section 2.2.3) joined to it: the field as one line.
    QByteArray GetUnfoldedValue(const QByteArray& name) const;
    // Replaces the named item, or appends "Name: value"; an empty value deletes the item.
    void SetValue(const QByteArray& name, const QByteArray& value);

    // The name of an item: the text before its first colon, or nothing.
    static bool NameOf(const QByteArray& item, QByteArray& name);
};
