// Threading of a group's summaries: each input line is an overview line (Message-ID and
// References in its fifth and sixth tab-separated fields), numbered by its place. Whatever
// the References say, every number comes once in a well-formed tree, and the order does not
// depend on the order in which the summaries were added.
#include "fuzzsupport.h"
#include "store/storedsummary.h"
#include "store/threads.h"

#include <QSet>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayList lines = fuzz::Bytes(data, size).split('\n');
    TThreader forward;
    TThreader backward;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QByteArrayView line = lines[index];
        forward.Add(index + 1, TStoredSummary::FieldOf(line, 4), TStoredSummary::FieldOf(line, 5));
        const qsizetype back = lines.size() - 1 - index;
        backward.Add(back + 1, TStoredSummary::FieldOf(lines[back], 4),
                     TStoredSummary::FieldOf(lines[back], 5));
    }
    const QList<TThreadPlace> order = forward.Order();
    fuzz::Require(order.size() == lines.size(), "every summary has a place");
    QSet<qint64> seen;
    int previousDepth = -1;
    for (const TThreadPlace& place : order) {
        fuzz::Require(place.number >= 1 && place.number <= lines.size() &&
                          !seen.contains(place.number),
                      "each number comes once");
        seen.insert(place.number);
        fuzz::Require(place.depth >= 0 && place.depth <= previousDepth + 1,
                      "a reply is at most one deeper than the line before it");
        previousDepth = place.depth;
    }
    fuzz::Require(backward.Order() == order, "the order does not depend on the adding order");
    return 0;
}
