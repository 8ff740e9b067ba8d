#include "cli/clisearch.h"

#include "cli/clioptions.h"
#include "store/newsstore.h"

void PrintSearchHits(TNewsStore& store, qint64 server, const TCliOptions& options, QIODevice& out) {
    const QList<TSearchHit> hits =
        store.Search(server, options.arguments[0], options.searchGroup, options.limit.value_or(-1));
    for (const TSearchHit& hit : hits) {
        out.write(hit.group + '\t' + QByteArray::number(hit.number) + '\t' + hit.from.toUtf8() +
                  '\t' + hit.subject.toUtf8() + '\n');
    }
}
