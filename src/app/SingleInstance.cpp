#include "SingleInstance.h"

#include "StoreFile.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>

namespace {

QString interfaceName() { return QStringLiteral("org.freedesktop.Application"); }

} // namespace

SingleInstance::SingleInstance(const QString &storePath, QObject *parent) : QObject(parent)
{
    if (!registerOnBus() && activateRunningCopy()) {
        m_handedOver = true;
        return;
    }
    // Without a folder there is no lock to take, and no store either.
    if (!StoreFile::ensureFolder(QFileInfo(storePath).absolutePath()))
        return;
    m_lock = std::make_unique<QLockFile>(storePath + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);  // stale only when its process is gone
    m_mayUseStore = m_lock->tryLock(0) || m_lock->error() != QLockFile::LockFailedError;
}

SingleInstance::~SingleInstance()
{
    m_lock.reset();  // before the name goes, so that a copy started now finds the store free
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QString::fromLatin1(applicationId));
        bus.unregisterObject(QString::fromLatin1(objectPath));
    }
}

QString SingleInstance::storeInUseNotice()
{
    return QStringLiteral("Another copy of Hushwing is using your saved conversation, "
                          "so this window starts empty and saves nothing.");
}

// The object is in place before the name is taken, so a copy started right
// after finds it answering.
bool SingleInstance::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(QString::fromLatin1(objectPath), this,
                                                  QDBusConnection::ExportScriptableSlots))
        return false;
    const auto reply = bus.interface()->registerService(QString::fromLatin1(applicationId),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    m_registered = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (!m_registered)
        bus.unregisterObject(QString::fromLatin1(objectPath));
    return m_registered;
}

// Passes on the launcher's activation token, which lets the running copy's
// window take the focus under Wayland.
bool SingleInstance::activateRunningCopy()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QVariantMap platformData;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty())
        platformData.insert(QStringLiteral("activation-token"), token);
    if (const QString id = qEnvironmentVariable("DESKTOP_STARTUP_ID"); !id.isEmpty())
        platformData.insert(QStringLiteral("desktop-startup-id"), id);
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(applicationId),
                                                       QString::fromLatin1(objectPath), interfaceName(),
                                                       QStringLiteral("Activate"));
    call << platformData;
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Activate(const QVariantMap &platformData)
{
    if (!m_window)
        return;  // still starting: its window is about to appear anyway
    if (const QString token = platformData.value(QStringLiteral("activation-token")).toString(); !token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());  // read by the Wayland plugin on requestActivate()
    m_window->setWindowStates(m_window->windowStates() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void SingleInstance::Open(const QStringList &, const QVariantMap &platformData)
{
    Activate(platformData);
}

void SingleInstance::ActivateAction(const QString &, const QVariantList &, const QVariantMap &platformData)
{
    Activate(platformData);
}
