// The store on the command line against the plain listing of a large group on the local news
// server (zk.test.big after scripts/news-server.sh seed-big), each a whole zknews-cli process
// timed from the outside, best of three:
//   store sync/listing     sync GROUP into a new store, over summary GROUP --all
//   store offline/listing  --offline summary GROUP --all from that store, over the same listing
// Output goes to /dev/null. The sync stores every summary the listing prints, so its ratio is
// what keeping them costs; the offline listing reads them back without the server.
//
//   bench_store_sync [GROUP [HOST [PORT]]]     (default zk.test.big 127.0.0.1 119)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRounds = 3;

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

    const double listing = Best([&] {
        return CliSeconds(server + QStringList{QStringLiteral("summary"), group,
                                               QStringLiteral("--all")});
    });
    // Each round syncs into a new store, as a first sync of the group does.
    const double sync = Best([&] {
        QFile::remove(store);
        QFile::remove(store + QStringLiteral("-wal"));
        QFile::remove(store + QStringLiteral("-shm"));
        return CliSeconds(withStore + QStringList{QStringLiteral("sync"), group});
    });
    const double offline = Best([&] {
        return CliSeconds(withStore + QStringList{QStringLiteral("--offline"),
                                                  QStringLiteral("summary"), group,
                                                  QStringLiteral("--all")});
    });
    std::printf("store listing %.3f s, sync %.3f s, offline listing %.3f s\n", listing, sync,
                offline);
    std::printf("store sync/listing %.2f\n", sync / listing);
    std::printf("store offline/listing %.2f\n", offline / listing);
    return 0;
}
