#include "store/migrations.h"

#include "store/sqlite.h"

#include <QByteArray>

void MigrateSchema(TSqlite& db, const QList<const char*>& steps) {
    const qint64 known = steps.size();
    if (db.QueryInt("PRAGMA user_version") == known) {
        return;
    }
    TTransaction transaction(db);
    // Read again inside the transaction: another process may have migrated meanwhile.
    const qint64 version = db.QueryInt("PRAGMA user_version");
    if (version > known || version < 0) {
        throw EStoreError(QStringLiteral("The news store %1 has schema version %2, newer than "
                                         "this program knows (%3); it needs a newer program")
                              .arg(db.Path())
                              .arg(version)
                              .arg(known));
    }
    for (qint64 step = version; step < known; ++step) {
        db.Execute(steps[step]);
    }
    db.Execute(("PRAGMA user_version=" + QByteArray::number(known)).constData());
    transaction.Commit();
}
