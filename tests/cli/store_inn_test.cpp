// The store commands of zknews-cli against the local news server (INN): a reader's day from
// subscribing to reading offline, the offline answers checked byte for byte against the
// server's.
#include "clirun.h"
#include "newsserver.h"
#include "testfiles.h"

#include <gtest/gtest.h>

using namespace NewsServer;

namespace {

// zknews-cli with a store of the test's own, online against INN or offline.
struct InnStore {
    TestDir files;

    CliResult Run(const QByteArray& command) const {
        return RunCliWith(QStringList{QStringLiteral("--timeout"), QStringLiteral("30000"),
                                      QStringLiteral("--store"), files.Path("news.db")} +
                          QString::fromLatin1(command).split(u' '));
    }
    CliResult Offline(const QByteArray& command) const { return Run("--offline " + command); }
};

// zknews-cli without a store: the server's own answer.
CliResult FromServer(const QByteArray& command) {
    return RunCliWith(QString::fromLatin1("--timeout 30000 " + command).split(u' '));
}

QByteArray Counts(const char* group, int count) {
    return group + QByteArray("\t") + QByteArray::number(count);
}

} // namespace

TEST(CliInnStore, SubscribeSyncReadAndAnswerOfflineAsTheServerDid) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const InnStore store;
    ASSERT_EQ(store.Run("subscribe zk.test.small zk.test.misc zk.test.many").status, kExitSuccess);
    const CliResult withArticles = store.Run("sync zk.test.small zk.test.misc --articles");
    ASSERT_EQ(withArticles.status, kExitSuccess) << withArticles.err.constData();
    EXPECT_EQ(withArticles.out, Counts(kSmallGroup, kSmallCount) + '\t' +
                                    QByteArray::number(kSmallCount) + '\n' +
                                    Counts(kMiscGroup, kMiscCount) + '\t' +
                                    QByteArray::number(kMiscCount) + '\n');
    // Every subscribed group, in name order; those synced already have nothing new.
    const CliResult sync = store.Run("sync");
    ASSERT_EQ(sync.status, kExitSuccess) << sync.err.constData();
    EXPECT_EQ(sync.out, Counts(kManyGroup, kManyCount) + '\t' + QByteArray::number(kManyCount) +
                            '\n' + Counts(kMiscGroup, 0) + '\t' + QByteArray::number(kMiscCount) +
                            '\n' + Counts(kSmallGroup, 0) + '\t' +
                            QByteArray::number(kSmallCount) + '\n');
    EXPECT_EQ(store.Run("subscriptions").out, Counts(kManyGroup, kManyCount) + '\n' +
                                                  Counts(kMiscGroup, kMiscCount) + '\n' +
                                                  Counts(kSmallGroup, kSmallCount) + '\n');

    ASSERT_EQ(store.Run("mark-read zk.test.small 1-3,5").status, kExitSuccess);
    ASSERT_EQ(store.Run("mark-read zk.test.misc").status, kExitSuccess);
    EXPECT_EQ(store.Run("subscriptions").out, Counts(kManyGroup, kManyCount) + '\n' +
                                                  Counts(kMiscGroup, 0) + '\n' +
                                                  Counts(kSmallGroup, kSmallCount - 4) + '\n');
    const CliResult fresh = store.Offline("summary zk.test.small --new");
    ASSERT_EQ(fresh.status, kExitSuccess) << fresh.err.constData();
    EXPECT_EQ(fresh.out.count('\n'), kSmallCount - 4);
    EXPECT_TRUE(fresh.out.startsWith("4\t")) << fresh.out.constData();
    EXPECT_EQ(store.Offline("summary zk.test.misc --new").out, "");

    // Offline answers are the server's own, byte for byte. (Online, the store answers an
    // article it holds, so the server's answer is asked for without it.)
    for (const QByteArray& command :
         {QByteArray("summary zk.test.small --all"), QByteArray("summary zk.test.many"),
          QByteArray("summary zk.test.many --from 700"),
          QByteArray("summary zk.test.small --decoded"), QByteArray("article zk.test.small 4"),
          QByteArray("head zk.test.small 7"), QByteArray("body zk.test.small 6"),
          QByteArray("article zk.test.misc 6 --decoded"), QByteArray("body zk.test.small 4 --decoded")}) {
        const CliResult online = FromServer(command);
        ASSERT_EQ(online.status, kExitSuccess) << command.constData() << online.err.constData();
        const CliResult offline = store.Offline(command);
        EXPECT_EQ(offline.status, kExitSuccess) << command.constData() << offline.err.constData();
        EXPECT_EQ(offline.out, online.out) << command.constData();
    }
    // Reading online with the store did not mark anything read.
    ASSERT_EQ(store.Run("article zk.test.small 9").status, kExitSuccess);
    ASSERT_EQ(store.Run("summary zk.test.small").status, kExitSuccess);
    EXPECT_EQ(store.Run("subscriptions").out, Counts(kManyGroup, kManyCount) + '\n' +
                                                  Counts(kMiscGroup, 0) + '\n' +
                                                  Counts(kSmallGroup, kSmallCount - 4) + '\n');

    // The .newsrc carries subscriptions and read marks to another store.
    const QString newsrc = store.files.Path("newsrc");
    ASSERT_EQ(store.Run("newsrc export " + newsrc.toLocal8Bit()).status, kExitSuccess);
    EXPECT_EQ(store.files.Read("newsrc"), "zk.test.many:\nzk.test.misc: 1-" +
                                              QByteArray::number(kMiscCount) +
                                              "\nzk.test.small: 1-3,5\n");
    const InnStore other;
    ASSERT_EQ(other.Run("newsrc import " + newsrc.toLocal8Bit()).status, kExitSuccess);
    ASSERT_EQ(other.Run("sync").status, kExitSuccess);
    EXPECT_EQ(other.Run("subscriptions").out, store.Run("subscriptions").out);
    EXPECT_EQ(other.Run("newsrc export").out, store.files.Read("newsrc"));
}

// The thread "How do I read news offline?" of zk.test.small comes together in order, each
// reply after its parent one deeper, whatever stands between them by number; the lines are the
// server's own with the depth after them, and offline the same.
TEST(CliInnStore, ThreadsOfTheSmallGroupAsTheirReferencesMakeThem) {
    ZK_REQUIRE_NEWS_SERVER_OR_SKIP();
    const InnStore store;
    const CliResult threaded = store.Run("summary zk.test.small --all --threads");
    ASSERT_EQ(threaded.status, kExitSuccess) << threaded.err.constData();
    const CliResult plain = FromServer("summary zk.test.small --all");
    ASSERT_EQ(plain.status, kExitSuccess) << plain.err.constData();
    QByteArrayList plainLines = plain.out.split('\n');
    QByteArrayList lines = threaded.out.split('\n');
    ASSERT_EQ(lines.size(), plainLines.size());
    QByteArray thread;
    QList<qsizetype> threadLines;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QByteArray& line = lines[index];
        if (line.isEmpty()) {
            continue;
        }
        const qsizetype lastTab = line.lastIndexOf('\t');
        const QByteArray depth = line.sliced(lastTab + 1);
        line.truncate(lastTab);
        const QByteArrayList fields = line.split('\t');
        ASSERT_EQ(fields.size(), 8) << line.constData();
        if (fields[4].startsWith("<thread.")) {
            thread += fields[4] + '/' + depth + ' ';
            threadLines.append(index);
        }
    }
    ASSERT_EQ(threadLines.size(), 4);
    EXPECT_EQ(threadLines.last() - threadLines.first(), 3);
    EXPECT_EQ(thread, "<thread.1@zk.test>/0 <thread.2@zk.test>/1 <thread.3@zk.test>/2 "
                      "<thread.4@zk.test>/3 ");
    // With the depths taken off, the server's lines, each once.
    std::sort(lines.begin(), lines.end());
    std::sort(plainLines.begin(), plainLines.end());
    EXPECT_EQ(lines, plainLines);
    EXPECT_EQ(store.Offline("summary zk.test.small --all --threads").out, threaded.out);
}
