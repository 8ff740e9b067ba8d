#pragma once

#include "store/storeerror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One connection to an SQLite database file. Every failure becomes an EStoreError whose message
// names the file and gives SQLite's own text. The file is opened in WAL mode with a busy
// time-out, so a second process (or connection) can read while one writes, and a writer waits
// for another writer instead of failing at once.
class TSqlite {
public:
    // Long enough for another process's transaction of a large batch to finish.
    static constexpr int kDefaultBusyTimeoutMs = 30000;
    // The write-ahead log's pages (32 KB each) that start a checkpoint after a commit: 4 MB.
    static constexpr int kAutoCheckpointPages = 128;

    // Opens or creates path. A file that is not a database, or whose header is damaged, fails
    // here rather than at the first query.
    explicit TSqlite(const QString& path, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~TSqlite();
    TSqlite(const TSqlite&) = delete;
    TSqlite& operator=(const TSqlite&) = delete;

    const QString& Path() const { return path_; }
    sqlite3* Handle() const { return db_; }

    // Runs sql, which may hold several statements and returns no rows.
    void Execute(const char* sql);
    // The single integer a statement such as "PRAGMA user_version" returns.
    qint64 QueryInt(const char* sql);
    qint64 LastInsertRowId() const;
    // Rows the last INSERT, UPDATE or DELETE changed.
    qint64 Changes() const;

    // Throws an EStoreError for result code rc unless it is one of the success codes.
    void Check(int rc, const char* doing) const;
    [[noreturn]] void Fail(int rc, const char* doing) const;

private:
    QString path_;
    sqlite3* db_ = nullptr;
};

// A prepared statement, prepared once and run many times: Bind, Step until it returns false,
// Reset, bind again. Columns are read straight into QByteArray or qint64.
class TStatement {
public:
    TStatement(TSqlite& db, const char* sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    // Parameters count from 1. Bytes are not copied: they must stay unchanged until the
    // statement is reset or bound again.
    TStatement& Bind(int index, qint64 value);
    TStatement& Bind(int index, QByteArrayView bytes);
    // Text parameters for names that compare as text (host names, users).
    TStatement& BindText(int index, const QString& text);
    // Text already in UTF-8, not copied, as Bind's bytes; for what SQLite reads as words.
    TStatement& BindUtf8(int index, QByteArrayView utf8);
    TStatement& BindNull(int index);

    // True while there is a row to read; false once the statement is done.
    bool Step();
    // Steps a statement that returns no rows and resets it, ready for the next binding.
    void Run();
    void Reset();

    // Columns count from 0.
    qint64 Int(int column) const;
    QByteArray Bytes(int column) const;
    // The column's bytes where SQLite holds them, without a copy: valid until the next Step or
    // Reset.
    QByteArrayView BytesView(int column) const;
    QString Text(int column) const;
    bool IsNull(int column) const;

private:
    void ResetIfLeftRunning();

    TSqlite& db_;
    sqlite3_stmt* statement_ = nullptr;
};

// A write transaction, begun IMMEDIATE so that a second writer waits on the busy time-out at
// the start instead of failing halfway. Rolled back unless Commit is called, so an exception
// that leaves the scope leaves the file as it was.
class TTransaction {
public:
    explicit TTransaction(TSqlite& db);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit();

private:
    TSqlite& db_;
    bool open_ = true;
};
