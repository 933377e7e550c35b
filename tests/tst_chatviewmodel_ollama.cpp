#include "ChatViewModel.h"
#include "LocalHttpServer.h"
#include "OllamaTestHelpers.h"
#include "ScriptedLanguageModel.h"
#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace StoreTestTools;

// The chat view model against a real local HTTP server standing in for Ollama:
// the manager discovers its models, the user selects one and sends. No
// on-device engine is installed, as on a Linux machine.
class TestChatViewModelOllama : public QObject
{
    Q_OBJECT

    LocalHttpServer m_server;
    QByteArray m_tags;                      // what /api/tags answers
    QList<QPointer<HttpExchange>> m_chats;  // chat requests, answered by each test
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SessionStore> m_store;
    std::unique_ptr<ChatViewModel> m_vm;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    QString path() const { return m_dir->filePath("Hushwing.sqlite"); }

    QStringList contents() const
    {
        QStringList list;
        for (const auto &m : m_vm->messages())
            list << m.content;
        return list;
    }

    // The messages array of the n-th chat request, as [[role, content], ...].
    QList<QStringList> sentMessages(int n) const
    {
        QList<QStringList> result;
        QList<HttpRequest> chats;
        for (const auto &r : m_server.requests)
            if (r.path == "/api/chat")
                chats << r;
        const auto body = nlohmann::json::parse(chats.value(n).body.toStdString(), nullptr, false);
        if (body.is_discarded() || !body.contains("messages"))
            return result;
        for (const auto &m : body["messages"])
            result << QStringList{QString::fromStdString(m["role"]), QString::fromStdString(m["content"])};
        return result;
    }

    // Sends and waits until the server holds the request.
    bool sendToServer(const QString &text)
    {
        const qsizetype before = m_chats.size();
        m_vm->setDraft(text);
        m_vm->send();
        return QTest::qWaitFor([&] { return m_chats.size() > before; }, 10000) && m_vm->isGenerating();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_server.handler = [this](const HttpRequest &request, HttpExchange *exchange) {
            if (request.path == "/api/tags")
                exchange->respond(200, m_tags);
            else
                m_chats << exchange;
        };
    }

    void init()
    {
        m_tags = j("{'models':[{'name':'llama3:8b','size':4700000000},{'name':'qwen:0.5b','size':395000000}]}");
        m_chats.clear();
        m_server.requests.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<SessionStore>(path());
        QVERIFY(waitUntilOpen(*m_store));
        m_vm = std::make_unique<ChatViewModel>(m_store.get(), serverAt(m_server.url()));
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_vm->messageModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ModelManager *manager = m_vm->modelManager();
        QTRY_COMPARE(manager->ollamaBackends().size(), 2);
        manager->select(*manager->ollamaBackends().first());
    }

    void cleanup()
    {
        m_tester.reset();
        m_vm.reset();
        m_store.reset();
        m_dir.reset();
    }

    void conversationTravelsWholeAndErrorsBecomePartOfIt()
    {
        QVERIFY(sendToServer("  hi \n"));
        QCOMPARE(sentMessages(0), (QList<QStringList>{{"system", AppConfig::defaultSystemPrompt()}, {"user", "hi"}}));
        QVERIFY(!m_vm->availabilityError());  // the on-device check never applies here
        m_chats.last()->sendChunkedHead();
        m_chats.last()->sendChunk(chunkLine("Hel"));
        QTRY_COMPARE(contents().value(1), QString("Hel"));
        m_chats.last()->sendChunk(chunkLine("lo") + chunkLine("", true));
        m_chats.last()->endChunked();
        QTRY_VERIFY(!m_vm->isGenerating());
        QCOMPARE(contents(), QStringList({"hi", "Hello"}));

        QVERIFY(sendToServer("more"));
        m_chats.last()->respond(500, j("{'error':'out of memory'}"));
        QTRY_VERIFY(!m_vm->isGenerating());
        const QString error = "Error: " + OllamaError::badResponse(500).errorDescription();
        QCOMPARE(contents(), QStringList({"hi", "Hello", "more", error}));

        QVERIFY(sendToServer("again"));
        QCOMPARE(sentMessages(2), (QList<QStringList>{{"system", AppConfig::defaultSystemPrompt()},
                                                      {"user", "hi"}, {"assistant", "Hello"},
                                                      {"user", "more"}, {"assistant", error},
                                                      {"user", "again"}}));
        m_chats.last()->respond(200, chunkLine("ok", true));
        QTRY_VERIFY(!m_vm->isGenerating());
        QTRY_COMPARE(readRows(path()).value(0).roles,
                     QString(R"(["user","assistant","user","assistant","user","assistant"])"));
        QCOMPARE(readRows(path()).size(), 1);
        SessionStore reopened(path());
        QVERIFY(waitUntilOpen(reopened));
        const auto records = reopened.takeRecords();
        QVERIFY(records && records->size() == 1);
        QStringList reread;
        for (const ChatMessage &m : records->first().messages)
            reread << m.content;
        QCOMPARE(reread, contents());
    }

    void errorLineAfterAPartialReplyReplacesIt()
    {
        m_vm->setMode("Summarise");
        QVERIFY(sendToServer("text"));
        QCOMPARE(sentMessages(0).value(0).value(1),
                 AppConfig::defaultSystemPrompt() + "\n\n" + AppConfig::writingModes()[1].systemPrompt);
        m_chats.last()->sendChunkedHead();
        m_chats.last()->sendChunk(chunkLine("A summ"));
        QTRY_COMPARE(contents().value(1), QString("A summ"));
        m_chats.last()->sendChunk(j("{'error':'model crashed'}\n"));
        m_chats.last()->endChunked();
        QTRY_VERIFY(!m_vm->isGenerating());
        QVERIFY(contents().value(1).startsWith("Error: "));
        QVERIFY(contents().value(1).contains("model crashed"));
        QVERIFY(!contents().value(1).contains("A summ"));
    }

    void stoppedReplyIgnoresLaterLines()
    {
        QVERIFY(sendToServer("q"));
        QPointer<HttpExchange> chat = m_chats.last();
        chat->sendChunkedHead();
        chat->sendChunk(chunkLine("First"));
        QTRY_COMPARE(contents().value(1), QString("First"));
        m_vm->stop();
        QTRY_VERIFY(!m_vm->isGenerating());
        if (chat && chat->isOpen())
            chat->sendChunk(chunkLine(" and more") + chunkLine("", true));
        // Lines sent after the stop could only be read on a connection the
        // program still holds: it lets it go.
        QTRY_VERIFY(!chat || !chat->isOpen());
        QCOMPARE(contents(), QStringList({"q", "First"}));
        // The store writes on its own thread: the file holds the stop's save soon after.
        QTRY_COMPARE(readRows(path()).value(0).contents, QString(R"(["q","First"])"));
    }

    void errorAfterANewChatIsIgnored()
    {
        QVERIFY(sendToServer("q"));
        QPointer<HttpExchange> chat = m_chats.last();
        chat->sendChunkedHead();
        chat->sendChunk(chunkLine("Part"));
        QTRY_COMPARE(contents().value(1), QString("Part"));
        m_vm->newChat();
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        if (chat && chat->isOpen()) {
            chat->sendChunk(j("{'error':'late failure'}\n"));
            chat->endChunked();
        }
        QTRY_VERIFY(!m_vm->isGenerating());
        QTRY_VERIFY(!chat || !chat->isOpen());  // nothing more can be read
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QTRY_COMPARE(readRows(path()).value(0).contents, QString("[]"));
    }

    // The server now forwards the chosen model to another computer: sending is
    // refused with that sentence, the draft kept, and no chat request made.
    void aModelAnotherComputerRunsIsNeverSentTo()
    {
        QVERIFY(sendToServer("first"));
        m_chats.last()->respond(200, chunkLine("ok", true));
        QTRY_VERIFY(!m_vm->isGenerating());
        ModelManager *manager = m_vm->modelManager();
        m_tags = j("{'models':[{'name':'llama3:8b','size':384,'remote_model':'llama3:8b',"
                   "'remote_host':'https://ollama.com:443'}]}");
        QSignalSpy refreshed(manager, &ModelManager::refreshFinished);
        manager->refresh();
        QVERIFY(refreshed.wait(10000));
        QCOMPARE(manager->selectedID(), QString("ollama-llama3:8b"));

        m_vm->setDraft("my private text");
        m_vm->send();
        QCOMPARE(m_vm->availabilityError(),
                 std::optional<QString>("llama3:8b runs on ollama.com, not on this computer, and Hushwing sends "
                                        "nothing off your device. Choose a model that runs here."));
        QCOMPARE(m_vm->draft(), QString("my private text"));
        QVERIFY(!m_vm->isGenerating());
        QCOMPARE(contents(), QStringList({"first", "ok"}));

        // A request wrongly sent would reach the server before the next one does.
        m_tags = j("{'models':[{'name':'llama3:8b','size':4700000000}]}");
        manager->refresh();
        QVERIFY(refreshed.wait(10000));
        QVERIFY(sendToServer("next"));
        QList<QByteArray> chatBodies;
        for (const auto &request : m_server.requests)
            if (request.path == "/api/chat")
                chatBodies << request.body;
        QCOMPARE(chatBodies.size(), 2);  // the first message's, before the model moved away, and this one's
        QVERIFY(chatBodies.last().contains("next"));
        QVERIFY(!chatBodies.join().contains("my private text"));
    }

    // A failed reply resets the backend it ran on, even after the user moved on.
    void failureResetsTheBackendTheReplyStartedWith()
    {
        ScopedScriptedModel model;
        model->enqueue(ScriptedReply{{"part"}, QString("The model broke."), 1});
        ModelManager *manager = m_vm->modelManager();
        manager->select(*manager->aiBackend());
        m_vm->setDraft("q");
        m_vm->send();
        QTRY_COMPARE(model->stalledCount(), 1);
        QVERIFY(!model->hasEndedSession(model->lastRequest()->sessionId));
        manager->select(*manager->ollamaBackends().last());
        model->release();
        QTRY_VERIFY(!m_vm->isGenerating());
        QCOMPARE(contents(), QStringList({"q", "Error: The model broke."}));
        QVERIFY(model->hasEndedSession(model->lastRequest()->sessionId));
        QCOMPARE(manager->selectedID(), QString("ollama-qwen:0.5b"));
    }
};

QTEST_MAIN(TestChatViewModelOllama)
#include "tst_chatviewmodel_ollama.moc"
