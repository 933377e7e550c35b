#include "LocalHttpServer.h"
#include "OllamaTestHelpers.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

// Every way a reply can go wrong ends it with a clear sentence and keeps what
// was already yielded: statuses, malformed lines, errors the server reports
// mid-reply, cut-off bodies, dropped connections and stalled servers.
class TestOllamaFailures : public QObject
{
    Q_OBJECT
    LocalHttpServer m_server;

    // A reply from a backend of the test's server, which waits `idleTimeoutMs`
    // for a byte (the program's 120 s unless the test shortens it).
    CollectedReply replyTo(LocalHttpServer::Handler handler, int idleTimeoutMs = OllamaServer().replyIdleTimeoutMs)
    {
        m_server.handler = std::move(handler);
        return replyFrom(OllamaServer{.baseUrl = m_server.url(), .replyIdleTimeoutMs = idleTimeoutMs});
    }
    static CollectedReply replyFrom(const OllamaServer &server)
    {
        OllamaBackend backend(OllamaModelEntry{QStringLiteral("qwen3:8b"), 1}, server);
        auto stream = backend.streamResponse(QStringLiteral("Hi"), {}, QStringLiteral("System"));
        return collectReply(stream.get());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
    }

    // Each network reply ends once: Qt warns when a reply that has already
    // ended (failed, finished or aborted) is ended again.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("must only be called once"))); }

    void anyStatusButExactly200IsABadResponse_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("404 missing model") << 404 << j("{'error':'model \\'x\\' not found'}") << QByteArray("application/json");
        QTest::newRow("201 with a good body") << 201 << chunkLine(QStringLiteral("A"), true) << QByteArray("application/x-ndjson");
        QTest::newRow("500") << 500 << j("{'error':'boom'}") << QByteArray("application/json");
        QTest::newRow("503 html page") << 503 << QByteArray("<html><h1>Service Unavailable</h1></html>") << QByteArray("text/html");
        QTest::newRow("400 empty") << 400 << QByteArray() << QByteArray("text/plain");
    }
    void anyStatusButExactly200IsABadResponse()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, type);
        const CollectedReply reply = replyTo([=](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(status, body, type);
        });
        QVERIFY(reply.elements.isEmpty());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::ollama);
        QCOMPARE(reply.error->description, QStringLiteral("Ollama returned an unexpected status (%1).").arg(status));
    }

    void aBadLineEndsTheReplyAndKeepsWhatCameBefore_data()
    {
        QTest::addColumn<QByteArray>("badLine");
        QTest::addColumn<QString>("description");
        QTest::newRow("error object") << j("{'error':'model runner has unexpectedly stopped'}\n")
                                      << "Ollama reported an error: model runner has unexpectedly stopped";
        QTest::newRow("not json") << QByteArray("<html><body>Bad Gateway</body></html>\n")
                                  << "Ollama's reply could not be read: the line is not valid JSON.";
        QTest::newRow("done as string") << j("{'message':{'content':'B'},'done':'false'}\n")
                                        << "Ollama's reply could not be read: \"done\" is missing or not true or false.";
        QTest::newRow("content missing") << j("{'message':{'role':'assistant'},'done':false}\n")
                                         << "Ollama's reply could not be read: \"content\" is missing or not a string.";
        QTest::newRow("invalid utf-8") << QByteArray("{\"message\":{\"content\":\"\xFF\xFE\"},\"done\":false}\n")
                                       << "Ollama's reply could not be read: the line is not valid UTF-8.";
        QTest::newRow("body cut mid-line") << QByteArray("{\"message\":{\"content\":\"B\"},\"do")
                                           << "Ollama's reply could not be read: the line is not valid JSON.";
    }
    void aBadLineEndsTheReplyAndKeepsWhatCameBefore()
    {
        QFETCH(QByteArray, badLine);
        QFETCH(QString, description);
        const CollectedReply reply = replyTo([=](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->sendChunksSpaced({chunkLine(QStringLiteral("A")), badLine, chunkLine(QStringLiteral("C"), true)}, 10);
        });
        QCOMPARE(reply.elements, QStringList{QStringLiteral("A")});
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::decoding);
        QCOMPARE(reply.error->description, description);
    }

    void anUndecodableFirstLineYieldsNothing()
    {
        const CollectedReply reply = replyTo([](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, "Ollama is running", "text/plain");
        });
        QVERIFY(reply.elements.isEmpty());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::decoding);
    }

    void aConnectionClosedMidLineIsReported()
    {
        const CollectedReply reply = replyTo([](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->sendChunk(chunkLine(QStringLiteral("A")) + "{\"message\":{\"con");
            QTimer::singleShot(50, exchange, &HttpExchange::close);  // no final chunk
        });
        QCOMPARE(reply.elements, QStringList{QStringLiteral("A")});
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::network);
        QCOMPARE(reply.error->description, QStringLiteral("Ollama closed the connection before the reply was complete."));
    }

    void somethingThatDoesNotSpeakHttpIsReported_data()
    {
        QTest::addColumn<bool>("closes");
        QTest::newRow("and closes") << true;
        QTest::newRow("and stays connected") << false;
    }
    void somethingThatDoesNotSpeakHttpIsReported()
    {
        QFETCH(bool, closes);
        const CollectedReply reply = replyTo([=](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendRaw("SSH-2.0-OpenSSH_9.2p1 Debian-2\r\nProtocol mismatch.\n");
            if (closes)
                exchange->close();
        }, 500);
        QVERIFY(reply.elements.isEmpty());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::network);
        QCOMPARE(reply.error->description,
                 QStringLiteral("The connection to Ollama's port closed without an HTTP answer."));
    }

    void noServerListeningMeansOllamaIsNotRunning()
    {
        const CollectedReply reply = replyFrom(noServer());
        QVERIFY(reply.elements.isEmpty());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::ollama);
        QCOMPARE(reply.error->description, OllamaError::notRunning().errorDescription());
    }

    // The idle time-out is 120 s in the program; a short one shows the same path.
    void aStalledServerTimesOut_data()
    {
        QTest::addColumn<bool>("sendsFirstChunk");
        QTest::newRow("before the head") << false;
        QTest::newRow("after one chunk") << true;
    }
    void aStalledServerTimesOut()
    {
        QFETCH(bool, sendsFirstChunk);
        const CollectedReply reply = replyTo([=](const HttpRequest &, HttpExchange *exchange) {
            if (sendsFirstChunk) {
                exchange->sendChunkedHead();
                exchange->sendChunk(chunkLine(QStringLiteral("A")));
            }
        }, 300);
        QCOMPARE(reply.elements, sendsFirstChunk ? QStringList{QStringLiteral("A")} : QStringList{});
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::network);
        QCOMPARE(reply.error->description, QStringLiteral("Ollama sent nothing for 0.3 seconds, so the reply was stopped."));
    }

    // Megabyte lines are fine; a line beyond 16 MiB stops the reply instead of
    // growing memory without bound, and the connection is dropped.
    void anOverlongLineStopsTheReply()
    {
        QPointer<HttpExchange> running;
        const QString big(3 * 1024 * 1024, QLatin1Char('x'));
        const CollectedReply reply = replyTo([&](const HttpRequest &, HttpExchange *exchange) {
            running = exchange;
            exchange->sendChunkedHead();
            exchange->sendChunk(chunkLine(big));
            const QByteArray piece(1024 * 1024, 'y');
            QList<QByteArray> pieces{"{\"message\":{\"content\":\""};
            for (int i = 0; i < 18; ++i)
                pieces << piece;
            exchange->sendChunksSpaced(pieces, 5, false);
        });
        QCOMPARE(reply.elements, QStringList{big});
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::decoding);
        QCOMPARE(reply.error->description, QStringLiteral("Ollama sent a line longer than 16 MiB, so the reply was stopped."));
        QTRY_VERIFY_WITH_TIMEOUT(!running || !running->isOpen(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestOllamaFailures)
#include "tst_ollamafailures.moc"
