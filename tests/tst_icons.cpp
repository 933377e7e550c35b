#include "AppConfig.h"
#include "SymbolImageProvider.h"

#include <QDirIterator>
#include <QFile>
#include <QQmlEngine>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QtTest>

// Every symbol name the views draw must have an icon bundled with the program:
// the names in the QML files, the writing-mode table and the fixed set below.
class TestIcons : public QObject
{
    Q_OBJECT

    static QString iconPath(const QString &name) { return ":/Hushwing/icons/" + name + ".svg"; }

    static void verifyIcon(const QString &name, const QString &usedBy)
    {
        QSvgRenderer renderer(iconPath(name));
        QVERIFY2(renderer.isValid(), qPrintable(QString("no icon for \"%1\" (used by %2)").arg(name, usedBy)));
        QCOMPARE(renderer.viewBox(), QRect(0, 0, 24, 24));
    }

private slots:
    void fixedSet()
    {
        const QStringList names = {
            "brain", "cpu", "square.and.pencil", "ellipsis.circle", "info.circle", "xmark.circle.fill",
            "stop.circle.fill", "arrow.up.circle.fill", "checkmark.circle", "text.alignleft", "lightbulb",
            "pencil.and.outline", "doc.on.doc", "arrow.clockwise", "arrow.clockwise.circle.fill", "checkmark",
            "lock.shield", "wifi.slash", "person.slash", "calendar.badge.exclamationmark", "hand.raised",
            "exclamationmark.triangle"};
        for (const QString &name : names)
            verifyIcon(name, "the program");
    }

    void writingModes()
    {
        for (const auto &mode : AppConfig::writingModes())
            verifyIcon(mode.icon, "writing mode " + mode.label);
    }

    // The views draw icons through the "symbol" image provider.
    void providerDrawsAtTheRequestedSize()
    {
        SymbolImageProvider provider;
        QSize size;
        const QImage icon = provider.requestImage("cpu", &size, QSize(18, 18));
        QCOMPARE(icon.size(), QSize(18, 18));
        QCOMPARE(size, QSize(18, 18));
        int inked = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                inked += qAlpha(icon.pixel(x, y)) > 0;
        QVERIFY2(inked > 18 && inked < 18 * 18, qPrintable(QString::number(inked)));
        QCOMPARE(provider.requestImage("cpu", &size, QSize(40, 0)).size(), QSize(40, 40));
        QCOMPARE(provider.requestImage("cpu", &size, QSize()).size(), QSize(24, 24));

        // Only bundled names: no paths out of the icon folder, no unknown names.
        for (const QString &id : {"nonexistent", "../qml/Main", "/etc/passwd", "cpu.svg?x", ""})
            QVERIFY2(provider.requestImage(id, &size, QSize(18, 18)).isNull(), qPrintable(id));
    }

    // The program runs here at twice the scale factor (main below), as on a
    // high-density screen: an icon must be drawn from the SVG at the screen's
    // pixel ratio, not drawn at its size in points and enlarged.
    void iconsAreSharpAtTheScreensPixelRatio()
    {
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/"));
        SymbolImageProvider::install(&engine);
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Hushwing\n"
                          "Window { width: 40; height: 40; color: \"white\"; visible: true\n"
                          "  SymbolIcon { name: \"cpu\"; size: 20; color: \"black\" } }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        auto *window = qobject_cast<QQuickWindow *>(object.get());
        QVERIFY2(window, qPrintable(component.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->effectiveDevicePixelRatio(), 2.0);
        const QImage drawn = window->grabWindow().copy(0, 0, 40, 40);
        QCOMPARE(drawn.width(), 40);

        // How far the drawn icon's ink is, on average, from the icon rendered
        // at a size (0 to 255 a pixel).
        SymbolImageProvider provider;
        QSize size;
        const auto distance = [&drawn](const QImage &icon) {
            double total = 0;
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 40; ++x)
                    total += std::abs(255 - qGray(drawn.pixel(x, y)) - qAlpha(icon.pixel(x, y)));
            return total / (40 * 40);
        };
        const QImage sharp = provider.requestImage("cpu", &size, QSize(40, 40));
        const QImage enlarged = provider.requestImage("cpu", &size, QSize(20, 20)).scaled(40, 40, Qt::IgnoreAspectRatio,
                                                                                          Qt::SmoothTransformation);
        QVERIFY2(distance(sharp) < 4, qPrintable(QString::number(distance(sharp))));
        // (The measure tells the two apart: an enlarged icon would fail.)
        QVERIFY(distance(enlarged) > 4 * distance(sharp) + 10);
    }

    void namesInTheViews()
    {
        // `name: "..."`, `icon: "..."`, `symbol: "..."` and `image://symbol/<name>`,
        // including both sides of a conditional.
        static const QRegularExpression property(QStringLiteral("(?<![\\w.])(name|icon|symbol|iconName)\\s*:([^;]*)"));
        static const QRegularExpression literal(QStringLiteral("\"([a-z]+(?:\\.[a-z]+)*)\""));
        static const QRegularExpression source(QStringLiteral("image://symbol/([a-z]+(?:\\.[a-z]+)*)"));
        int files = 0, names = 0;
        QDirIterator it(":/Hushwing", {"*.qml"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            ++files;
            const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
            for (const QString &line : lines) {
                QStringList found;
                if (const auto m = property.match(line); m.hasMatch()) {
                    for (auto lit = literal.globalMatch(m.captured(2)); lit.hasNext();)
                        found << lit.next().captured(1);
                }
                for (auto src = source.globalMatch(line); src.hasNext();)
                    found << src.next().captured(1);
                for (const QString &name : found) {
                    ++names;
                    verifyIcon(name, QFileInfo(path).fileName());
                }
            }
        }
        QVERIFY2(files >= 6, "the QML files are not in the resources");
        QVERIFY2(names >= 10, qPrintable(QString::number(names)));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QGuiApplication app(argc, argv);
    TestIcons test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_icons.moc"
