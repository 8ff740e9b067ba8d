#pragma once

#include <QList>

class TSqlite;

// Brings the schema of db up to steps.size(): PRAGMA user_version counts the steps already
// run, and the missing ones run in order inside one transaction that also sets the new version,
// so a failure leaves the file as it was. A file of a newer version than steps knows fails with
// a message naming the file and both versions.
void MigrateSchema(TSqlite& db, const QList<const char*>& steps);
