// Listing a large group: GetArticleList over every article of a group on the local news
// server, counting the summaries reported, next to a raw socket that sends the same XOVER and
// only reads the reply up to its "." line. The ratio is the client's cost over the wire's.
// Then zknews-cli lists the same group as a whole process (start, connect, GROUP, XOVER, one
// line per summary into /dev/null, QUIT, exit), timed from the outside against the same raw
// read: what a script that calls the program pays over the wire.
// The local news server needs more time for the reply than the client does, which hides most
// of the client's cost; so the same reply, captured once, is then served from memory by the
// replay server, and the raw read and GetArticleList are timed against it, best of a few rounds,
// by the clock and by the reading thread's CPU time.
// With --generate N the replay server serves N generated summaries instead and the local news
// server is not asked at all.
//
//   bench_listing [GROUP [HOST [PORT]]]     (default zk.test.big 127.0.0.1 119)
//   bench_listing --generate N
#include "nntp/qrnntp.h"
#include "rawxover.h"
#include "replayserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>

using namespace bench;

namespace {

Figures ClientListing(const QString& host, quint16 port, const QByteArray& group) {
    TQRNNTP nntp;
    nntp.Host = host;
    nntp.Port = port;
    nntp.TimeOut = 120000;
    nntp.ReportLevel = 2;
    Figures figures;
    nntp.OnHeaderList = [&](QObject*) { ++figures.summaries; };
    nntp.Connect();
    nntp.SetGroup(group);
    QElapsedTimer timer;
    const double cpuStart = ThreadCpuSeconds();
    timer.start();
    nntp.GetArticleList(true, 0);
    figures.seconds = timer.nsecsElapsed() / 1e9;
    figures.cpuSeconds = ThreadCpuSeconds() - cpuStart;
    for (int i = 0; i < nntp.SummaryLines.Count(); ++i) {
        figures.bytes += nntp.SummaryLines[i].size() + 2;
    }
    nntp.Disconnect();
    return figures;
}

double CliProcessSeconds(const QString& host, quint16 port, const QByteArray& group) {
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(ZKNEWS_CLI),
              {QStringLiteral("--host"), host, QStringLiteral("--port"), QString::number(port),
               QStringLiteral("summary"), QString::fromLatin1(group), QStringLiteral("--all")});
    if (!cli.waitForFinished(600000) || cli.exitStatus() != QProcess::NormalExit ||
        cli.exitCode() != 0) {
        std::fprintf(stderr, "zknews-cli summary failed: %s\n", qPrintable(cli.errorString()));
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1e9;
}

constexpr int kReplayRounds = 5;

void PrintListing(const char* server, const Figures& raw, const Figures& client) {
    std::printf("%s raw socket XOVER     %8.3f s %10.0f summaries/s %7.1f MB/s  %lld summaries\n",
                server, raw.seconds, raw.summaries / raw.seconds, raw.bytes / 1e6 / raw.seconds,
                static_cast<long long>(raw.summaries));
    std::printf("%s GetArticleList       %8.3f s %10.0f summaries/s %7.1f MB/s  %lld summaries\n",
                server, client.seconds, client.summaries / client.seconds,
                client.bytes / 1e6 / client.seconds, static_cast<long long>(client.summaries));
    std::printf("%s client/raw %.2f\n", server, client.seconds / raw.seconds);
    std::printf("%s client/raw cpu %.2f   (%.3f s / %.3f s)\n", server,
                client.cpuSeconds / raw.cpuSeconds, client.cpuSeconds, raw.cpuSeconds);
}

// The local news server: the raw read, the client and zknews-cli as a whole process.
bool ListFromNewsServer(const QString& host, quint16 port, const QByteArray& group) {
    const Figures raw = RawXover(host, port, group);
    const double rawPeak = PeakMemoryMiB();
    const Figures client = ClientListing(host, port, group);
    PrintListing("inn", raw, client);
    std::printf("inn peak memory          %8.1f MiB (raw client alone %.1f MiB)\n",
                PeakMemoryMiB(), rawPeak);
    const double cliSeconds = CliProcessSeconds(host, port, group);
    std::printf("inn zknews-cli summary   %8.3f s %10.0f summaries/s  (whole process, to /dev/null)\n",
                cliSeconds, raw.summaries / cliSeconds);
    std::printf("inn cli/raw %.2f\n", cliSeconds / raw.seconds);
    return client.summaries == raw.summaries;
}

Figures Best(const Figures& a, const Figures& b) {
    Figures best = a;
    best.seconds = std::min(a.seconds, b.seconds);
    best.cpuSeconds = std::min(a.cpuSeconds, b.cpuSeconds);
    return best;
}

// The replay server: the best of a few rounds of each, the two taking turns.
bool ListFromReplay(TOverview overview) {
    const TReplayServer server(std::move(overview));
    const QString host = QStringLiteral("127.0.0.1");
    const QByteArray& group = server.Overview().group;
    Figures raw;
    Figures client;
    for (int round = 0; round < kReplayRounds; ++round) {
        const Figures rawRound = RawXover(host, server.Port(), group);
        const Figures clientRound = ClientListing(host, server.Port(), group);
        raw = round == 0 ? rawRound : Best(raw, rawRound);
        client = round == 0 ? clientRound : Best(client, clientRound);
    }
    PrintListing("replay", raw, client);
    return client.summaries == raw.summaries;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QStringLiteral("--generate")) {
        return ListFromReplay(GenerateOverview("zk.test.generated", args.value(2).toInt())) ? 0 : 1;
    }
    const QByteArray group = args.value(1, QStringLiteral("zk.test.big")).toLatin1();
    const QString host = args.value(2, QStringLiteral("127.0.0.1"));
    const quint16 port = static_cast<quint16>(args.value(3, QStringLiteral("119")).toUInt());
    const bool innAgrees = ListFromNewsServer(host, port, group);
    const bool replayAgrees = ListFromReplay(CaptureOverview(host, port, group));
    return innAgrees && replayAgrees ? 0 : 1;
}
