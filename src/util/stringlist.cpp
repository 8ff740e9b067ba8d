#include "util/stringlist.h"

#include <algorithm>
#include <cstring>

void TStringList::SetString(int index, const QByteArray& text) {
    items_[index].text = text;
}

void TStringList::SetJoined(int index, QByteArrayView head, QByteArrayView tail) {
    Item& item = items_[index];
    if (mayHoldObjects_ && item.object.isValid()) {
        item.object = QVariant();
    }
    QByteArray& text = item.text;
    // Refilled entry after entry, an item often keeps its length: no resizing then.
    const qsizetype size = head.size() + tail.size();
    if (text.size() != size || !text.isDetached()) {
        text.resize(size);
    }
    char* const to = text.data();
    std::memcpy(to, head.data(), static_cast<size_t>(head.size()));
    std::memcpy(to + head.size(), tail.data(), static_cast<size_t>(tail.size()));
}

int TStringList::Add(const QByteArray& text) {
    if (sorted_) {
        return AddObject(text, QVariant());
    }
    // The common case, kept free of an associated value to copy: lists of header and summary
    // lines grow by the hundred thousand.
    items_.emplaceBack(Item{text, QVariant()});
    return Count() - 1;
}

int TStringList::AddObject(const QByteArray& text, const QVariant& object) {
    mayHoldObjects_ = true;
    if (!sorted_) {
        items_.append({text, object});
        return Count() - 1;
    }
    auto place = std::upper_bound(items_.begin(), items_.end(), text,
                                  [](const QByteArray& t, const Item& item) {
                                      return t.compare(item.text, Qt::CaseInsensitive) < 0;
                                  });
    const int index = static_cast<int>(place - items_.begin());
    items_.insert(index, {text, object});
    return index;
}

void TStringList::Insert(int index, const QByteArray& text) {
    items_.insert(index, {text, QVariant()});
}

int TStringList::IndexOf(const QByteArray& text) const {
    for (int i = 0; i < Count(); ++i) {
        if (items_[i].text == text) {
            return i;
        }
    }
    return -1;
}

void TStringList::SetSorted(bool sorted) {
    sorted_ = sorted;
    if (sorted_) {
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
            return a.text.compare(b.text, Qt::CaseInsensitive) < 0;
        });
    }
}

QByteArray TStringList::Text() const {
    qsizetype size = 0;
    for (const Item& item : items_) {
        size += item.text.size() + 2;
    }
    QByteArray text;
    text.reserve(size);
    for (const Item& item : items_) {
        text += item.text;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(const QByteArray& text) {
    items_.clear();
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0) {
            end = text.size();
        }
        qsizetype lineEnd = end;
        if (lineEnd > start && text[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        AddObject(text.mid(start, lineEnd - start), QVariant());
        start = end + 1;
    }
}
