#pragma once

#include "cli/cliconsole.h"

#include <QByteArray>
#include <QStringList>

// The commands of zknews-cli. Each is a thin call into the news client, the codecs or the
// search engine; this unit only turns command lines into those calls and their results into
// output.

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Runs one command line (the arguments after the program's name) against the three streams
// and answers the exit status. environmentPassword is the value of ZKNEWS_PASSWORD. Output
// goes to streams.out; every failure is one line on streams.err. Network commands need a
// running event loop's application object (QCoreApplication), as the client waits in it.
int RunCli(const QStringList& arguments, const QByteArray& environmentPassword,
           const TCliStreams& streams);

// The group list's filter, as the window applies it: the lower-cased name contains the
// lower-cased filter (single-byte letters). An empty filter keeps every name.
bool GroupMatchesFilter(const QByteArray& name, const QByteArray& filter);
