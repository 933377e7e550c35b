#pragma once

#include "LocalHttpServer.h"
#include "OllamaBackend.h"
#include "OllamaStandInServer.h"
#include "ReplyCollector.h"

#include <QTest>
#include <QThread>
#include <nlohmann/json.hpp>

// Shared by the Ollama tests: running a reply or a model listing to its end
// while the test's own event loop keeps the local server working.

// JSON written with single quotes, for legibility: j("{'a':1}") is {"a":1}.
inline QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// The server at `url`, with the program's time-outs.
inline OllamaServer serverAt(const QUrl &url)
{
    return OllamaServer{.baseUrl = url};
}

// A server address where nothing listens.
inline OllamaServer noServer()
{
    return serverAt(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(unusedLoopbackPort())));
}

// Runs discover() and returns its list, or one entry named "no answer".
inline QList<OllamaModelEntry> discoverNow(const OllamaServer &server, int timeoutMs = 10000)
{
    QObject context;
    std::optional<QList<OllamaModelEntry>> found;
    bool onContextThread = false;
    OllamaBackend::discover(server, &context, [&](QList<OllamaModelEntry> models) {
        onContextThread = QThread::currentThread() == context.thread();
        found = std::move(models);
    });
    if (!QTest::qWaitFor([&] { return found.has_value(); }, timeoutMs) || !onContextThread)
        return {{QStringLiteral("no answer"), -1}};
    return *found;
}

// One NDJSON line of a streamed chat reply, as a server writes it.
inline QByteArray chunkLine(const QString &content, bool done = false)
{
    return OllamaStandInServer::chatLine(content, done, QStringLiteral("m"));
}
