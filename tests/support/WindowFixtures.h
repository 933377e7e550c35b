#pragma once

#include "ChatViewModel.h"
#include "LanguageModelEngine.h"
#include "LocalHttpServer.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

class QQmlEngine;
class SessionStore;

// A stand-in for the local Ollama server: its installed models (one unless the
// test says otherwise), and chat replies that stream their first pieces and
// then wait until the test lets them end.
class OllamaStandIn : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *modelName = "tinyllama:1b";

    explicit OllamaStandIn(QObject *parent = nullptr);
    bool listen(quint16 port = 0);
    QUrl url() const { return m_server.url(); }

    QStringList models = {QString::fromLatin1(modelName)};
    // Pieces each reply streams before it holds (the text grows piece by piece).
    QStringList openingPieces = {QStringLiteral("Hello"), QStringLiteral(" there")};
    int chatRequests() const { return m_chatRequests; }
    // Streams `piece` into every reply still open.
    void sendPiece(const QString &piece);
    // Ends every reply still open with the closing line.
    void finishReplies();

    static QByteArray chatLine(const QString &content, bool done);

signals:
    void chatRequestReceived();

private:
    LocalHttpServer m_server;
    QList<QPointer<HttpExchange>> m_openReplies;
    int m_chatRequests = 0;
};

// For the QML tests of the chat screen: a real chat view model over a store in
// a temporary folder, with the stand-in Ollama server as its model source.
class ChatScreenFixture : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ChatViewModel *vm READ vm NOTIFY vmChanged)
    Q_PROPERTY(int chatRequests READ chatRequests NOTIFY chatRequestsChanged)
    Q_PROPERTY(QString ollamaModelName READ ollamaModelName CONSTANT)
public:
    explicit ChatScreenFixture(QObject *parent = nullptr);
    ~ChatScreenFixture() override;

    ChatViewModel *vm() const { return m_vm; }
    int chatRequests() const { return m_ollama.chatRequests(); }
    QString ollamaModelName() const { return QString::fromLatin1(OllamaStandIn::modelName); }

    // A fresh store holding the given conversation (none when empty) and a new
    // view model, which restores it once the store has been read (vm.isRestoring
    // turns false); the previous view model is discarded.
    Q_INVOKABLE void start(const QStringList &roles = {}, const QStringList &contents = {});
    Q_INVOKABLE void sendReplyPiece(const QString &piece) { m_ollama.sendPiece(piece); }
    Q_INVOKABLE void finishReplies() { m_ollama.finishReplies(); }
    // The models /api/tags lists from now on.
    Q_INVOKABLE void serveModels(const QStringList &names) { m_ollama.models = names; }
    // Puts a scripted on-device model in place, unavailable for `reason` (the
    // platform's word, e.g. "modelNotReady"), until restoreOnDeviceModel() or
    // the fixture's end puts back the engine there was before.
    Q_INVOKABLE void makeOnDeviceModelUnavailable(const QString &reason);
    Q_INVOKABLE void restoreOnDeviceModel();

signals:
    void vmChanged();
    void chatRequestsChanged();

private:
    OllamaStandIn m_ollama;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SessionStore> m_store;
    ChatViewModel *m_vm = nullptr;
    std::optional<std::shared_ptr<LanguageModelEngine>> m_engineBefore;
};

// Makes `ChatScreenFixture` available to QML tests as `import HushwingTest`.
void registerWindowFixtures(QQmlEngine *engine);

// Tells the views of `engine` that a screen reader listens, as the platform
// does when one starts: they then give it every text (a message's whole text
// as its accessible name, for one).
void listenAsScreenReader(QQmlEngine *engine);
