#include "ReplyStream.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

// The reply stream joins a producer on any thread to a consumer on the GUI
// thread: order, end states and cancellation are what the rest relies on.
class TestReplyStream : public QObject
{
    Q_OBJECT
private slots:
    void deliversInOrderFromAnotherThreadThenFinishes()
    {
        auto [stream, sink] = ReplyStream::create();
        QStringList seen;
        connect(stream.get(), &ReplyStream::element, this, [&](const QString &t) {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            seen << t;
        });
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        QSignalSpy failed(stream.get(), &ReplyStream::failed);
        QThread *producer = QThread::create([sink = sink] {
            QString text;
            for (int i = 0; i < 2000; ++i)
                sink.yield(text += QString::number(i % 10));
            sink.finish();
            sink.yield(QStringLiteral("after the end"));
        });
        producer->start();
        QVERIFY(finished.wait(5000));
        producer->wait();
        delete producer;
        QCOMPARE(seen.size(), 2000);
        QCOMPARE(seen.last().size(), 2000);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY(seen[i].startsWith(seen[i - 1]));
        QCOMPARE(failed.count(), 0);
        QVERIFY(stream->isFinished());
    }

    void failureEndsWithItsErrorAndCancellationEndsNormally()
    {
        {
            auto [stream, sink] = ReplyStream::create();
            QSignalSpy elements(stream.get(), &ReplyStream::element);
            QSignalSpy failed(stream.get(), &ReplyStream::failed);
            sink.yield(QStringLiteral("A"));
            sink.fail({ReplyError::Kind::network, QStringLiteral("D")});
            QVERIFY(failed.wait(1000));
            QCOMPARE(elements.count(), 1);
            QCOMPARE(failed.at(0).at(0).value<ReplyError>().description, QStringLiteral("D"));
        }
        {
            auto [stream, sink] = ReplyStream::create();
            QSignalSpy finished(stream.get(), &ReplyStream::finished);
            QSignalSpy failed(stream.get(), &ReplyStream::failed);
            sink.fail(ReplyError::cancellation());
            QVERIFY(finished.wait(1000));
            QCOMPARE(failed.count(), 0);
        }
    }

    void cancelDropsQueuedElementsAndEndsLaterNotWithin()
    {
        auto [stream, sink] = ReplyStream::create();
        int cancelHandlerRuns = 0;
        sink.onCancel([&] { ++cancelHandlerRuns; });
        QSignalSpy elements(stream.get(), &ReplyStream::element);
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        sink.yield(QStringLiteral("queued but never seen"));
        stream->cancel();
        QCOMPARE(finished.count(), 0);  // not from within cancel()
        QCOMPARE(cancelHandlerRuns, 1);
        QVERIFY(sink.isCancelled());
        sink.yield(QStringLiteral("too late"));
        sink.fail({ReplyError::Kind::network, QStringLiteral("too late")});
        QVERIFY(finished.wait(1000));
        QTest::qWait(20);
        QCOMPARE(elements.count(), 0);
        QCOMPARE(finished.count(), 1);
        stream->cancel();
        QCOMPARE(cancelHandlerRuns, 1);
    }

    void cancelFromAnElementHandlerStopsTheRest()
    {
        auto [stream, sink] = ReplyStream::create();
        QStringList seen;
        ReplyStream *raw = stream.get();
        connect(raw, &ReplyStream::element, this, [&](const QString &t) {
            seen << t;
            raw->cancel();
        });
        QSignalSpy finished(raw, &ReplyStream::finished);
        sink.yield(QStringLiteral("A"));
        sink.yield(QStringLiteral("AB"));
        sink.finish();
        QVERIFY(finished.wait(1000));
        QCOMPARE(seen, QStringList{QStringLiteral("A")});
    }

    void aLongBacklogLetsTheEventLoopRunBetweenSlices()
    {
        auto [stream, sink] = ReplyStream::create();
        int seen = 0;
        bool timerRanMidway = false;
        int seenWhenTimerRan = -1;
        connect(stream.get(), &ReplyStream::element, this, [&](const QString &) {
            if (++seen == 1)  // queued behind the delivery that is running now
                QTimer::singleShot(0, this, [&] { timerRanMidway = true; seenWhenTimerRan = seen; });
            QThread::usleep(200);  // a slow consumer: 4,000 elements take about 0.8 s
        });
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        for (int i = 0; i < 4000; ++i)
            sink.yield(QString::number(i));
        sink.finish();
        QVERIFY(finished.wait(20000));
        QCOMPARE(seen, 4000);
        QVERIFY(timerRanMidway);
        QVERIFY2(seenWhenTimerRan < 4000, "the backlog held the event loop until it was empty");
    }

    void destroyingTheStreamTellsTheProducer()
    {
        auto [stream, sink] = ReplyStream::create();
        bool told = false;
        sink.onCancel([&] { told = true; });
        sink.yield(QStringLiteral("pending"));
        stream.reset();
        QVERIFY(told);
        sink.yield(QStringLiteral("dropped"));  // must not touch the dead stream
        QCoreApplication::processEvents();
        bool lateHandler = false;
        sink.onCancel([&] { lateHandler = true; });
        QVERIFY(lateHandler);
    }
};

QTEST_GUILESS_MAIN(TestReplyStream)
#include "tst_replystream.moc"
