#include "StoreFile.h"

#include "StoreJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <cmath>
#include <cstring>
#include <functional>
#include <sqlite3.h>

namespace {

// Room in a restored list for the messages of the turns to come: the GUI
// thread adds them without reallocating the list, which for a long
// conversation means copying megabytes into fresh memory.
constexpr qsizetype roomToGrow = 1000;

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

// The SQLite connection under a Qt one, for reading a column in pieces.
sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// Hands one list column of a row to `reader`, a piece at a time, straight
// from SQLite's pages (incremental I/O: the value is never assembled whole).
// A string that runs on past a piece is kept at the front of the buffer, which
// grows only for a string longer than itself.
bool readColumn(sqlite3 *handle, const char *column, qint64 rowId, StoreJson::ListReader &reader)
{
    sqlite3_blob *blob = nullptr;
    if (sqlite3_blob_open(handle, "main", "ChatSession", column, rowId, 0, &blob) != SQLITE_OK) {
        sqlite3_blob_close(blob);
        return false;
    }
    const qsizetype size = sqlite3_blob_bytes(blob);
    QByteArray buffer(std::min<qsizetype>(size, 256 * 1024), Qt::Uninitialized);
    qsizetype kept = 0;
    bool ok = true;
    for (qsizetype at = 0; ok && at < size;) {
        if (kept == buffer.size())
            buffer.resize(buffer.size() * 2);
        const qsizetype length = std::min(buffer.size() - kept, size - at);
        ok = sqlite3_blob_read(blob, buffer.data() + kept, int(length), int(at)) == SQLITE_OK;
        at += length;
        const qsizetype used = ok ? reader.read(QByteArrayView(buffer.constData(), kept + length)) : -1;
        ok = used >= 0;
        kept = ok ? kept + length - used : 0;
        std::memmove(buffer.data(), buffer.constData() + std::max<qsizetype>(used, 0), kept);
    }
    sqlite3_blob_close(blob);
    return ok && kept == 0 && reader.finish();
}

// The roles of one row; nullopt when the column is not a list of strings.
std::optional<QList<ChatMessage::Role>> readRoles(sqlite3 *handle, qint64 rowId)
{
    using Role = ChatMessage::Role;
    StoreJson::TextDecoder text;
    QList<Role> roles;
    StoreJson::ListReader reader([&](QByteArrayView raw, bool hasEscapes) {
        if (!hasEscapes && (raw == "user" || raw == "assistant")) {
            roles.append(raw == "user" ? Role::user : Role::assistant);
            return true;
        }
        const auto role = text.decode(raw, hasEscapes);
        if (!role)
            return false;
        roles.append(*role == QLatin1String("user") ? Role::user : Role::assistant);
        return true;
    });
    return readColumn(handle, "roles", rowId, reader) ? std::optional(roles) : std::nullopt;
}

// True when one row's contents are a list of strings (each checked, none kept).
bool checkContents(sqlite3 *handle, qint64 rowId)
{
    StoreJson::TextDecoder text;
    StoreJson::ListReader reader([&](QByteArrayView raw, bool hasEscapes) {
        return hasEscapes ? text.decode(raw, hasEscapes).has_value() : raw.isValidUtf8();
    });
    return readColumn(handle, "contents", rowId, reader);
}

double toSeconds(const QDateTime &time) { return double(time.toMSecsSinceEpoch()) / 1000.0; }

QDateTime fromSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)), Qt::UTC);
}

} // namespace

// The folder is made owner-only when this program creates it.
bool StoreFile::ensureFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QFileInfo info(folder);
    QDir parent = info.dir();
    if (!parent.exists() && !QDir().mkpath(parent.absolutePath()))
        return false;
    return parent.mkdir(info.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

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

std::optional<QList<ChatSession>> StoreFile::readAll(QSqlDatabase &db, qsizetype firstPart,
                                                    const std::function<void(const QList<ChatSession> &)> &partRead)
{
    sqlite3 *handle = handleOf(db);
    if (!handle || !db.transaction())
        return std::nullopt;
    QList<ChatSession> records;
    bool ok = true;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        ok = query.exec(QStringLiteral("SELECT id, updatedAt FROM ChatSession ORDER BY updatedAt DESC"));
        while (ok && query.next()) {
            ChatSession record;
            record.id = query.value(0).toLongLong();
            bool isNumber = false;
            record.updatedAt = fromSeconds(query.value(1).toDouble(&isNumber));
            ok = isNumber;
            records.append(record);
        }
        ok = ok && !query.lastError().isValid();
    }
    // The newest record's messages, decoded as they are read: the first
    // `firstPart` go out as soon as they are, the later ones without text yet.
    QList<ChatMessage> messages;
    if (ok && !records.isEmpty()) {
        const auto roles = readRoles(handle, records.first().id);
        ok = roles.has_value();
        messages.reserve(ok ? roles->size() + roomToGrow : 0);
        for (qsizetype i = 0; ok && i < roles->size(); ++i)
            messages.append(ChatMessage(roles->at(i), QString()));
        StoreJson::TextDecoder text;
        qsizetype texts = 0;
        StoreJson::ListReader reader([&](QByteArrayView raw, bool hasEscapes) {
            std::optional<QString> content = text.decode(raw, hasEscapes);
            if (!content)
                return false;
            if (texts < messages.size())  // texts beyond the roles are not kept
                messages[texts].content = std::move(*content);
            if (++texts == firstPart && messages.size() > firstPart) {
                records.first().messages = messages;
                partRead(records);
                records.first().messages.clear();
            }
            return true;
        });
        ok = ok && readColumn(handle, "contents", records.first().id, reader);
        if (ok && texts < messages.size())  // roles beyond the texts are not kept
            messages.erase(messages.begin() + texts, messages.end());
    }
    // The older records are checked whole (the program deletes them unread).
    for (qsizetype i = 1; ok && i < records.size(); ++i)
        ok = readRoles(handle, records.at(i).id) && checkContents(handle, records.at(i).id);
    if (ok && !records.isEmpty())
        records.first().messages = std::move(messages);
    db.commit();
    return ok ? std::optional(records) : std::nullopt;
}

StoreFile::Row StoreFile::encode(const ChatSession &record)
{
    return {record.id, toSeconds(record.updatedAt), StoreJson::encodeRoles(record.messages),
            StoreJson::encodeContents(record.messages)};
}

bool StoreFile::write(QSqlDatabase &db, const QList<qint64> &removed, const QList<Row> &rows)
{
    if (!db.transaction())
        return false;
    bool ok = true;
    {
        QSqlQuery query(db);
        for (const qint64 id : removed) {
            query.prepare(QStringLiteral("DELETE FROM ChatSession WHERE id = ?"));
            query.addBindValue(id);
            ok = ok && query.exec();
        }
        // The lists travel as UTF-8 bytes and are stored as TEXT by the CAST.
        for (const Row &row : rows) {
            query.prepare(QStringLiteral("INSERT OR REPLACE INTO ChatSession (id, updatedAt, roles, contents) "
                                         "VALUES (?, ?, CAST(? AS TEXT), CAST(? AS TEXT))"));
            query.addBindValue(row.id);
            query.addBindValue(row.updatedAt);
            query.addBindValue(row.roles);
            query.addBindValue(row.contents);
            ok = ok && query.exec();
        }
    }
    if (ok && db.commit())
        return true;
    db.rollback();
    return false;
}
