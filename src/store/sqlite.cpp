#include "store/sqlite.h"

#include <QFile>
#include <sqlite3.h>

namespace {

// What a person can do about a failure to write, said beside SQLite's own words, which name
// neither the disk nor the folder.
QString WriteFailureHint(int rc) {
    switch (rc) {
    case SQLITE_IOERR_WRITE:
    case SQLITE_IOERR_FSYNC:
    case SQLITE_IOERR_TRUNCATE:
        return QStringLiteral(" (writing failed: is the disk full? What was stored before "
                              "stays)");
    default:
        break;
    }
    switch (rc & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral(" (the disk is full: what was stored before stays; free some "
                              "space)");
    case SQLITE_READONLY:
        return QStringLiteral(" (the file or its folder is read-only: what was stored before "
                              "stays, nothing new is kept)");
    default:
        return {};
    }
}

QString ErrorText(sqlite3* db, int rc) {
    // The connection's message is more precise ("no such table: x") when it belongs to rc.
    if (db != nullptr && sqlite3_extended_errcode(db) == rc) {
        return QString::fromUtf8(sqlite3_errmsg(db));
    }
    return QString::fromUtf8(sqlite3_errstr(rc));
}

} // namespace

TSqlite::TSqlite(const QString& path, int busyTimeoutMs) : path_(path) {
    const QByteArray name = QFile::encodeName(path);
    const int rc =
        sqlite3_open_v2(name.constData(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = ErrorText(db_, rc) + WriteFailureHint(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw EStoreError(
            QStringLiteral("The news store %1 cannot be opened: %2").arg(path, reason));
    }
    try {
        sqlite3_extended_result_codes(db_, 1);
        Check(sqlite3_busy_timeout(db_, busyTimeoutMs), "setting the busy time-out");
        // Takes effect only while the file is new. Summaries are written in long runs and
        // articles are large: fewer, larger pages cut the b-tree work per row by a third.
        Execute("PRAGMA page_size=32768");
        // The first statement that reads the file: junk or a damaged header fails here.
        Execute("PRAGMA journal_mode=WAL");
        // In WAL mode NORMAL loses no committed transaction on a crash of the program, only
        // possibly the last ones on a power cut, and saves a sync per commit.
        Execute("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
        // The log is copied into the file after a commit once it holds this many pages, and
        // what is left at close. SQLite's 1000 pages are 4 MB of its usual small pages but
        // 32 MB of these: a sync's whole log was then copied at close, after the listing,
        // instead of a few megabytes at a time while the rest of it arrives.
        Execute(
            ("PRAGMA wal_autocheckpoint=" + QByteArray::number(kAutoCheckpointPages)).constData());
        QueryInt("SELECT count(*) FROM sqlite_schema");
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

TSqlite::~TSqlite() {
    sqlite3_close_v2(db_);
}

void TSqlite::Execute(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString reason =
            (message != nullptr ? QString::fromUtf8(message) : ErrorText(db_, rc)) +
            WriteFailureHint(rc);
        sqlite3_free(message);
        throw EStoreError(QStringLiteral("The news store %1 failed: %2 (%3)")
                              .arg(path_, reason, QString::fromUtf8(sql).simplified()));
    }
}

qint64 TSqlite::QueryInt(const char* sql) {
    TStatement statement(*this, sql);
    return statement.Step() ? statement.Int(0) : 0;
}

qint64 TSqlite::LastInsertRowId() const {
    return sqlite3_last_insert_rowid(db_);
}

qint64 TSqlite::Changes() const {
    return sqlite3_changes64(db_);
}

void TSqlite::Check(int rc, const char* doing) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        Fail(rc, doing);
    }
}

void TSqlite::Fail(int rc, const char* doing) const {
    throw EStoreError(
        QStringLiteral("The news store %1 failed %2: %3")
            .arg(path_, QString::fromUtf8(doing), ErrorText(db_, rc) + WriteFailureHint(rc)));
}

TStatement::TStatement(TSqlite& db, const char* sql) : db_(db) {
    const int rc =
        sqlite3_prepare_v3(db.Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        db.Fail(rc, "preparing a statement");
    }
}

TStatement::~TStatement() {
    sqlite3_finalize(statement_);
}

TStatement& TStatement::Bind(int index, qint64 value) {
    ResetIfLeftRunning();
    db_.Check(sqlite3_bind_int64(statement_, index, value), "binding a number");
    return *this;
}

TStatement& TStatement::Bind(int index, QByteArrayView bytes) {
    ResetIfLeftRunning();
    // An empty view may have no data pointer; SQLite would bind that as NULL.
    const char* data = bytes.isEmpty() ? "" : bytes.data();
    db_.Check(sqlite3_bind_blob64(statement_, index, data,
                                  static_cast<sqlite3_uint64>(bytes.size()), SQLITE_STATIC),
              "binding bytes");
    return *this;
}

TStatement& TStatement::BindText(int index, const QString& text) {
    ResetIfLeftRunning();
    const QByteArray utf8 = text.toUtf8();
    db_.Check(sqlite3_bind_text64(statement_, index, utf8.constData(),
                                  static_cast<sqlite3_uint64>(utf8.size()), SQLITE_TRANSIENT,
                                  SQLITE_UTF8),
              "binding text");
    return *this;
}

TStatement& TStatement::BindUtf8(int index, QByteArrayView utf8) {
    ResetIfLeftRunning();
    const char* data = utf8.isEmpty() ? "" : utf8.data();
    db_.Check(sqlite3_bind_text64(statement_, index, data, static_cast<sqlite3_uint64>(utf8.size()),
                                  SQLITE_STATIC, SQLITE_UTF8),
              "binding text");
    return *this;
}

TStatement& TStatement::BindNull(int index) {
    ResetIfLeftRunning();
    db_.Check(sqlite3_bind_null(statement_, index), "binding a null");
    return *this;
}

bool TStatement::Step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    sqlite3_reset(statement_);
    db_.Fail(rc, "running a statement");
}

void TStatement::Run() {
    while (Step()) {
    }
    Reset();
}

void TStatement::ResetIfLeftRunning() {
    // An exception between two steps leaves the statement in the middle of its rows (and its
    // read snapshot open); SQLite refuses to bind to it until it is reset.
    if (sqlite3_stmt_busy(statement_)) {
        sqlite3_reset(statement_);
    }
}

void TStatement::Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

qint64 TStatement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

QByteArray TStatement::Bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return QByteArray(static_cast<const char*>(data), size);
}

QByteArrayView TStatement::BytesView(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return QByteArrayView(static_cast<const char*>(data), size);
}

QString TStatement::Text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(statement_, column));
}

bool TStatement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

TTransaction::TTransaction(TSqlite& db) : db_(db) {
    db_.Execute("BEGIN IMMEDIATE");
}

TTransaction::~TTransaction() {
    if (open_) {
        // A failed rollback leaves SQLite to roll back on close; a destructor must not throw.
        sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void TTransaction::Commit() {
    db_.Execute("COMMIT");
    open_ = false;
}
