// The store on the command line against the plain listing of a large group on the local news
// server (zk.test.big after scripts/news-server.sh seed-big), each a whole zknews-cli process
// timed from the outside, best of five:
//   store sync/listing     sync GROUP into a new store, over summary GROUP --all
//   store offline/listing  --offline summary GROUP --all from that store, over the same listing
//   store resync 100 new   a second sync that finds the group's newest 100 summaries missing
//                          (they are deleted from the store before each round), in milliseconds
//                          beyond the network's share: a listing of just those 100
// Output goes to /dev/null. The sync stores every summary the listing prints, so its ratio is
// what keeping them costs; the offline listing reads them back without the server. Each pair
// of runs compared is timed round by round, one after the other, so that the load of a shared
// machine falls on both alike.
//
//   bench_store_sync [GROUP [HOST [PORT]]]     (default zk.test.big 127.0.0.1 119)
#include "store/newsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRounds = 5;
// The newest summaries a second sync finds missing.
constexpr qint64 kNewSummaries = 100;

double CliSeconds(const QStringList& arguments) {
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(ZKNEWS_CLI), arguments);
    if (!cli.waitForFinished(600000) || cli.exitStatus() != QProcess::NormalExit ||
        cli.exitCode() != 0) {
        std::fprintf(stderr, "zknews-cli %s failed: %s\n", qPrintable(arguments.join(u' ')),
                     qPrintable(cli.errorString()));
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1e9;
}

double Best(const std::function<double()>& run) {
    double best = run();
    for (int round = 1; round < kRounds; ++round) {
        best = std::min(best, run());
    }
    return best;
}

// The best times of two kinds of run, timed alternately.
struct BestPair {
    double first = 0;
    double second = 0;
};

BestPair BestOfAlternating(const std::function<double()>& first,
                           const std::function<double()>& second) {
    BestPair best{first(), second()};
    for (int round = 1; round < kRounds; ++round) {
        best.first = std::min(best.first, first());
        best.second = std::min(best.second, second());
    }
    return best;
}

void RemoveStore(const QString& store) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(store + QLatin1String(suffix));
    }
}

// Deletes the newest summaries of the store's only group, as if they had not arrived yet,
// and their entries in the full-text index, given the words they were indexed with as that
// contentless index needs; answers the first number deleted.
qint64 ForgetNewest(const QString& path, qint64 count) {
    TNewsStore store(path);
    TTransaction transaction(store.Database());
    const qint64 first = store.Database().QueryInt("SELECT max(number) FROM summary") - count + 1;
    TStatement unindex(store.Database(),
                       "INSERT INTO summary_text (summary_text, rowid, subject, \"from\") "
                       "SELECT 'delete', (newsgroup << 40) | number, zk_summary_text(line, 1), "
                       "zk_summary_text(line, 2) FROM summary WHERE number >= ?1");
    unindex.Bind(1, first).Run();
    TStatement forget(store.Database(), "DELETE FROM summary WHERE number >= ?1");
    forget.Bind(1, first).Run();
    transaction.Commit();
    return first;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString group = arguments.value(1, QStringLiteral("zk.test.big"));
    const QStringList server{QStringLiteral("--host"),
                             arguments.value(2, QStringLiteral("127.0.0.1")),
                             QStringLiteral("--port"), arguments.value(3, QStringLiteral("119"))};
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("news.db"));
    const QStringList withStore = server + QStringList{QStringLiteral("--store"), store};

    const QStringList listAll{QStringLiteral("summary"), group, QStringLiteral("--all")};
    // Each sync goes into a new store, as a first sync of the group does.
    const BestPair first = BestOfAlternating(
        [&] { return CliSeconds(server + listAll); },
        [&] {
            RemoveStore(store);
            return CliSeconds(withStore + QStringList{QStringLiteral("sync"), group});
        });
    const double offline = Best(
        [&] { return CliSeconds(withStore + QStringList{QStringLiteral("--offline")} + listAll); });
    const double listing = first.first;
    const double sync = first.second;
    std::printf("store listing %.3f s, sync %.3f s, offline listing %.3f s\n", listing, sync,
                offline);
    std::printf("store sync/listing %.2f\n", sync / listing);
    std::printf("store offline/listing %.2f\n", offline / listing);
    std::fflush(stdout);

    qint64 newFrom = 0;
    const BestPair resync = BestOfAlternating(
        [&] {
            newFrom = ForgetNewest(store, kNewSummaries);
            return CliSeconds(withStore + QStringList{QStringLiteral("sync"), group});
        },
        [&] {
            return CliSeconds(server + QStringList{QStringLiteral("summary"), group,
                                                   QStringLiteral("--from"),
                                                   QString::number(newFrom)});
        });
    std::printf("store resync %lld new, %.1f ms; listing of those alone %.1f ms\n",
                static_cast<long long>(kNewSummaries), resync.first * 1e3, resync.second * 1e3);
    std::printf("store resync %lld new MS %.1f\n", static_cast<long long>(kNewSummaries),
                (resync.first - resync.second) * 1e3);
    return 0;
}
