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
    std::unique_ptr<OllamaBackend> m_backend;

    OllamaServer server() const { return serverAt(m_server.url()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_backend = std::make_unique<OllamaBackend>(OllamaModelEntry{QStringLiteral("llama3.2:3b"), 2019393189},
                                                    server());
    }

    void init()
    {
        m_server.requests.clear();
        m_server.handler = nullptr;
    }

    void infoIsBuiltFromTheEntry()
    {
        const OllamaBackend a(OllamaModelEntry{QStringLiteral("qwen3:8b-q4_K_M"), 4661224676}, server());
        QCOMPARE(a.info().id, QStringLiteral("ollama-qwen3:8b-q4_K_M"));
        QCOMPARE(a.info().name, QStringLiteral("qwen3:8b-q4_K_M"));
        QCOMPARE(a.info().source, ModelSource::ollama);
        QCOMPARE(a.info().detail, std::optional<QString>(QStringLiteral("4.7 GB \u00B7 Ollama")));
        const OllamaBackend twin(OllamaModelEntry{QStringLiteral("qwen3:8b-q4_K_M"), 1}, server());
        QCOMPARE(twin.info(), a.info());
        QVERIFY(a.isAvailable());
    }

    // A cloud model: listed with where it runs, unavailable, and a reply to it
    // ends with that sentence before anything is sent.
    void aRemoteModelIsNeverContacted()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, chunkLine("from the cloud", true));
        };
        OllamaBackend cloud(OllamaModelEntry{QStringLiteral("gpt-oss:120b-cloud"), 384,
                                             QStringLiteral("https://ollama.com:443")},
                            server());
        QCOMPARE(cloud.info().id, QStringLiteral("ollama-gpt-oss:120b-cloud"));
        QCOMPARE(cloud.info().remoteHost, std::optional<QString>(QStringLiteral("https://ollama.com:443")));
        QCOMPARE(cloud.info().detail, std::optional<QString>(QStringLiteral("Runs on ollama.com \u2014 not on this computer")));
        QVERIFY(!cloud.isAvailable());
        const QString refusal = QStringLiteral("gpt-oss:120b-cloud runs on ollama.com, not on this computer, and "
                                               "Hushwing sends nothing off your device. Choose a model that runs here.");
        QCOMPARE(cloud.unavailableText(), refusal);

        auto stream = cloud.streamResponse(QStringLiteral("secret"), {}, QStringLiteral("system"));
        const CollectedReply reply = collectReply(stream.get());
        QVERIFY(reply.elements.isEmpty());
        QVERIFY(reply.error);
        QCOMPARE(reply.error->description, refusal);
        // A request wrongly sent would reach the server before a later one.
        auto later = m_backend->streamResponse(QStringLiteral("later"), {}, QStringLiteral("system"));
        QVERIFY(collectReply(later.get()).finished);
        QCOMPARE(m_server.requests.size(), 1);
        QVERIFY(!m_server.requests.first().body.contains("secret"));
        QVERIFY(m_backend->isAvailable());
        QVERIFY(m_backend->unavailableText().isEmpty());

        // The host name alone, whatever form the server gave it in.
        QCOMPARE(OllamaBackend::remoteDetailText(QStringLiteral("http://192.168.1.20:11434")),
                 QStringLiteral("Runs on 192.168.1.20 \u2014 not on this computer"));
        QCOMPARE(OllamaBackend::remoteDetailText(QStringLiteral("ollama.com")),
                 QStringLiteral("Runs on ollama.com \u2014 not on this computer"));
        QCOMPARE(OllamaBackend::remoteDetailText(QString()),
                 QStringLiteral("Runs on another computer \u2014 not on this computer"));
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
        QCOMPARE(OllamaBackend::detailText(9007199254740993), QStringLiteral("9007199.3 GB \u00B7 Ollama"));  // past 2^53
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
        QCOMPARE(discoverNow(server()), expected);
        QCOMPARE(m_server.requests.size(), 1);
        QCOMPARE(m_server.requests[0].method, QByteArray("GET"));
        QCOMPARE(m_server.requests[0].path, QByteArray("/api/tags"));
    }

    void discoverGivesAnEmptyListOnAnyFailure()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(500, j("{'models':[{'name':'a','size':1}]}"));
        };
        QVERIFY(discoverNow(server()).isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(201, j("{'models':[{'name':'a','size':1}]}"));
        };
        QVERIFY(discoverNow(server()).isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, "<html>It works!</html>", "text/html");
        };
        QVERIFY(discoverNow(server()).isEmpty());
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, j("{'models':[{'name':'a','size':1},{'name':'b','size':'2'}]}"));
        };
        QVERIFY(discoverNow(server()).isEmpty());

        QVERIFY(discoverNow(noServer()).isEmpty());
    }

    void discoverGivesUpOnAServerThatNeverAnswers()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *) {};
        QVERIFY(discoverNow(OllamaServer{.baseUrl = m_server.url(), .discoverTimeoutMs = 300}).isEmpty());
    }

    void discoverDropsTheAnswerWhenTheContextIsGone()
    {
        bool called = false;
        QSignalSpy received(&m_server, &LocalHttpServer::requestReceived);
        QPointer<HttpExchange> pending;
        m_server.handler = [&](const HttpRequest &, HttpExchange *exchange) { pending = exchange; };
        {
            QObject context;
            OllamaBackend::discover(server(), &context, [&](QList<OllamaModelEntry>) { called = true; });
            QVERIFY(received.wait(5000));
        }
        QVERIFY(pending);
        pending->respond(200, j("{'models':[]}"));
        QTest::qWait(200);
        QVERIFY(!called);
    }

    void requestCarriesTheWholeConversationInOrder()
    {
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, chunkLine(QStringLiteral("ok"), true), "application/x-ndjson");
        };
        QList<ChatMessage> history{ChatMessage(ChatMessage::Role::user, QStringLiteral("First \"question\"")),
                                   ChatMessage(ChatMessage::Role::assistant, QStringLiteral("Error: Ollama is not running.")),
                                   ChatMessage(ChatMessage::Role::user, QString())};
        auto stream = m_backend->streamResponse(QStringLiteral("Next \u2014 please"), history, QStringLiteral("Be kind."));
        QCOMPARE(collectReply(stream.get()).elements, QStringList{QStringLiteral("ok")});
        m_backend->reset();
        auto again = m_backend->streamResponse(QStringLiteral("Again"), {}, QString());
        QVERIFY(collectReply(again.get()).finished);

        QCOMPARE(m_server.requests.size(), 2);
        const HttpRequest &first = m_server.requests[0];
        QCOMPARE(first.method, QByteArray("POST"));
        QCOMPARE(first.path, QByteArray("/api/chat"));
        QCOMPARE(first.headerCount("Content-Type"), 1);
        QCOMPARE(first.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(first.body,
                 j("{'model':'llama3.2:3b','messages':[{'role':'system','content':'Be kind.'},"
                   "{'role':'user','content':'First \\'question\\''},"
                   "{'role':'assistant','content':'Error: Ollama is not running.'},"
                   "{'role':'user','content':''},"
                   "{'role':'user','content':'Next \xE2\x80\x94 please'}],'stream':true}"));
        // Nothing carries over: with no history only the system prompt and the prompt go.
        QCOMPARE(m_server.requests[1].body,
                 j("{'model':'llama3.2:3b','messages':[{'role':'system','content':''},"
                   "{'role':'user','content':'Again'}],'stream':true}"));
    }

    // Each element is the whole text so far, and only a change makes one: the
    // empty-content lines a reasoning model sends while it thinks yield nothing.
    void onlyLinesThatChangeTheTextYieldTheWholeTextSoFar()
    {
        const QByteArray thinking = j("{'model':'m','message':{'role':'assistant','content':'',"
                                      "'thinking':'Hmm'},'done':false}\n");
        m_server.handler = [=](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->sendChunksSpaced({thinking, thinking, chunkLine(QStringLiteral("A")), thinking,
                                        thinking, thinking, chunkLine(QStringLiteral("B")),
                                        chunkLine(QString(), true)}, 10);
        };
        auto stream = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply reply = collectReply(stream.get());
        QCOMPARE(reply.elements, (QStringList{QStringLiteral("A"), QStringLiteral("AB")}));
        QVERIFY(reply.finished);
    }

    // The body arrives in pieces that cut lines, line ends and even one UTF-8
    // character apart; none of that shows in the reply. (Lines that arrive
    // together may reach the consumer as one element: every element is a
    // prefix of the whole reply, and the last is the whole reply.)
    void splitWritesCrlfAndBlankLinesDoNotShow()
    {
        const QByteArray owl = "\xF0\x9F\xA6\x89";  // four bytes, cut after the second
        const QByteArray body = chunkLine(QStringLiteral("Hello ")).replace("\n", "\r\n") + "\n\r\n"
                                + chunkLine(QString::fromUtf8("owl " + owl + " \xE2\x80\x94 ok"))
                                + chunkLine(QStringLiteral("<b>&"), true) + chunkLine(QStringLiteral("never read"));
        const qsizetype owlAt = body.indexOf(owl);
        m_server.handler = [=](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->sendChunksSpaced({body.left(5), body.mid(5, owlAt + 2 - 5), body.mid(owlAt + 2, 3),
                                        body.mid(owlAt + 5)}, 20);
        };
        auto stream = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply reply = collectReply(stream.get());
        const QString whole = QStringLiteral("Hello owl ") + QString::fromUtf8(owl) + QStringLiteral(" \u2014 ok<b>&");
        QCOMPARE(reply.elements.value(0), QStringLiteral("Hello "));
        QCOMPARE(reply.elements.last(), whole);
        for (const QString &element : reply.elements)
            QVERIFY2(whole.startsWith(element), qPrintable(element));
        QVERIFY(reply.finished);
    }

    void aBodyThatEndsWithoutDoneIsComplete()
    {
        // The last line has no line break: it is still read.
        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->respond(200, chunkLine(QStringLiteral("A")) + chunkLine(QStringLiteral("B")).trimmed(),
                              "application/x-ndjson");
        };
        auto stream = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply reply = collectReply(stream.get());
        QCOMPARE(reply.elements.last(), QStringLiteral("AB"));
        QVERIFY(reply.finished);

        m_server.handler = [](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->endChunked();
        };
        auto empty = m_backend->streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply nothing = collectReply(empty.get());
        QVERIFY(nothing.finished);
        QVERIFY(nothing.elements.isEmpty());
    }

    // A reply that keeps sending is not cut off by the idle time-out, however
    // long it runs in total.
    void aSteadyReplyOutlivesTheIdleTimeout()
    {
        QList<QByteArray> chunks;
        for (int i = 0; i < 12; ++i)
            chunks << chunkLine(QString::number(i % 10));
        m_server.handler = [=](const HttpRequest &, HttpExchange *exchange) {
            exchange->sendChunkedHead();
            exchange->sendChunksSpaced(chunks, 200);
        };
        OllamaBackend backend(OllamaModelEntry{QStringLiteral("llama3.2:3b"), 1},
                              OllamaServer{.baseUrl = m_server.url(), .replyIdleTimeoutMs = 1500});
        auto stream = backend.streamResponse(QStringLiteral("Hi"), {}, QString());
        const CollectedReply reply = collectReply(stream.get());
        QVERIFY(reply.finished);
        QCOMPARE(reply.elements.last(), QStringLiteral("012345678901"));
    }

    void theDefaultsAreTheProductionOnes()
    {
        const OllamaServer program;
        QCOMPARE(program.endpoint(QStringLiteral("api/chat")), QUrl(QStringLiteral("http://127.0.0.1:11434/api/chat")));
        QCOMPARE(program.replyIdleTimeoutMs, 120000);
        QCOMPARE(program.discoverTimeoutMs, 60000);
    }
};

QTEST_GUILESS_MAIN(TestOllamaBackend)
#include "tst_ollamabackend.moc"
