#include "MessageBlocks.h"

#include <QtTest>

// How a long message is cut into blocks that are laid out one by one.
class TestMessageBlocks : public QObject
{
    Q_OBJECT

    static std::vector<TextBlock> blocks(const QString &text, qsizetype limit)
    {
        std::vector<TextBlock> cut;
        MessageBlocks::split(cut, text, 0, limit);
        return cut;
    }

    // The blocks tile the text: each starts where the last ended, or one past
    // the line break between them; none is longer than the limit.
    static void verifyTiling(const std::vector<TextBlock> &cut, const QString &text, qsizetype limit)
    {
        QVERIFY(!cut.empty());
        QCOMPARE(cut.front().start, 0);
        QCOMPARE(cut.back().end, text.size());
        for (size_t i = 0; i < cut.size(); ++i) {
            QVERIFY2(cut[i].end - cut[i].start <= limit, qPrintable(QString::number(i)));
            if (i == 0)
                continue;
            const bool atBreak = cut[i].start == cut[i - 1].end + 1 && text.at(cut[i - 1].end) == u'\n';
            QVERIFY2(atBreak || (cut[i].start == cut[i - 1].end && cut[i].continuesParagraph()), qPrintable(QString::number(i)));
        }
    }

private slots:
    void shortTextIsOneBlock()
    {
        const auto cut = blocks("one\ntwo", 50);
        QCOMPARE(cut.size(), size_t(1));
        QCOMPARE(cut.front(), (TextBlock{0, 7, 0}));
        QCOMPARE(blocks("", 50).size(), size_t(1));
    }

    void linesAreGroupedUpToHalfTheLimit()
    {
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("line %1\n").arg(i);
        // A paragraph over half the limit but within it stays whole, in a block of its own.
        const QString paragraph = QStringLiteral("word ").repeated(8) + QStringLiteral("end");
        text += paragraph + QStringLiteral("\nlast");
        const auto cut = blocks(text, 50);
        verifyTiling(cut, text, 50);
        bool paragraphWhole = false;
        for (const TextBlock &block : cut) {
            QVERIFY(!block.continuesParagraph());
            const QStringView shown = QStringView(text).sliced(block.start, block.end - block.start);
            paragraphWhole = paragraphWhole || shown == paragraph;
            QVERIFY2(shown.size() <= 25 || shown == paragraph, qPrintable(shown.toString()));
        }
        QVERIFY(paragraphWhole);
        QVERIFY(cut.size() < 45);  // several lines a block
    }

    void longParagraphIsCutAfterSpaces()
    {
        const QString text = QStringLiteral("intro\n") + QStringLiteral("word ").repeated(100) + QStringLiteral("\nend");
        const auto cut = blocks(text, 50);
        verifyTiling(cut, text, 50);
        for (size_t i = 1; i + 1 < cut.size(); ++i) {
            QVERIFY(cut[i].continuesParagraph() || text.at(cut[i].start - 1) == u'\n');
            if (cut[i].continuesParagraph()) {
                QCOMPARE(text.at(cut[i].start - 1), u' ');
                QCOMPARE(cut[i].paragraphStart, 6);
            }
        }
        QVERIFY(!cut.back().continuesParagraph());
    }

    void paragraphWithoutSpacesIsCutBetweenCharacters()
    {
        // Emoji (surrogate pairs) and letters with combining accents: no cut splits one.
        const QString text = QStringLiteral("\U0001F600e\u0301").repeated(200);
        const auto cut = blocks(text, 50);
        verifyTiling(cut, text, 50);
        for (size_t i = 1; i < cut.size(); ++i) {
            QVERIFY(!text.at(cut[i].start).isLowSurrogate());
            QVERIFY(!text.at(cut[i].start).isMark());
        }
    }

    void cutParagraphKeepsItsDirection()
    {
        // A right-to-left paragraph whose later blocks start with digits.
        const QString text = QStringLiteral("\u05E9\u05DC\u05D5\u05DD 123 ").repeated(40);
        const auto cut = blocks(text, 50);
        QVERIFY(cut.size() > 2);
        for (const TextBlock &block : cut)
            QCOMPARE(MessageBlocks::paragraphDirection(QStringView(text).sliced(block.paragraphStart)), Qt::RightToLeft);
        QCOMPARE(MessageBlocks::paragraphDirection(u"123 abc"), Qt::LeftToRight);
        QCOMPARE(MessageBlocks::paragraphDirection(u"123\n\u05E9"), Qt::LayoutDirectionAuto);
    }

    void growingTextKeepsItsEarlierBlocks()
    {
        QString text;
        std::vector<TextBlock> cut;
        size_t kept = 0;
        for (int i = 0; i < 300; ++i) {
            const qsizetype before = text.size();
            text += (i % 7 == 0 || i % 11 == 5) ? QStringLiteral("\n") : (i % 3 == 0 ? QStringLiteral("longwordwithoutspaces") : QStringLiteral("a few words "));
            const std::vector<TextBlock> previous = cut;
            kept = MessageBlocks::unaffected(cut, before, 50);
            MessageBlocks::split(cut, text, kept, 50);
            QCOMPARE(cut, blocks(text, 50));
            QVERIFY(std::equal(cut.begin(), cut.begin() + kept, previous.begin()));
        }
        QVERIFY(cut.size() > 60 && cut.size() - kept < 10);  // only the last blocks were cut again
    }
};

QTEST_GUILESS_MAIN(TestMessageBlocks)
#include "tst_messageblocks.moc"
