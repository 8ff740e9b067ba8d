#pragma once

#include <QIODevice>

class TNewsStore;
struct TCliOptions;

// zknews-cli search QUERY [--group GROUP] [--limit N]: the stored summaries of the server
// whose Subject or From match QUERY, newest first, one line per hit: the group, the number,
// From and Subject, tab-separated, decoded, in UTF-8. Only the store is read. Text the search
// cannot read fails with an EStoreSearchError that says so.
void PrintSearchHits(TNewsStore& store, qint64 server, const TCliOptions& options, QIODevice& out);
