// The store: saving and restoring conversations of 2,000, 20,000 and 100,000
// messages, against a plain SQLite write and read of the same bytes, in the
// same run; and the store's list codec against a general JSON library.
//
// save, GUI thread: what ChatViewModel::saveSession() does there (the record
//       with the message list, handed to the store), and the longest stretch of
//       GUI-thread work from that call until the store reports the write done,
//       measured as the thread's own CPU time between ticks of a 1 ms timer
//       (so other programs on a busy machine do not count);
// save, written: from that call until a reader of the file sees the write
//       committed (the store's thread does the work);
// a change right after a save: appending a message to the list while the
//       writer still holds it (the list is then copied once);
// read at opening: a new store until it has opened and read its record (the
//       store's thread), and then the view model's restore on the GUI thread;
// plain SQLite: one UPDATE of the row with the two JSON texts already encoded,
//       in a transaction, through the same SQLite driver with SQLite's default
//       file settings (rollback journal, synchronous FULL); and one SELECT of them
//       as text on a connection opened just before, as a store reads at start.
#include "BenchCommon.h"
#include "ChatViewModel.h"
#include "StoreFile.h"
#include "StoreJson.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
#include <nlohmann/json.hpp>
#include <time.h>

namespace {

QString jsonArray(const QStringList &list)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const QString &s : list)
        array.push_back(s.toStdString());
    return QString::fromStdString(array.dump());
}

double msSince(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Runs the event loop until `done` holds, noting the longest stretch of this
// thread's CPU time between two passes through the loop.
double longestGuiStretch(const std::function<bool()> &done)
{
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    double last = threadCpuMs(), longest = 0;
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const double now = threadCpuMs();
        longest = std::max(longest, now - last);
        last = now;
        if (done())
            loop.quit();
    });
    tick.start();
    loop.exec();
    return longest;
}

// Tells when a write of the store has reached the file, as another reader
// sees it: SQLite's data_version changes with every commit of another
// connection. Asking costs a few microseconds, once per tick of the wait.
class FileCommits
{
public:
    explicit FileCommits(const QString &path)
        : m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("commits")))
    {
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        m_db.open();
    }
    ~FileCommits()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("commits"));
    }
    // Notes the file's version now; committed() is true once a commit follows.
    void mark() { m_marked = version(); }
    bool committed() { return version() != m_marked; }

private:
    qint64 version()
    {
        QSqlQuery query(m_db);
        return query.exec(QStringLiteral("PRAGMA data_version")) && query.next() ? query.value(0).toLongLong() : -1;
    }
    QSqlDatabase m_db;
    qint64 m_marked = -1;
};

double timeOfAChange(QList<ChatMessage> &messages)
{
    const double before = threadCpuMs();
    messages.append(ChatMessage(ChatMessage::Role::user, QStringLiteral("one more")));
    const double change = threadCpuMs() - before;
    messages.removeLast();
    return change;
}

struct PlainFigures { std::vector<double> write, read; };

PlainFigures plainSqlite(const QString &path, const Conversation &conversation, int runs)
{
    const QString rolesJson = jsonArray(conversation.roles);
    const QString contentsJson = jsonArray(conversation.contents);
    PlainFigures figures;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(path);
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
                figures.write.push_back(msSince(timer));
        }
        q.finish();
        db.close();
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
                figures.read.push_back(msSince(timer));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
    return figures;
}

bool measureSize(const char *label, const Conversation &conversation, int runs)
{
    QTemporaryDir dir;
    QList<ChatMessage> messages = messagesOf(conversation);
    qsizetype utf8 = 0;
    for (const QString &s : conversation.contents)
        utf8 += s.toUtf8().size();
    std::printf("%s: %lld messages, %.1f MB of text (UTF-8), median of %d runs\n", label,
                qlonglong(messages.size()), double(utf8) / 1e6, runs);

    const PlainFigures plain = plainSqlite(dir.filePath(QStringLiteral("plain.sqlite")), conversation, runs);

    const QString storePath = dir.filePath(QStringLiteral("Hushwing.sqlite"));
    std::vector<double> calls, stretches, floors, writes, changesAtOnce, changesLater;
    {
        SessionStore store(storePath);
        waitOpen(store);
        if (!store.takeRecords())
            return false;
        const ChatSession record = store.newRecord();
        FileCommits commits(storePath);
        // Each save below is written before the next is asked for: one commit each.
        const auto save = [&] {
            commits.mark();
            store.save({record.id, QDateTime::currentDateTimeUtc(), messages});
        };
        const auto written = [&] { return commits.committed(); };
        for (int i = 0; i < runs + 1; ++i) {
            QElapsedTimer timer;
            timer.start();
            const double cpuBefore = threadCpuMs();
            // saveSession(): the record in use gets the list as it stands.
            save();
            const double call = threadCpuMs() - cpuBefore;
            const double stretch = longestGuiStretch(written);
            const double writeMs = msSince(timer);
            // The same wait with nothing to do: how long this machine keeps a
            // thread from running between two ticks anyway.
            timer.restart();
            const double floor = longestGuiStretch([&] { return msSince(timer) >= writeMs; });
            // The next send, at once: the store's thread may not have taken its
            // own copy yet, and then the list is copied here.
            save();
            const double atOnce = timeOfAChange(messages);
            longestGuiStretch(written);
            // The next send, 20 ms later.
            save();
            timer.restart();
            longestGuiStretch([&] { return msSince(timer) >= 20; });
            const double later = timeOfAChange(messages);
            longestGuiStretch(written);
            if (i > 0) {
                calls.push_back(call);
                stretches.push_back(std::max(call, stretch));
                floors.push_back(floor);
                writes.push_back(writeMs);
                changesAtOnce.push_back(atOnce);
                changesLater.push_back(later);
            }
        }
    }

    // Reading at opening (store thread), then loadSession() (GUI thread); a
    // long conversation's later texts come after, and are filled in then.
    std::vector<double> reads, restores, wholes, fills;
    for (int i = 0; i < runs + 1; ++i) {
        QElapsedTimer timer, sinceStart;
        timer.start();
        sinceStart.start();
        SessionStore store(storePath);
        waitOpen(store);
        const double readMs = msSince(timer);
        timer.restart();
        { ChatViewModel bare(nullptr, OllamaServer()); }
        const double bareMs = msSince(timer);
        // Slots run in the order connected: the view model's comes between these two.
        double fillMs = 0;
        QElapsedTimer fill;
        QObject::connect(&store, &SessionStore::restored, [&] { fill.start(); });
        timer.restart();
        ChatViewModel vm(&store, OllamaServer());
        const double withStoreMs = msSince(timer);
        if (vm.messageModel()->rowCount() != messages.size())
            std::printf("  restored %d messages, expected %lld\n", vm.messageModel()->rowCount(), qlonglong(messages.size()));
        if (store.isRestoring()) {
            QEventLoop loop;
            QObject::connect(&store, &SessionStore::restored, &loop, [&] {
                fillMs = msSince(fill);
                loop.quit();
            });
            loop.exec();
        }
        if (i > 0) {
            reads.push_back(readMs);
            restores.push_back(std::max(0.0, withStoreMs - bareMs));
            wholes.push_back(msSince(sinceStart));
            fills.push_back(fillMs);
        }
    }

    std::printf("  plain SQLite write of the same bytes          %9.2f ms\n", median(plain.write));
    std::printf("  save, written (store thread)                  %9.2f ms\n", median(writes));
    std::printf("  save, GUI thread: the call                    %9.3f ms (max %.3f)\n", median(calls), maximum(calls));
    std::printf("  longest GUI-thread stretch until written      %9.2f ms (max %.2f); idle for as long: %.2f (max %.2f)\n",
                median(stretches), maximum(stretches), median(floors), maximum(floors));
    std::printf("  a change 20 ms after a save                   %9.3f ms (max %.3f)\n", median(changesLater),
                maximum(changesLater));
    std::printf("  a change at once after a save (list copied)   %9.3f ms (max %.3f)\n", median(changesAtOnce),
                maximum(changesAtOnce));
    // The two steps of opening on this thread: the file's checks, then the read.
    std::vector<double> checks, readAlls;
    for (int i = 0; i < runs + 1; ++i) {
        const QString name = QStringLiteral("phases-%1").arg(i);
        QElapsedTimer timer;
        timer.start();
        {
            StoreFile::open(storePath, name, SessionStore::schemaVersion);
            const double checkMs = msSince(timer);
            QSqlDatabase db = QSqlDatabase::database(name, false);
            timer.restart();
            const auto records = StoreFile::readAll(db, SessionStore::firstPart, [](const QList<ChatSession> &) {});
            if (i > 0) {
                checks.push_back(checkMs);
                readAlls.push_back(msSince(timer));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    std::printf("  plain SQLite read of the same bytes           %9.2f ms\n", median(plain.read));
    std::printf("  read at opening (store thread)                %9.2f ms (checking the file %.2f, reading %.2f)\n",
                median(reads), median(checks), median(readAlls));
    std::printf("  loadSession() on the GUI thread               %9.3f ms\n", median(restores));
    std::printf("  whole conversation read (from the store made) %9.2f ms; its texts filled in on the GUI thread %.3f ms\n",
                median(wholes), median(fills));
    bool met = true;
    met &= target("save: the GUI thread's call (max of runs)", maximum(calls), "<=", 2.0, "ms");
    met &= target("save: a change 20 ms after it (max of runs)", maximum(changesLater), "<=", 2.0, "ms");
    met &= target("save: a change at once after it (max of runs)", maximum(changesAtOnce), "<=", 2.0, "ms");
    met &= target("save: longest GUI stretch over idle floor (medians)",
                  std::max(0.0, median(stretches) - median(floors)), "<=", 2.0, "ms");
    met &= target("save written / plain SQLite write", median(writes) / median(plain.write), "<=", 2.0, "x");
    met &= target("reading the record / plain SQLite read", median(readAlls) / median(plain.read), "<=", 2.0, "x");
    met &= target("loadSession() on the GUI thread", median(restores), "<=", 2.0, "ms");
    met &= target("later texts filled in on the GUI thread", median(fills), "<=", 2.0, "ms");
    return met;
}

// The store's codec against nlohmann-json on the contents list of a
// conversation: writing the JSON text, and reading it back into strings.
void compareCodecs(const Conversation &conversation, int runs)
{
    const QList<ChatMessage> messages = messagesOf(conversation);
    std::vector<double> ourDump, theirDump, ourParse, theirParse;
    QByteArray encoded;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        encoded = StoreJson::encodeContents(messages);
        ourDump.push_back(msSince(timer));

        timer.restart();
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const ChatMessage &m : messages)
            array.push_back(m.content.toStdString());
        const std::string dumped = array.dump();
        theirDump.push_back(msSince(timer));
        if (QByteArrayView(dumped.data(), qsizetype(dumped.size())) != encoded)
            std::printf("  the two writers disagree\n");

        timer.restart();
        QStringList ours;
        StoreJson::TextDecoder text;
        StoreJson::ListReader reader([&](QByteArrayView raw, bool hasEscapes) {
            auto s = text.decode(raw, hasEscapes);
            if (s)
                ours.append(std::move(*s));
            return s.has_value();
        });
        if (reader.read(encoded) != encoded.size() || !reader.finish())
            std::printf("  our reader refused the text\n");
        ourParse.push_back(msSince(timer));

        timer.restart();
        QStringList theirs;
        const auto parsed = nlohmann::json::parse(encoded.constData(), encoded.constData() + encoded.size());
        for (const auto &value : parsed) {
            const auto &s = value.get_ref<const std::string &>();
            theirs.append(QString::fromUtf8(s.data(), qsizetype(s.size())));
        }
        theirParse.push_back(msSince(timer));
        if (ours != theirs)
            std::printf("  the two readers disagree\n");
    }
    std::printf("Codec, contents list of %lld messages (%.1f MB), median of %d runs:\n", qlonglong(messages.size()),
                double(encoded.size()) / 1e6, runs);
    std::printf("  write: ours %8.1f ms, nlohmann-json (list built, then dumped) %8.1f ms: %.1fx\n",
                median(ourDump), median(theirDump), median(theirDump) / median(ourDump));
    std::printf("  read:  ours %8.1f ms, nlohmann-json (parsed, then to QString) %8.1f ms: %.1fx\n",
                median(ourParse), median(theirParse), median(theirParse) / median(ourParse));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 9;
    measureSize("2,000 messages", sampleConversation(2000, 1000000), runs);
    measureSize("20,000 messages", questionsAndReplies(20000, 920), std::max(3, runs / 2));
    const Conversation large = questionsAndReplies(100000, 920);
    measureSize("100,000 messages", large, std::max(3, runs / 3));
    compareCodecs(large, 3);
    return 0;
}
