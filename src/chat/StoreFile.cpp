#include "StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <optional>

namespace {

enum class FileState { missing, empty, sqlite, foreign };

FileState inspect(const QString &path)
{
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return FileState::missing;
    if (!info.isFile())
        return FileState::foreign;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileState::foreign;
    const QByteArray header = file.read(16);
    if (header.isEmpty() && file.size() == 0)
        return FileState::empty;
    return header == QByteArray("SQLite format 3\0", 16) ? FileState::sqlite : FileState::foreign;
}

// The folder is made owner-only when this program creates it.
bool ensureFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QFileInfo info(folder);
    QDir parent = info.dir();
    if (!parent.exists() && !QDir().mkpath(parent.absolutePath()))
        return false;
    return parent.mkdir(info.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool createOwnerOnlyFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner);
}

std::optional<QVariant> scalar(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next())
        return std::nullopt;
    return query.value(0);
}

// True when the table has exactly our columns, in our order.
bool hasOurTable(QSqlDatabase &db)
{
    struct Column { const char *name; const char *type; bool notNull; bool key; };
    static const Column expected[] = {{"id", "INTEGER", false, true},
                                      {"updatedAt", "REAL", true, false},
                                      {"roles", "TEXT", true, false},
                                      {"contents", "TEXT", true, false}};
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(ChatSession)")))
        return false;
    int i = 0;
    while (query.next()) {
        if (i >= 4)
            return false;
        const Column &c = expected[i++];
        if (query.value(1).toString() != QLatin1String(c.name)
            || query.value(2).toString().compare(QLatin1String(c.type), Qt::CaseInsensitive) != 0
            || query.value(3).toBool() != c.notNull || query.value(5).toBool() != c.key)
            return false;
    }
    return i == 4;
}

bool createSchema(QSqlDatabase &db, int schemaVersion)
{
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    if (query.exec(QString::fromLatin1(StoreFile::createTableSql))
        && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion)) && db.commit())
        return true;
    db.rollback();
    return false;
}

// Reads before it writes: only an empty database gets the schema.
bool prepare(QSqlDatabase &db, bool knownEmpty, int schemaVersion)
{
    if (!knownEmpty) {
        const auto check = scalar(db, QStringLiteral("PRAGMA quick_check"));
        if (!check || check->toString() != QLatin1String("ok"))
            return false;
    }
    const auto version = scalar(db, QStringLiteral("PRAGMA user_version"));
    const auto objects = scalar(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (!version || !objects)
        return false;
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = FULL"));
    const bool ours = version->toInt() == 0 && objects->toInt() == 0
                          ? createSchema(db, schemaVersion)
                          : version->toInt() == schemaVersion && hasOurTable(db);
    if (ours) {
        // A save rewrites the whole conversation. With a write-ahead log it is
        // written once and synced once, where a rollback journal copies the old
        // pages first and syncs three times; it is just as safe against a crash
        // or a kill. A store that cannot switch (a read-only folder) stays as it is.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    }
    return ours;
}

// A store in write-ahead-log mode needs its index file beside it even to be
// read, which a folder without write permission refuses. A store closed
// cleanly (no log, no journal beside it: no writer is at work on it) can
// still be read as it stands, without ever being written.
bool canReadInPlace(const QString &path)
{
    for (const char *suffix : {"-wal", "-journal", "-shm"})
        if (QFileInfo::exists(path + QLatin1String(suffix)))
            return false;
    return true;
}

QString readOnlyUri(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded)
           + QStringLiteral("?immutable=1");
}

} // namespace

bool StoreFile::open(const QString &path, const QString &connectionName, int schemaVersion)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    const FileState state = inspect(path);
    if (state == FileState::foreign)
        return false;
    const bool createdHere = state == FileState::missing;
    if (createdHere && !createOwnerOnlyFile(path))
        return false;

    // SQLite's side files that did not exist before this attempt; a failed
    // attempt (a full disk, a read-only folder) must not leave them behind.
    QStringList sideFilesMadeHere;
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        if (!QFileInfo::exists(path + QLatin1String(suffix)))
            sideFilesMadeHere << path + QLatin1String(suffix);

    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        ok = db.open() && prepare(db, state != FileState::sqlite, schemaVersion);
        if (!ok) {
            db.close();
            for (const QString &file : std::as_const(sideFilesMadeHere))
                QFile::remove(file);
        }
        if (!ok && state == FileState::sqlite && canReadInPlace(path)) {
            db.setDatabaseName(readOnlyUri(path));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
            ok = db.open() && prepare(db, false, schemaVersion);
            if (!ok)
                db.close();
        }
    }
    if (!ok && createdHere && QFileInfo(path).size() == 0)
        QFile::remove(path);
    return ok;
}
