// PLACEHOLDER: replaced by the real implementation.
#include "SessionStore.h"

#include <QStandardPaths>

struct SessionStore::Private {};

ChatSession::ChatSession() : m_updatedAt(QDateTime::currentDateTimeUtc()) {}
void ChatSession::setUpdatedAt(const QDateTime &value) { m_updatedAt = value; }
void ChatSession::setRoles(const QStringList &value) { m_roles = value; }
void ChatSession::setContents(const QStringList &value) { m_contents = value; }

SessionStore::SessionStore(const QString &, QObject *parent) : QObject(parent), d(new Private) {}
SessionStore::~SessionStore() = default;
QString SessionStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Hushwing/Hushwing.sqlite");
}
bool SessionStore::isUsable() const { return false; }
std::optional<QList<std::shared_ptr<ChatSession>>> SessionStore::fetch() { return std::nullopt; }
void SessionStore::insert(const std::shared_ptr<ChatSession> &) {}
void SessionStore::remove(const std::shared_ptr<ChatSession> &) {}
bool SessionStore::save() { return false; }
bool SessionStore::hasChanges() const { return false; }
void SessionStore::markChanged(ChatSession *) {}
