#include "cli/clioptions.h"

#include "codec/qruue.h"
#include "nntp/nntpwire.h"

#include <QFile>
#include <limits>

namespace {

// For the commands that take any number of groups.
constexpr int kAnyNumber = std::numeric_limits<int>::max();

// NNTP over TLS from the first byte (RFC 8143).
constexpr int kTlsPort = 563;

struct TCommandInfo {
    const char* name;
    TCliCommand command;
    int minArguments;
    int maxArguments;
    // The command's own options, each followed by a space.
    const char* options;
    const char* usage;
    const char* description;
};

const TCommandInfo kCommands[] = {
    {"groups", TCliCommand::Groups, 0, 1, "", "groups [FILTER]",
     "The server's groups, one name per line, in the server's order. With\n"
     "FILTER only the names that contain it, letter case ignored."},
    {"summary", TCliCommand::Summary, 1, 1, "--from --all --decoded --new --threads ",
     "summary GROUP [--from N | --all] [--new] [--decoded] [--threads]",
     "One line per article of GROUP, the fields separated by tabs: number,\n"
     "From, Subject, Date, Message-ID, References, Bytes, Lines. From article\n"
     "N on, or every article; by default the newest 500. --new only those not\n"
     "marked read in the store. --decoded prints From and Subject readable,\n"
     "encoded words decoded, in UTF-8. --threads prints the same lines in\n"
     "thread order, as the References of every summary the store holds of\n"
     "GROUP make the threads: each thread in the order of its first article,\n"
     "replies after their parent, siblings in number order; a ninth field is\n"
     "the depth in the thread, 0 for its first article. Online it keeps the\n"
     "listing in the store first."},
    {"article", TCliCommand::Article, 1, 2, "--decoded ",
     "article GROUP N | '<MESSAGE-ID>' [--decoded]",
     "Article N of GROUP as the server holds it: the header, the empty line,\n"
     "the body, every line ending in CR LF, with the leading dots doubled for\n"
     "transmission undone. --decoded prints it readable, in UTF-8 with LF line\n"
     "ends: header fields unfolded with encoded words decoded, the body with\n"
     "its transfer encoding undone and its charset converted. An argument that\n"
     "starts with \"<\" is a Message-ID, in whichever group: from the store\n"
     "when it holds it, else from the server (ARTICLE <id>)."},
    {"head", TCliCommand::Head, 1, 2, "--decoded ", "head GROUP N | '<MESSAGE-ID>' [--decoded]",
     "The header of the article as article prints it, without the empty line."},
    {"body", TCliCommand::Body, 1, 2, "--decoded ", "body GROUP N | '<MESSAGE-ID>' [--decoded]",
     "The body of the article, as article prints it."},
    {"extract", TCliCommand::Extract, 3, 3, "", "extract GROUP N DIR",
     "Decodes the attachments of article N (uuencoded and yEnc blocks, MIME\n"
     "parts) into files in the directory DIR, which must exist, and prints their\n"
     "names, one per line. A name already taken in DIR gets a number: zk.bin,\n"
     "zk_1.bin. A part of a multi-part yEnc post is kept in a hidden folder in\n"
     "DIR until the file's other parts come, which standard error says (exit\n"
     "status 0); the part that completes the file writes it whole. A yEnc file\n"
     "whose CRC32 or size does not match, or whose block is cut short, is kept\n"
     "and named on standard error (exit status 1); such a part is not kept."},
    {"post", TCliCommand::Post, 1, 1, "--attach ", "post FILE [--attach PATH ...]",
     "Posts the article in FILE (header lines, an empty line, the body) with\n"
     "each PATH appended as a uuencoded block; prints the server's reply line.\n"
     "A FILE in UTF-8 that is not plain ASCII is declared UTF-8, its header\n"
     "values that are not ASCII written as encoded words."},
    {"find", TCliCommand::Find, 1, 1, "--whole-word --case ", "find TEXT [--whole-word] [--case]",
     "Prints the lines of standard input that contain TEXT, where * stands for\n"
     "any run of characters and ? for exactly one. A TEXT that starts with\n"
     "zkre: is a regular expression (PCRE). Letter case is ignored unless\n"
     "--case is given; --whole-word matches plain texts as whole words only."},
    {"search", TCliCommand::Search, 1, 1, "--group --limit ",
     "search QUERY [--group GROUP] [--limit N]",
     "The summaries in the store whose Subject or From match QUERY, newest\n"
     "first, one line each: the group, the number, From and Subject, separated\n"
     "by tabs, encoded words decoded, in UTF-8. QUERY is read as SQLite's\n"
     "full-text search reads it: words (letter case and accents ignored),\n"
     "\"phrases\", prefix*, AND, OR, NOT, parentheses; subject: or from: before\n"
     "a word looks in that field only; a word with punctuation (c++, an address)\n"
     "is searched as its words. --group searches GROUP only; --limit prints at most N\n"
     "lines. Only the store is read, the summaries it holds of the server of\n"
     "--host and --port; no line is no match (exit status 0)."},
    {"subscribe", TCliCommand::Subscribe, 1, kAnyNumber, "", "subscribe GROUP...",
     "Subscribes to each GROUP in the store (the server is not asked)."},
    {"unsubscribe", TCliCommand::Unsubscribe, 1, kAnyNumber, "", "unsubscribe GROUP...",
     "Ends the subscription to each GROUP; its read marks are kept."},
    {"subscriptions", TCliCommand::Subscriptions, 0, 0, "", "subscriptions",
     "One line per subscribed group, in name order: the name, a tab and the\n"
     "count of articles not marked read (as of the last sync)."},
    {"sync", TCliCommand::Sync, 0, kAnyNumber, "--articles ", "sync [GROUP...] [--articles]",
     "Fetches into the store the summaries of each GROUP (by default every\n"
     "subscribed group) above the highest one stored, and prints one line per\n"
     "group: the name, a tab, the summaries new, a tab, the summaries stored.\n"
     "Those the server has expired are dropped; a group the server numbered\n"
     "anew is fetched again whole. --articles stores the new articles too.\n"
     "A group the server does not have is named on standard error and the\n"
     "others are synced all the same (exit status 1)."},
    {"mark-read", TCliCommand::MarkRead, 1, 2, "", "mark-read GROUP [RANGES]",
     "Marks the articles of RANGES read, as in .newsrc: 1-100,105. Without\n"
     "RANGES every article of GROUP up to the last sync's highest number."},
    {"mark-unread", TCliCommand::MarkUnread, 2, 2, "", "mark-unread GROUP RANGES",
     "Marks the articles of RANGES unread."},
    {"newsrc", TCliCommand::Newsrc, 1, 2, "", "newsrc export [FILE] | newsrc import FILE",
     "Writes the subscriptions and read marks as a .newsrc file (to standard\n"
     "output without FILE) as tin and slrn read it: \"group: ranges\" for a\n"
     "subscribed group, \"group! ranges\" for another; import reads one."},
    {"encode", TCliCommand::Encode, 3, 3, "", "encode uu|base64|qp IN OUT",
     "Encodes the file IN into the file OUT: uuencoded data lines (without the\n"
     "begin and end lines), Base64 lines or quoted-printable text."},
    {"decode", TCliCommand::Decode, 3, 3, "", "decode uu|base64|qp IN OUT",
     "Decodes the file IN into the file OUT; OUT is written only when all of\n"
     "IN decoded."},
};

const TCommandInfo* CommandNamed(const QString& name) {
    for (const TCommandInfo& info : kCommands) {
        if (name == QLatin1String(info.name)) {
            return &info;
        }
    }
    return nullptr;
}

bool Accepts(const TCommandInfo& info, const QString& option) {
    return QString::fromLatin1(info.options).split(u' ').contains(option);
}

std::optional<int> NumberIn(const QString& text) {
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok && number >= 0 ? std::optional<int>(number) : std::nullopt;
}

// The first line of the file, without its line end.
bool ReadPasswordFile(const QString& name, QByteArray& password, QString& error) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot read password file ") + name + QStringLiteral(": ") +
                file.errorString();
        return false;
    }
    const QByteArray content = file.readAll();
    const qsizetype lineEnd = content.indexOf('\n');
    password = lineEnd < 0 ? content : content.left(lineEnd);
    if (password.endsWith('\r')) {
        password.chop(1);
    }
    return true;
}

class TParser {
public:
    TParser(const QStringList& arguments, const QByteArray& environmentPassword)
        : arguments_(arguments), environmentPassword_(environmentPassword) {}

    TParsedCommandLine Parse() {
        if (ParseConnectionOptions() && ParseCommand() && CheckCommand()) {
            ResolvePassword();
        }
        return result_;
    }

private:
    TCliOptions& options() { return result_.options; }

    bool Fail(const QString& error) {
        result_.error = error;
        return false;
    }

    bool TakeValue(const QString& option, QString& value) {
        if (next_ >= arguments_.size()) {
            return Fail(option + QStringLiteral(" needs a value"));
        }
        value = arguments_[next_++];
        return true;
    }

    bool TakeNumber(const QString& option, int& number) {
        QString value;
        if (!TakeValue(option, value)) {
            return false;
        }
        const std::optional<int> parsed = NumberIn(value);
        if (!parsed) {
            return Fail(option + QStringLiteral(" needs a number, not ") + value);
        }
        number = *parsed;
        return true;
    }

    bool ParseConnectionOptions() {
        while (next_ < arguments_.size() && arguments_[next_].startsWith(u'-')) {
            const QString option = arguments_[next_++];
            QString value;
            if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
                options().command = TCliCommand::Help;
                helpAsked_ = true;
                next_ = arguments_.size();
                return true;
            }
            if (option == QLatin1String("--host")) {
                if (!TakeValue(option, options().host)) {
                    return false;
                }
            } else if (option == QLatin1String("--port")) {
                if (!TakeNumber(option, options().port)) {
                    return false;
                }
                portGiven_ = true;
                if (options().port < 1 || options().port > 65535) {
                    return Fail(QStringLiteral("--port needs a port number from 1 to 65535"));
                }
            } else if (option == QLatin1String("--user")) {
                if (!TakeValue(option, value)) {
                    return false;
                }
                options().user = value.toLocal8Bit();
            } else if (option == QLatin1String("--password-file")) {
                if (!TakeValue(option, passwordFile_)) {
                    return false;
                }
            } else if (option == QLatin1String("--timeout")) {
                if (!TakeNumber(option, options().timeout)) {
                    return false;
                }
            } else if (option == QLatin1String("--tls") || option == QLatin1String("--starttls")) {
                if (options().security != TSecurity::None) {
                    return Fail(QStringLiteral("--tls and --starttls exclude each other"));
                }
                options().security =
                    option == QLatin1String("--tls") ? TSecurity::Tls : TSecurity::StartTls;
            } else if (option == QLatin1String("--ca-file")) {
                if (!TakeValue(option, options().caFile)) {
                    return false;
                }
            } else if (option == QLatin1String("--trust-fingerprint")) {
                if (!TakeValue(option, value)) {
                    return false;
                }
                options().trustedFingerprint = certtrust::ParseFingerprint(value.toLatin1());
                if (options().trustedFingerprint.isEmpty()) {
                    return Fail(QStringLiteral("--trust-fingerprint needs SHA256: and the 64 hex "
                                               "digits of a certificate's digest, not ") +
                                value);
                }
            } else if (option == QLatin1String("--store")) {
                if (!TakeValue(option, options().storePath)) {
                    return false;
                }
            } else if (option == QLatin1String("--offline")) {
                options().offline = true;
            } else if (option == QLatin1String("--no-compress")) {
                options().compress = false;
            } else if (option == QLatin1String("--pipeline")) {
                if (!TakeNumber(option, options().pipelineDepth)) {
                    return false;
                }
                if (options().pipelineDepth < 1 ||
                    options().pipelineDepth > TQRNNTP::kMaxPipelineDepth) {
                    return Fail(QStringLiteral("--pipeline needs a number from 1 to %1")
                                    .arg(TQRNNTP::kMaxPipelineDepth));
                }
            } else if (option == QLatin1String("-v")) {
                options().reportLevel = 1;
            } else if (option == QLatin1String("-vv")) {
                options().reportLevel = 8;
            } else if (option == QLatin1String("--password")) {
                return Fail(QStringLiteral("the password is not taken from the command line, where "
                                           "others can read it; use --password-file or "
                                           "ZKNEWS_PASSWORD"));
            } else {
                return Fail(QStringLiteral("unknown option ") + option);
            }
        }
        if (options().security == TSecurity::Tls && !portGiven_) {
            options().port = kTlsPort;
        }
        return true;
    }

    bool ParseCommand() {
        if (next_ >= arguments_.size()) {
            return helpAsked_ || Fail(QStringLiteral("no command given"));
        }
        const QString name = arguments_[next_++];
        info_ = CommandNamed(name);
        if (info_ == nullptr) {
            return Fail(QStringLiteral("unknown command ") + name);
        }
        options().command = info_->command;
        bool optionsEnded = false;
        while (next_ < arguments_.size()) {
            const QString argument = arguments_[next_++];
            if (optionsEnded || !argument.startsWith(QLatin1String("--"))) {
                options().arguments << argument;
            } else if (argument == QLatin1String("--")) {
                optionsEnded = true;
            } else if (argument == QLatin1String("--help")) {
                options().command = TCliCommand::Help;
                return true;
            } else if (!ParseCommandOption(argument)) {
                return false;
            }
        }
        return true;
    }

    bool ParseCommandOption(const QString& option) {
        if (!Accepts(*info_, option)) {
            return Fail(QStringLiteral("%1 does not take the option %2")
                            .arg(QLatin1String(info_->name), option));
        }
        if (option == QLatin1String("--from")) {
            int from = 0;
            if (!TakeNumber(option, from)) {
                return false;
            }
            options().from = from;
        } else if (option == QLatin1String("--all")) {
            options().all = true;
        } else if (option == QLatin1String("--new")) {
            options().unreadOnly = true;
        } else if (option == QLatin1String("--threads")) {
            options().threads = true;
        } else if (option == QLatin1String("--articles")) {
            options().articles = true;
        } else if (option == QLatin1String("--decoded")) {
            options().decoded = true;
        } else if (option == QLatin1String("--attach")) {
            QString path;
            if (!TakeValue(option, path)) {
                return false;
            }
            options().attachments << path;
        } else if (option == QLatin1String("--whole-word")) {
            options().wholeWord = true;
        } else if (option == QLatin1String("--case")) {
            options().caseSensitive = true;
        } else if (option == QLatin1String("--group")) {
            QString group;
            if (!TakeValue(option, group)) {
                return false;
            }
            options().searchGroup = group.toLocal8Bit();
        } else if (option == QLatin1String("--limit")) {
            int limit = 0;
            if (!TakeNumber(option, limit)) {
                return false;
            }
            options().limit = limit;
        }
        return true;
    }

    bool CheckCommand() {
        if (options().command == TCliCommand::Help) {
            return true;
        }
        const QStringList& arguments = options().arguments;
        const QString usage = QStringLiteral("usage: zknews-cli ") + QLatin1String(info_->usage);
        if (arguments.size() < info_->minArguments || arguments.size() > info_->maxArguments) {
            return Fail(usage);
        }
        switch (options().command) {
        case TCliCommand::Summary:
            if (options().all && options().from) {
                return Fail(usage);
            }
            break;
        case TCliCommand::Article:
        case TCliCommand::Head:
        case TCliCommand::Body:
            if (arguments[0].startsWith(u'<')) {
                return arguments.size() == 1 ? CheckMessageId(arguments[0]) : Fail(usage);
            }
            if (arguments.size() != 2) {
                return Fail(usage);
            }
            [[fallthrough]];
        case TCliCommand::Extract:
            if (!NumberIn(arguments[1])) {
                return Fail(QStringLiteral("not an article number: ") + arguments[1]);
            }
            break;
        case TCliCommand::Newsrc:
            if (arguments[0] == QLatin1String("export") ||
                (arguments[0] == QLatin1String("import") && arguments.size() == 2)) {
                break;
            }
            return Fail(usage);
        case TCliCommand::Encode:
        case TCliCommand::Decode:
            if (CodecMethodNamed(arguments[0]) < 0) {
                return Fail(QStringLiteral("unknown codec ") + arguments[0] +
                            QStringLiteral(" (uu, base64 or qp)"));
            }
            break;
        default:
            break;
        }
        return true;
    }

    // Refused here, before any server is asked: a blank or a line end in it would send a
    // second command.
    bool CheckMessageId(const QString& argument) {
        try {
            nntpwire::CheckedMessageId(argument.toUtf8());
        } catch (const Exception& error) {
            return Fail(error.Message());
        }
        return true;
    }

    void ResolvePassword() {
        if (passwordFile_.isEmpty()) {
            options().password = environmentPassword_;
            return;
        }
        QString error;
        if (!ReadPasswordFile(passwordFile_, options().password, error)) {
            Fail(error);
        }
    }

    const QStringList& arguments_;
    const QByteArray environmentPassword_;
    qsizetype next_ = 0;
    QString passwordFile_;
    bool portGiven_ = false;
    bool helpAsked_ = false;
    const TCommandInfo* info_ = nullptr;
    TParsedCommandLine result_;
};

} // namespace

TParsedCommandLine ParseCommandLine(const QStringList& arguments,
                                    const QByteArray& environmentPassword) {
    return TParser(arguments, environmentPassword).Parse();
}

QByteArray HelpText() {
    QByteArray text =
        "usage: zknews-cli [--host H] [--port P] [--user U] [--password-file F]\n"
        "                  [--timeout MS] [-v | -vv] [--tls | --starttls]\n"
        "                  [--ca-file F] [--trust-fingerprint SHA256:HEX]\n"
        "                  [--store FILE] [--offline] [--no-compress] [--pipeline N]\n"
        "                  COMMAND ...\n"
        "\n"
        "Reads and posts news on an NNTP server with the client of ZK News Reader.\n"
        "\n"
        "  --host H            the news server (127.0.0.1)\n"
        "  --port P            its port (119; 563 with --tls)\n"
        "  --user U            the user for a server that asks for a login\n"
        "  --password-file F   the password: the first line of the file F; without this\n"
        "                      option, the environment variable ZKNEWS_PASSWORD. Never on\n"
        "                      the command line, where others can read it.\n"
        "  --timeout MS        how long one network step may take (120000)\n"
        "  -v, -vv             the server's replies (-v) or every step (-vv) on standard\n"
        "                      error; passwords are masked\n"
        "  --tls               TLS from the first byte (NNTPS)\n"
        "  --starttls          STARTTLS before anything else is said; a server that does\n"
        "                      not offer it is not used\n"
        "  --ca-file F         trust the certificates in the PEM file F besides the\n"
        "                      system's CA store (a local CA, or the server's own)\n"
        "  --trust-fingerprint SHA256:HEX\n"
        "                      accept the server certificate with this SHA-256 digest\n"
        "                      even when it cannot be verified\n"
        "  --store FILE        the news store: subscriptions, read marks, summaries and\n"
        "                      articles kept per server (default $ZKNEWS_STORE, else\n"
        "                      $XDG_DATA_HOME/zknews/news.db, ~/.local/share by default)\n"
        "  --offline           send nothing to any server: summary, head, body and\n"
        "                      article answer from the store, what it lacks fails\n"
        "  --no-compress       do not ask the server to compress the connection\n"
        "  --pipeline N        articles and listing ranges asked for ahead of their\n"
        "                      replies, 1 (one at a time) to 64 (16)\n"
        "  --help              this text\n"
        "\n"
        "With --tls or --starttls the server's certificate is checked against the\n"
        "system's CA store and the host name; one that fails ends the command, and\n"
        "the message names its SHA-256 digest.\n"
        "\n"
        "A server that offers COMPRESS DEFLATE (RFC 8054) is asked for it after the\n"
        "login. A server that refused it, or whose compressed data did not inflate,\n"
        "is kept in $XDG_DATA_HOME/zknews/no-compression.txt and not asked again.\n"
        "\n"
        "With --store FILE or $ZKNEWS_STORE set, summary and article keep what they\n"
        "fetch in the store, the bytes as the server sent them. Fetching an article\n"
        "does not mark it read: only mark-read does. A store file that cannot be\n"
        "used fails the commands that need it, naming the file.\n"
        "\n"
        "Commands:\n";
    for (const TCommandInfo& info : kCommands) {
        text += "\n  " + QByteArray(info.usage) + "\n";
        for (const QByteArray& line : QByteArray(info.description).split('\n')) {
            text += "      " + line + "\n";
        }
    }
    text += "\n"
            "Exit status: 0 on success; 1 when the command failed, with the reason on\n"
            "standard error (\"Authentication failed\", \"Invalid Group\", \"Article not\n"
            "Found\", \"Server certificate not trusted: ...\", ...); 2 for a command line\n"
            "that cannot be run.\n";
    return text;
}

int CodecMethodNamed(const QString& name) {
    if (name == QLatin1String("uu")) {
        return uuCode;
    }
    if (name == QLatin1String("base64")) {
        return uuMime;
    }
    if (name == QLatin1String("qp")) {
        return uuQP;
    }
    return -1;
}
