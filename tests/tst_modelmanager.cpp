#include "ModelManager.h"
#include "LocalHttpServer.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray tagsBody(const QList<QPair<QByteArray, qint64>> &models)
{
    QByteArray body = R"({"models":[)";
    for (int i = 0; i < models.size(); ++i) {
        if (i)
            body += ',';
        body += R"({"name":")" + models[i].first + R"(","model":")" + models[i].first
                + R"(","modified_at":"2024-05-01T10:00:00Z","size":)" + QByteArray::number(models[i].second)
                + R"(,"digest":"abc","details":{"format":"gguf","family":"llama"}})";
    }
    return body + "]}";
}

const QString kOnDevice = QStringLiteral("apple-intelligence");

} // namespace

// The manager against a real local server that lists models, fails, holds its
// answer back, or is not there at all.
class TestModelManager : public QObject
{
    Q_OBJECT

    LocalHttpServer *m_server = nullptr;
    QByteArray m_body;               // what /api/tags answers
    int m_status = 200;
    bool m_holdAnswers = false;      // keep requests waiting in m_held
    QList<QPointer<HttpExchange>> m_held;

    void serve(const QList<QPair<QByteArray, qint64>> &models)
    {
        m_status = 200;
        m_body = tagsBody(models);
    }

    void answerHeld(int index, const QList<QPair<QByteArray, qint64>> &models)
    {
        QVERIFY(m_held.value(index));
        m_held[index]->respond(200, tagsBody(models));
    }

    OllamaServer server() const { return OllamaServer{.baseUrl = m_server->url()}; }

    // A manager whose first refresh has ended.
    std::unique_ptr<ModelManager> settledManager()
    {
        auto manager = std::make_unique<ModelManager>(server());
        QSignalSpy done(manager.get(), &ModelManager::refreshFinished);
        if (!done.wait(10000))
            return nullptr;
        return manager;
    }

    bool refreshAndWait(ModelManager &manager)
    {
        QSignalSpy done(&manager, &ModelManager::refreshFinished);
        manager.refresh();
        return done.wait(10000);
    }

private slots:
    void init()
    {
        m_server = new LocalHttpServer(this);
        QVERIFY(m_server->listen());
        m_held.clear();
        m_holdAnswers = false;
        serve({});
        m_server->handler = [this](const HttpRequest &request, HttpExchange *exchange) {
            if (request.path != "/api/tags") {
                exchange->respond(404, R"({"error":"not found"})");
            } else if (m_holdAnswers) {
                m_held.append(exchange);
            } else {
                exchange->respond(m_status, m_body);
            }
        };
    }

    void cleanup()
    {
        delete m_server;
        m_server = nullptr;
    }

    void beforeTheFirstRefreshEndsOnlyTheOnDeviceModelIsOffered()
    {
        m_holdAnswers = true;
        ModelManager manager(server());
        QVERIFY(manager.isRefreshing());
        QCOMPARE(manager.selectedID(), kOnDevice);
        QCOMPARE(manager.backends().size(), 1);
        QCOMPARE(manager.selected(), std::static_pointer_cast<ModelBackend>(manager.aiBackend()));
        QCOMPARE(manager.selectedSubtitle().toUtf8(), QByteArray("On-device \xC2\xB7 Private"));
        QTRY_COMPARE(m_held.size(), 1);
        QCOMPARE(m_server->requests.first().method, QByteArray("GET"));
    }

    void refreshListsTheServersModelsInItsOrder()
    {
        serve({{"zephyr:7b", 4661224676}, {"alpha", 1000000000}});
        auto manager = settledManager();
        QVERIFY(manager);
        QVERIFY(!manager->isRefreshing());
        const auto list = manager->ollamaBackends();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0]->info().id, QStringLiteral("ollama-zephyr:7b"));
        QCOMPARE(list[1]->info().id, QStringLiteral("ollama-alpha"));
        const auto all = manager->backends();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[0]->info().id, kOnDevice);
        QCOMPARE(all[1], std::static_pointer_cast<ModelBackend>(list[0]));
        // The views get the same objects.
        const auto forViews = manager->property("ollamaBackends").value<QList<QObject *>>();
        QCOMPARE(forViews.size(), 2);
        QCOMPARE(forViews[1], static_cast<QObject *>(list[1].get()));
    }

    void aFailingOrAbsentServerLeavesOnlyTheOnDeviceModel_data()
    {
        QTest::addColumn<bool>("serverRunning");
        QTest::newRow("answers 500") << true;
        QTest::newRow("not listening") << false;
    }
    void aFailingOrAbsentServerLeavesOnlyTheOnDeviceModel()
    {
        QFETCH(bool, serverRunning);
        serve({{"llama3", 1}});
        auto manager = settledManager();
        QVERIFY(manager);
        QCOMPARE(manager->ollamaBackends().size(), 1);
        manager->select(*manager->ollamaBackends().first());

        if (serverRunning) {
            m_status = 500;
            m_body = R"({"error":"boom"})";
        } else {
            delete std::exchange(m_server, nullptr);  // the server has stopped
        }
        QSignalSpy refreshing(manager.get(), &ModelManager::isRefreshingChanged);
        QVERIFY(refreshAndWait(*manager));
        QVERIFY(manager->ollamaBackends().isEmpty());
        QCOMPARE(manager->backends().size(), 1);
        QCOMPARE(manager->selectedID(), kOnDevice);
        QVERIFY(!manager->isRefreshing());
        QCOMPARE(refreshing.count(), 2);  // true, then false
    }

    void aSelectionStillListedSurvivesAndNamesTheNewObject()
    {
        serve({{"a", 1}, {"b", 2500000000}});
        auto manager = settledManager();
        QVERIFY(manager);
        QCOMPARE(manager->ollamaBackends().size(), 2);
        const auto oldB = manager->ollamaBackends()[1];
        manager->select(*oldB);
        QCOMPARE(manager->selectedID(), QStringLiteral("ollama-b"));
        QCOMPARE(manager->selectedSubtitle().toUtf8(), QByteArray("2.5 GB \xC2\xB7 Ollama"));

        serve({{"b", 2500000000}});
        QSignalSpy idChanged(manager.get(), &ModelManager::selectedIDChanged);
        QSignalSpy listChanged(manager.get(), &ModelManager::ollamaBackendsChanged);
        QVERIFY(refreshAndWait(*manager));
        QCOMPARE(manager->selectedID(), QStringLiteral("ollama-b"));
        QCOMPARE(idChanged.count(), 0);
        QCOMPARE(listChanged.count(), 1);
        const auto now = manager->selected();
        QVERIFY(now);
        QVERIFY(now.get() != oldB.get());
        QCOMPARE(now, std::static_pointer_cast<ModelBackend>(manager->ollamaBackends().first()));
    }

    void aSelectionNoLongerListedFallsBackInTheSameStep()
    {
        serve({{"a", 1}, {"b", 2}});
        auto manager = settledManager();
        QVERIFY(manager);
        QCOMPARE(manager->ollamaBackends().size(), 2);
        manager->select(*manager->ollamaBackends()[1]);

        serve({{"a", 1}});
        // Whoever hears of the new list must already find the selection valid.
        bool selectionValidWhenListed = false;
        connect(manager.get(), &ModelManager::ollamaBackendsChanged, this,
                [&] { selectionValidWhenListed = manager->selected() != nullptr; });
        QSignalSpy idChanged(manager.get(), &ModelManager::selectedIDChanged);
        QSignalSpy subtitleChanged(manager.get(), &ModelManager::selectedSubtitleChanged);
        QVERIFY(refreshAndWait(*manager));
        QCOMPARE(manager->selectedID(), kOnDevice);
        QVERIFY(selectionValidWhenListed);
        QCOMPARE(idChanged.count(), 1);
        QCOMPARE(subtitleChanged.count(), 1);
        QCOMPARE(manager->selectedSubtitle().toUtf8(), QByteArray("On-device \xC2\xB7 Private"));
    }

    // A cloud model is listed but cannot be chosen; an embedding-only model can
    // (the server answers a chat with it by a clear error).
    void aModelAnotherComputerRunsIsListedButNeverChosen()
    {
        m_body = R"({"models":[{"name":"gpt-oss:120b-cloud","size":384,"remote_model":"gpt-oss:120b",)"
                 R"("remote_host":"https://ollama.com:443","details":{"families":null},"capabilities":["completion"]},)"
                 R"({"name":"llama3","size":4700000000,"capabilities":["completion","tools"]},)"
                 R"({"name":"nomic-embed-text","size":274302450,"capabilities":["embedding"]}]})";
        auto manager = settledManager();
        QVERIFY(manager);
        const auto list = manager->ollamaBackends();
        QCOMPARE(list.size(), 3);
        QVERIFY(list[0]->info().isRemote());
        QVERIFY(!list[1]->info().isRemote());

        QSignalSpy idChanged(manager.get(), &ModelManager::selectedIDChanged);
        QSignalSpy subtitleChanged(manager.get(), &ModelManager::selectedSubtitleChanged);
        manager->select(*list[0]);
        manager->select(static_cast<ModelBackend *>(list[0].get()));  // the views' way
        QCOMPARE(manager->selectedID(), kOnDevice);
        QCOMPARE(idChanged.count(), 0);
        QCOMPARE(subtitleChanged.count(), 0);
        manager->select(*list[2]);
        QCOMPARE(manager->selectedID(), QStringLiteral("ollama-nomic-embed-text"));

        // A chosen model the server later lists as remote stays the selection
        // (an id, as ever), and says where it runs; sending to it is refused.
        manager->select(*list[1]);
        m_body = R"({"models":[{"name":"llama3","size":384,"remote_host":"https://ollama.com:443"}]})";
        QVERIFY(refreshAndWait(*manager));
        QCOMPARE(manager->selectedID(), QStringLiteral("ollama-llama3"));
        QVERIFY(manager->selected() && !manager->selected()->isAvailable());
        QCOMPARE(manager->selectedSubtitle(), QStringLiteral("Runs on ollama.com \u2014 not on this computer"));
    }

    void aSelectionNamingNothingHasNoBackendAndTheDefaultSubtitle()
    {
        auto manager = settledManager();
        QVERIFY(manager);
        // A backend the manager does not list (say, from a list a refresh replaced).
        const auto stray = makeBackend<OllamaBackend>(OllamaModelEntry{QStringLiteral("gone"), 5}, server());
        QSignalSpy subtitleChanged(manager.get(), &ModelManager::selectedSubtitleChanged);
        manager->select(*stray);
        QCOMPARE(manager->selectedID(), QStringLiteral("ollama-gone"));
        QVERIFY(!manager->selected());
        QCOMPARE(manager->selectedSubtitle().toUtf8(), QByteArray("Apple Intelligence \xC2\xB7 On-device"));
        QCOMPARE(subtitleChanged.count(), 1);
    }

    void unchangedValuesNotifyNobodyButEveryListAssignmentDoes()
    {
        auto manager = settledManager();
        QVERIFY(manager);
        QSignalSpy idChanged(manager.get(), &ModelManager::selectedIDChanged);
        QSignalSpy subtitleChanged(manager.get(), &ModelManager::selectedSubtitleChanged);
        QSignalSpy listChanged(manager.get(), &ModelManager::ollamaBackendsChanged);
        manager->select(*manager->aiBackend());
        manager->select(static_cast<ModelBackend *>(nullptr));
        QCOMPARE(idChanged.count(), 0);
        QCOMPARE(subtitleChanged.count(), 0);

        // The same empty list twice: each assignment is news for the views.
        QVERIFY(refreshAndWait(*manager));
        QVERIFY(refreshAndWait(*manager));
        QCOMPARE(listChanged.count(), 2);
        QCOMPARE(idChanged.count(), 0);
        QCOMPARE(subtitleChanged.count(), 0);
    }

    void isRefreshingHoldsWhileTheServerKeepsItsAnswer()
    {
        auto manager = settledManager();
        QVERIFY(manager);
        m_holdAnswers = true;
        QSignalSpy done(manager.get(), &ModelManager::refreshFinished);
        manager->refresh();
        QTRY_COMPARE(m_held.size(), 1);
        QVERIFY(manager->isRefreshing());
        QTest::qWait(20);  // the event loop runs; nothing has been answered yet
        QVERIFY(manager->isRefreshing());
        QCOMPARE(done.count(), 0);
        answerHeld(0, {{"late", 3}});
        QVERIFY(done.wait(10000));
        QVERIFY(!manager->isRefreshing());
        QCOMPARE(manager->ollamaBackends().size(), 1);
    }

    void overlappingRefreshesLetTheLastToFinishDecide()
    {
        auto manager = settledManager();
        QVERIFY(manager);
        m_holdAnswers = true;
        QSignalSpy done(manager.get(), &ModelManager::refreshFinished);
        manager->refresh();
        manager->refresh();
        QTRY_COMPARE(m_held.size(), 2);

        // The second request is answered first...
        answerHeld(1, {{"second", 1}});
        QVERIFY(done.wait(10000));
        QCOMPARE(manager->ollamaBackends().size(), 1);
        QCOMPARE(manager->ollamaBackends().first()->info().name, QStringLiteral("second"));
        // ...and the flag already reads false while the other still waits.
        QVERIFY(!manager->isRefreshing());

        answerHeld(0, {{"first", 1}, {"other", 2}});
        QTRY_COMPARE(done.count(), 2);
        QCOMPARE(manager->ollamaBackends().size(), 2);
        QCOMPARE(manager->ollamaBackends().first()->info().name, QStringLiteral("first"));
        QVERIFY(!manager->isRefreshing());
    }

    void aManagerGoneBeforeItsAnswerIsLeftAlone()
    {
        m_holdAnswers = true;
        auto manager = std::make_unique<ModelManager>(server());
        QTRY_COMPARE(m_held.size(), 1);
        manager.reset();
        answerHeld(0, {{"late", 1}});
        // A later manager's listing, answered after that one: by the time it
        // has arrived, a wrongly kept callback would have run.
        m_holdAnswers = false;
        QVERIFY(settledManager());
        QCOMPARE(m_server->requests.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestModelManager)
#include "tst_modelmanager.moc"
