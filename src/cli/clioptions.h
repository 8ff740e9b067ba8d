#pragma once

#include "net/nwire.h"
#include "nntp/qrnntp.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The command line of zknews-cli:
//   zknews-cli [--host H] [--port P] [--user U] [--password-file F] [--timeout MS] [-v|-vv]
//              [--tls | --starttls] [--ca-file F] [--trust-fingerprint SHA256:HEX]
//              [--store FILE] [--offline] [--no-compress] [--pipeline N] COMMAND ARGUMENTS...
// Connection options come before the command, the command's own options after it. The
// password never comes from the command line, where every user of the machine can read it
// (ps, /proc): it is the first line of the password file, or else the environment variable
// ZKNEWS_PASSWORD.

enum class TCliCommand {
    Help,
    Groups,
    Summary,
    Article,
    Head,
    Body,
    Extract,
    Post,
    Find,
    Encode,
    Decode,
    Subscribe,
    Unsubscribe,
    Subscriptions,
    Sync,
    MarkRead,
    MarkUnread,
    Newsrc,
    Search
};

struct TCliOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 119;
    QByteArray user;
    QByteArray password;
    int timeout = 120000;
    // The connection layer's status report level: 0 silent, 1 reply lines, 8 every step.
    int reportLevel = 0;
    // --tls (port 563 unless --port says otherwise) or --starttls.
    TSecurity security = TSecurity::None;
    // A PEM file of certificates trusted besides the system's CA store.
    QString caFile;
    // The SHA-256 digest of a server certificate trusted although it cannot be verified.
    QByteArray trustedFingerprint;
    // The news store file; empty for the default place (NewsStorePath).
    QString storePath;
    // Nothing goes to the server: the commands answer from the store or fail.
    bool offline = false;
    // COMPRESS DEFLATE (RFC 8054) where the server offers it and has not failed with it before.
    bool compress = true;
    // Requests sent ahead of their replies (TQRNNTP::PipelineDepth).
    int pipelineDepth = TQRNNTP::kDefaultPipelineDepth;

    TCliCommand command = TCliCommand::Help;
    // The command's positional arguments, in order.
    QStringList arguments;
    // summary: the first article number wanted, or every article; neither: the newest 500.
    std::optional<int> from;
    bool all = false;
    // summary: only the articles not marked read.
    bool unreadOnly = false;
    // summary: in thread order, the depth in its thread after each line.
    bool threads = false;
    // sync: the new articles too, not only their summaries.
    bool articles = false;
    // summary, article, head, body: the readable text in UTF-8 instead of the server's bytes.
    bool decoded = false;
    // post: files to attach, in order.
    QStringList attachments;
    // find
    bool wholeWord = false;
    bool caseSensitive = false;
    // search: only in this group (empty: every group), at most this many hits.
    QByteArray searchGroup;
    std::optional<int> limit;
};

struct TParsedCommandLine {
    TCliOptions options;
    // Why the command line cannot be run; empty when it can.
    QString error;
};

// Parses the arguments (without the program's name). environmentPassword is the value of
// ZKNEWS_PASSWORD; a password file named on the command line is read here and wins over it.
TParsedCommandLine ParseCommandLine(const QStringList& arguments,
                                    const QByteArray& environmentPassword);

// What --help prints: every option and every command.
QByteArray HelpText();

// The name of a codec on the command line ("uu", "base64", "qp") as a TQRUUProcessor method;
// -1 for any other name.
int CodecMethodNamed(const QString& name);
