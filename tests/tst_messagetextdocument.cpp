#include "MessageTextDocument.h"

#include <QtTest>

using Run = MessageTextDocument::Run;

// How a message becomes styled runs, and where two versions of it first differ
// (the document is edited only from there on).
class TestMessageTextDocument : public QObject
{
    Q_OBJECT

    static std::vector<Run> runs(const QString &content, const QString &role = "assistant")
    {
        bool styled = false;
        QString plain;
        return MessageTextDocument::runsFor(content, role, &styled, &plain);
    }

private slots:
    void runsCarryTheStyles()
    {
        const auto r = runs("a **b *c*** `d` [e](https://x.example) <i>f</i>");
        QStringList described;
        for (const Run &run : r)
            described << QString("%1:%2:%3").arg(run.text).arg(run.style).arg(run.href);
        QCOMPARE(described, QStringList({"a :0:", "b :1:", "c:3:", " :0:", "d:4:", " :0:",
                                         "e:8:https://x.example", " <i>f</i>:0:"}));
    }

    void userTextAndRefusedMarkdownAreOneRun()
    {
        bool styled = true;
        QString plain;
        auto r = MessageTextDocument::runsFor("**not styled**", "user", &styled, &plain);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0].text, QString("**not styled**"));
        QVERIFY(!styled);
        r = MessageTextDocument::runsFor("", "assistant", &styled, &plain);
        QCOMPARE(r[0].text, QString(" "));
        QCOMPARE(plain, QString(" "));
        const QString deep = QString("*").repeated(100) + "x" + QString("*").repeated(100);
        r = MessageTextDocument::runsFor(deep, "assistant", &styled, &plain);
        QVERIFY(!styled);
        QCOMPARE(r[0].text, deep);
    }

    // One character in the runs is one position in the document.
    void lineEndingsBecomeOneBreak()
    {
        QCOMPARE(runs("a\r\nb\rc\n", "user")[0].text, QString("a\nb\nc\n"));
        QCOMPARE(runs("**a**\r\nb")[1].text, QString("\nb"));
    }

    void firstDifference()
    {
        QCOMPARE(MessageTextDocument::firstDifference(runs("Hello"), runs("Hello there")), 5);
        QCOMPARE(MessageTextDocument::firstDifference(runs("Hello"), runs("Hello")), 5);
        QCOMPARE(MessageTextDocument::firstDifference(runs("Hello"), runs("Help")), 3);
        QCOMPARE(MessageTextDocument::firstDifference({}, runs("x")), 0);
        // Closing the bold restyles from where it opened.
        QCOMPARE(MessageTextDocument::firstDifference(runs("The **4"), runs("The **42**")), 4);
        // Same characters, different run boundaries, same styles: no difference.
        std::vector<Run> split{{"ab", 0, {}}, {"c", 1, {}}}, joined{{"a", 0, {}}, {"b", 0, {}}, {"c", 1, {}}};
        QCOMPARE(MessageTextDocument::firstDifference(split, joined), 3);
        // A link's address is part of its style.
        QCOMPARE(MessageTextDocument::firstDifference(runs("x [a](https://a.example)"),
                                                      runs("x [a](https://b.example)")), 2);
    }
};

QTEST_GUILESS_MAIN(TestMessageTextDocument)
#include "tst_messagetextdocument.moc"
