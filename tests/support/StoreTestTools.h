#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class SessionStore;
struct ChatSession;

// Helpers for tests that look at a store file from outside the program.
namespace StoreTestTools {

// Runs the event loop until the store has opened.
bool waitUntilOpen(SessionStore &store);
// A record for a new row with the given messages ("user" or anything else).
ChatSession makeRecord(SessionStore &store, const QStringList &roles, const QStringList &contents);

struct StoredRow
{
    qint64 id = 0;
    QVariant updatedAt;
    QString updatedAtType;  // SQLite's typeof()
    QString roles;          // the raw JSON text
    QString contents;
};

// The rows of the ChatSession table, read through a connection of the test's
// own opened read-only; empty when the file cannot be read.
QList<StoredRow> readRows(const QString &path);
// PRAGMA user_version and the column names of ChatSession, in order.
int userVersion(const QString &path);
QStringList columns(const QString &path);
// Runs statements against `path` through a separate connection (creating a file).
bool execute(const QString &path, const QStringList &statements);

QByteArray fileBytes(const QString &path);
// Names of the entries in a folder, sorted.
QStringList folderEntries(const QString &folder);

// Emits QCoreApplication::aboutToQuit as the application does when it quits.
void emitAboutToQuit();

// While alive, file-system calls run as an unprivileged user when the tests run
// as root (root ignores permission bits). `folder` is handed to that user.
class UnprivilegedScope
{
public:
    explicit UnprivilegedScope(const QString &folder);
    ~UnprivilegedScope();
    UnprivilegedScope(const UnprivilegedScope &) = delete;
    UnprivilegedScope &operator=(const UnprivilegedScope &) = delete;

private:
    bool m_dropped = false;
};

} // namespace StoreTestTools
