#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <csignal>
#include <sys/stat.h>

using namespace StoreTestTools;

namespace {

std::shared_ptr<ChatSession> makeRecord(const QDateTime &at, const QStringList &roles,
                                        const QStringList &contents)
{
    auto record = std::make_shared<ChatSession>();
    record->setUpdatedAt(at);
    record->setRoles(roles);
    record->setContents(contents);
    return record;
}

int modeBits(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);

// A child process that rewrites one record again and again, reporting each
// completed save on stdout, until it is killed.
int runCrashWriter(const QString &path)
{
    SessionStore store(path);
    auto records = store.fetch();
    if (!records)
        return 2;
    auto record = records->isEmpty() ? std::make_shared<ChatSession>() : records->first();
    if (records->isEmpty())
        store.insert(record);
    const QString filler(20000, QLatin1Char('x'));
    for (int step = 1;; ++step) {
        const QString text = QStringLiteral("step %1 ").arg(step) + filler;
        record->setRoles(QStringList(40, QStringLiteral("user")));
        record->setContents(QStringList(40, text));
        record->setUpdatedAt(QDateTime::currentDateTimeUtc());
        if (!store.save())
            return 3;
        std::printf("%d\n", step);
        std::fflush(stdout);
    }
}

} // namespace

class TestSessionStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString storePath(const QString &name) const { return m_dir.filePath(name + "/Hushwing/Hushwing.sqlite"); }

private slots:
    void defaultPathIsInTheUsersDataFolderWhateverTheApplicationIsCalled()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dir.filePath("xdg").toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("SomeOrganisation"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_something_else"));
        QCOMPARE(SessionStore::defaultPath(), m_dir.filePath("xdg/Hushwing/Hushwing.sqlite"));
        QCoreApplication::setOrganizationName(QString());
        qputenv("XDG_DATA_HOME", saved);
    }

    void newStoreIsOwnerOnlyWithTheFixedSchema()
    {
        const QString path = storePath("fresh");
        SessionStore store(path);
        QVERIFY(store.isUsable());
        QCOMPARE(modeBits(path), 0600);
        QCOMPARE(modeBits(QFileInfo(path).absolutePath()), 0700);
        QCOMPARE(userVersion(path), SessionStore::schemaVersion);
        QCOMPARE(columns(path), QStringList({"id INTEGER", "updatedAt REAL", "roles TEXT", "contents TEXT"}));
        const auto fetched = store.fetch();
        QVERIFY(fetched.has_value());
        QVERIFY(fetched->isEmpty());
    }

    // Lists are JSON arrays of strings and the time is REAL seconds since 1970 UTC.
    void recordRoundTripsThroughTheFileExactly()
    {
        const QString path = storePath("roundtrip");
        const QStringList roles{"user", "assistant", "user", "assistant"};
        const QStringList contents{"Hi \"there\"\n\ttab", "", QString::fromUtf8("caf\u00e9 \u2014 \U0001F600 \\ end"),
                                   "Error: Could not connect."};
        {
            SessionStore store(path);
            store.insert(makeRecord(t0, roles, contents));
            QVERIFY(store.save());
        }
        const auto rows = readRows(path);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].updatedAtType, QStringLiteral("real"));
        QCOMPARE(rows[0].updatedAt.toDouble(), 1'700'000'000.123);
        QCOMPARE(rows[0].roles, QStringLiteral(R"(["user","assistant","user","assistant"])"));

        SessionStore reopened(path);
        const auto fetched = reopened.fetch();
        QVERIFY(fetched && fetched->size() == 1);
        QCOMPARE(fetched->first()->roles(), roles);
        QCOMPARE(fetched->first()->contents(), contents);
        QCOMPARE(fetched->first()->updatedAt(), t0);
    }

    void fetchIsNewestFirstAndTracksPendingInsertsAndDeletions()
    {
        const QString path = storePath("order");
        {
            SessionStore store(path);
            store.insert(makeRecord(t0.addSecs(10), {"user"}, {"middle"}));
            store.insert(makeRecord(t0.addSecs(20), {"user"}, {"newest"}));
            store.insert(makeRecord(t0, {"user"}, {"oldest"}));
            QVERIFY(store.save());
        }
        SessionStore store(path);
        auto fetched = store.fetch();
        QVERIFY(fetched && fetched->size() == 3);
        QCOMPARE(fetched->at(0)->contents(), QStringList{"newest"});
        QCOMPARE(fetched->at(1)->contents(), QStringList{"middle"});
        QCOMPARE(fetched->at(2)->contents(), QStringList{"oldest"});

        // Records are live: the same object comes back, with its unsaved values.
        fetched->at(2)->setUpdatedAt(t0.addSecs(30));
        store.remove(fetched->at(0));
        auto pending = makeRecord(t0.addSecs(5), {"user"}, {"pending"});
        store.insert(pending);
        const auto again = store.fetch();
        QVERIFY(again && again->size() == 3);
        QCOMPARE(again->at(0).get(), fetched->at(2).get());
        QCOMPARE(again->at(1).get(), fetched->at(1).get());
        QCOMPARE(again->at(2).get(), pending.get());
        QCOMPARE(readRows(path).size(), 3);  // nothing written before the save

        QVERIFY(store.save());
        const auto rows = readRows(path);
        QCOMPARE(rows.size(), 3);
        QVERIFY(std::none_of(rows.begin(), rows.end(), [](const auto &r) { return r.contents.contains("newest"); }));
    }

    // Pending changes reach the disk from the event loop, at quit and on destruction.
    void pendingChangesAreSavedAutomatically()
    {
        const QString path = storePath("autosave");
        SessionStore store(path);
        auto record = makeRecord(t0, {"user"}, {"one"});
        store.insert(record);
        QTRY_COMPARE(readRows(path).size(), 1);
        QVERIFY(!store.hasChanges());

        record->setContents({"two"});
        QVERIFY(store.hasChanges());
        emitAboutToQuit();
        QCOMPARE(readRows(path).value(0).contents, QStringLiteral(R"(["two"])"));

        {
            SessionStore second(storePath("autosave-destroyed"));
            auto other = makeRecord(t0, {"assistant"}, {"kept"});
            second.insert(other);
            other->setContents({"kept at the end"});
        }
        QCOMPARE(readRows(storePath("autosave-destroyed")).value(0).contents,
                 QStringLiteral(R"(["kept at the end"])"));
    }

    // Damaged, foreign and newer files: the store reads nothing, writes nothing,
    // and the file keeps every byte.
    void unreadableFilesAreLeftUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not SQLite") << "text";
        QTest::newRow("damaged table pages") << "damaged";
        QTest::newRow("another program's database") << "foreign";
        QTest::newRow("same table name, other columns") << "otherColumns";
        QTest::newRow("newer schema version") << "newer";
        QTest::newRow("row whose lists are not JSON") << "badRow";
        QTest::newRow("a folder in the file's place") << "folder";
    }
    void unreadableFilesAreLeftUntouched()
    {
        QFETCH(QString, kind);
        const QString path = storePath("unreadable-" + kind);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (kind == "text") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("My notes, not a database.\n");
        } else if (kind == "damaged") {
            {
                SessionStore store(path);
                store.insert(makeRecord(t0, QStringList(50, "user"), QStringList(50, QString(300, 'a'))));
                QVERIFY(store.save());
            }
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.size() > 8192);
            f.seek(4096);
            f.write(QByteArray(4096, '\xff'));
        } else if (kind == "foreign") {
            QVERIFY(execute(path, {"CREATE TABLE Notes (title TEXT)", "INSERT INTO Notes VALUES ('mine')"}));
        } else if (kind == "otherColumns") {
            QVERIFY(execute(path, {"CREATE TABLE ChatSession (id INTEGER PRIMARY KEY, text TEXT)",
                                   "PRAGMA user_version = 1"}));
        } else if (kind == "newer") {
            QVERIFY(execute(path, {"CREATE TABLE ChatSession (id INTEGER PRIMARY KEY, updatedAt REAL NOT NULL, "
                                   "roles TEXT NOT NULL, contents TEXT NOT NULL, extra TEXT)",
                                   "PRAGMA user_version = 2"}));
        } else if (kind == "badRow") {
            { SessionStore create(path); }
            QVERIFY(execute(path, {"INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (1.0, 'user', '[1]')"}));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path + "/inside"));
        }
        const QByteArray before = fileBytes(path);
        const QStringList entriesBefore = folderEntries(QFileInfo(path).absolutePath());

        {
            SessionStore store(path);
            QVERIFY(!store.fetch().has_value());
            store.insert(makeRecord(t0, {"user"}, {"hello"}));
            QVERIFY(!store.save());
            QTest::qWait(20);
            emitAboutToQuit();
        }
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(folderEntries(QFileInfo(path).absolutePath()), entriesBefore);
    }

    void unwritableFolderStoresNothingAndChangesNothing()
    {
        QTemporaryDir dir;
        const QString shut = dir.filePath("shut/Hushwing");
        const QString blocked = dir.filePath("blocked/Hushwing.sqlite");
        {
            // A file where the folder should be: no folder, no store.
            QFile f(dir.filePath("blocked"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        {
            SessionStore store(blocked);
            QVERIFY(!store.fetch().has_value());
        }
        QCOMPARE(fileBytes(dir.filePath("blocked")), QByteArray("x"));

        UnprivilegedScope asUser(dir.path());
        QVERIFY(QDir().mkpath(shut));
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::ExeOwner);
        {
            SessionStore store(shut + "/Hushwing.sqlite");
            QVERIFY(!store.fetch().has_value());
        }
        QVERIFY(!QFileInfo::exists(shut + "/Hushwing.sqlite"));

        // An existing store in a folder that became read-only can be read, and
        // a failed save leaves it as it was.
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        {
            SessionStore store(shut + "/Hushwing.sqlite");
            store.insert(makeRecord(t0, {"user"}, {"saved before"}));
            QVERIFY(store.save());
        }
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray before = fileBytes(shut + "/Hushwing.sqlite");
        {
            SessionStore store(shut + "/Hushwing.sqlite");
            auto fetched = store.fetch();
            QVERIFY(fetched && fetched->size() == 1);
            fetched->first()->setContents({"changed"});
            QVERIFY(!store.save());
            QCOMPARE(fetched->first()->contents(), QStringList{"changed"});  // memory unaffected
        }
        QCOMPARE(fileBytes(shut + "/Hushwing.sqlite"), before);
        QCOMPARE(folderEntries(shut), QStringList{"Hushwing.sqlite"});
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A writer killed at arbitrary moments leaves a file that opens with one
    // whole saved conversation, never a mix of two saves.
    void killedWriterLeavesTheLastSavedConversation()
    {
        const QString path = storePath("crash");
        for (int round = 0; round < 4; ++round) {
            QProcess writer;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HUSHWING_STORE_WRITER", path);
            writer.setProcessEnvironment(env);
            writer.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(writer.waitForStarted());
            int lastReported = 0;
            while (lastReported < 3 + round * 2) {
                QVERIFY(writer.waitForReadyRead(30000));
                while (writer.canReadLine())
                    lastReported = writer.readLine().trimmed().toInt();
            }
            QTest::qWait(round * 3);
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished(30000));
            const QByteArray rest = writer.readAllStandardOutput().trimmed();
            if (!rest.isEmpty())
                lastReported = rest.split('\n').last().toInt();

            SessionStore store(path);
            const auto fetched = store.fetch();
            QVERIFY(fetched && fetched->size() == 1);
            const QStringList contents = fetched->first()->contents();
            QCOMPARE(contents.size(), 40);
            QCOMPARE(fetched->first()->roles().size(), 40);
            QCOMPARE(QSet<QString>(contents.begin(), contents.end()).size(), 1);
            const int saved = contents.first().section(' ', 1, 1).toInt();
            QVERIFY2(saved == lastReported || saved == lastReported + 1,
                     qPrintable(QStringLiteral("saved %1, reported %2").arg(saved).arg(lastReported)));
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("HUSHWING_STORE_WRITER"))
        return runCrashWriter(qEnvironmentVariable("HUSHWING_STORE_WRITER"));
    TestSessionStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionstore.moc"
