#pragma once

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <QWindow>
#include <memory>

// One running copy per user. The first copy registers the application's ID on
// the D-Bus session bus and answers org.freedesktop.Application there: Activate
// brings its window to the front. A later copy asks it to, and ends.
//
// Whichever copy runs, only the one holding a lock file beside the store may
// open the store: a bus spans one login session, while the data folder may be
// shared by several (or there may be no bus at all). A copy that cannot take
// the lock opens nothing for writing and says so in its window.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    static constexpr const char *applicationId = "example.hushwing.Hushwing";
    static constexpr const char *objectPath = "/example/hushwing/Hushwing";

    // Settles which copy this is; `storePath` names the store to guard.
    explicit SingleInstance(const QString &storePath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when a copy already running on this session bus has been asked to
    // come to the front: this one should end, with status 0.
    bool handedOver() const { return m_handedOver; }
    // False when another copy holds the store's lock. True when this copy holds
    // it, and also when no lock can be made at all (a read-only folder, a full
    // disk): the store then finds out for itself what it can do.
    bool mayUseStore() const { return m_mayUseStore; }
    // What the window says when this copy may not use the store.
    static QString storeInUseNotice();

    // The window that Activate brings to the front.
    void setWindow(QWindow *window) { m_window = window; }

public slots:
    // org.freedesktop.Application. The program opens no files and has no
    // actions: every request just brings the window to the front.
    Q_SCRIPTABLE void Activate(const QVariantMap &platformData);
    Q_SCRIPTABLE void Open(const QStringList &uris, const QVariantMap &platformData);
    Q_SCRIPTABLE void ActivateAction(const QString &action, const QVariantList &parameter,
                                     const QVariantMap &platformData);

private:
    bool registerOnBus();
    bool activateRunningCopy();

    bool m_handedOver = false;
    bool m_mayUseStore = true;
    bool m_registered = false;
    std::unique_ptr<QLockFile> m_lock;
    QPointer<QWindow> m_window;
};
