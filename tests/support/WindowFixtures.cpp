#include "WindowFixtures.h"

#include "OllamaBackend.h"
#include "OllamaStandInServer.h"
#include "ScreenReader.h"
#include "ScriptedLanguageModel.h"
#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QAccessible>
#include <QQmlEngine>

OllamaStandIn::OllamaStandIn(QObject *parent) : QObject(parent)
{
    m_server.handler = [this](const HttpRequest &request, HttpExchange *exchange) {
        if (request.path.endsWith("/api/tags")) {
            QList<OllamaStandInServer::Model> list;
            for (const QString &name : std::as_const(models))
                list.append({name, 637700138});
            exchange->respond(200, OllamaStandInServer::tagsBody(list));
            return;
        }
        if (request.path.endsWith("/api/chat")) {
            ++m_chatRequests;
            exchange->sendChunkedHead();
            for (const QString &piece : openingPieces)
                exchange->sendChunk(chatLine(piece, false));
            m_openReplies.append(exchange);
            emit chatRequestReceived();
            return;
        }
        exchange->respond(404, R"({"error":"not found"})");
    };
}

bool OllamaStandIn::listen(quint16 port)
{
    return m_server.listen(port);
}

QByteArray OllamaStandIn::chatLine(const QString &content, bool done)
{
    return OllamaStandInServer::chatLine(content, done, QString::fromLatin1(modelName));
}

void OllamaStandIn::sendPiece(const QString &piece)
{
    for (const auto &reply : std::as_const(m_openReplies)) {
        if (reply && reply->isOpen())
            reply->sendChunk(chatLine(piece, false));
    }
}

void OllamaStandIn::finishReplies()
{
    for (const auto &reply : std::exchange(m_openReplies, {})) {
        if (reply && reply->isOpen()) {
            reply->sendChunk(chatLine(QString(), true));
            reply->endChunked();
        }
    }
}

ChatScreenFixture::ChatScreenFixture(QObject *parent) : QObject(parent)
{
    m_ollama.listen();
    connect(&m_ollama, &OllamaStandIn::chatRequestReceived, this, &ChatScreenFixture::chatRequestsChanged);
}

ChatScreenFixture::~ChatScreenFixture()
{
    delete m_vm;
    restoreOnDeviceModel();
}

void ChatScreenFixture::makeOnDeviceModelUnavailable(const QString &reason)
{
    for (const auto why : {UnavailableReason::deviceNotEligible, UnavailableReason::appleIntelligenceNotEnabled,
                           UnavailableReason::modelNotReady}) {
        if (toString(why) == reason) {
            if (!m_engineBefore)
                m_engineBefore = SystemLanguageModel::defaultModel().engine();
            ScriptedLanguageModel::install()->setUnavailable(why);
            return;
        }
    }
    qFatal("no such reason: %s", qPrintable(reason));
}

void ChatScreenFixture::restoreOnDeviceModel()
{
    if (m_engineBefore)
        SystemLanguageModel::installEngine(*std::exchange(m_engineBefore, std::nullopt));
}

void ChatScreenFixture::start(const QStringList &roles, const QStringList &contents)
{
    delete std::exchange(m_vm, nullptr);
    emit vmChanged();
    m_store.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("Hushwing.sqlite"));
    if (!roles.isEmpty()) {
        SessionStore seed(path);
        StoreTestTools::waitUntilOpen(seed);
        seed.save(StoreTestTools::makeRecord(seed, roles, contents));
    }
    // The view model comes before the store has been read, as in the program:
    // it restores the conversation once the event loop hears that it has.
    m_store = std::make_unique<SessionStore>(path);
    m_vm = new ChatViewModel(m_store.get(), OllamaServer{.baseUrl = m_ollama.url()});
    QQmlEngine::setObjectOwnership(m_vm, QQmlEngine::CppOwnership);
    emit vmChanged();
}

void registerWindowFixtures(QQmlEngine *)
{
    qmlRegisterType<ChatScreenFixture>("HushwingTest", 1, 0, "ChatScreenFixture");
}

void listenAsScreenReader(QQmlEngine *engine)
{
    // The views' ScreenReader object hears the platform's news; it must exist first.
    engine->singletonInstance<ScreenReader *>(qmlTypeId("Hushwing", 1, 0, "ScreenReader"));
    QAccessible::setActive(true);
}
