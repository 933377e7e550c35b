// The store: saving a 1 MB conversation and restoring one of 2,000 messages,
// against a plain SQLite write and read of the same bytes, in the same run.
//
// save: the steps of ChatViewModel::saveSession() (the record's lists from the
//       messages, updatedAt, one save() of the store) on a store holding the record;
// load: ChatViewModel's restore (its constructor over a freshly opened store,
//       less the same constructor without a store), i.e. loadSession();
// plain SQLite: one UPDATE of the row with the two JSON texts already encoded,
//       in a transaction, through the same SQLite driver with SQLite's default
//       file settings (rollback journal, synchronous FULL); and one SELECT of them
//       as text on a connection opened just before, as the store reads at start.
#include "BenchCommon.h"
#include "ChatViewModel.h"
#include "StoreFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <nlohmann/json.hpp>

namespace {

QString jsonArray(const QStringList &list)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const QString &s : list)
        array.push_back(s.toStdString());
    return QString::fromStdString(array.dump());
}

double msSince(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    QTemporaryDir dir;
    const Conversation conversation = sampleConversation(2000, 1000000);
    QList<ChatMessage> messages;
    for (qsizetype i = 0; i < conversation.roles.size(); ++i)
        messages.append(ChatMessage(conversation.roles.at(i) == QLatin1String("user") ? ChatMessage::Role::user
                                                                                        : ChatMessage::Role::assistant,
                                    conversation.contents.at(i)));
    const QString rolesJson = jsonArray(conversation.roles);
    const QString contentsJson = jsonArray(conversation.contents);
    std::printf("Store, median of %d runs: %lld messages, %lld characters, %.2f MB of JSON text (UTF-8)\n",
                runs, qlonglong(messages.size()), qlonglong(characterCount(conversation)),
                double(rolesJson.toUtf8().size() + contentsJson.toUtf8().size()) / 1e6);

    // Plain SQLite: the same table and bytes, written and read with no store around them.
    const QString plainPath = dir.filePath(QStringLiteral("plain.sqlite"));
    std::vector<double> plainWrite, plainRead;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(plainPath);
        db.open();
        QSqlQuery q(db);
        q.exec(QString::fromLatin1(StoreFile::createTableSql));
        q.exec(QStringLiteral("PRAGMA synchronous = FULL"));
        q.exec(QStringLiteral("INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (0, '[]', '[]')"));
        for (int i = 0; i < runs + 1; ++i) {
            QElapsedTimer timer;
            timer.start();
            db.transaction();
            q.prepare(QStringLiteral("UPDATE ChatSession SET updatedAt = ?, roles = ?, contents = ? WHERE id = 1"));
            q.addBindValue(double(i));
            q.addBindValue(rolesJson);
            q.addBindValue(contentsJson);
            q.exec();
            db.commit();
            if (i > 0)
                plainWrite.push_back(msSince(timer));
        }
        q.finish();
        db.close();
        // Each read on a connection opened just before (not timed), as the store
        // reads at start: SQLite's page cache starts empty, the file is in the OS cache.
        for (int i = 0; i < runs + 1; ++i) {
            db.open();
            QElapsedTimer timer;
            timer.start();
            {
                QSqlQuery read(db);
                read.setForwardOnly(true);
                read.exec(QStringLiteral("SELECT updatedAt, roles, contents FROM ChatSession"));
                qsizetype total = 0;
                while (read.next())
                    total += read.value(1).toString().size() + read.value(2).toString().size();
                if (total == 0)
                    std::printf("  plain read returned nothing\n");
            }
            if (i > 0)
                plainRead.push_back(msSince(timer));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));

    // saveSession(): the record in use gets the conversation, then one save.
    const QString storePath = dir.filePath(QStringLiteral("Hushwing.sqlite"));
    std::vector<double> saves;
    {
        SessionStore store(storePath);
        auto session = std::make_shared<ChatSession>();
        store.insert(session);
        store.save();
        for (int i = 0; i < runs + 1; ++i) {
            QElapsedTimer timer;
            timer.start();
            QStringList roles, contents;
            for (const ChatMessage &message : std::as_const(messages)) {
                roles.append(roleName(message.role));
                contents.append(message.content);
            }
            session->setRoles(roles);
            session->setContents(contents);
            session->setUpdatedAt(QDateTime::currentDateTimeUtc());
            const bool ok = store.save();
            if (!ok)
                std::printf("  save failed\n");
            if (i > 0)
                saves.push_back(msSince(timer));
        }
    }

    // loadSession(): the view model restoring the stored conversation.
    std::vector<double> loads, opens;
    for (int i = 0; i < runs + 1; ++i) {
        QElapsedTimer timer;
        timer.start();
        SessionStore store(storePath);
        const double openMs = msSince(timer);
        timer.restart();
        { ChatViewModel bare(nullptr); }
        const double bareMs = msSince(timer);
        timer.restart();
        ChatViewModel vm(&store);
        const double withStoreMs = msSince(timer);
        if (vm.messageCount() != messages.size())
            std::printf("  restored %d messages, expected %lld\n", vm.messageCount(), qlonglong(messages.size()));
        if (i > 0) {
            loads.push_back(withStoreMs - bareMs);
            opens.push_back(openMs);
        }
    }

    std::printf("  plain SQLite write of the same bytes       %8.2f ms\n", median(plainWrite));
    std::printf("  saveSession()                               %8.2f ms\n", median(saves));
    std::printf("  plain SQLite read of the same bytes        %8.2f ms\n", median(plainRead));
    std::printf("  loadSession() (2,000 messages)              %8.2f ms\n", median(loads));
    std::printf("  (opening the store file, with its integrity check: %.2f ms)\n", median(opens));
    target("saveSession() / plain SQLite write", median(saves) / median(plainWrite), "<=", 2.0, "x");
    target("loadSession() / plain SQLite read", median(loads) / median(plainRead), "<=", 2.0, "x");
    target("saveSession() of 1 MB", median(saves), "<=", 20.0, "ms");
    target("loadSession() of 2,000 messages", median(loads), "<=", 50.0, "ms");
    return 0;
}
