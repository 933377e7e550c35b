#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class SessionStore;

// The stored conversation: when it was last written and the parallel lists of
// message roles and texts. A record has reference identity: two handles are the
// same record only when they are the same object. Writing a property of a
// record that belongs to a store marks it changed there; the next save writes it.
class ChatSession
{
public:
    ChatSession();  // now, empty lists

    QDateTime updatedAt() const { return m_updatedAt; }
    QStringList roles() const { return m_roles; }
    QStringList contents() const { return m_contents; }
    void setUpdatedAt(const QDateTime &value);
    void setRoles(const QStringList &value);
    void setContents(const QStringList &value);

private:
    friend class SessionStore;
    void changed();

    QDateTime m_updatedAt;
    QStringList m_roles;
    QStringList m_contents;
    qint64 m_rowId = -1;          // -1 until inserted and saved
    SessionStore *m_context = nullptr;
};

// The one store context of the program over one SQLite file. Operations run on
// the GUI thread. Pending changes are saved soon after they are made (from the
// event loop), when the program quits and when the store is destroyed.
class SessionStore : public QObject
{
    Q_OBJECT
public:
    // Opens (creating if needed) the store at `path`. A store that cannot be
    // opened or read stays usable: fetch() fails and nothing is ever written.
    explicit SessionStore(const QString &path, QObject *parent = nullptr);
    ~SessionStore() override;

    // ~/.local/share/Hushwing/Hushwing.sqlite (honours XDG_DATA_HOME).
    static QString defaultPath();
    // The schema version kept in PRAGMA user_version.
    static constexpr int schemaVersion = 1;

    QString path() const;
    bool isUsable() const;
    // All records, newest updatedAt first, pending inserts included and pending
    // deletions left out; nothing when the store can't be read.
    std::optional<QList<std::shared_ptr<ChatSession>>> fetch();
    void insert(const std::shared_ptr<ChatSession> &session);
    void remove(const std::shared_ptr<ChatSession> &session);
    // Writes every pending change in one transaction; false on failure (the
    // changes then stay pending).
    bool save();
    bool hasChanges() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
    friend class ChatSession;
    void markChanged(ChatSession *session);
    void scheduleSave();
};
