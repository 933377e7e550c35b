#include "MessageRuns.h"

#include <QtTest>

// Where two versions of a message's runs first differ: the bubble's document
// is edited only from there on.
class TestMessageRuns : public QObject
{
    Q_OBJECT

    static std::vector<StyledRun> runs(const QString &content)
    {
        return MessageRuns::present(content, "assistant").runs;
    }

private slots:
    void firstDifference()
    {
        QCOMPARE(MessageRuns::firstDifference(runs("Hello"), runs("Hello there")), 5);
        QCOMPARE(MessageRuns::firstDifference(runs("Hello"), runs("Hello")), 5);
        QCOMPARE(MessageRuns::firstDifference(runs("Hello"), runs("Help")), 3);
        QCOMPARE(MessageRuns::firstDifference({}, runs("x")), 0);
        // Closing the bold restyles from where it opened.
        QCOMPARE(MessageRuns::firstDifference(runs("The **4"), runs("The **42**")), 4);
        // Same characters and styles, different run boundaries: no difference.
        const std::vector<StyledRun> split{{"ab", 0, {}}, {"c", 1, {}}};
        const std::vector<StyledRun> joined{{"a", 0, {}}, {"b", 0, {}}, {"c", 1, {}}};
        QCOMPARE(MessageRuns::firstDifference(split, joined), 3);
        // A link's address is part of its style.
        QCOMPARE(MessageRuns::firstDifference(runs("x [a](https://a.example)"), runs("x [a](https://b.example)")), 2);
    }
};

QTEST_GUILESS_MAIN(TestMessageRuns)
#include "tst_messageruns.moc"
