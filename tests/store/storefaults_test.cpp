// The store on a full disk or a read-only file: each write that cannot be made fails with a
// message that names the file and says why, leaves nothing half-written, and everything
// committed before stays readable and is there when the file is opened again.
#include "filesizelimit.h"
#include "store/newsstore.h"
#include "storefailure.h"
#include "testfiles.h"

#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Summaries first..last, each line long enough that a thousand fill several pages.
QList<TStoredSummary> Generated(qint64 first, qint64 last) {
    QList<TStoredSummary> summaries;
    for (qint64 n = first; n <= last; ++n) {
        summaries.append({n, QByteArray::number(n) + "\tSubject " + QByteArray(200, 's') +
                                 "\tfrom@example\tdate\t<" + QByteArray::number(n) +
                                 "@x>\t\t1\t1"});
    }
    return summaries;
}

// A store holding a thousand summaries of one group, committed. Its members are open to the
// fault cases below, which act on it.
struct StoreFaultTest : ::testing::Test {
    static constexpr qint64 kCommitted = 1000;

    TestDir dir;
    QString path = dir.Path("news.db");
    std::unique_ptr<TNewsStore> store = std::make_unique<TNewsStore>(path);
    qint64 group = store->GroupId(store->ServerId(QStringLiteral("news.example.com"), 119), "g");

    StoreFaultTest() { store->AddSummaries(group, Generated(1, kCommitted)); }

    // No more pages for the file than it has now: the next one needed fails as a full disk.
    void FillTheDisk() {
        const QByteArray limit =
            "PRAGMA max_page_count=" +
            QByteArray::number(store->Database().QueryInt("PRAGMA page_count"));
        store->Database().Execute(limit.constData());
    }

    // What the file holds when opened again, by a program without the fault.
    void ExpectCommittedSummariesKept(qint64 count) {
        store.reset();
        store = std::make_unique<TNewsStore>(path);
        EXPECT_EQ(store->Summaries(group), Generated(1, count));
        EXPECT_EQ(store->Database().QueryInt("SELECT count(*) FROM pragma_integrity_check "
                                             "WHERE integrity_check != 'ok'"),
                  0);
    }
};

struct FaultCase {
    const char* what;
    // Brings the fault about for the call it wraps; ends it on return.
    std::function<void(StoreFaultTest&, const std::function<void()>&)> during;
    const char* reason;
};

} // namespace

// A full disk (the file's page limit reached, or the log not allowed to grow as the operating
// system refuses on a full disk) and a read-only file: a batch and an article each fail naming
// the file; the summaries read back as before, the batch is not half there, and
// once the fault is gone the store takes writes again.
TEST_F(StoreFaultTest, FailedWritesNameTheFileAndKeepWhatWasCommitted) {
    const FaultCase cases[] = {
        {"page limit reached",
         [](StoreFaultTest& test, const std::function<void()>& call) {
             test.FillTheDisk();
             call();
         },
         "the disk is full"},
        {"file size limit",
         [](StoreFaultTest& test, const std::function<void()>& call) {
             const TFileSizeLimit limit(QFileInfo(test.path + QStringLiteral("-wal")).size() +
                                        QFileInfo(test.path).size());
             call();
         },
         "full"},
        {"read-only",
         [](StoreFaultTest& test, const std::function<void()>& call) {
             test.store->Database().Execute("PRAGMA query_only=1");
             call();
         },
         "read-only"},
    };
    const struct {
        const char* what;
        std::function<void(TNewsStore&, qint64)> write;
    } writes[] = {
        {"summaries", [](TNewsStore& s, qint64 g) { s.AddSummaries(g, Generated(1001, 5000)); }},
        {"article",
         [](TNewsStore& s, qint64 g) { s.StoreArticle(g, 1, "<1@x>", QByteArray(1 << 20, 'a')); }},
    };
    for (const FaultCase& fault : cases) {
        for (const auto& write : writes) {
            SCOPED_TRACE(std::string(fault.what) + ", " + write.what);
            QString message;
            fault.during(*this,
                         [&] { message = StoreFailureOf([&] { write.write(*store, group); }); });
            EXPECT_TRUE(message.contains(path)) << message.toStdString();
            EXPECT_TRUE(message.contains(QLatin1String(fault.reason))) << message.toStdString();
            EXPECT_EQ(store->SummaryCount(group), kCommitted);
            EXPECT_EQ(store->Article(group, 1), std::nullopt);
            ExpectCommittedSummariesKept(kCommitted);
        }
    }
    store->AddSummaries(group, Generated(kCommitted + 1, kCommitted + 10));
    ExpectCommittedSummariesKept(kCommitted + 10);
}
