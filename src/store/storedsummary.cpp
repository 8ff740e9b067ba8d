#include "store/storedsummary.h"

namespace {

constexpr int kFixedFields = 8;

} // namespace

QByteArrayView TStoredSummary::FieldOf(QByteArrayView whole, int index) {
    qsizetype start = 0;
    for (int i = 0; i < index; ++i) {
        const qsizetype tab = whole.indexOf('\t', start);
        if (tab < 0) {
            return {};
        }
        start = tab + 1;
    }
    const qsizetype end = whole.indexOf('\t', start);
    return whole.sliced(start, (end < 0 ? whole.size() : end) - start);
}

QByteArrayView TStoredSummary::Xref() const {
    static constexpr QByteArrayView kName = "xref:";
    const QByteArrayView whole(line);
    qsizetype start = 0;
    for (int index = 0;; ++index) {
        const qsizetype tab = whole.indexOf('\t', start);
        const QByteArrayView field = whole.sliced(start, (tab < 0 ? whole.size() : tab) - start);
        if (index >= kFixedFields && field.size() >= kName.size() &&
            field.first(kName.size()).compare(kName, Qt::CaseInsensitive) == 0) {
            return field.sliced(kName.size()).trimmed();
        }
        if (tab < 0) {
            return {};
        }
        start = tab + 1;
    }
}
