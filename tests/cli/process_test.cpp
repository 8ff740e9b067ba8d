// The built zknews-cli as a process: exit status, standard streams, the environment.
#include "newsserver.h"
#include "testfiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Finished {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Finished RunCommand(const QString& program, const QStringList& arguments,
                    const QByteArray& input = {}, const QByteArray& password = {},
                    const QString& outputFile = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ZKNEWS_PASSWORD"));
    if (!password.isEmpty()) {
        environment.insert(QStringLiteral("ZKNEWS_PASSWORD"), QString::fromLatin1(password));
    }
    process.setProcessEnvironment(environment);
    if (!outputFile.isEmpty()) {
        process.setStandardOutputFile(outputFile);
    }
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted(10000));
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

Finished RunProgram(const QStringList& arguments, const QByteArray& input = {},
                    const QByteArray& password = {}, const QString& outputFile = {}) {
    return RunCommand(QStringLiteral(ZKNEWS_CLI), arguments, input, password, outputFile);
}

} // namespace

TEST(CliProcess, FindReadsStandardInputAndAFullDiskIsAFailure) {
    const QByteArray input = "alpha\nbeta\ngamma\n";
    const Finished found =
        RunProgram({QStringLiteral("find"), QStringLiteral("zkre:^(a|g)")}, input);
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "alpha\ngamma\n");

    const Finished full = RunProgram({QStringLiteral("find"), QStringLiteral("a")}, input, {},
                                     QStringLiteral("/dev/full"));
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(full.err.startsWith("zknews-cli: Cannot write standard output"))
        << full.err.constData();
}

TEST(CliProcess, ThePasswordComesFromTheEnvironmentAndNeverShows) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const QStringList login{QStringLiteral("-vv"),
                            QStringLiteral("--port"),
                            QString::number(NewsServer::kAuthPort),
                            QStringLiteral("--user"),
                            QString::fromLatin1(NewsServer::kUser),
                            QStringLiteral("groups"),
                            QStringLiteral("small")};
    const Finished right = RunProgram(login, {}, NewsServer::kPassword);
    EXPECT_EQ(right.status, 0) << right.err.constData();
    EXPECT_EQ(right.out, QByteArray(NewsServer::kSmallGroup) + "\n");
    EXPECT_TRUE(right.err.contains("281 ")) << right.err.constData();
    EXPECT_FALSE(right.err.contains(NewsServer::kPassword));

    const Finished wrong = RunProgram(login, {}, "wrong-password");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.err.endsWith("\nzknews-cli: Authentication failed\n"))
        << wrong.err.constData();
}

TEST(CliProcess, GroupsRunsUnderAOneGigabyteAddressSpaceLimit) {
#ifdef ZK_SANITIZED_BUILD
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space and cannot start "
                    "under ulimit -v";
#endif
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const Finished limited = RunCommand(
        QStringLiteral("/bin/bash"),
        {QStringLiteral("-c"), QStringLiteral("ulimit -v 1000000; exec \"$0\" \"$@\""),
         QStringLiteral(ZKNEWS_CLI), QStringLiteral("--port"), QString::number(NewsServer::kPort),
         QStringLiteral("groups"), QStringLiteral("small")});
    EXPECT_EQ(limited.status, 0) << limited.err.constData();
    EXPECT_EQ(limited.out, QByteArray(NewsServer::kSmallGroup) + "\n");
}

TEST(CliProcess, TheProtocolLogMarksWhereTlsStartsAndMasksThePasswordSentOverIt) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    QTemporaryDir dir;
    const QString logName = dir.filePath(QStringLiteral("protocol.log"));
    qputenv("ZKNEWS_PROTOCOL_LOG", logName.toLocal8Bit());
    const Finished run = RunProgram(
        {QStringLiteral("--starttls"), QStringLiteral("--ca-file"),
         QString::fromLatin1(NewsServer::kCaFile), QStringLiteral("--port"),
         QString::number(NewsServer::kAuthPort), QStringLiteral("--user"),
         QString::fromLatin1(NewsServer::kUser), QStringLiteral("groups"), QStringLiteral("small")},
        {}, NewsServer::kPassword);
    qunsetenv("ZKNEWS_PROTOCOL_LOG");
    EXPECT_EQ(run.status, 0) << run.err.constData();
    const QByteArray log = FileBytes(logName);
    const qsizetype tlsStarts = log.indexOf("\n-- TLS handshake starts\n");
    EXPECT_GT(tlsStarts, log.indexOf("C: STARTTLS\r\n")) << log.constData();
    EXPECT_GT(log.indexOf("\n-- TLS established: TLSv1."), tlsStarts);
    EXPECT_GT(log.indexOf("C: AUTHINFO PASS ********\r\n"), tlsStarts);
    EXPECT_FALSE(log.contains(NewsServer::kPassword));
    // Compression comes after the login, and the log goes on with the lines as they are.
    const qsizetype compressionStarts = log.indexOf("\n-- compression (DEFLATE) starts\n");
    EXPECT_GT(log.indexOf("C: COMPRESS DEFLATE\r\n"), log.indexOf("C: AUTHINFO PASS ********"));
    EXPECT_GT(compressionStarts, log.indexOf("C: COMPRESS DEFLATE\r\n"));
    EXPECT_GT(log.indexOf("S: 215 ", compressionStarts), compressionStarts) << log.constData();
}
