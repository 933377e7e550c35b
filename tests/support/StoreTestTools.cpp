#include "StoreTestTools.h"

#include "SessionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMetaObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <unistd.h>

namespace StoreTestTools {

bool waitUntilOpen(SessionStore &store)
{
    return QTest::qWaitFor([&] { return store.isOpen(); }, 30000);
}

ChatSession makeRecord(SessionStore &store, const QStringList &roles, const QStringList &contents)
{
    ChatSession record = store.newRecord();
    for (qsizetype i = 0; i < roles.size(); ++i)
        record.messages.append(ChatMessage(roles[i] == QLatin1String("user") ? ChatMessage::Role::user
                                                                             : ChatMessage::Role::assistant,
                                           contents.value(i)));
    return record;
}

namespace {

// Runs `body` with a connection of its own and removes the connection after.
template <typename Body>
void withConnection(const QString &path, bool readOnly, Body body)
{
    static int counter = 0;
    const QString name = QStringLiteral("store-test-tools-%1").arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open())
            body(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

QList<StoredRow> readRows(const QString &path)
{
    QList<StoredRow> rows;
    withConnection(path, true, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral(
                "SELECT id, updatedAt, typeof(updatedAt), roles, contents FROM ChatSession ORDER BY id")))
            return;
        while (query.next())
            rows.append({query.value(0).toLongLong(), query.value(1), query.value(2).toString(),
                         query.value(3).toString(), query.value(4).toString()});
    });
    return rows;
}

int userVersion(const QString &path)
{
    int version = -1;
    withConnection(path, true, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA user_version")) && query.next())
            version = query.value(0).toInt();
    });
    return version;
}

QStringList columns(const QString &path)
{
    QStringList names;
    withConnection(path, true, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA table_info(ChatSession)")))
            while (query.next())
                names << query.value(1).toString() + QLatin1Char(' ') + query.value(2).toString();
    });
    return names;
}

bool execute(const QString &path, const QStringList &statements)
{
    bool ok = false;
    withConnection(path, false, [&](QSqlDatabase &db) {
        ok = true;
        for (const QString &sql : statements)
            ok = ok && QSqlQuery(db).exec(sql);
    });
    return ok;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList folderEntries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

void emitAboutToQuit()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
}

UnprivilegedScope::UnprivilegedScope(const QString &folder)
{
    if (geteuid() != 0)
        return;
    constexpr uid_t nobody = 65534;
    m_dropped = chown(QFile::encodeName(folder).constData(), nobody, nobody) == 0
                && setegid(nobody) == 0 && seteuid(nobody) == 0;
}

UnprivilegedScope::~UnprivilegedScope()
{
    if (m_dropped) {
        [[maybe_unused]] int a = seteuid(0);
        [[maybe_unused]] int b = setegid(0);
    }
}

} // namespace StoreTestTools
