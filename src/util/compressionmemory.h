#pragma once

#include <QString>

// The news servers that compression failed with (refused, or a compressed stream that broke),
// kept so that the next connection to them does not ask again. The window and zknews-cli share
// the file: text, one "host port" line per server, in the user's data folder beside the news
// store ($XDG_DATA_HOME/zknews/no-compression.txt), or the file $ZKNEWS_NO_COMPRESSION names
// (the tests point it into a folder of their own). Lines that are no "host port" are passed over.
namespace compressionmemory {

QString FilePath();

// True when compression failed with the server (host without regard to letter case) before.
bool FailedBefore(const QString& host, int port);

// Keeps the server in the file, once. Raises Exception naming the file when it cannot be written.
void Remember(const QString& host, int port);

} // namespace compressionmemory
