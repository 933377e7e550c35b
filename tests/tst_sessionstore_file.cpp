// How the store keeps its file: a write-ahead log while open, nothing beside
// the file once closed, and the lists as TEXT holding compact JSON that any
// SQLite reader sees as text.
#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class SessionStoreFileTest : public QObject
{
    Q_OBJECT
private slots:
    void savedListsAreTextInAWriteAheadLoggedFile();
};

void SessionStoreFileTest::savedListsAreTextInAWriteAheadLoggedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Hushwing.sqlite"));
    {
        SessionStore store(path);
        QVERIFY(StoreTestTools::waitUntilOpen(store));
        store.save(StoreTestTools::makeRecord(store, {QStringLiteral("user"), QStringLiteral("assistant")},
                                              {QStringLiteral("a \"quote\"\n"), QStringLiteral("caf\u00e9 \u2014")}));
        QTRY_COMPARE(StoreTestTools::readRows(path).size(), 1);
        QVERIFY(QFileInfo::exists(path + QStringLiteral("-wal")));  // open: the log is in use
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Hushwing.sqlite")});

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(query.exec(QStringLiteral("SELECT typeof(roles), typeof(contents), roles, contents FROM ChatSession")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("text"));
        QCOMPARE(query.value(1).toString(), QStringLiteral("text"));
        QCOMPARE(query.value(2).toString(), QStringLiteral(R"(["user","assistant"])"));
        QCOMPARE(query.value(3).toString(), QStringLiteral("[\"a \\\"quote\\\"\\n\",\"caf\u00e9 \u2014\"]"));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));

    SessionStore reopened(path);
    QVERIFY(StoreTestTools::waitUntilOpen(reopened));
    const auto records = reopened.takeRecords();
    QVERIFY(records && records->size() == 1);
    QCOMPARE(records->first().messages.size(), 2);
    QCOMPARE(records->first().messages.at(1).content, QStringLiteral("caf\u00e9 \u2014"));
}

QTEST_GUILESS_MAIN(SessionStoreFileTest)
#include "tst_sessionstore_file.moc"
