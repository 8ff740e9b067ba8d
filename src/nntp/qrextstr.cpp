#include "nntp/qrextstr.h"

bool TExStringList::NameOf(const QByteArray& item, QByteArray& name) {
    const qsizetype colon = item.indexOf(':');
    if (colon < 0) {
        return false;
    }
    name = item.left(colon);
    return true;
}

int TExStringList::IndexOfName(QByteArrayView name) const {
    if (!Sorted()) {
        // Compared where the names lie: a listing looks up three fields of every summary.
        for (int i = 0; i < Count(); ++i) {
            const QByteArray& item = Strings(i);
            const qsizetype colon = item.indexOf(':');
            if (colon >= 0 &&
                qstrnicmp(item.constData(), colon, name.constData(), name.size()) == 0) {
                return i;
            }
        }
        return -1;
    }
    QByteArray itemName;
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        NameOf(Strings(middle), itemName);
        const int order = itemName.compare(name, Qt::CaseInsensitive);
        if (order == 0) {
            return middle;
        }
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return -1;
}

QByteArray TExStringList::GetValue(QByteArrayView name) const {
    const int index = IndexOfName(name);
    if (index < 0) {
        return QByteArray();
    }
    // The value is copied once, without the name and the space after the colon.
    const QByteArray& item = Strings(index);
    qsizetype start = name.size() + 1;
    if (start < item.size() && item[start] == ' ') {
        ++start;
    }
    return item.sliced(start);
}

QByteArray TExStringList::GetUnfoldedValue(const QByteArray& name) const {
    const int index = IndexOfName(name);
    QByteArray value = GetValue(name);
    for (int i = index + 1; index >= 0 && i < Count(); ++i) {
        const QByteArray& line = Strings(i);
        if (!line.startsWith(' ') && !line.startsWith('\t')) {
            break;
        }
        value += line;
    }
    return value;
}

void TExStringList::SetValue(const QByteArray& name, const QByteArray& value) {
    const int index = IndexOfName(name);
    if (value.isEmpty()) {
        if (index >= 0) {
            Delete(index);
        }
        return;
    }
    const QByteArray item = name + ": " + value;
    if (index >= 0) {
        SetString(index, item);
    } else {
        Add(item);
    }
}
