#include "SessionStore.h"

#include "StoreFile.h"
#include "StoreJson.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimeZone>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace {

// The lists travel as UTF-8 bytes: bound as a blob and stored as TEXT by the
// statement's CAST, read back as the blob of the stored text. Neither side
// makes a UTF-16 copy of the whole conversation.
QByteArray encodeList(const QStringList &list) { return StoreJson::encode(list); }

// Only a JSON array of strings is a list; anything else means the row is damaged.
std::optional<QStringList> decodeList(const QVariant &value)
{
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    return StoreJson::decode(bytes);
}

double toSeconds(const QDateTime &time) { return double(time.toMSecsSinceEpoch()) / 1000.0; }

QDateTime fromSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)), Qt::UTC);
}

} // namespace

ChatSession::ChatSession() : m_updatedAt(QDateTime::currentDateTimeUtc()) {}

void ChatSession::setUpdatedAt(const QDateTime &value) { m_updatedAt = value; changed(); }
void ChatSession::setRoles(const QStringList &value) { m_roles = value; changed(); }
void ChatSession::setContents(const QStringList &value) { m_contents = value; changed(); }

void ChatSession::changed()
{
    if (m_context)
        m_context->markChanged(this);
}

struct SessionStore::Private
{
    QString path;
    QString connectionName;
    bool usable = false;
    // Every record this context has handed out or been given, by identity.
    QList<std::shared_ptr<ChatSession>> registered;
    QList<std::shared_ptr<ChatSession>> inserted;
    QList<std::shared_ptr<ChatSession>> deleted;
    QList<ChatSession *> changed;
    QTimer autosave;

    QSqlDatabase db() const { return QSqlDatabase::database(connectionName, false); }
    std::shared_ptr<ChatSession> registeredRow(qint64 rowId) const
    {
        for (const auto &s : registered)
            if (s->m_rowId == rowId)
                return s;
        return nullptr;
    }
};

SessionStore::SessionStore(const QString &path, QObject *parent) : QObject(parent), d(new Private)
{
    static QAtomicInteger<quint64> counter;
    d->path = path;
    d->connectionName = QStringLiteral("hushwing-store-%1").arg(++counter);
    d->usable = StoreFile::open(path, d->connectionName, schemaVersion);

    d->autosave.setSingleShot(true);
    d->autosave.setInterval(0);
    connect(&d->autosave, &QTimer::timeout, this, [this] { save(); });
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { save(); });
}

SessionStore::~SessionStore()
{
    save();
    for (const auto &s : d->registered)
        s->m_context = nullptr;
    d->registered.clear();
    d->inserted.clear();
    d->deleted.clear();
    if (QSqlDatabase::contains(d->connectionName)) {
        QSqlDatabase::database(d->connectionName, false).close();
        QSqlDatabase::removeDatabase(d->connectionName);
    }
}

QString SessionStore::defaultPath()
{
    // Computed from the generic folder so the path does not depend on the
    // organisation or application names the process happens to carry.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Hushwing/Hushwing.sqlite");
}

QString SessionStore::path() const { return d->path; }
bool SessionStore::isUsable() const { return d->usable; }

std::optional<QList<std::shared_ptr<ChatSession>>> SessionStore::fetch()
{
    if (!d->usable)
        return std::nullopt;
    QSqlQuery query(d->db());
    query.setForwardOnly(true);
    // Records that cannot be read are never overwritten: the store stops writing.
    const auto unreadable = [this] {
        d->usable = false;
        return std::nullopt;
    };
    if (!query.exec(QStringLiteral("SELECT id, updatedAt, CAST(roles AS BLOB), CAST(contents AS BLOB) FROM ChatSession")))
        return unreadable();

    QList<std::shared_ptr<ChatSession>> result;
    QList<std::shared_ptr<ChatSession>> fresh;
    while (query.next()) {
        const qint64 rowId = query.value(0).toLongLong();
        if (auto live = d->registeredRow(rowId)) {
            // A live record carries its unsaved changes; a deleted one is gone.
            if (!d->deleted.contains(live))
                result.append(live);
            continue;
        }
        bool timeOk = false;
        const double seconds = query.value(1).toDouble(&timeOk);
        const auto roles = decodeList(query.value(2));
        const auto contents = decodeList(query.value(3));
        if (!timeOk || !roles || !contents)
            return unreadable();
        auto session = std::make_shared<ChatSession>();
        session->m_updatedAt = fromSeconds(seconds);
        session->m_roles = *roles;
        session->m_contents = *contents;
        session->m_rowId = rowId;
        fresh.append(session);
    }
    if (query.lastError().isValid())
        return unreadable();
    for (const auto &s : fresh) {
        s->m_context = this;
        d->registered.append(s);
    }
    result += fresh;
    result += d->inserted;
    std::stable_sort(result.begin(), result.end(), [](const auto &a, const auto &b) {
        return a->m_updatedAt > b->m_updatedAt;
    });
    return result;
}

void SessionStore::insert(const std::shared_ptr<ChatSession> &session)
{
    if (!d->usable || !session || session->m_context)
        return;
    session->m_context = this;
    d->registered.append(session);
    d->inserted.append(session);
    scheduleSave();
}

void SessionStore::remove(const std::shared_ptr<ChatSession> &session)
{
    if (!session || session->m_context != this)
        return;
    if (d->inserted.removeOne(session)) {
        d->registered.removeOne(session);
        session->m_context = nullptr;
    } else if (!d->deleted.contains(session)) {
        d->deleted.append(session);
    }
    d->changed.removeAll(session.get());
    scheduleSave();
}

bool SessionStore::hasChanges() const
{
    return !d->inserted.isEmpty() || !d->deleted.isEmpty() || !d->changed.isEmpty();
}

void SessionStore::markChanged(ChatSession *session)
{
    if (std::any_of(d->deleted.cbegin(), d->deleted.cend(), [&](const auto &s) { return s.get() == session; }))
        return;
    if (!d->changed.contains(session))
        d->changed.append(session);
    scheduleSave();
}

void SessionStore::scheduleSave()
{
    if (!d->autosave.isActive())
        d->autosave.start();
}

bool SessionStore::save()
{
    d->autosave.stop();
    if (!d->usable)
        return false;
    if (!hasChanges())
        return true;
    QSqlDatabase db = d->db();
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    bool ok = true;
    QList<QPair<ChatSession *, qint64>> newRows;  // applied only once committed

    for (const auto &s : std::as_const(d->deleted)) {
        if (!ok)
            break;
        query.prepare(QStringLiteral("DELETE FROM ChatSession WHERE id = ?"));
        query.addBindValue(s->m_rowId);
        ok = query.exec();
    }
    for (const auto &s : std::as_const(d->inserted)) {
        if (!ok)
            break;
        query.prepare(QStringLiteral(
            "INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (?, CAST(? AS TEXT), CAST(? AS TEXT))"));
        query.addBindValue(toSeconds(s->m_updatedAt));
        query.addBindValue(encodeList(s->m_roles));
        query.addBindValue(encodeList(s->m_contents));
        ok = query.exec();
        if (ok)
            newRows.append({s.get(), query.lastInsertId().toLongLong()});
    }
    for (ChatSession *s : std::as_const(d->changed)) {
        if (!ok)
            break;
        if (s->m_rowId < 0)
            continue;  // a pending insert writes its current values anyway
        query.prepare(QStringLiteral(
            "UPDATE ChatSession SET updatedAt = ?, roles = CAST(? AS TEXT), contents = CAST(? AS TEXT) WHERE id = ?"));
        query.addBindValue(toSeconds(s->m_updatedAt));
        query.addBindValue(encodeList(s->m_roles));
        query.addBindValue(encodeList(s->m_contents));
        query.addBindValue(s->m_rowId);
        ok = query.exec();
    }
    query.finish();
    if (!ok || !db.commit()) {
        db.rollback();
        return false;
    }

    for (const auto &[session, rowId] : newRows)
        session->m_rowId = rowId;
    for (const auto &s : std::as_const(d->deleted)) {
        s->m_context = nullptr;
        d->registered.removeOne(s);
    }
    d->inserted.clear();
    d->deleted.clear();
    d->changed.clear();
    return true;
}
