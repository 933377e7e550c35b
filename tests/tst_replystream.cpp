#include "ReplyStream.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// What the consumer saw, in order: "+piece" for an addition, "=text" for a
// replaced text, and "end" or "failed: description".
struct Recorder
{
    QStringList seen;
    explicit Recorder(ReplyStream &stream)
    {
        QObject::connect(&stream, &ReplyStream::appended, &stream, [this](const QString &p) { seen << "+" + p; });
        QObject::connect(&stream, &ReplyStream::replaced, &stream, [this](const QString &t) { seen << "=" + t; });
        QObject::connect(&stream, &ReplyStream::finished, &stream, [this] { seen << "end"; });
        QObject::connect(&stream, &ReplyStream::failed, &stream,
                         [this](const ReplyError &e) { seen << "failed: " + e.description; });
    }
    bool ended() const { return !seen.isEmpty() && (seen.last() == "end" || seen.last().startsWith("failed")); }
    bool waitForEnd() { return QTest::qWaitFor([this] { return ended(); }, 1000); }
};

} // namespace

// The reply stream is the one step between a producer and the screen: it hands
// on what was added (a snapshot that does not continue the last one replaces
// the text), from the event loop, in order, and ends exactly once.
class TestReplyStream : public QObject
{
    Q_OBJECT
private slots:
    void piecesAddedInOneGoArriveTogetherAndBeforeTheEnd()
    {
        ReplyStream stream;
        Recorder got(stream);
        stream.append(u"");  // the empty content of a reasoning model's thinking lines
        QString expected;
        for (int i = 0; i < 40000; ++i) {
            stream.append(QString::number(i % 10));
            expected += QString::number(i % 10);
        }
        stream.finish();
        stream.append(u"after the end");
        QVERIFY(got.seen.isEmpty());  // never from within the producer's call
        QVERIFY(got.waitForEnd());
        QCOMPARE(got.seen, (QStringList{"+" + expected, "end"}));
    }

    // Snapshots (the on-device model's whole texts) become the pieces they add;
    // one that does not continue the text before replaces it.
    void snapshotsBecomePiecesOrReplaceTheText()
    {
        ReplyStream stream;
        Recorder got(stream);
        stream.setText(QString());
        stream.setText(QStringLiteral("The"));
        QVERIFY(QTest::qWaitFor([&] { return !got.seen.isEmpty(); }, 1000));
        stream.setText(QStringLiteral("The"));
        stream.setText(QStringLiteral("The cat"));
        QVERIFY(QTest::qWaitFor([&] { return got.seen.size() == 2; }, 1000));
        stream.setText(QStringLiteral("A dog"));  // rewritten, not continued
        stream.setText(QStringLiteral("A dog ran"));
        stream.append(u".");
        stream.finish();
        QVERIFY(got.waitForEnd());
        QCOMPARE(got.seen, (QStringList{"+The", "+ cat", "=A dog ran.", "end"}));
    }

    void failureEndsWithItsErrorAndCancellationEndsNormally()
    {
        {
            ReplyStream stream;
            Recorder got(stream);
            stream.append(u"A");
            stream.append(u"B");
            stream.fail({ReplyError::Kind::network, QStringLiteral("D")});
            stream.fail({ReplyError::Kind::network, QStringLiteral("second")});
            stream.finish();
            QVERIFY(got.waitForEnd());
            QCOMPARE(got.seen, (QStringList{"+AB", "failed: D"}));
        }
        {
            ReplyStream stream;
            Recorder got(stream);
            stream.fail(ReplyError::cancellation());
            QVERIFY(got.waitForEnd());
            QCOMPARE(got.seen, QStringList{"end"});
        }
    }

    void cancelDropsWhatIsPendingTellsTheProducerOnceAndEndsLater()
    {
        ReplyStream stream;
        Recorder got(stream);
        QSignalSpy stopRequested(&stream, &ReplyStream::stopRequested);
        stream.append(u"A");
        QVERIFY(QTest::qWaitFor([&] { return !got.seen.isEmpty(); }, 1000));
        stream.append(u"B");  // pending: never seen
        stream.cancel();
        QVERIFY(!got.ended());  // not from within cancel()
        QCOMPARE(stopRequested.count(), 1);
        stream.append(u"too late");
        stream.fail({ReplyError::Kind::network, QStringLiteral("too late")});
        QVERIFY(got.waitForEnd());
        QCOMPARE(got.seen, (QStringList{"+A", "end"}));
        stream.cancel();
        QCOMPARE(stopRequested.count(), 1);
    }

    // Cancelled while its end is on the way: neither the rest of the text nor
    // the error reaches the consumer, and the producer, done already, is not told.
    void cancelFromAHandlerStopsTheRest()
    {
        ReplyStream stream;
        QStringList seen;
        connect(&stream, &ReplyStream::replaced, this, [&](const QString &t) {
            seen << t;
            stream.cancel();
        });
        connect(&stream, &ReplyStream::appended, this, [&](const QString &t) { seen << t; });
        QSignalSpy finished(&stream, &ReplyStream::finished);
        QSignalSpy stopRequested(&stream, &ReplyStream::stopRequested);
        stream.setText(QStringLiteral("A"));
        QVERIFY(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 1000));
        seen.clear();
        stream.setText(QStringLiteral("B"));
        stream.append(u"C");
        stream.fail({ReplyError::Kind::network, QStringLiteral("D")});
        QVERIFY(finished.wait(1000));
        QCOMPARE(seen, QStringList{"BC"});
        QCOMPARE(stopRequested.count(), 0);
    }

    void destroyingARunningStreamTellsTheProducer()
    {
        int told = 0;
        {
            ReplyStream stream;
            connect(&stream, &ReplyStream::stopRequested, this, [&] { ++told; });
            stream.append(u"pending");
        }
        QCOMPARE(told, 1);
        {
            ReplyStream stream;
            connect(&stream, &ReplyStream::stopRequested, this, [&] { ++told; });
            stream.finish();  // the producer is done: nothing to stop
        }
        QCOMPARE(told, 1);
    }
};

QTEST_GUILESS_MAIN(TestReplyStream)
#include "tst_replystream.moc"
