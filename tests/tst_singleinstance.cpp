// One running copy per user: the real program started twice, on a private
// session bus (the second asks the first to come to the front and ends) and
// with no bus at all (the second never touches the store); and, in this
// process, what the first copy does when asked, and what a copy that may not
// use the store shows.
#include "ChatViewModel.h"
#include "HushwingApp.h"
#include "LocalHttpServer.h"
#include "SessionStore.h"
#include "SingleInstance.h"
#include "StoreTestTools.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace StoreTestTools;

namespace {

constexpr int longWait = 30000;

// Paths of the store's files that a process has open, from /proc.
QStringList openStoreFiles(qint64 pid, const QString &storePath)
{
    QStringList open;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
        if (target.startsWith(storePath))
            open << target;
    }
    return open;
}

// Names, sizes and bytes of every file in a folder.
QString fingerprint(const QString &folder)
{
    QString print;
    for (const QString &name : folderEntries(folder))
        print += name + QLatin1Char(' ') + QString::fromLatin1(fileBytes(folder + QLatin1Char('/') + name).toBase64()) + QLatin1Char('\n');
    return print;
}

// True once `process` has the store open, its write-ahead log included.
bool hasStoreOpen(const QProcess &process, const QString &storePath)
{
    const QStringList open = openStoreFiles(process.processId(), storePath);
    return open.contains(storePath) && open.contains(storePath + QStringLiteral("-wal"));
}

bool endsCleanly(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    return process.waitForFinished(longWait) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_busAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");

    QString storePath(const QString &home) const { return m_dir.filePath(home + QStringLiteral("/Hushwing/Hushwing.sqlite")); }

    // The program as a user starts it, offscreen, with its data folder `home`
    // and its runtime folder in this test's temporary folder.
    void startProgram(QProcess &process, const QString &home, const QString &busAddress)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(home));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(HUSHWING_PROGRAM), {});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("runtime"))));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(!m_busAddress.isEmpty(), "no private session bus: dbus-daemon (Debian package dbus-daemon) is needed");
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }

    void secondLaunchBringsTheFirstToTheFrontAndEnds()
    {
        QProcess monitor;
        monitor.start(QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")),
                      {QStringLiteral("--address"), m_busAddress,
                       QStringLiteral("type='method_call',interface='org.freedesktop.Application'"),
                       QStringLiteral("type='method_return'")});
        QVERIFY(monitor.waitForStarted(longWait));
        QVERIFY(monitor.waitForReadyRead(longWait));  // it has become a monitor

        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("observer"));
        QVERIFY(bus.isConnected());
        const QString appId = QString::fromLatin1(SingleInstance::applicationId);
        const QString path = storePath(QStringLiteral("on-a-bus"));
        QProcess first;
        startProgram(first, QStringLiteral("on-a-bus"), m_busAddress);
        QTRY_VERIFY_WITH_TIMEOUT(bus.interface()->isServiceRegistered(appId) && hasStoreOpen(first, path)
                                     && readRows(path).size() == 1, longWait);
        const QString firstName = bus.interface()->serviceOwner(appId);
        const QString before = fingerprint(QFileInfo(path).absolutePath());

        QProcess second;
        startProgram(second, QStringLiteral("on-a-bus"), m_busAddress);
        QVERIFY(second.waitForFinished(longWait));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(fingerprint(QFileInfo(path).absolutePath()), before);

        // The second copy called Activate on the first, which answered it.
        QString log;
        const QRegularExpression call(QStringLiteral(
            R"(method call .* sender=(\S+) -> destination=example\.hushwing\.Hushwing serial=(\d+) )"
            R"(path=/example/hushwing/Hushwing; interface=org\.freedesktop\.Application; member=Activate)"));
        const auto answered = [&] {
            log += QString::fromUtf8(monitor.readAllStandardOutput());
            const auto activate = call.match(log);
            return activate.hasMatch()
                   && log.contains(QStringLiteral("method return time=")) && log.contains(QRegularExpression(
                          QStringLiteral(R"(method return .* sender=%1 -> destination=%2 serial=\d+ reply_serial=%3\b)")
                              .arg(QRegularExpression::escape(firstName), QRegularExpression::escape(activate.captured(1)),
                                   activate.captured(2))));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(answered(), qPrintable(log), longWait);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(bus.interface()->serviceOwner(appId), firstName);

        QVERIFY(endsCleanly(first));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".lock")));
        monitor.kill();
        monitor.waitForFinished();
    }

    void withoutABusTheSecondCopyNeverTouchesTheStore()
    {
        const QString noBus = QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("no-bus"));
        const QString path = storePath(QStringLiteral("no-bus"));
        QProcess first;
        startProgram(first, QStringLiteral("no-bus"), noBus);
        QTRY_VERIFY_WITH_TIMEOUT(hasStoreOpen(first, path) && readRows(path).size() == 1, longWait);
        QVERIFY(QFileInfo::exists(path + QStringLiteral(".lock")));
        const QString folder = QFileInfo(path).absolutePath();
        const QString before = fingerprint(folder);

        QProcess second;
        startProgram(second, QStringLiteral("no-bus"), noBus);
        QVERIFY(second.waitForStarted(longWait));
        QElapsedTimer watching;
        watching.start();
        while (watching.elapsed() < 3000) {
            QCOMPARE(openStoreFiles(second.processId(), path), QStringList());
            QTest::qWait(20);
        }
        QCOMPARE(second.state(), QProcess::Running);
        QVERIFY(endsCleanly(second));
        QCOMPARE(fingerprint(folder), before);

        QVERIFY(endsCleanly(first));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".lock")));
    }

    // The first copy's side: Activate shows, raises and activates the window.
    void activateBringsTheWindowToTheFront()
    {
        QWindow window;
        window.resize(200, 100);
        SingleInstance instance(m_dir.filePath(QStringLiteral("in-process/Hushwing.sqlite")));
        QVERIFY(!instance.handedOver());
        QVERIFY(instance.mayUseStore());
        instance.setWindow(&window);

        QDBusConnection caller = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("caller"));
        QDBusMessage activate = QDBusMessage::createMethodCall(
            QString::fromLatin1(SingleInstance::applicationId), QString::fromLatin1(SingleInstance::objectPath),
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
        activate << QVariantMap();
        // The answer comes from this very thread: the call must not block its event loop.
        const QDBusMessage reply = caller.call(activate, QDBus::BlockWithGui, longWait);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QTRY_VERIFY(window.isVisible());
        QTRY_COMPARE(QGuiApplication::focusWindow(), &window);
    }

    // A copy that may not use the store shows why, and nothing else changes:
    // the chat screen is there, empty.
    void aCopyWithoutTheStoreSaysWhy()
    {
        HushwingApp::describeApplication();
        const OllamaServer nowhere{.baseUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(unusedLoopbackPort()))};
        HushwingApp app(QString(), nowhere, SingleInstance::storeInUseNotice());
        QQuickWindow *window = app.window();
        QVERIFY(window);
        auto *notice = window->findChild<QQuickItem *>(QStringLiteral("storeNotice"));
        QVERIFY(notice);
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->property("text").toString(), SingleInstance::storeInUseNotice());
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(notice);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), SingleInstance::storeInUseNotice());
        QVERIFY(!app.viewModel()->isRestoring());
        QCOMPARE(app.viewModel()->messageModel()->rowCount(), 0);
    }
};

// The session bus of this process and of the programs it starts is a private
// one, started before the application object (which may already use the bus).
int main(int argc, char *argv[])
{
    QTemporaryDir busDir;
    QProcess bus;
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!daemon.isEmpty()) {
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                           QStringLiteral("--print-address"),
                           QStringLiteral("--address=unix:path=") + busDir.filePath(QStringLiteral("bus"))});
        if (bus.waitForReadyRead(longWait))
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    }
    int status = 0;
    {
        QGuiApplication app(argc, argv);
        TestSingleInstance test;
        status = QTest::qExec(&test, argc, argv);
    }
    bus.terminate();
    bus.waitForFinished(longWait);
    return status;
}
#include "tst_singleinstance.moc"
