#include "HushwingApp.h"

#include "SessionStore.h"
#include "SymbolImageProvider.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

HushwingApp::HushwingApp(const QString &storePath, QObject *parent) : QObject(parent)
{
    // The store makes its own folder (owner-only) on a first start; an unusable
    // store still lets the program run with an empty conversation.
    m_store = std::make_unique<SessionStore>(storePath);

    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    SymbolImageProvider::install(m_engine.get());
    m_engine->setInitialProperties({{QStringLiteral("modelContext"),
                                     QVariant::fromValue<QObject *>(m_store.get())}});
    m_engine->load(QUrl(QStringLiteral("qrc:/Hushwing/Main.qml")));
}

HushwingApp::~HushwingApp()
{
    // The window and its view model go before the store they write to.
    m_engine.reset();
    m_store.reset();
}

SessionStore *HushwingApp::store() const
{
    return m_store.get();
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
    HushwingApp hushwing(SessionStore::defaultPath());
    if (!hushwing.window())
        return 1;
    return app.exec();
}
