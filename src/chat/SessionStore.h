#pragma once

#include "ChatSession.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>
#include <optional>

class StoreWriter;

// The conversation's store over one SQLite file. The file is opened, read and
// written on a thread of its own; the GUI thread only hands requests over and
// hears back, through queued signals. Opening starts at construction; a long
// conversation is handed over in two steps, its first messages as soon as they
// are read (so the window can show it) and then all of them. A save hands over
// the record as it is (its message list is shared, not copied) and returns at
// once. Writes happen in order; a save still waiting when a newer
// one of the same record arrives is dropped. Destruction waits for the last
// write. A store that cannot be opened or read (not ours, damaged, newer) is
// never written.
class SessionStore : public QObject
{
    Q_OBJECT
public:
    // Starts opening the store at `path` (creating it and its folder if
    // needed). An empty path opens nothing: the store stays unusable.
    explicit SessionStore(const QString &path, QObject *parent = nullptr);
    ~SessionStore() override;

    // ~/.local/share/Hushwing/Hushwing.sqlite (honours XDG_DATA_HOME).
    static QString defaultPath();
    // The schema version kept in PRAGMA user_version.
    static constexpr int schemaVersion = 1;
    // How many messages of a long conversation are restored first: more than
    // the window shows of it at start (the top of the conversation).
    static constexpr qsizetype firstPart = 200;

    // True once opening has ended (`opened` was emitted), whatever its outcome.
    bool isOpen() const { return m_isOpen; }
    // The records read at opening, newest first, handed over once (the store
    // keeps no copy); nullopt while opening or when the store cannot be read.
    // Only the newest comes with its messages (the program deletes the others);
    // taken while `isRestoring`, its later messages have no text yet.
    std::optional<QList<ChatSession>> takeRecords();
    // True when the newest record holds more than `firstPart` messages and
    // the texts after those are still being read: `restored` brings them all.
    bool isRestoring() const { return m_restoring; }
    // A record for a new row; it is stored by its first save.
    ChatSession newRecord();

    // Writes the record (a new row or in place of its row), in one transaction.
    void save(const ChatSession &record);
    // Deletes a record's row.
    void remove(qint64 id);

signals:
    void opened();
    // The newest record's messages, all with their texts: the same messages
    // (the same ids) as handed over at opening. Empty when the rest of the file
    // turned out unreadable: the store is then unusable, as if opening had failed.
    void restored(const QList<ChatMessage> &messages);

private:
    void onOpened(bool usable, const QList<ChatSession> &records, bool restoring);
    void onRestored(bool ok, const QList<ChatMessage> &messages);

    bool m_isOpen = false;
    bool m_usable = false;
    bool m_restoring = false;
    std::optional<QList<ChatSession>> m_records;
    qint64 m_nextId = 1;
    QThread m_thread;
    std::unique_ptr<StoreWriter> m_writer;
};
