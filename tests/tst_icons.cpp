#include "AppConfig.h"

#include <QDirIterator>
#include <QFile>
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

    void namesInTheViews()
    {
        // `name: "..."`, `icon: "..."`, `symbol: "..."` and `icon.source: ...icons/<name>.svg`,
        // including both sides of a conditional.
        static const QRegularExpression property(QStringLiteral("(?<![\\w.])(name|icon|symbol|iconName)\\s*:([^;]*)"));
        static const QRegularExpression literal(QStringLiteral("\"([a-z]+(?:\\.[a-z]+)*)\""));
        static const QRegularExpression source(QStringLiteral("icons/([a-z.]+)\\.svg"));
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

QTEST_GUILESS_MAIN(TestIcons)
#include "tst_icons.moc"
