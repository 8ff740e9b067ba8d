#include "store/migrations.h"
#include "store/newsstore.h"
#include "store/sqlite.h"
#include "storefailure.h"
#include "testfiles.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A fresh database file per test.
class SqliteTest : public ::testing::Test {
protected:
    TestDir dir;
    QString path = dir.Path("test.db");

    // The message of the EStoreError that call throws; fails the test when it throws none.
    // The text the single-value statement sql returns.
    static QString TextOf(TSqlite& db, const char* sql) {
        TStatement statement(db, sql);
        return statement.Step() ? statement.Text(0) : QString();
    }
};

TEST_F(SqliteTest, StoresBytesAndNumbersExactly) {
    TSqlite db(path);
    db.Execute("CREATE TABLE t (n INTEGER, b BLOB)");
    const QByteArray bytes("\0\x01\xff\t\r\nend", 9);
    const QList<qint64> numbers = {0, -1, std::numeric_limits<qint64>::max(),
                                   std::numeric_limits<qint64>::min()};
    TStatement insert(db, "INSERT INTO t VALUES (?1, ?2)");
    for (const qint64 n : numbers) {
        insert.Bind(1, n).Bind(2, bytes).Run();
    }
    insert.Bind(1, 7).Bind(2, QByteArrayView()).Run();

    TStatement select(db, "SELECT n, b FROM t ORDER BY rowid");
    for (const qint64 n : numbers) {
        ASSERT_TRUE(select.Step());
        EXPECT_EQ(select.Int(0), n);
        EXPECT_EQ(select.Bytes(1), bytes);
    }
    ASSERT_TRUE(select.Step());
    // Empty bytes stay empty bytes, not NULL.
    EXPECT_FALSE(select.IsNull(1));
    EXPECT_EQ(select.Bytes(1), QByteArray());
    EXPECT_FALSE(select.Step());
}

// A statement left in the middle of its rows, as an exception between two steps leaves it,
// starts afresh at the next binding instead of refusing it.
TEST_F(SqliteTest, StatementLeftMidwayRunsAgain) {
    TSqlite db(path);
    db.Execute("CREATE TABLE t (n INTEGER); INSERT INTO t VALUES (1), (2), (3)");
    TStatement select(db, "SELECT n FROM t WHERE n >= ?1 ORDER BY n");
    select.Bind(1, 1);
    ASSERT_TRUE(select.Step());
    select.Bind(1, 2);
    ASSERT_TRUE(select.Step());
    EXPECT_EQ(select.Int(0), 2);
    ASSERT_TRUE(select.Step());
    EXPECT_EQ(select.Int(0), 3);
    EXPECT_FALSE(select.Step());
}

// Every failure names the file and gives SQLite's own reason.
TEST_F(SqliteTest, ErrorsNameTheFileAndSqlitesText) {
    TSqlite db(path);
    db.Execute("CREATE TABLE t (n INTEGER UNIQUE)");
    const struct {
        const char* what;
        std::function<void()> call;
        const char* reason;
    } cases[] = {
        {"bad statement", [&] { db.Execute("SELEKT 1"); }, "syntax error"},
        {"bad prepare", [&] { TStatement(db, "SELECT * FROM missing"); }, "no such table"},
        {"constraint",
         [&] {
             TStatement insert(db, "INSERT INTO t VALUES (1)");
             insert.Run();
             insert.Run();
         },
         "UNIQUE constraint failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString message = StoreFailureOf(c.call);
        EXPECT_TRUE(message.contains(path)) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.reason))) << message.toStdString();
    }
}

struct BadFileCase {
    const char* what;
    QByteArray bytes;
};

// A file that is not a database, or whose header is damaged, fails to open, naming the file;
// the file is left as it was.
TEST_F(SqliteTest, JunkOrDamagedFileFailsNamingIt) {
    QByteArray damaged;
    {
        TNewsStore store(dir.Path("good.db"));
        store.AddSummaries(store.GroupId(store.ServerId(QStringLiteral("h"), 119), "g"),
                           {{1, "1\tsubject"}});
        store.Database().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    damaged = dir.Read("good.db");
    damaged.replace(0, 16, QByteArray(16, 'x'));
    QByteArray junk;
    for (int i = 0; i < 8192; ++i) {
        junk += char(i * 7919 % 251);
    }
    const BadFileCase cases[] = {
        {"junk", junk},
        {"text", QByteArray("group: 1-100\n").repeated(200)},
        {"damaged header", damaged},
    };
    for (const BadFileCase& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("bad.db", c.bytes);
        const QString message = StoreFailureOf([&] { TNewsStore store(dir.Path("bad.db")); });
        EXPECT_TRUE(message.contains(dir.Path("bad.db"))) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("not a database"))) << message.toStdString();
        EXPECT_EQ(dir.Read("bad.db"), c.bytes);
    }
}

TEST_F(SqliteTest, UnopenableFileFailsNamingIt) {
    const QString inMissingFolder = dir.Path("missing/news.db");
    const QString message = StoreFailureOf([&] { TSqlite db(inMissingFolder); });
    EXPECT_TRUE(message.contains(inMissingFolder)) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("unable to open"))) << message.toStdString();
}

TEST_F(SqliteTest, TransactionRollsBackUnlessCommitted) {
    TSqlite db(path);
    db.Execute("CREATE TABLE t (n INTEGER)");
    try {
        TTransaction transaction(db);
        db.Execute("INSERT INTO t VALUES (1)");
        throw EStoreError(QStringLiteral("interrupted"));
    } catch (const EStoreError&) {
    }
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM t"), 0);
    {
        TTransaction transaction(db);
        db.Execute("INSERT INTO t VALUES (2)");
        transaction.Commit();
    }
    EXPECT_EQ(db.QueryInt("SELECT sum(n) FROM t"), 2);
}

// While one connection writes, another reads what was committed before, and a second writer
// whose busy time-out runs out fails with a clear message instead of mixing the two.
TEST_F(SqliteTest, ReaderSeesCommittedStateWhileAnotherWrites) {
    TSqlite writer(path);
    writer.Execute("CREATE TABLE t (n INTEGER); INSERT INTO t VALUES (1)");
    TSqlite reader(path, 0);
    TTransaction transaction(writer);
    writer.Execute("INSERT INTO t VALUES (2)");

    EXPECT_EQ(reader.QueryInt("SELECT count(*) FROM t"), 1);
    const QString message = StoreFailureOf([&] { TTransaction second(reader); });
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("locked"))) << message.toStdString();

    transaction.Commit();
    EXPECT_EQ(reader.QueryInt("SELECT count(*) FROM t"), 2);
}

// Two writers on one file, each in its own thread and connection as two processes would be:
// the busy time-out makes each wait for the other, and both finish with every row kept.
TEST_F(SqliteTest, TwoWritersBothFinish) {
    TSqlite(path).Execute("CREATE TABLE t (writer INTEGER, n INTEGER)");
    constexpr int kTransactions = 200;
    const auto write = [&](int writer) {
        TSqlite db(path);
        TStatement insert(db, "INSERT INTO t VALUES (?1, ?2)");
        for (int i = 0; i < kTransactions; ++i) {
            TTransaction transaction(db);
            insert.Bind(1, writer).Bind(2, i).Run();
            db.QueryInt("SELECT count(*) FROM t");
            insert.Bind(1, writer).Bind(2, -i).Run();
            transaction.Commit();
        }
    };
    std::exception_ptr failure;
    std::thread other([&] {
        try {
            write(2);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    write(1);
    other.join();
    ASSERT_FALSE(failure);
    TSqlite db(path);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM t WHERE writer = 1"), 2 * kTransactions);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM t WHERE writer = 2"), 2 * kTransactions);
    EXPECT_EQ(TextOf(db, "PRAGMA integrity_check"), QStringLiteral("ok"));
}

class MigrationTest : public SqliteTest {
protected:
    const QList<const char*> first = {"CREATE TABLE a (n INTEGER)"};
    const QList<const char*> both = {"CREATE TABLE a (n INTEGER)",
                                     "CREATE TABLE b (n INTEGER); INSERT INTO a VALUES (7)"};
};

TEST_F(MigrationTest, RunsOnlyTheMissingSteps) {
    {
        TSqlite db(path);
        EXPECT_EQ(db.QueryInt("PRAGMA user_version"), 0);
        MigrateSchema(db, first);
        EXPECT_EQ(db.QueryInt("PRAGMA user_version"), 1);
    }
    TSqlite db(path);
    // The first step would fail if it ran again: table a exists.
    MigrateSchema(db, both);
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), 2);
    EXPECT_EQ(db.QueryInt("SELECT n FROM a"), 7);
    MigrateSchema(db, both);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM a"), 1);
}

TEST_F(MigrationTest, FailedStepLeavesTheFileAsItWas) {
    TSqlite db(path);
    MigrateSchema(db, first);
    const QList<const char*> broken = {first[0], "CREATE TABLE b (n INTEGER)", "SELEKT"};
    EXPECT_TRUE(StoreFailureOf([&] { MigrateSchema(db, broken); }).contains(path));
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), 1);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM sqlite_schema WHERE name = 'b'"), 0);
}

TEST_F(MigrationTest, NewerFileThanKnownFailsClearly) {
    {
        TSqlite db(path);
        MigrateSchema(db, both);
    }
    TSqlite db(path);
    const QString message = StoreFailureOf([&] { MigrateSchema(db, first); });
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(
        message.contains(QStringLiteral("schema version 2, newer than this program knows (1)")))
        << message.toStdString();
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), 2);
}

// A new file and a file of version 0 (made by anything, still empty) get the store's whole
// schema; a newer store is refused before anything is written to it.
TEST_F(MigrationTest, NewsStoreMigratesFromVersionZero) {
    TSqlite(path).Execute("CREATE TABLE unrelated (n INTEGER)");
    {
        TNewsStore store(path);
        EXPECT_EQ(store.Database().QueryInt("PRAGMA user_version"),
                  TNewsStore::SchemaSteps().size());
        EXPECT_EQ(TextOf(store.Database(), "PRAGMA journal_mode"), QStringLiteral("wal"));
    }
    TSqlite(path).Execute("PRAGMA user_version=99");
    const QString message = StoreFailureOf([&] { TNewsStore store(path); });
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("99"))) << message.toStdString();
}

// A store of the first release, its summaries in a rowid table with an index beside it, is
// brought to the table keyed by group and number alone: every summary, read mark and article
// is still there, byte for byte.
TEST_F(MigrationTest, SummariesMoveToTheTableKeyedByGroupAndNumber) {
    const QList<TStoredSummary> kept = {{1, "1\tfirst\tx\t\t<1@x>\t\t1\t1"},
                                        {2, QByteArray("2\t\xff\0bytes", 9)},
                                        {70000, "70000\tlast"}};
    {
        TSqlite db(path);
        MigrateSchema(db, {TNewsStore::SchemaSteps().first()});
        db.Execute("INSERT INTO server (host, port) VALUES ('h', 119);"
                   "INSERT INTO newsgroup (server, name, read_marks) VALUES (1, x'67', '1-2');"
                   "INSERT INTO article (newsgroup, number, message_id, size, bytes) "
                   "VALUES (1, 2, '<2@x>', 4, 'body')");
        TStatement insert(db, "INSERT INTO summary (newsgroup, number, line) VALUES (?1, ?2, ?3)");
        for (qint64 other : {1, 2}) {
            for (const TStoredSummary& summary : kept) {
                insert.Bind(1, other).Bind(2, summary.number).Bind(3, summary.line).Run();
            }
        }
    }
    TNewsStore store(path);
    const qint64 group = store.GroupId(store.ServerId(QStringLiteral("h"), 119), "g");
    EXPECT_EQ(store.Summaries(group), kept);
    EXPECT_EQ(store.Summaries(2), kept);
    EXPECT_EQ(store.ReadMarks(group).Format(), QByteArray("1-2"));
    EXPECT_EQ(store.Article(group, 2), QByteArray("body"));
    EXPECT_TRUE(TextOf(store.Database(), "SELECT sql FROM sqlite_schema WHERE name = 'summary'")
                    .contains(QStringLiteral("WITHOUT ROWID")));
    EXPECT_EQ(TextOf(store.Database(), "PRAGMA integrity_check"), QStringLiteral("ok"));
}

} // namespace
