#include "LocalHttpServer.h"
#include "OllamaTestHelpers.h"

#include <QCoreApplication>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThreadPool>

// How replies start and stop: a consumer that cancels or goes away aborts the
// request so the server stops generating; replies run side by side; the
// environment's proxy settings never divert the loopback traffic; and the
// program exits cleanly while a request is still running.
namespace {

const char *const probeVariable = "HUSHWING_OLLAMA_EXIT_PROBE";

// A reply that sends "A" and then stalls, handing the exchange to the test.
LocalHttpServer::Handler stallAfterFirstChunk(QPointer<HttpExchange> *running)
{
    return [running](const HttpRequest &, HttpExchange *exchange) {
        *running = exchange;
        exchange->sendChunkedHead();
        exchange->sendChunk(chunkLine(QStringLiteral("A")));
    };
}

} // namespace

class TestOllamaLifecycle : public QObject
{
    Q_OBJECT
    LocalHttpServer m_server;
    LocalHttpServer m_proxyTrap;
    std::unique_ptr<OllamaBackend> m_backend;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        QVERIFY(m_proxyTrap.listen());
        m_proxyTrap.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, j("{'models':[{'name':'via-proxy','size':1}]}"));
        };
        // Set before the shared client exists, as a user's session would have them.
        const QByteArray trap = m_proxyTrap.url().toString().toUtf8();
        for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qputenv(name, trap);
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_backend = std::make_unique<OllamaBackend>(OllamaModelEntry{QStringLiteral("gemma3:4b"), 1},
                                                    serverAt(m_server.url()));
    }

    // Each network reply ends once: Qt warns when a reply that has already
    // ended (failed, finished or aborted) is ended again.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("must only be called once"))); }

    // Qt itself skips proxies for loopback addresses, so a name that only a
    // proxy could resolve shows whether the client asks one at all.
    void proxySettingsNeverDivertTheTraffic()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, j("{'models':[{'name':'direct','size':1}]}"));
        };
        QCOMPARE(discoverNow(serverAt(m_server.url())), (QList<OllamaModelEntry>{{QStringLiteral("direct"), 1}}));

        const OllamaServer onlyAProxyKnows = serverAt(QUrl(QStringLiteral("http://ollama-proxy-check.invalid:11434")));
        QVERIFY(discoverNow(onlyAProxyKnows).isEmpty());
        OllamaBackend backend(OllamaModelEntry{QStringLiteral("gemma3:4b"), 1}, onlyAProxyKnows);
        auto stream = backend.streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply reply = collectReply(stream.get());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->kind, ReplyError::Kind::network);
        QCOMPARE(reply.error->description, QStringLiteral("The address of the Ollama server could not be found."));
        QCOMPARE(m_proxyTrap.connections, 0);
    }

    void cancellingAbortsTheRequestAndEndsNormally()
    {
        QPointer<HttpExchange> running;
        m_server.handler = stallAfterFirstChunk(&running);
        auto stream = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        QSignalSpy elements(stream.get(), &ReplyStream::appended);
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        QSignalSpy failed(stream.get(), &ReplyStream::failed);
        QVERIFY(elements.wait(5000));
        QVERIFY(running);
        QSignalSpy closed(running.data(), &HttpExchange::connectionClosed);
        stream->cancel();
        QVERIFY(closed.wait(5000));  // the server sees the client go
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(elements.count(), 1);
    }

    void droppingTheStreamAbortsTheRequest()
    {
        QPointer<HttpExchange> running;
        m_server.handler = stallAfterFirstChunk(&running);
        auto stream = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        QSignalSpy elements(stream.get(), &ReplyStream::appended);
        QVERIFY(elements.wait(5000));
        QVERIFY(running);
        QSignalSpy closed(running.data(), &HttpExchange::connectionClosed);
        stream.reset();
        QVERIFY(closed.wait(5000));
    }

    // Stopped before the request body is written (a worker thread writes it):
    // cancelled, the reply ends normally with nothing delivered; dropped, and
    // its backend too, nothing breaks. The server hears of neither. A reply
    // whose backend goes meanwhile still runs.
    void stoppingBeforeTheBodyIsWrittenSendsNothing()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, chunkLine(QStringLiteral("ok"), true), "application/x-ndjson");
        };
        const qsizetype requestsBefore = m_server.requests.size();
        auto stream = m_backend->streamResponse(QStringLiteral("cancelled"), {}, QString());
        QSignalSpy elements(stream.get(), &ReplyStream::appended);
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        QSignalSpy failed(stream.get(), &ReplyStream::failed);
        stream->cancel();
        {
            auto backend = std::make_unique<OllamaBackend>(OllamaModelEntry{QStringLiteral("m"), 1}, serverAt(m_server.url()));
            auto dropped = backend->streamResponse(QStringLiteral("dropped"), {}, QString());
            backend.reset();
        }
        QVERIFY(finished.wait(5000));
        QCOMPARE(elements.count(), 0);
        QCOMPARE(failed.count(), 0);
        // Both bodies are written now: a request either of them started would
        // reach the server before the next one.
        QThreadPool::globalInstance()->waitForDone();
        auto backend = std::make_unique<OllamaBackend>(OllamaModelEntry{QStringLiteral("m"), 1}, serverAt(m_server.url()));
        auto later = backend->streamResponse(QStringLiteral("later"), {}, QString());
        backend.reset();
        QCOMPARE(collectReply(later.get()).elements, QStringList{QStringLiteral("ok")});
        QCOMPARE(m_server.requests.size(), requestsBefore + 1);
        QVERIFY(m_server.requests.last().body.contains("later"));
    }

    // Replies share the client but nothing else: interleaved bodies stay apart.
    void repliesRunSideBySide()
    {
        m_server.handler = [](const HttpRequest &request, HttpExchange *exchange) {
            const QString tag = request.body.contains("first") ? QStringLiteral("1") : QStringLiteral("2");
            exchange->sendChunkedHead();
            exchange->sendChunksSpaced({chunkLine(tag), chunkLine(tag), chunkLine(tag, true)}, 30);
        };
        auto first = m_backend->streamResponse(QStringLiteral("first"), {}, QString());
        auto second = m_backend->streamResponse(QStringLiteral("second"), {}, QString());
        QSignalSpy firstElements(first.get(), &ReplyStream::appended);
        QSignalSpy secondElements(second.get(), &ReplyStream::appended);
        QSignalSpy firstFinished(first.get(), &ReplyStream::finished);
        QSignalSpy secondFinished(second.get(), &ReplyStream::finished);
        QTRY_VERIFY_WITH_TIMEOUT(firstFinished.count() == 1 && secondFinished.count() == 1, 10000);
        // Lines that arrive together may reach the consumer as one piece.
        const auto text = [](const QSignalSpy &spy) {
            QString all;
            for (const QList<QVariant> &arguments : spy)
                all += arguments.at(0).toString();
            return all;
        };
        QCOMPARE(text(firstElements), QStringLiteral("111"));
        QCOMPARE(text(secondElements), QStringLiteral("222"));
    }

    // A child process starts a reply and a model listing against a stalled
    // server and returns from main() while both run: it must exit at once,
    // cleanly, without "QThread: Destroyed while thread is still running".
    void theProgramExitsCleanlyWhileARequestRuns()
    {
        QPointer<HttpExchange> running;
        m_server.handler = [&](const HttpRequest &request, HttpExchange *exchange) {
            if (request.path == "/api/chat")
                stallAfterFirstChunk(&running)(request, exchange);
        };
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(probeVariable), m_server.url().toString());
        child.setProcessEnvironment(environment);
        QSignalSpy exited(&child, &QProcess::finished);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(exited.wait(15000));
        const QByteArray errors = child.readAllStandardError();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(!errors.contains("QThread"), errors.constData());
        QCOMPARE(m_server.requests.size() >= 2, true);
    }
};

// The child side of the exit test.
static int runExitProbe(int argc, char **argv)
{
    std::unique_ptr<ReplyStream> stream;  // outlives the application on purpose
    {
        QCoreApplication app(argc, argv);
        const OllamaServer server = serverAt(QUrl(qEnvironmentVariable(probeVariable)));
        OllamaBackend backend(OllamaModelEntry{QStringLiteral("m"), 1}, server);
        stream = backend.streamResponse(QStringLiteral("Hi"), {}, QString());
        QObject context;
        OllamaBackend::discover(server, &context, [](QList<OllamaModelEntry>) {});
        bool started = false;
        QObject::connect(stream.get(), &ReplyStream::appended, [&] { started = true; });
        if (!QTest::qWaitFor([&] { return started; }, 10000))
            return 3;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(probeVariable))
        return runExitProbe(argc, argv);
    QCoreApplication app(argc, argv);
    TestOllamaLifecycle test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ollamalifecycle.moc"
