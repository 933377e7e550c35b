#pragma once

#include "ChatSession.h"

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

// The store's SQLite file: opening it safely, reading its records and writing
// one. The user's file is only ever read until it has been recognised as a
// store of ours with a schema this program understands; anything else (another
// program's file, a damaged file, a newer schema) is left exactly as it was.
// Used on the store's own thread only.
namespace StoreFile {

// The table, columns in this order; lists are JSON arrays of strings and
// updatedAt is seconds since 1970-01-01 UTC.
inline constexpr const char *createTableSql =
    "CREATE TABLE ChatSession (id INTEGER PRIMARY KEY, updatedAt REAL NOT NULL, "
    "roles TEXT NOT NULL, contents TEXT NOT NULL)";

// Makes the store's folder (owner-only) when it does not exist yet.
bool ensureFolder(const QString &folder);

// Adds a QSQLITE connection named `connectionName` for the file at `path`,
// creating the folder (0700), the file (0600) and the schema when they do not
// exist yet. Returns true when the connection is open on a usable store; on
// false the connection is closed and the file untouched (a file created by this
// call is removed again).
bool open(const QString &path, const QString &connectionName, int schemaVersion);

// Every record, newest first, read in one transaction; nullopt when any row
// cannot be read. Only the newest record comes with its messages: the program
// deletes the others, which are checked whole but not kept. The lists are read
// from SQLite's pages piece by piece and decoded as they come, so a long
// conversation is never held twice. When the newest record holds more than
// `firstPart` messages, `partRead` gets the records as soon as the first
// `firstPart` texts are decoded, the later messages still without text (the
// rest of the file may then still turn out unreadable).
std::optional<QList<ChatSession>> readAll(QSqlDatabase &db, qsizetype firstPart,
                                          const std::function<void(const QList<ChatSession> &)> &partRead);

// A record as it is written: its lists already encoded.
struct Row
{
    qint64 id = 0;
    double updatedAt = 0;  // seconds since 1970-01-01 UTC
    QByteArray roles;
    QByteArray contents;
};
Row encode(const ChatSession &record);

// One transaction: deletes the rows `removed`, then writes each of `rows`
// (a new row, or in place of the row with its id). False when nothing was written.
bool write(QSqlDatabase &db, const QList<qint64> &removed, const QList<Row> &rows);

} // namespace StoreFile
