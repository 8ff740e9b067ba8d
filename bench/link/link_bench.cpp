// The reader over a user's link rather than loopback: the replay server behind the link proxy
// (40 ms round trip, 20 Mbit/s unless told otherwise), so the figures are what someone at home
// sees of a provider.
//   - A group's listing, plain and with COMPRESS DEFLATE: the time of each, and the bytes that
//     crossed the link.
//   - Fetching articles one by one (one round trip each) and pipelined.
//   - Without the link, the client's CPU time for the listing compressed and plain (best of
//     three each): what inflating costs at memory speed.
//
//   bench_link [--summaries N] [--articles N] [--rtt MS] [--mbit M] [--depth D]
//              (default 100000 summaries, 1000 articles, 40 ms, 20 Mbit/s, depth 16)
#include "linkproxy.h"
#include "nntp/qrnntp.h"
#include "rawxover.h"
#include "replayserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace bench;

namespace {

struct TOptions {
    int summaries = 100000;
    int articles = 1000;
    int depth = 16;
    TLinkShape shape;
};

struct TRun {
    double seconds = 0;
    double cpuSeconds = 0;
    qint64 wireBytes = 0;
    qint64 items = 0;
};

TOptions ParseOptions(const QStringList& arguments) {
    TOptions options;
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const int value = arguments[i + 1].toInt();
        if (name == QLatin1String("--summaries")) {
            options.summaries = value;
        } else if (name == QLatin1String("--articles")) {
            options.articles = value;
        } else if (name == QLatin1String("--rtt")) {
            options.shape.roundTripMs = value;
        } else if (name == QLatin1String("--mbit")) {
            options.shape.megabitsPerSecond = value;
        } else if (name == QLatin1String("--depth")) {
            options.depth = value;
        } else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(name));
            std::exit(2);
        }
    }
    return options;
}

// A client of the server on port, connected and in the group.
void Open(TQRNNTP& nntp, quint16 port, const QByteArray& group, bool compress) {
    nntp.Host = QStringLiteral("127.0.0.1");
    nntp.Port = port;
    nntp.TimeOut = 300000;
    nntp.ReportLevel = 2;
    nntp.Compress = compress;
    nntp.Connect();
    if (nntp.Compressed() != compress) {
        std::fprintf(stderr, "compression is %s, asked %s\n", nntp.Compressed() ? "on" : "off",
                     compress ? "on" : "off");
        std::exit(1);
    }
    nntp.SetGroup(group);
}

TRun Listing(quint16 port, const QByteArray& group, bool compress) {
    TQRNNTP nntp;
    Open(nntp, port, group, compress);
    TRun run;
    nntp.OnHeaderList = [&](QObject*) { ++run.items; };
    const qint64 wireBefore = nntp.WireBytesRecvd;
    QElapsedTimer timer;
    const double cpuStart = ThreadCpuSeconds();
    timer.start();
    nntp.GetArticleList(true, 0);
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.cpuSeconds = ThreadCpuSeconds() - cpuStart;
    run.wireBytes = nntp.WireBytesRecvd - wireBefore;
    nntp.Disconnect();
    return run;
}

TRun Fetching(quint16 port, const QByteArray& group, const QList<int>& numbers, int depth) {
    TQRNNTP nntp;
    Open(nntp, port, group, false);
    nntp.PipelineDepth = depth;
    TRun run;
    QElapsedTimer timer;
    timer.start();
    nntp.FetchArticles(numbers, TQRNNTP::TRetrieval::Whole, [&](int, bool found) {
        run.items += found ? 1 : 0;
        return true;
    });
    run.seconds = timer.nsecsElapsed() / 1e9;
    nntp.Disconnect();
    return run;
}

void Expect(const TRun& run, qint64 items, const char* what) {
    if (run.items != items) {
        std::fprintf(stderr, "%s: %lld of %lld\n", what, static_cast<long long>(run.items),
                     static_cast<long long>(items));
        std::exit(1);
    }
}

// The best CPU time of three listings straight from the server.
double BestListingCpu(quint16 port, const QByteArray& group, bool compress, qint64 summaries) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const TRun run = Listing(port, group, compress);
        Expect(run, summaries, "replay listing");
        best = std::min(best, run.cpuSeconds);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const TOptions options = ParseOptions(app.arguments());
    const QByteArray group = "zk.test.big";
    const TReplayServer server(GenerateOverview(group, options.summaries), {true});
    const TLinkProxy link(server.Port(), options.shape);
    std::printf("link %d ms round trip, %.0f Mbit/s; %d summaries, %d articles, depth %d\n",
                options.shape.roundTripMs, options.shape.megabitsPerSecond, options.summaries,
                options.articles, options.depth);

    // The first compressed listing also compresses the server's ranges once, off the clock.
    const double plainCpu = BestListingCpu(server.Port(), group, false, options.summaries);
    const double compressedCpu = BestListingCpu(server.Port(), group, true, options.summaries);
    std::printf("replay plain cpu S %.3f\n", plainCpu);
    std::printf("replay compressed cpu S %.3f\n", compressedCpu);
    std::printf("replay compressed/plain cpu RATIO %.2f\n", compressedCpu / plainCpu);

    const TRun plain = Listing(link.Port(), group, false);
    const TRun compressed = Listing(link.Port(), group, true);
    Expect(plain, options.summaries, "plain listing");
    Expect(compressed, options.summaries, "compressed listing");
    std::printf("link listing plain S %.3f\n", plain.seconds);
    std::printf("link listing compressed S %.3f\n", compressed.seconds);
    std::printf("link listing plain/compressed RATIO %.2f\n", plain.seconds / compressed.seconds);
    std::printf("link wire bytes plain %lld\n", static_cast<long long>(plain.wireBytes));
    std::printf("link wire bytes compressed %lld\n", static_cast<long long>(compressed.wireBytes));
    std::printf("link wire bytes plain/compressed RATIO %.2f\n",
                static_cast<double>(plain.wireBytes) / static_cast<double>(compressed.wireBytes));

    QList<int> numbers;
    for (int n = 1; n <= std::min(options.articles, options.summaries); ++n) {
        numbers.append(n);
    }
    const TRun sequential = Fetching(link.Port(), group, numbers, 1);
    const TRun pipelined = Fetching(link.Port(), group, numbers, options.depth);
    Expect(sequential, numbers.size(), "articles one by one");
    Expect(pipelined, numbers.size(), "articles pipelined");
    std::printf("link scan sequential S %.3f\n", sequential.seconds);
    std::printf("link scan pipelined S %.3f\n", pipelined.seconds);
    std::printf("link scan sequential/pipelined RATIO %.2f\n",
                sequential.seconds / pipelined.seconds);
    return 0;
}
