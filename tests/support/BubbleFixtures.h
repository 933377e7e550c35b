#pragma once

#include "LocalHttpServer.h"
#include "ModelBackend.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <vector>

class QQmlEngine;

// A backend whose name, detail and availability a test chooses.
class TestBackend : public ModelBackend
{
    Q_OBJECT
public:
    TestBackend(ModelInfo info, bool available, QObject *parent)
        : ModelBackend(parent), m_info(std::move(info)), m_available(available) {}
    ModelInfo info() const override { return m_info; }
    bool isAvailable() const override { return m_available; }
    std::unique_ptr<ReplyStream> streamResponse(const QString &, const ChatHistory &,
                                                const QString &) override;
    void reset() override {}

private:
    ModelInfo m_info;
    bool m_available;
};

// What the bubble, Models and About view tests need from C++, as the QML
// singleton `BubbleFixtures` (import HushwingTest): the clipboard, a record of
// the links handed to the desktop, backends and model managers, and an Ollama
// stand-in serving /api/tags.
class BubbleFixtures : public QObject
{
    Q_OBJECT
public:
    // Registers the singleton with the engine's type system.
    static void install(QQmlEngine *engine);
    ~BubbleFixtures() override;

    Q_INVOKABLE QString clipboardText() const;
    Q_INVOKABLE void setClipboardText(const QString &text) const;

    Q_INVOKABLE QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void clearOpenedUrls() { m_openedUrls.clear(); }

    // A new empty folder, removed with the fixture.
    Q_INVOKABLE QString temporaryFolder();
    // Sets (or, given an empty value, unsets) an environment variable and
    // returns its value before.
    Q_INVOKABLE QString putEnv(const QString &name, const QString &value) const;
    // Whether `path` is a folder that only its owner may read, write or enter.
    Q_INVOKABLE bool isOwnerOnlyFolder(const QString &path) const;

    Q_INVOKABLE QObject *makeBackend(const QString &name, const QString &detail, bool available);
    // A manager whose Ollama list comes from the stand-in server.
    Q_INVOKABLE QObject *makeModelManager();

    // The stand-in answers /api/tags with these models ("name" entries).
    Q_INVOKABLE void serveOllamaModels(const QStringList &names);
    // The stand-in answers /api/tags with this body as it stands (until
    // serveOllamaModels is called again).
    Q_INVOKABLE void serveOllamaTags(const QString &body);
    // While held, /api/tags requests wait unanswered until released.
    Q_INVOKABLE void holdTagsReplies(bool hold);
    Q_INVOKABLE int tagsRequestCount() const { return m_tagsRequests; }

public slots:
    void recordUrl(const QUrl &url) { m_openedUrls << url.toString(); }

private:
    explicit BubbleFixtures(QObject *parent = nullptr);
    void respondTags(HttpExchange *exchange);
    void answer(HttpExchange *exchange);

    LocalHttpServer m_server;
    QStringList m_models;
    QByteArray m_tagsBody;
    bool m_hold = false;
    QList<QPointer<HttpExchange>> m_held;
    int m_tagsRequests = 0;
    QStringList m_openedUrls;
    std::vector<std::unique_ptr<QTemporaryDir>> m_folders;
};
