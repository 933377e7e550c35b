#include "SessionStore.h"

#include "StoreFile.h"

#include <QSqlDatabase>
#include <QStandardPaths>
#include <algorithm>

// The only code that touches the file, on the store's thread. Requests arrive
// as queued calls, in the order they were made. A write is done from the event
// loop after the requests already queued have arrived, so that of several
// saves of one record waiting together only the newest is written.
class StoreWriter : public QObject
{
    Q_OBJECT
public:
    void open(const QString &path)
    {
        m_connection = QStringLiteral("hushwing-store-%1").arg(quintptr(this), 0, 16);
        std::optional<QList<ChatSession>> records;
        bool partSent = false;
        if (StoreFile::open(path, m_connection, SessionStore::schemaVersion)) {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            records = StoreFile::readAll(db, SessionStore::firstPart, [&](const QList<ChatSession> &part) {
                partSent = true;
                emit opened(true, part, true);
            });
        }
        // Records that cannot be read are never overwritten: nothing is written from now on.
        m_usable = records.has_value();
        if (partSent)
            emit restored(m_usable, m_usable ? records->first().messages : QList<ChatMessage>());
        else
            emit opened(m_usable, records.value_or(QList<ChatSession>()), false);
    }

    void save(const ChatSession &record)
    {
        // A list of its own, made here at once: the GUI thread's list is then
        // shared no longer, and changing it there copies nothing.
        ChatSession own = record;
        own.messages = QList<ChatMessage>(record.messages.cbegin(), record.messages.cend());
        const auto same = [&](const ChatSession &r) { return r.id == record.id; };
        if (const auto waiting = std::find_if(m_records.begin(), m_records.end(), same); waiting != m_records.end())
            *waiting = std::move(own);
        else
            m_records.append(std::move(own));
        schedule();
    }

    void remove(qint64 id)
    {
        m_records.removeIf([&](const ChatSession &r) { return r.id == id; });
        m_removals.append(id);
        schedule();
    }

    // Writes what is still waiting and closes the file; the thread then ends.
    void close()
    {
        writeWaiting();
        if (QSqlDatabase::contains(m_connection)) {
            QSqlDatabase::database(m_connection, false).close();
            QSqlDatabase::removeDatabase(m_connection);
        }
        thread()->quit();
    }

signals:
    void opened(bool usable, const QList<ChatSession> &records, bool restoring);
    void restored(bool ok, const QList<ChatMessage> &messages);

private:
    void schedule()
    {
        if (!std::exchange(m_scheduled, true))
            QMetaObject::invokeMethod(this, &StoreWriter::writeWaiting, Qt::QueuedConnection);
    }

    void writeWaiting()
    {
        m_scheduled = false;
        if (m_records.isEmpty() && m_removals.isEmpty())
            return;
        // Encoded first, so the messages are let go before the slow part.
        QList<StoreFile::Row> rows;
        for (const ChatSession &record : std::as_const(m_records))
            rows.append(StoreFile::encode(record));
        m_records.clear();
        // A failed write is let go, as its callers would: the conversation stays in
        // memory, and the next save writes it whole.
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (m_usable)
            StoreFile::write(db, std::exchange(m_removals, {}), rows);
    }

    QString m_connection;
    bool m_usable = false;
    bool m_scheduled = false;
    QList<ChatSession> m_records;  // saves waiting, the newest of each record
    QList<qint64> m_removals;
};

SessionStore::SessionStore(const QString &path, QObject *parent) : QObject(parent)
{
    if (path.isEmpty()) {
        m_isOpen = true;
        return;
    }
    m_writer = std::make_unique<StoreWriter>();
    m_writer->moveToThread(&m_thread);
    connect(m_writer.get(), &StoreWriter::opened, this, &SessionStore::onOpened);
    connect(m_writer.get(), &StoreWriter::restored, this, &SessionStore::onRestored);
    m_thread.setObjectName(QStringLiteral("Hushwing store"));
    m_thread.start();
    QMetaObject::invokeMethod(m_writer.get(), [writer = m_writer.get(), path] { writer->open(path); },
                              Qt::QueuedConnection);
}

SessionStore::~SessionStore()
{
    if (!m_writer)
        return;
    QMetaObject::invokeMethod(m_writer.get(), &StoreWriter::close, Qt::QueuedConnection);
    m_thread.wait();
}

QString SessionStore::defaultPath()
{
    // Computed from the generic folder so the path does not depend on the
    // organisation or application names the process happens to carry.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Hushwing/Hushwing.sqlite");
}

std::optional<QList<ChatSession>> SessionStore::takeRecords()
{
    return std::exchange(m_records, std::nullopt);
}

ChatSession SessionStore::newRecord()
{
    ChatSession record;
    record.id = m_nextId++;
    return record;
}

void SessionStore::save(const ChatSession &record)
{
    if (!m_usable)
        return;
    QMetaObject::invokeMethod(m_writer.get(), [writer = m_writer.get(), record] { writer->save(record); },
                              Qt::QueuedConnection);
}

void SessionStore::remove(qint64 id)
{
    if (!m_usable)
        return;
    QMetaObject::invokeMethod(m_writer.get(), [writer = m_writer.get(), id] { writer->remove(id); },
                              Qt::QueuedConnection);
}

void SessionStore::onOpened(bool usable, const QList<ChatSession> &records, bool restoring)
{
    m_isOpen = true;
    m_usable = usable;
    m_restoring = restoring;
    if (usable) {
        m_records = records;
        for (const ChatSession &record : records)
            m_nextId = std::max(m_nextId, record.id + 1);
    }
    emit opened();
}

void SessionStore::onRestored(bool ok, const QList<ChatMessage> &messages)
{
    m_restoring = false;
    m_usable = ok;
    if (!ok)
        m_records.reset();
    else if (m_records && !m_records->isEmpty())  // not taken yet: taken whole then
        m_records->first().messages = messages;
    emit restored(messages);
}

#include "SessionStore.moc"
