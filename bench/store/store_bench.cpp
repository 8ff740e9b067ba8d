// Writing summaries into the local news store: N generated overview lines (default 1,000,000),
// shaped like a busy group's (subjects, senders, dates, message ids, references, Xref), stored
// in batches of 10,000 as a sync writes them, each batch one transaction. Only the store's
// calls are timed, not the making of the lines. Then the store file's size over the raw
// overview bytes it holds, after a checkpoint has moved everything into the file.
//
//   bench_store [N [FILE]]     (default 1000000, a file in a temporary folder)
#include "store/newsstore.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

constexpr qint64 kBatch = 10000;

class SummaryMaker {
public:
    TStoredSummary Make(qint64 number) {
        QByteArray line = QByteArray::number(number) + '\t';
        if (random_() % 3 != 0) {
            line += "Re: ";
        }
        const int words = 3 + static_cast<int>(random_() % 7);
        for (int w = 0; w < words; ++w) {
            line += kWords[random_() % kWords.size()] + (w + 1 < words ? " " : "");
        }
        const QByteArray user = kNames[random_() % kNames.size()];
        line += '\t' + user + " <" + user.toLower().replace(' ', '.') +
                QByteArray::number(random_() % 1000) + "@example.com>\t";
        line += "Tue, " + QByteArray::number(1 + random_() % 28) + " Dec 2026 " +
                QByteArray::number(10 + random_() % 14) + ":" +
                QByteArray::number(10 + random_() % 50) + ":" +
                QByteArray::number(10 + random_() % 50) + " +0000\t";
        line += MessageId(number) + '\t';
        const int references = static_cast<int>(random_() % 4);
        for (int r = 0; r < references && number > r + 1; ++r) {
            line += (r > 0 ? " " : "") + MessageId(number - 1 - r - random_() % 100);
        }
        const qint64 bytes = 800 + random_() % 4000;
        line += '\t' + QByteArray::number(bytes) + '\t' + QByteArray::number(bytes / 60) +
                "\tXref: news.example.com zk.test.big:" + QByteArray::number(number);
        return {number, line};
    }

private:
    static QByteArray MessageId(qint64 number) {
        return "<" + QByteArray::number(number * 7919 % 100000007, 36) + "." +
               QByteArray::number(number) + "@news.example.com>";
    }

    const QByteArrayList kNames = {"Alice Smith", "Bob", "Carol Jones", "Dave Kowalski",
                                   "Eve Martin"};
    const QByteArrayList kWords = {"kernel", "patch", "PATCH",  "3.5",      "release", "notes",
                                   "for",    "the",   "driver", "question", "about",   "build",
                                   "fails",  "on",    "ARM",    "(again)",  "[ANN]",   "v2"};
    std::mt19937 random_{20261208};
};

} // namespace

int main(int argc, char** argv) {
    const qint64 count = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir dir;
    const QString path =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("news.db"));
    try {
        TNewsStore store(path);
        const qint64 group =
            store.GroupId(store.ServerId(QStringLiteral("news.example.com"), 119), "zk.test.big");
        SummaryMaker maker;
        qint64 rawBytes = 0;
        qint64 nanoseconds = 0;
        QElapsedTimer timer;
        for (qint64 first = 1; first <= count; first += kBatch) {
            QList<TStoredSummary> batch;
            batch.reserve(kBatch);
            for (qint64 n = first; n < first + kBatch && n <= count; ++n) {
                batch.append(maker.Make(n));
                rawBytes += batch.last().line.size();
            }
            timer.start();
            store.AddSummaries(group, batch);
            nanoseconds += timer.nsecsElapsed();
        }
        store.Database().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
        const qint64 fileBytes = QFileInfo(path).size();
        std::printf("store insert summaries/s %.0f\n", count / (nanoseconds / 1e9));
        std::printf("store size/raw %.3f\n", double(fileBytes) / double(rawBytes));
        std::fflush(stdout);
        std::fprintf(stderr, "(%lld summaries, %.1f MB raw, %.1f MB file, %.2f s)\n",
                     static_cast<long long>(count), rawBytes / 1e6, fileBytes / 1e6,
                     nanoseconds / 1e9);
    } catch (const Exception& error) {
        std::fprintf(stderr, "bench_store: %s\n", error.what());
        return 1;
    }
    return 0;
}
