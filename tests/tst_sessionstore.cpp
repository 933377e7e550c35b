#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <csignal>
#include <sys/stat.h>

using namespace StoreTestTools;

namespace {

int modeBits(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);

QStringList contentsOf(const ChatSession &record)
{
    QStringList list;
    for (const ChatMessage &m : record.messages)
        list << m.content;
    return list;
}

QStringList rolesOf(const ChatSession &record)
{
    QStringList list;
    for (const ChatMessage &m : record.messages)
        list << roleName(m.role);
    return list;
}

// The records of the store at `path`, as the next start reads them.
std::optional<QList<ChatSession>> recordsAt(const QString &path)
{
    SessionStore store(path);
    if (!waitUntilOpen(store))
        return std::nullopt;
    return store.takeRecords();
}

// A child process that rewrites one record again and again, reporting on
// stdout each save that a reader of the file sees whole, until it is killed.
int runCrashWriter(const QString &path)
{
    SessionStore store(path);
    if (!waitUntilOpen(store))
        return 2;
    auto records = store.takeRecords();
    if (!records)
        return 2;
    ChatSession record = records->isEmpty() ? store.newRecord() : records->first();
    const QString filler(20000, QLatin1Char('x'));
    store.save(record);  // step 0: as it was
    for (int step = 0;; ++step) {
        const QString written = QStringLiteral("[\"step %1 ").arg(step);
        const bool seen = QTest::qWaitFor([&] {
            const auto rows = readRows(path);
            return rows.size() == 1 && (step == 0 || rows[0].contents.startsWith(written));
        }, 30000);
        if (!seen)
            return 3;
        std::printf("%d\n", step);
        std::fflush(stdout);
        const QString text = QStringLiteral("step %1 ").arg(step + 1) + filler;
        record.messages.clear();
        for (int i = 0; i < 40; ++i)
            record.messages.append(ChatMessage(ChatMessage::Role::user, text));
        record.updatedAt = QDateTime::currentDateTimeUtc();
        store.save(record);
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
        QVERIFY(waitUntilOpen(store));
        QCOMPARE(modeBits(path), 0600);
        QCOMPARE(modeBits(QFileInfo(path).absolutePath()), 0700);
        QCOMPARE(userVersion(path), SessionStore::schemaVersion);
        QCOMPARE(columns(path), QStringList({"id INTEGER", "updatedAt REAL", "roles TEXT", "contents TEXT"}));
        const auto fetched = store.takeRecords();
        QVERIFY(fetched.has_value());
        QVERIFY(fetched->isEmpty());
    }

    // Lists are JSON arrays of strings and the time is REAL seconds since 1970
    // UTC. A long message is read in many pieces, with escapes, multi-byte
    // characters and the message boundaries falling across them.
    void recordRoundTripsThroughTheFileExactly()
    {
        const QString path = storePath("roundtrip");
        QString longText;
        for (int i = 0; longText.size() < 700'000; ++i)
            longText += QStringLiteral("line %1 \"quoted\" caf\u00e9 \u2014 \U0001F600 \\ tab\t end\n").arg(i);
        const QStringList roles{"user", "assistant", "user", "assistant", "assistant"};
        const QStringList contents{"Hi \"there\"\n\ttab", "", QString::fromUtf8("caf\u00e9 \u2014 \U0001F600 \\ end"),
                                   longText, "Error: Could not connect."};
        {
            SessionStore store(path);
            QVERIFY(waitUntilOpen(store));
            ChatSession record = makeRecord(store, roles, contents);
            record.updatedAt = t0;
            store.save(record);
        }
        const auto rows = readRows(path);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].updatedAtType, QStringLiteral("real"));
        QCOMPARE(rows[0].updatedAt.toDouble(), 1'700'000'000.123);
        QCOMPARE(rows[0].roles, QStringLiteral(R"(["user","assistant","user","assistant","assistant"])"));

        const auto fetched = recordsAt(path);
        QVERIFY(fetched && fetched->size() == 1);
        QCOMPARE(rolesOf(fetched->first()), roles);
        QCOMPARE(contentsOf(fetched->first()), contents);
        QCOMPARE(fetched->first().updatedAt, t0);
    }

    // Records come newest first; saves write in place of their row, removals
    // delete it; new records never take an existing row.
    void recordsAreReadNewestFirstAndWrittenByRow()
    {
        const QString path = storePath("order");
        {
            SessionStore store(path);
            QVERIFY(waitUntilOpen(store));
            for (const auto &[seconds, text] : {std::pair{10, "middle"}, {20, "newest"}, {0, "oldest"}}) {
                ChatSession record = makeRecord(store, {"user"}, {text});
                record.updatedAt = t0.addSecs(seconds);
                store.save(record);
            }
        }
        std::optional<QList<ChatSession>> fetched;
        ChatSession oldest, added;
        {
            SessionStore store(path);
            QVERIFY(waitUntilOpen(store));
            fetched = store.takeRecords();
            QVERIFY(fetched && fetched->size() == 3);
            QCOMPARE(contentsOf(fetched->at(0)), QStringList{"newest"});
            QCOMPARE(fetched->at(1).updatedAt, t0.addSecs(10));
            QCOMPARE(fetched->at(2).updatedAt, t0);
            QVERIFY(fetched->at(1).messages.isEmpty());  // older records come without their messages

            oldest = fetched->at(2);
            oldest.updatedAt = t0.addSecs(30);
            oldest.messages.append(ChatMessage(ChatMessage::Role::user, "oldest"));
            store.save(oldest);
            store.remove(fetched->at(0).id);
            added = makeRecord(store, {"user"}, {"added"});
            QVERIFY(added.id > std::max({fetched->at(0).id, fetched->at(1).id, fetched->at(2).id}));
            added.updatedAt = t0.addSecs(5);
            store.save(added);
        }

        const auto again = recordsAt(path);
        QVERIFY(again && again->size() == 3);
        QCOMPARE(contentsOf(again->at(0)), QStringList{"oldest"});
        QCOMPARE(again->at(0).id, oldest.id);
        QCOMPARE(again->at(1).id, fetched->at(1).id);
        QCOMPARE(again->at(2).id, added.id);
        QVERIFY(readRows(path).value(2).contents.contains("added"));
    }

    // A record longer than the first part: its first messages come at opening,
    // the later ones still without text; then all of them, the same messages.
    void longRecordIsHandedOverInTwoSteps()
    {
        const QString path = storePath("two-steps");
        const qsizetype count = SessionStore::firstPart + 50;
        QStringList roles, contents;
        for (qsizetype i = 0; i < count; ++i) {
            roles << (i % 3 ? "assistant" : "user");
            contents << QStringLiteral("text \"%1\"").arg(i);
        }
        {
            SessionStore store(path);
            QVERIFY(waitUntilOpen(store));
            store.save(makeRecord(store, roles, contents));
        }
        SessionStore store(path);
        std::optional<QList<ChatSession>> part;
        connect(&store, &SessionStore::opened, this, [&] {
            QVERIFY(store.isRestoring());
            part = store.takeRecords();
        });
        QSignalSpy restored(&store, &SessionStore::restored);
        QVERIFY(restored.wait(30000));
        QVERIFY(part && part->size() == 1);
        const QList<ChatMessage> first = part->first().messages;
        QCOMPARE(rolesOf(part->first()), roles);
        QCOMPARE(contentsOf(part->first()).mid(0, SessionStore::firstPart), contents.mid(0, SessionStore::firstPart));
        QCOMPARE(contentsOf(part->first()).mid(SessionStore::firstPart), QStringList(50, QString()));
        const auto whole = restored.first().first().value<QList<ChatMessage>>();
        QCOMPARE(whole.size(), count);
        for (qsizetype i = 0; i < count; ++i) {
            QCOMPARE(whole[i].id, first[i].id);
            QCOMPARE(whole[i].content, contents[i]);
        }
        QVERIFY(!store.isRestoring());

        // Records taken only after the restore come whole.
        SessionStore late(path);
        QSignalSpy lateRestored(&late, &SessionStore::restored);
        QVERIFY(lateRestored.wait(30000));
        const auto records = late.takeRecords();
        QVERIFY(records && records->size() == 1);
        QCOMPARE(contentsOf(records->first()), contents);
    }

    // Saves made faster than they are written reach the file in order, never
    // an older one after a newer (the file is read again and again meanwhile);
    // the newest is there at the end, also when the store is closed right after it.
    void savesLandInOrderAndClosingWaitsForTheLast()
    {
        const QString path = storePath("queue");
        QList<int> seen;  // the message counts a reader of the file saw, in turn
        {
            SessionStore store(path);
            QVERIFY(waitUntilOpen(store));
            ChatSession record = store.newRecord();
            QTimer reader;
            connect(&reader, &QTimer::timeout, this, [&] {
                const auto rows = readRows(path);
                if (rows.size() == 1 && rows[0].contents != "[]")
                    seen << int(rows[0].contents.count(QLatin1Char(','))) + 1;
            });
            reader.start(1);
            const QString text(50'000, QLatin1Char('x'));
            for (int n = 1; n <= 30; ++n) {
                record.messages.append(ChatMessage(ChatMessage::Role::user, text));
                store.save(record);
                if (n == 10)
                    QTRY_VERIFY(!seen.isEmpty() && seen.last() >= 10);
            }
        }
        QString counts;
        for (int n : seen)
            counts += QString::number(n) + QLatin1Char(' ');
        QVERIFY2(std::is_sorted(seen.begin(), seen.end()), qPrintable("message counts written: " + counts));
        QCOMPARE(readRows(path).value(0).contents.count(QLatin1Char(',')), 29);
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
        QTest::newRow("row whose list is a number") << "numberRow";
        QTest::newRow("a folder in the file's place") << "folder";
        QTest::newRow("long row, damaged after its first part") << "lateDamage";
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
                QVERIFY(waitUntilOpen(store));
                store.save(makeRecord(store, QStringList(50, "user"), QStringList(50, QString(300, 'a'))));
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
        } else if (kind == "badRow" || kind == "numberRow") {
            { SessionStore create(path); QVERIFY(waitUntilOpen(create)); }
            QVERIFY(execute(path, {kind == "badRow" ? "INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (1.0, 'user', '[1]')"
                                                    : "INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (1.0, '[]', 7)"}));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path + "/inside"));
        } else if (kind == "lateDamage") {
            { SessionStore create(path); QVERIFY(waitUntilOpen(create)); }
            const QString roles = "[" + QStringList(SessionStore::firstPart + 5, "\"user\"").join(',') + "]";
            const QString contents = "[" + QStringList(SessionStore::firstPart + 4, "\"fine\"").join(',') + ",\"\\x\"]";
            QVERIFY(execute(path, {QString("INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (1.0, '%1', '%2')")
                                       .arg(roles, contents)}));
        }
        const QByteArray before = fileBytes(path);
        const QStringList entriesBefore = folderEntries(QFileInfo(path).absolutePath());

        {
            SessionStore store(path);
            QSignalSpy restored(&store, &SessionStore::restored);
            bool firstPartRead = false;
            connect(&store, &SessionStore::opened, this, [&] { firstPartRead = store.isRestoring(); });
            QVERIFY(waitUntilOpen(store));
            if (kind == "lateDamage") {
                QVERIFY(firstPartRead);
                QVERIFY(restored.count() == 1 || restored.wait(30000));
                QVERIFY(restored.first().first().value<QList<ChatMessage>>().isEmpty());
            }
            QVERIFY(!store.takeRecords().has_value());
            store.save(makeRecord(store, {"user"}, {"hello"}));
            store.remove(1);
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
        QVERIFY(!recordsAt(blocked).has_value());
        QCOMPARE(fileBytes(dir.filePath("blocked")), QByteArray("x"));

        UnprivilegedScope asUser(dir.path());
        QVERIFY(QDir().mkpath(shut));
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::ExeOwner);
        QVERIFY(!recordsAt(shut + "/Hushwing.sqlite").has_value());
        QVERIFY(!QFileInfo::exists(shut + "/Hushwing.sqlite"));

        // An existing store in a folder that became read-only can be read, and
        // a failed save leaves it as it was.
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        {
            SessionStore store(shut + "/Hushwing.sqlite");
            QVERIFY(waitUntilOpen(store));
            store.save(makeRecord(store, {"user"}, {"saved before"}));
        }
        QFile::setPermissions(shut, QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray before = fileBytes(shut + "/Hushwing.sqlite");
        {
            SessionStore store(shut + "/Hushwing.sqlite");
            QVERIFY(waitUntilOpen(store));
            auto fetched = store.takeRecords();
            QVERIFY(fetched && fetched->size() == 1);
            QCOMPARE(contentsOf(fetched->first()), QStringList{"saved before"});
            ChatSession changed = fetched->first();
            changed.messages.first().content = QStringLiteral("changed");
            store.save(changed);  // fails, and closing waits for it
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

            const auto fetched = recordsAt(path);
            QVERIFY(fetched && fetched->size() == 1);
            const QStringList contents = contentsOf(fetched->first());
            QCOMPARE(contents.size(), 40);
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
