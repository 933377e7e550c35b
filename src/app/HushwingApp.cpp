#include "HushwingApp.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(HushwingPlugin)

int HushwingApp::main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Hushwing"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Hushwing"));
    QGuiApplication::setDesktopFileName(QStringLiteral("hushwing"));

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/Hushwing/Main.qml")));
    return app.exec();
}
