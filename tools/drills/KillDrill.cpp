// The kill drill's two halves. The worker chats without pause on a store (each
// reply streamed by the stand-in, then saved; now and then a new chat, some of
// them in the middle of a reply) and says on stdout when a reply, a save or a
// new chat begins, so the script can aim its kill -9. The check opens the store
// with the store's own code afterwards.
#include "ChatViewModel.h"
#include "DrillCommon.h"
#include "OllamaBackend.h"
#include "SessionStore.h"
#include "OllamaStandInServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QUrl>

namespace {

QString storePathIn(const QString &dir) { return dir + QStringLiteral("/Hushwing.sqlite"); }

// What the store may hold: the last completed save, or the one that had begun.
bool matchesExpectation(const QString &dir, const StoredConversation &found, const char **which)
{
    const auto done = readExpectation(dir, "done");
    const auto next = readExpectation(dir, "next");
    if (done && *done == found) { *which = "done"; return true; }
    if (next && *next == found) { *which = "next"; return true; }
    // Before the first save of the drill: a fresh store with an empty record.
    if (!done && !next && found.roles.isEmpty() && found.contents.isEmpty()) { *which = "fresh"; return true; }
    return false;
}

// Runs the event loop until the store has been opened.
void waitOpen(SessionStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &SessionStore::opened, &loop, &QEventLoop::quit);
    if (!store.isOpen())
        loop.exec();
}

// What the store file holds now, as another reader sees it (an empty
// conversation when it has no record yet); nullopt when it cannot be read.
// A file no one has open is read as it stands, leaving nothing beside it.
enum class Writer { open, closed };
std::optional<StoredConversation> storedNow(const QString &path, Writer writer = Writer::open)
{
    const QString name = QStringLiteral("kill-drill-reader");
    std::optional<StoredConversation> found;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (writer == Writer::closed) {
            db.setDatabaseName(QUrl::fromLocalFile(path).toString() + QStringLiteral("?immutable=1"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        } else {
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        }
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT roles, contents FROM ChatSession ORDER BY updatedAt DESC"))) {
                const auto list = [&](int column) {
                    QStringList texts;
                    for (const QJsonValue &v : QJsonDocument::fromJson(query.value(column).toByteArray()).array())
                        texts << v.toString();
                    return texts;
                };
                found = query.next() ? StoredConversation{list(0), list(1)} : StoredConversation{};
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return found;
}

} // namespace

int runKillWorker(const QString &dir)
{
    QDir().mkpath(dir);
    OllamaStandInServer server({{QStringLiteral("drill-model")}}, [](const QByteArray &body) {
        // Replies of 4,000 to 12,000 characters in 40 lines, about 20 ms each.
        const int turn = int(qHash(body) % 1000);
        const qsizetype length = 4000 + qsizetype(qHash(body) % 8000);
        return OllamaStandInServer::Reply{OllamaStandInServer::chatLines(replyText(turn, length), 40), 500};
    });
    if (!server.start())
        return 2;

    SessionStore store(storePathIn(dir));
    waitOpen(store);
    if (!storedNow(storePathIn(dir))) {
        say("error the store did not open");
        return 3;
    }
    ChatViewModel vm(&store, OllamaServer{.baseUrl = server.url()});
    const char *which = nullptr;
    if (!matchesExpectation(dir, conversationOf(vm), &which)) {
        say("error the store did not restore the last completed save");
        return 3;
    }
    // The restored conversation is the truth from here on.
    writeExpectation(dir, "done", conversationOf(vm));
    QFile::remove(dir + QStringLiteral("/expect.next"));
    say("start %lld", qlonglong(vm.messageModel()->rowCount()));

    ModelManager *manager = vm.modelManager();
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &vm, [&] {
        if (manager->ollamaBackends().isEmpty())
            return;
        poll.stop();
        manager->select(*manager->ollamaBackends().first());
    });
    poll.start();

    auto *random = QRandomGenerator::global();
    int turn = vm.messageModel()->rowCount() / 2;
    std::function<void()> nextAction;
    std::function<void()> whenWritten;  // goes on once everything asked for is on disk
    bool saving = false;                // a save was asked for and is not seen in the file yet

    // The store writes on its own thread. "next" is noted just before a save
    // is asked for (when a reply ends: isGenerating falls just before
    // saveSession(); or in newChat()), "done" once the file, read by a
    // connection of the drill's own, holds the conversation and no reply runs.
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, &vm, [&] {
        if (!saving || vm.isGenerating() || storedNow(storePathIn(dir)) != conversationOf(vm))
            return;
        saving = false;
        writeExpectation(dir, "done", conversationOf(vm));
        say("saved");
        if (auto then = std::exchange(whenWritten, nullptr))
            then();
    });
    watch.start();
    const auto newChat = [&](const char *label) {
        writeExpectation(dir, "next", {});
        say("newchat %s", label);
        saving = true;
        vm.newChat();
    };
    QObject::connect(&vm, &ChatViewModel::isGeneratingChanged, &vm, [&] {
        if (vm.isGenerating())
            return;
        writeExpectation(dir, "next", conversationOf(vm));
        say("save %d", turn);
        saving = true;
        whenWritten = [&] { nextAction(); };
    });
    nextAction = [&] {
        const auto selected = manager->selected();
        if (!selected || selected->info().source != ModelSource::ollama) {
            QTimer::singleShot(5, &vm, [&] { nextAction(); });
            return;
        }
        const quint32 dice = random->bounded(10);
        if (dice == 0 || vm.messageModel()->rowCount() >= 24) {
            whenWritten = [&] { nextAction(); };
            newChat("between");
            return;
        }
        ++turn;
        vm.setDraft(QStringLiteral("Question %1: tell me more about **this**.").arg(turn));
        say("reply %d", turn);
        vm.send();
        if (dice == 1)  // a new chat while the reply streams
            QTimer::singleShot(int(random->bounded(3, 15)), &vm, [&] {
                if (vm.isGenerating())
                    newChat("during-reply");
            });
    };
    QTimer::singleShot(0, &vm, [&] { nextAction(); });
    return QCoreApplication::exec();
}

int checkKilledStore(const QString &dir)
{
    SessionStore store(storePathIn(dir));
    waitOpen(store);
    const auto records = store.takeRecords();
    if (!records) {
        say("FAIL the store did not open after the kill");
        return 1;
    }
    StoredConversation found;
    if (!records->isEmpty()) {
        for (const ChatMessage &message : records->first().messages) {
            found.roles << roleName(message.role);
            found.contents << message.content;
        }
    }
    const char *which = nullptr;
    if (!matchesExpectation(dir, found, &which)) {
        say("FAIL the store holds %lld messages, which is neither the last completed save nor the one begun",
            qlonglong(found.roles.size()));
        return 1;
    }
    say("ok %lld records, %lld messages, matching the %s save", qlonglong(records->size()),
        qlonglong(found.roles.size()), which);
    return 0;
}

int seedStore(const QString &path, int messages, int charsPerMessage)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        SessionStore store(path);
        waitOpen(store);
        ChatSession record = store.newRecord();
        for (int i = 0; i < messages; ++i)
            record.messages.append(ChatMessage(i % 2 ? ChatMessage::Role::assistant : ChatMessage::Role::user,
                                               replyText(i, charsPerMessage)));
        store.save(record);
    }  // closing the store writes what was asked of it
    const auto stored = storedNow(path, Writer::closed);
    if (!stored || stored->roles.size() != messages) {
        say("error could not seed %s", qPrintable(path));
        return 1;
    }
    return 0;
}
