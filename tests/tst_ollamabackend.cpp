#include "LocalHttpServer.h"
#include "OllamaTestHelpers.h"

#include <QSignalSpy>

// The Ollama backend against a real HTTP server on the loopback interface:
// what it sends, how it lists models, and how it turns a streamed body into
// growing reply texts.
class TestOllamaBackend : public QObject
{
    Q_OBJECT
    LocalHttpServer m_server;
    OllamaBackend m_backend{OllamaModelEntry{QStringLiteral("llama3.2:3b"), 2019393189}};

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        OllamaBackend::setBaseUrlForTesting(m_server.url());
    }

    void init()
    {
        m_server.requests.clear();
        m_server.handler = nullptr;
    }

    void infoIsBuiltFromTheEntry()
    {
        const OllamaBackend a(OllamaModelEntry{QStringLiteral("qwen3:8b-q4_K_M"), 4661224676});
        QCOMPARE(a.info().id, QStringLiteral("ollama-qwen3:8b-q4_K_M"));
        QCOMPARE(a.info().name, QStringLiteral("qwen3:8b-q4_K_M"));
        QCOMPARE(a.info().source, ModelSource::ollama);
        QCOMPARE(a.info().detail, std::optional<QString>(QStringLiteral("4.7 GB \u00B7 Ollama")));
        const OllamaBackend twin(OllamaModelEntry{QStringLiteral("qwen3:8b-q4_K_M"), 1});
        QCOMPARE(twin.info(), a.info());
        QVERIFY(a.isAvailable());
    }

    void detailRoundsLikePrintfWithAFullStopInAnyLocale()
    {
        const char *previous = std::setlocale(LC_ALL, nullptr);
        const std::string saved = previous ? previous : "C";
        std::setlocale(LC_ALL, "de_DE.UTF-8");  // a comma locale, when installed
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(OllamaBackend::detailText(4661224676), QStringLiteral("4.7 GB \u00B7 Ollama"));
        QCOMPARE(OllamaBackend::detailText(1000000000), QStringLiteral("1.0 GB \u00B7 Ollama"));
        QCOMPARE(OllamaBackend::detailText(0), QStringLiteral("0.0 GB \u00B7 Ollama"));
        QCOMPARE(OllamaBackend::detailText(123456789012), QStringLiteral("123.5 GB \u00B7 Ollama"));
        QCOMPARE(OllamaBackend::detailText(50000000), QStringLiteral("0.1 GB \u00B7 Ollama"));  // 0.05 in binary is above half
        QCOMPARE(OllamaBackend::detailText(250000000), QStringLiteral("0.2 GB \u00B7 Ollama"));  // an exact half rounds to even
        QCOMPARE(OllamaBackend::detailText(std::numeric_limits<qint64>::max()),
                 QStringLiteral("9223372036.9 GB \u00B7 Ollama"));
        std::setlocale(LC_ALL, saved.c_str());
        QLocale::setDefault(QLocale::c());
    }

    void discoverListsModelsInTheServersOrder()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, j("{'models':[{'name':'b:latest','size':4661224676,'details':{}},"
                                     "{'name':'a','size':1},{'name':'b:latest','size':2}]}"));
        };
        const QList<OllamaModelEntry> expected{{QStringLiteral("b:latest"), 4661224676},
                                               {QStringLiteral("a"), 1},
                                               {QStringLiteral("b:latest"), 2}};
        QCOMPARE(discoverNow(), expected);
        QCOMPARE(m_server.requests.size(), 1);
        QCOMPARE(m_server.requests[0].method, QByteArray("GET"));
        QCOMPARE(m_server.requests[0].path, QByteArray("/api/tags"));
    }

    void discoverGivesAnEmptyListOnAnyFailure()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(500, j("{'models':[{'name':'a','size':1}]}"));
        };
        QVERIFY(discoverNow().isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(201, j("{'models':[{'name':'a','size':1}]}"));
        };
        QVERIFY(discoverNow().isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, "<html>It works!</html>", "text/html");
        };
        QVERIFY(discoverNow().isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, j("{'models':[{'name':'a','size':1},{'name':'b','size':'2'}]}"));
        };
        QVERIFY(discoverNow().isEmpty());

        OllamaBackend::setBaseUrlForTesting(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(unusedLoopbackPort())));
        QVERIFY(discoverNow().isEmpty());
        OllamaBackend::setBaseUrlForTesting(m_server.url());
    }

    void discoverGivesUpOnAServerThatNeverAnswers()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *) {};
        OllamaBackend::setDiscoverTimeoutForTesting(300);
        QVERIFY(discoverNow().isEmpty());
        OllamaBackend::setDiscoverTimeoutForTesting(60000);
    }

    void discoverDropsTheAnswerWhenTheContextIsGone()
    {
        bool called = false;
        QSignalSpy received(&m_server, &LocalHttpServer::requestReceived);
        QPointer<HttpExchange> pending;
        m_server.handler = [&](const HttpRequest &, HttpExchange *exchange) { pending = exchange; };
        {
            QObject context;
            OllamaBackend::discover(&context, [&](QList<OllamaModelEntry>) { called = true; });
            QVERIFY(received.wait(5000));
        }
        QVERIFY(pending);
        pending->respond(200, j("{'models':[]}"));
        QTest::qWait(200);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestOllamaBackend)
#include "tst_ollamabackend.moc"
