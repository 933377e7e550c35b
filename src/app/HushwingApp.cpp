#include "HushwingApp.h"

#include "ChatViewModel.h"
#include "SessionStore.h"
#include "SingleInstance.h"
#include "SymbolImageProvider.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM (a session ending), SIGINT and SIGHUP quit the program the usual way,
// so the last save is written and the store's lock released.
void quitOnTerminationSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

} // namespace

HushwingApp::HushwingApp(const QString &storePath, const OllamaServer &ollama, const QString &notice, QObject *parent)
    : QObject(parent)
{
    // The store opens on its own thread while the window loads; it makes its
    // folder (owner-only) on a first start; an unusable store still lets the
    // program run with an empty conversation.
    m_store = std::make_unique<SessionStore>(storePath);
    m_viewModel = std::make_unique<ChatViewModel>(m_store.get(), ollama);
    QQmlEngine::setObjectOwnership(m_viewModel.get(), QQmlEngine::CppOwnership);

    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    SymbolImageProvider::install(m_engine.get());
    m_engine->setInitialProperties({{QStringLiteral("vm"), QVariant::fromValue(m_viewModel.get())},
                                    {QStringLiteral("storeNotice"), notice}});
    m_engine->load(QUrl(QStringLiteral("qrc:/Hushwing/Main.qml")));

    // Closing the window ends the program, whatever closed it (the window
    // manager, a keyboard shortcut, the desktop). Qt's own quit when the last
    // window closes is a request posted for later, and showing any window
    // before it is handled withdraws it: an activation from a second launch,
    // which shows this window, would then leave the program running with its
    // window back on screen. A quit of our own, queued behind the close, is
    // not withdrawn; it closes a window shown meanwhile and ends the loop.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    if (QQuickWindow *shown = window())
        connect(shown, &QWindow::visibleChanged, this, [](bool visible) {
            if (!visible)
                QCoreApplication::quit();
        }, Qt::QueuedConnection);
}

HushwingApp::~HushwingApp()
{
    // The window goes before the view model it shows, and the view model
    // (which saves a reply still running) before the store it writes to.
    m_engine.reset();
    m_viewModel.reset();
    m_store.reset();
}

SessionStore *HushwingApp::store() const
{
    return m_store.get();
}

ChatViewModel *HushwingApp::viewModel() const
{
    return m_viewModel.get();
}

QQmlApplicationEngine *HushwingApp::engine() const
{
    return m_engine.get();
}

QQuickWindow *HushwingApp::window() const
{
    const auto roots = m_engine->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

void HushwingApp::describeApplication()
{
    QGuiApplication::setApplicationName(QStringLiteral("Hushwing"));
    QGuiApplication::setOrganizationName(QString());
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Hushwing"));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.hushwing.Hushwing"));
    QGuiApplication::setApplicationVersion(QStringLiteral(HUSHWING_VERSION));
}

int HushwingApp::main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    describeApplication();
    const QString storePath = SessionStore::defaultPath();
    SingleInstance instance(storePath);
    if (instance.handedOver())
        return 0;
    quitOnTerminationSignals();
    const bool mayUseStore = instance.mayUseStore();
    HushwingApp hushwing(mayUseStore ? storePath : QString(), OllamaServer(),
                         mayUseStore ? QString() : SingleInstance::storeInUseNotice());
    if (!hushwing.window())
        return 1;
    instance.setWindow(hushwing.window());
    return app.exec();
}
