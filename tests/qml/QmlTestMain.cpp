#include "BubbleFixtures.h"
#include "ScreenProbe.h"
#include "SymbolImageProvider.h"
#include "WindowFixtures.h"

#include <QQmlEngine>
#include <QtQuickTest/quicktest.h>

// Runs every tests/qml/tst_*.qml with the program's QML module importable.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        SymbolImageProvider::install(engine);
        BubbleFixtures::install(engine);
        registerWindowFixtures(engine);
        ScreenProbe::install(engine);
        listenAsScreenReader(engine);
    }
};

QUICK_TEST_MAIN_WITH_SETUP(hushwing, Setup)

#include "QmlTestMain.moc"
