#include "cli/clioptions.h"

#include "clirun.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList Args(std::initializer_list<const char*> words) {
    QStringList list;
    for (const char* word : words) {
        list << QString::fromLatin1(word);
    }
    return list;
}

} // namespace

TEST(CliOptions, ConnectionOptionsComeFirstAndTheCommandsOwnAfterIt) {
    const TParsedCommandLine defaults = ParseCommandLine(Args({"groups"}), {});
    ASSERT_TRUE(defaults.error.isEmpty());
    EXPECT_EQ(defaults.options.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(defaults.options.port, 119);
    EXPECT_EQ(defaults.options.timeout, 120000);
    EXPECT_EQ(defaults.options.reportLevel, 0);

    const TParsedCommandLine parsed = ParseCommandLine(
        Args({"--host", "news.local", "--port", "1119", "--user", "fred", "--timeout", "500", "-vv",
              "--pipeline", "4", "summary", "misc.test", "--from", "40"}),
        {});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.host, QStringLiteral("news.local"));
    EXPECT_EQ(parsed.options.port, 1119);
    EXPECT_EQ(parsed.options.user, "fred");
    EXPECT_EQ(parsed.options.timeout, 500);
    EXPECT_EQ(parsed.options.pipelineDepth, 4);
    EXPECT_EQ(defaults.options.pipelineDepth, 16);
    EXPECT_EQ(parsed.options.reportLevel, 8);
    EXPECT_EQ(parsed.options.command, TCliCommand::Summary);
    EXPECT_EQ(parsed.options.arguments, Args({"misc.test"}));
    EXPECT_EQ(parsed.options.from, 40);

    // After "--" everything is an argument, so find can look for a text that looks like an
    // option; a single dash never starts an option of a command.
    const TParsedCommandLine find = ParseCommandLine(Args({"find", "--case", "--", "--all"}), {});
    EXPECT_TRUE(find.options.caseSensitive);
    EXPECT_EQ(find.options.arguments, Args({"--all"}));
    EXPECT_EQ(ParseCommandLine(Args({"find", "-x"}), {}).options.arguments, Args({"-x"}));

    const TParsedCommandLine post =
        ParseCommandLine(Args({"post", "a.txt", "--attach", "one.bin", "--attach", "two.bin"}), {});
    EXPECT_EQ(post.options.attachments, Args({"one.bin", "two.bin"}));

    const TParsedCommandLine store = ParseCommandLine(
        Args({"--store", "my.db", "--offline", "summary", "g", "--new", "--all", "--threads"}), {});
    ASSERT_TRUE(store.error.isEmpty()) << store.error.toStdString();
    EXPECT_EQ(store.options.storePath, QStringLiteral("my.db"));
    EXPECT_TRUE(store.options.offline);
    EXPECT_TRUE(store.options.unreadOnly);
    EXPECT_TRUE(store.options.threads);
    EXPECT_TRUE(store.options.all);
    EXPECT_TRUE(defaults.options.storePath.isEmpty());
    EXPECT_FALSE(defaults.options.offline);
    const TParsedCommandLine sync = ParseCommandLine(Args({"sync", "a", "b", "--articles"}), {});
    EXPECT_EQ(sync.options.command, TCliCommand::Sync);
    EXPECT_EQ(sync.options.arguments, Args({"a", "b"}));
    EXPECT_TRUE(sync.options.articles);
    const TParsedCommandLine search =
        ParseCommandLine(Args({"search", "a b", "--limit", "20", "--group", "g"}), {});
    EXPECT_EQ(search.options.command, TCliCommand::Search);
    EXPECT_EQ(search.options.arguments, Args({"a b"}));
    EXPECT_EQ(search.options.limit, 20);
    EXPECT_EQ(search.options.searchGroup, "g");
    EXPECT_EQ(defaults.options.limit, std::nullopt);
}

TEST(CliOptions, ThePasswordComesFromItsFileOrTheEnvironmentNeverFromTheCommandLine) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("password"));
    WriteFile(file, "from-file\r\nsecond line\r\n");

    EXPECT_EQ(ParseCommandLine(Args({"groups"}), "from-env").options.password, "from-env");
    const TParsedCommandLine fromFile = ParseCommandLine(
        QStringList{QStringLiteral("--password-file"), file, QStringLiteral("groups")}, "from-env");
    EXPECT_EQ(fromFile.options.password, "from-file");

    const QString missing = dir.filePath(QStringLiteral("missing"));
    EXPECT_TRUE(
        ParseCommandLine(
            QStringList{QStringLiteral("--password-file"), missing, QStringLiteral("groups")}, {})
            .error.startsWith(QStringLiteral("Cannot read password file")));

    const CliResult refused = RunCliWith(Args({"--password", "secret", "groups"}));
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_TRUE(refused.err.contains("--password-file or ZKNEWS_PASSWORD"))
        << refused.err.constData();
    EXPECT_FALSE(refused.err.contains("secret"));
}

TEST(CliOptions, CommandLinesThatCannotRunAreRefusedWithExitStatus2AndOneLine) {
    const QList<QList<const char*>> refused = {
        {},
        {"frob"},
        {"--frob", "groups"},
        {"--port", "70000", "groups"},
        {"--timeout"},
        {"--pipeline", "0", "groups"},
        {"--pipeline", "65", "groups"},
        {"--pipeline", "x", "groups"},
        {"groups", "a", "b"},
        {"summary"},
        {"summary", "g", "--all", "--from", "3"},
        {"summary", "g", "--from", "x"},
        {"article", "g", "seven"},
        {"article", "g", "7", "--all"},
        {"extract", "g", "7"},
        {"encode", "rot13", "in", "out"},
        {"--store"},
        {"subscribe"},
        {"subscriptions", "g"},
        {"sync", "--new"},
        {"summary", "g", "--articles"},
        {"mark-read"},
        {"mark-read", "g", "1-3", "5"},
        {"mark-unread", "g"},
        {"newsrc"},
        {"newsrc", "import"},
        {"newsrc", "export", "a", "b"},
        {"newsrc", "merge", "a"},
        {"search"},
        {"search", "a", "b"},
        {"search", "a", "--limit"},
        {"search", "a", "--limit", "-1"},
        {"search", "a", "--group"},
        {"summary", "g", "--group", "h"},
    };
    for (const QList<const char*>& words : refused) {
        QStringList arguments;
        for (const char* word : words) {
            arguments << QString::fromLatin1(word);
        }
        const CliResult result = RunCliWith(arguments);
        EXPECT_EQ(result.status, kExitUsage) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(result.err.startsWith("zknews-cli: ")) << result.err.constData();
        EXPECT_EQ(result.err.count('\n'), 1) << result.err.constData();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

TEST(CliOptions, HelpDescribesEveryCommand) {
    for (const QStringList& arguments : {Args({"--help"}), Args({"post", "--help"})}) {
        const CliResult help = RunCliWith(arguments);
        EXPECT_EQ(help.status, kExitSuccess);
        EXPECT_TRUE(help.err.isEmpty());
        for (const char* usage : {"groups [FILTER]",
                                  "summary GROUP [--from N | --all]",
                                  "article GROUP N",
                                  "head GROUP N",
                                  "body GROUP N",
                                  "extract GROUP N DIR",
                                  "post FILE [--attach PATH",
                                  "find TEXT [--whole-word] [--case]",
                                  "encode uu|base64|qp IN OUT",
                                  "decode uu|base64|qp IN OUT",
                                  "--password-file F",
                                  "ZKNEWS_PASSWORD",
                                  "-vv",
                                  "--store FILE",
                                  "--offline",
                                  "$ZKNEWS_STORE",
                                  "$XDG_DATA_HOME/zknews/news.db",
                                  "subscribe GROUP...",
                                  "unsubscribe GROUP...",
                                  "subscriptions",
                                  "sync [GROUP...] [--articles]",
                                  "[--new]",
                                  "mark-read GROUP [RANGES]",
                                  "mark-unread GROUP RANGES",
                                  "newsrc export [FILE] | newsrc import FILE",
                                  "does not mark it read",
                                  "search QUERY [--group GROUP] [--limit N]"}) {
            EXPECT_TRUE(help.out.contains(usage)) << usage;
        }
    }
}

TEST(CliOptions, TheSecurityOptionsAndTheirPorts) {
    struct Case {
        std::initializer_list<const char*> words;
        TSecurity security;
        int port;
    };
    const Case cases[] = {
        {{"groups"}, TSecurity::None, 119},
        {{"--tls", "groups"}, TSecurity::Tls, 563},
        {{"--port", "1563", "--tls", "groups"}, TSecurity::Tls, 1563},
        {{"--tls", "--port", "1563", "groups"}, TSecurity::Tls, 1563},
        {{"--starttls", "groups"}, TSecurity::StartTls, 119},
    };
    for (const Case& c : cases) {
        const TParsedCommandLine parsed = ParseCommandLine(Args(c.words), {});
        ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
        EXPECT_EQ(parsed.options.security, c.security);
        EXPECT_EQ(parsed.options.port, c.port);
    }

    const QByteArray digest(32, '\x5a');
    const TParsedCommandLine trusted =
        ParseCommandLine(Args({"--ca-file", "ca.pem", "--trust-fingerprint",
                               ("SHA256:" + digest.toHex(':')).constData(), "groups"}),
                         {});
    ASSERT_TRUE(trusted.error.isEmpty()) << trusted.error.toStdString();
    EXPECT_EQ(trusted.options.caFile, QStringLiteral("ca.pem"));
    EXPECT_EQ(trusted.options.trustedFingerprint, digest);

    EXPECT_EQ(ParseCommandLine(Args({"--tls", "--starttls", "groups"}), {}).error,
              QStringLiteral("--tls and --starttls exclude each other"));
    EXPECT_TRUE(ParseCommandLine(Args({"--trust-fingerprint", "AB:CD", "groups"}), {})
                    .error.startsWith(QStringLiteral("--trust-fingerprint needs SHA256:")));
}
