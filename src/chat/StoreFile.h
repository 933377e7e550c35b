#pragma once

#include <QString>

// Opening the store's SQLite file safely. The user's file is only ever read
// until it has been recognised as a store of ours with a schema this program
// understands; anything else (another program's file, a damaged file, a newer
// schema) is left exactly as it was.
namespace StoreFile {

// The table, columns in this order; lists are JSON arrays of strings and
// updatedAt is seconds since 1970-01-01 UTC.
inline constexpr const char *createTableSql =
    "CREATE TABLE ChatSession (id INTEGER PRIMARY KEY, updatedAt REAL NOT NULL, "
    "roles TEXT NOT NULL, contents TEXT NOT NULL)";

// Adds a QSQLITE connection named `connectionName` for the file at `path`,
// creating the folder (0700), the file (0600) and the schema when they do not
// exist yet. Returns true when the connection is open on a usable store; on
// false the connection is closed and the file untouched (a file created by this
// call is removed again).
bool open(const QString &path, const QString &connectionName, int schemaVersion);

} // namespace StoreFile
