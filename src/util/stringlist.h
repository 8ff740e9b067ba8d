#pragma once

#include <QByteArray>
#include <QList>
#include <QVariant>

// An ordered list of byte strings, each with an optional associated value (the window keeps
// article numbers there). Its text is every item followed by CR LF, as on the wire.
class TStringList {
public:
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    bool IsEmpty() const { return items_.isEmpty(); }

    const QByteArray& operator[](int index) const { return items_[index].text; }
    const QByteArray& Strings(int index) const { return items_[index].text; }
    void SetString(int index, const QByteArray& text);
    // Sets the text of an item to head followed by tail in the item's own memory when no copy
    // shares it, so that a list refilled for every entry of a long listing allocates nothing.
    // The item's associated value is dropped, as if it had been added anew.
    void SetJoined(int index, QByteArrayView head, QByteArrayView tail);
    const QByteArray& Last() const { return items_.last().text; }

    const QVariant& Objects(int index) const { return items_[index].object; }
    void SetObject(int index, const QVariant& object) {
        mayHoldObjects_ = true;
        items_[index].object = object;
    }

    // Appends (or, in a sorted list, inserts in order) and returns the item's index.
    int Add(const QByteArray& text);
    int AddObject(const QByteArray& text, const QVariant& object);
    void Insert(int index, const QByteArray& text);
    void Delete(int index) { items_.removeAt(index); }
    void Clear() { items_.clear(); }
    // Room for count items without growing, for a list about to be filled with that many.
    void Reserve(int count) { items_.reserve(count); }
    // Keeps the first count items, or adds empty ones up to count.
    void Resize(int count) { items_.resize(count); }
    void Assign(const TStringList& other) {
        items_ = other.items_;
        mayHoldObjects_ = other.mayHoldObjects_;
    }

    // Index of the first item equal to text (case-sensitive), or -1.
    int IndexOf(const QByteArray& text) const;

    // Kept sorted, without regard to case, while set; setting it sorts the items.
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);

    // Every item followed by CR LF.
    QByteArray Text() const;
    // Replaces the items by the lines of text; a line ends at LF, with or without CR before it.
    void SetText(const QByteArray& text);

private:
    struct Item {
        QByteArray text;
        QVariant object;
    };
    QList<Item> items_;
    bool sorted_ = false;
    // False while no item was ever given an associated value, which spares long lists of
    // plain lines the look at each item's.
    bool mayHoldObjects_ = false;
};
