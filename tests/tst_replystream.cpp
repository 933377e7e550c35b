#include "ReplyStream.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &arguments : spy)
        list << arguments.at(0).toString();
    return list;
}

} // namespace

// The reply stream is the one step between a producer and the screen: it holds
// the text, hands out only changes, at most once a frame and always the newest
// before the end, and ends exactly once.
class TestReplyStream : public QObject
{
    Q_OBJECT
private slots:
    void aBurstGivesTheFirstChangeAtOnceAndTheNewestBeforeTheEnd()
    {
        ReplyStream stream;
        QSignalSpy elements(&stream, &ReplyStream::element);
        QSignalSpy finished(&stream, &ReplyStream::finished);
        stream.append(u"0");
        QCOMPARE(texts(elements), QStringList{"0"});
        QString expected = QStringLiteral("0");
        for (int i = 1; i < 40000; ++i) {
            stream.append(QString::number(i % 10));
            expected += QString::number(i % 10);
        }
        stream.finish();
        stream.append(u"after the end");
        QCOMPARE(elements.count(), 1);  // the rest waits for the frame, or the end
        QCOMPARE(finished.count(), 0);  // never from within the producer's call
        QVERIFY(finished.wait(1000));
        QCOMPARE(texts(elements), (QStringList{"0", expected}));
    }

    void onlyChangesAreHandedOut()
    {
        ReplyStream stream;
        QSignalSpy elements(&stream, &ReplyStream::element);
        QSignalSpy finished(&stream, &ReplyStream::finished);
        stream.append(u"");  // the empty content of a reasoning model's thinking lines
        stream.setText(QString());
        QCOMPARE(elements.count(), 0);
        stream.setText(QStringLiteral("The"));
        QTest::qWait(3 * ReplyStream::frameIntervalMs);
        stream.setText(QStringLiteral("The"));
        stream.append(u"");
        stream.setText(QStringLiteral("The cat"));
        stream.finish();
        QVERIFY(finished.wait(1000));
        QCOMPARE(texts(elements), (QStringList{"The", "The cat"}));
    }

    // A steady producer far faster than the screen: elements come at most once
    // a frame however busy the machine, and the last one is the whole text.
    void aSteadyProducerIsHandedOutAtMostOnceAFrame()
    {
        ReplyStream stream;
        QSignalSpy elements(&stream, &ReplyStream::element);
        QSignalSpy finished(&stream, &ReplyStream::finished);
        QTimer producer;
        int pieces = 0;
        connect(&producer, &QTimer::timeout, &stream, [&] {
            stream.append(u"x");
            if (++pieces == 300)
                stream.finish();
        });
        QElapsedTimer clock;
        clock.start();
        producer.setTimerType(Qt::PreciseTimer);
        producer.start(1);
        QVERIFY(finished.wait(20000));
        producer.stop();
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elements.count() <= elapsed / ReplyStream::frameIntervalMs + 2,
                 qPrintable(QStringLiteral("%1 elements in %2 ms").arg(elements.count()).arg(elapsed)));
        QCOMPARE(texts(elements).last(), QString(300, u'x'));
    }

    void failureEndsWithItsErrorAndCancellationEndsNormally()
    {
        {
            ReplyStream stream;
            QSignalSpy elements(&stream, &ReplyStream::element);
            QSignalSpy failed(&stream, &ReplyStream::failed);
            stream.append(u"A");
            stream.append(u"B");
            stream.fail({ReplyError::Kind::network, QStringLiteral("D")});
            stream.fail({ReplyError::Kind::network, QStringLiteral("second")});
            stream.finish();
            QVERIFY(failed.wait(1000));
            QCOMPARE(texts(elements), (QStringList{"A", "AB"}));
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed.at(0).at(0).value<ReplyError>().description, QStringLiteral("D"));
        }
        {
            ReplyStream stream;
            QSignalSpy finished(&stream, &ReplyStream::finished);
            QSignalSpy failed(&stream, &ReplyStream::failed);
            stream.fail(ReplyError::cancellation());
            QVERIFY(finished.wait(1000));
            QCOMPARE(failed.count(), 0);
        }
    }

    void cancelDropsWhatIsPendingTellsTheProducerAndEndsLater()
    {
        ReplyStream stream;
        QSignalSpy elements(&stream, &ReplyStream::element);
        QSignalSpy finished(&stream, &ReplyStream::finished);
        QSignalSpy failed(&stream, &ReplyStream::failed);
        QSignalSpy stopRequested(&stream, &ReplyStream::stopRequested);
        stream.append(u"A");
        stream.append(u"B");  // pending: never seen
        stream.cancel();
        QCOMPARE(finished.count(), 0);  // not from within cancel()
        QCOMPARE(stopRequested.count(), 1);
        stream.append(u"too late");
        stream.fail({ReplyError::Kind::network, QStringLiteral("too late")});
        QVERIFY(finished.wait(1000));
        QTest::qWait(3 * ReplyStream::frameIntervalMs);
        QCOMPARE(texts(elements), QStringList{"A"});
        QCOMPARE(finished.count(), 1);
        QCOMPARE(failed.count(), 0);
        stream.cancel();
        QCOMPARE(stopRequested.count(), 1);
    }

    // Cancelled while its end is on the way (the newest text still pending):
    // neither the text nor the error reaches the consumer.
    void cancelFromAnElementHandlerStopsTheRest()
    {
        ReplyStream stream;
        QStringList seen;
        connect(&stream, &ReplyStream::element, this, [&](const QString &t) {
            seen << t;
            stream.cancel();
        });
        QSignalSpy finished(&stream, &ReplyStream::finished);
        QSignalSpy stopRequested(&stream, &ReplyStream::stopRequested);
        stream.append(u"A");
        stream.append(u"B");
        stream.fail({ReplyError::Kind::network, QStringLiteral("D")});
        QVERIFY(finished.wait(1000));
        QCOMPARE(seen, QStringList{"A"});
        QCOMPARE(stopRequested.count(), 1);
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
