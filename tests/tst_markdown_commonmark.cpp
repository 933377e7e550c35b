#include "CommonMarkHtml.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

// Checks the inline parser against CommonMark's own examples of the inline
// sections (tests/data/commonmark-inline.json). Examples listed there with a
// "differs" reason are the ones where keeping the user's white space, or
// showing no images, deliberately gives another result; they must still
// differ, so that the list stays true.
class TestMarkdownCommonMark : public QObject
{
    Q_OBJECT

    // Spaces and tabs around line breaks and at both ends go: CommonMark drops
    // them from paragraph lines, the bubble keeps them.
    static QString trimLines(const QString &html)
    {
        QStringList lines = html.split(u'\n');
        static const QRegularExpression edges(QStringLiteral("^[ \\t]+|[ \\t]+$"));
        for (QString &line : lines)
            line.remove(edges);
        return lines.join(u'\n');
    }

    static QString expected(QString html)
    {
        html = html.mid(3, html.size() - 3 - 5);  // "<p>" ... "</p>\n"
        html.replace(QStringLiteral("<br />\n"), QStringLiteral("\n"));
        return trimLines(html);
    }

    static QString actual(QString markdown)
    {
        if (markdown.endsWith(u'\n'))
            markdown.chop(1);
        const auto root = InlineMarkdown::parse(markdown);
        return root ? trimLines(InlineMarkdown::toCommonMarkHtml(*root)) : QStringLiteral("<rejected>");
    }

private slots:
    void examples_data()
    {
        QFile file(QFINDTESTDATA("data/commonmark-inline.json"));
        QVERIFY2(file.open(QIODevice::ReadOnly), "the CommonMark examples file is missing");
        const QJsonArray list = QJsonDocument::fromJson(file.readAll()).object().value("examples").toArray();
        QVERIFY(list.size() > 250);
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("differs");
        for (const auto &value : list) {
            const QJsonObject e = value.toObject();
            const QByteArray tag = QByteArray::number(e.value("example").toInt()) + " "
                + e.value("section").toString().toUtf8();
            QTest::newRow(tag.constData()) << e.value("markdown").toString() << e.value("html").toString()
                                           << e.value("differs").toString();
        }
    }

    void examples()
    {
        QFETCH(QString, markdown);
        QFETCH(QString, html);
        QFETCH(QString, differs);
        const QString ours = actual(markdown);
        const QString theirs = expected(html);
        if (differs.isEmpty())
            QCOMPARE(ours, theirs);
        else
            QVERIFY2(ours != theirs, qPrintable("listed as differing but now matches: " + differs));
    }
};

QTEST_GUILESS_MAIN(TestMarkdownCommonMark)
#include "tst_markdown_commonmark.moc"
