// Writing summaries into the local news store: N generated overview lines (default 1,000,000),
// shaped like a busy group's (subjects, senders, dates, message ids, references, Xref), stored
// in batches of 10,000 as a sync writes them, each batch one transaction, the full-text index
// kept with them. Only the store's calls are timed, not the making of the lines. Then the store
// file's size over the raw overview bytes it holds, after a checkpoint has moved everything into
// the file.
//
// Then searching those summaries as someone types, at most 200 hits, each figure the median of
// several runs: a common word (in about a tenth of the subjects), a rare one (in ten summaries)
// and a prefix; printed as "search 1M common MS" and so on for the default N.
//
// Then threading: a second group of N summaries shaped like discussions (a third start a
// thread, the rest reply to a recent article with its References plus its id, a few to one
// the server has expired) is stored, and the thread order of the whole stored group is asked
// of the store, reading the lines included; printed as "thread 1M S" for the default N.
//
// Last the common word over a second server's 300 groups of 1,000 summaries each, where the
// newest 200 hits of every group are candidates whose Dates decide the 200 shown; printed as
// "search 300 groups common MS".
//
//   bench_store [N [FILE]]     (default 1000000, a file in a temporary folder)
#include "store/newsstore.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr qint64 kBatch = 10000;
constexpr qsizetype kSearchLimit = 200;
constexpr int kSearchRuns = 7;
// In about a tenth of the subjects, in ten summaries, and the start of a few words.
constexpr const char* kCommonWord = "kernel";
constexpr const char* kRareWord = "quokka";
constexpr const char* kPrefix = "driv*";
constexpr qint64 kRareCount = 10;
constexpr int kManyGroups = 300;
constexpr qint64 kManyGroupsSummaries = 1000;

class SummaryMaker {
public:
    explicit SummaryMaker(qint64 count) : rareEvery_(std::max<qint64>(count / kRareCount, 1)) {
        for (const char* first : kSyllables) {
            for (const char* second : kSyllables) {
                for (const char* third : {"", "n", "s", "ter", "ing"}) {
                    vocabulary_.append(QByteArray(first) + second + third);
                }
            }
        }
    }

    TStoredSummary Make(qint64 number) {
        QByteArray line = QByteArray::number(number) + '\t' + Subject(number) + '\t' + From() +
                          '\t';
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
    // Words of a discussion: a few frequent ones, most of a long tail; some subjects carry
    // encoded words, as those of non-English groups do.
    QByteArray Subject(qint64 number) {
        QByteArray subject = random_() % 3 != 0 ? "Re: " : "";
        if (random_() % 50 == 0) {
            subject += "=?UTF-8?Q?=C3=9Cber_die?= ";
        }
        const int words = 3 + static_cast<int>(random_() % 7);
        for (int w = 0; w < words; ++w) {
            subject += Word() + (w + 1 < words ? " " : "");
        }
        if (random_() % 10 == 0) {
            subject += QByteArray(" ") + kCommonWord;
        }
        if (random_() % 40 == 0) {
            subject += kDrivers[random_() % kDrivers.size()];
        }
        if (number % rareEvery_ == 0) {
            subject += QByteArray(" ") + kRareWord;
        }
        return subject;
    }

    QByteArray Word() {
        if (random_() % 3 == 0) {
            return kWords[random_() % kWords.size()];
        }
        // Skewed towards the front of the vocabulary, as word frequencies are.
        const double u = std::uniform_real_distribution<double>(0, 1)(random_);
        return vocabulary_[static_cast<qsizetype>(u * u * u * double(vocabulary_.size()))];
    }

    QByteArray From() {
        if (random_() % 20 == 0) {
            return "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm" +
                   QByteArray::number(random_() % 1000) + "@example.de>";
        }
        const QByteArray user = kNames[random_() % kNames.size()];
        return user + " <" + user.toLower().replace(' ', '.') +
               QByteArray::number(random_() % 1000) + "@example.com>";
    }

    static QByteArray MessageId(qint64 number) {
        return "<" + QByteArray::number(number * 7919 % 100000007, 36) + "." +
               QByteArray::number(number) + "@news.example.com>";
    }

    static constexpr const char* kSyllables[] = {"ba", "ko", "ri", "tu", "me", "sa", "lo",
                                                 "ne", "vi", "da", "pe", "gu", "fo", "zi",
                                                 "ha", "mu", "te", "wo", "ly", "qua"};
    const QByteArrayList kNames = {"Alice Smith", "Bob", "Carol Jones", "Dave Kowalski",
                                   "Eve Martin"};
    const QByteArrayList kWords = {"patch", "PATCH",  "3.5",      "release", "notes", "for",
                                   "the",   "build",  "question", "about",   "fails", "on",
                                   "ARM",   "(again)", "[ANN]",   "v2"};
    const QByteArrayList kDrivers = {" driver", " drivers", " driving"};
    QByteArrayList vocabulary_;
    const qint64 rareEvery_;
    std::mt19937 random_{20261208};
};

// Overview lines whose References make threads as discussions do.
class ThreadMaker {
public:
    TStoredSummary Make(qint64 number) {
        const QByteArray id = "<" + QByteArray::number(number) + ".thread@news.example.com>";
        QByteArray references;
        if (number > 1 && random_() % 3 != 0) {
            // Most replies go to the newest articles; some to one long expired.
            const qint64 back =
                1 + qint64(random_() % kRecent) * qint64(random_() % kRecent) / kRecent;
            const qint64 parent = std::max<qint64>(number - back, 1);
            const Recent& recent = recent_[parent % kRecent];
            references =
                recent.references.isEmpty() ? recent.id : recent.references + ' ' + recent.id;
            if (random_() % 50 == 0) {
                references += " <expired." + QByteArray::number(number) + "@news.example.com>";
            }
            // Servers trim References of long threads to their newest ids.
            while (references.count('<') > kMostReferences) {
                references = references.sliced(references.indexOf(' ') + 1);
            }
        }
        recent_[number % kRecent] = {id, references};
        QByteArray line =
            QByteArray::number(number) + "\tRe: thread " + QByteArray::number(number % 977) +
            "\tAlice Smith <alice@example.com>\tTue, 8 Dec 2026 10:00:00 +0000\t" + id + '\t' +
            references +
            "\t2000\t30\tXref: news.example.com zk.test.threads:" + QByteArray::number(number);
        return {number, line};
    }

private:
    static constexpr qint64 kRecent = 4096;
    static constexpr int kMostReferences = 20;
    struct Recent {
        QByteArray id;
        QByteArray references;
    };
    std::vector<Recent> recent_ = std::vector<Recent>(kRecent);
    std::mt19937 random_{20261209};
};

// Stores count lines of the maker in batches as a sync does; answers their bytes.
template <typename Maker>
qint64 StoreLines(TNewsStore& store, qint64 group, qint64 count, Maker& maker,
                  qint64& nanoseconds) {
    qint64 rawBytes = 0;
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
    return rawBytes;
}

// The median time of kSearchRuns searches of the server's summaries, in milliseconds.
double SearchMilliseconds(TNewsStore& store, qint64 server, const char* query, qsizetype& hits) {
    std::vector<double> times;
    for (int run = 0; run < kSearchRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        hits = store.Search(server, QString::fromUtf8(query), {}, kSearchLimit).size();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void PrintSearchTimes(TNewsStore& store, qint64 server, const QByteArray& size) {
    const std::pair<const char*, const char*> searches[] = {
        {"common", kCommonWord}, {"rare", kRareWord}, {"prefix", kPrefix}};
    for (const auto& [name, query] : searches) {
        qsizetype hits = 0;
        const double milliseconds = SearchMilliseconds(store, server, query, hits);
        std::printf("search %s %s MS %.2f\n", size.constData(), name, milliseconds);
        std::fflush(stdout);
        std::fprintf(stderr, "(%s: %lld hits)\n", query, static_cast<long long>(hits));
    }
}

void PrintManyGroupsSearchTime(TNewsStore& store) {
    const qint64 server = store.ServerId(QStringLiteral("many.example.com"), 119);
    SummaryMaker maker(kManyGroupsSummaries);
    qint64 untimed = 0;
    for (int g = 0; g < kManyGroups; ++g) {
        const qint64 group = store.GroupId(server, "zk.test.many." + QByteArray::number(g));
        StoreLines(store, group, kManyGroupsSummaries, maker, untimed);
    }
    qsizetype hits = 0;
    const double milliseconds = SearchMilliseconds(store, server, kCommonWord, hits);
    std::printf("search %d groups common MS %.2f\n", kManyGroups, milliseconds);
    std::fprintf(stderr, "(%s: %lld hits)\n", kCommonWord, static_cast<long long>(hits));
}

} // namespace

int main(int argc, char** argv) {
    const qint64 count = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir dir;
    const QString path =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("news.db"));
    try {
        TNewsStore store(path);
        const QByteArray size = count == 1000000 ? "1M" : QByteArray::number(count);
        const qint64 server = store.ServerId(QStringLiteral("news.example.com"), 119);
        const qint64 group = store.GroupId(server, "zk.test.big");
        SummaryMaker maker(count);
        qint64 nanoseconds = 0;
        const qint64 rawBytes = StoreLines(store, group, count, maker, nanoseconds);
        store.Database().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
        const qint64 fileBytes = QFileInfo(path).size();
        std::printf("store insert summaries/s %.0f\n", count / (nanoseconds / 1e9));
        std::printf("store size/raw %.3f\n", double(fileBytes) / double(rawBytes));
        std::fflush(stdout);
        std::fprintf(stderr, "(%lld summaries, %.1f MB raw, %.1f MB file, %.2f s)\n",
                     static_cast<long long>(count), rawBytes / 1e6, fileBytes / 1e6,
                     nanoseconds / 1e9);

        PrintSearchTimes(store, server, size);

        const qint64 threaded = store.GroupId(server, "zk.test.threads");
        ThreadMaker threadMaker;
        qint64 untimed = 0;
        StoreLines(store, threaded, count, threadMaker, untimed);
        QElapsedTimer timer;
        timer.start();
        const QList<TThreadPlace> order = store.ThreadOrder(threaded);
        const double seconds = timer.nsecsElapsed() / 1e9;
        qint64 threads = 0;
        int deepest = 0;
        for (const TThreadPlace& place : order) {
            threads += place.depth == 0 ? 1 : 0;
            deepest = std::max(deepest, place.depth);
        }
        std::printf("thread %s S %.3f\n", size.constData(), seconds);
        std::fprintf(stderr, "(%lld summaries in %lld threads, the deepest reply at %d)\n",
                     static_cast<long long>(order.size()), static_cast<long long>(threads),
                     deepest);
        std::fflush(stdout);

        PrintManyGroupsSearchTime(store);
    } catch (const Exception& error) {
        std::fprintf(stderr, "bench_store: %s\n", error.what());
        return 1;
    }
    return 0;
}
