#pragma once

#include "ModelBackend.h"
#include "OllamaServer.h"
#include "OllamaWire.h"

#include <QUrl>
#include <functional>

// The backend for one model served by a local Ollama server. Stateless: every
// reply sends the system prompt, the whole history and the new prompt. It
// talks HTTP through one network manager on the GUI thread, which reads
// asynchronously: nothing here blocks. The manager never uses a proxy (the
// server is on the loopback interface) and follows no redirects (nothing the
// user writes may be sent to another address). A model the server lists as
// running on another computer (a cloud model) is never used: it reports itself
// unavailable and its replies end with that sentence before any request.
class OllamaBackend : public ModelBackend
{
    Q_OBJECT
public:
    // A backend for one of the models `server` listed.
    OllamaBackend(const OllamaModelEntry &entry, const OllamaServer &server, QObject *parent = nullptr);

    ModelInfo info() const override { return m_info; }
    bool isAvailable() const override { return !m_info.isRemote(); }
    QString unavailableText() const override;
    std::unique_ptr<ReplyStream> streamResponse(const QString &to, const ChatHistory &history,
                                                const QString &systemPrompt) override;
    void reset() override {}

    // Asks the server for its installed models. `done` runs once, later, with
    // the models in the server's order, or an empty list on any failure; it
    // does not run if `context` is destroyed first.
    static void discover(const OllamaServer &server, QObject *context,
                         std::function<void(QList<OllamaModelEntry>)> done);

    // The messages of one request: the system prompt, the history, the new prompt.
    static QList<OllamaMessage> requestMessages(const QString &to, const ChatHistory &history,
                                                const QString &systemPrompt);
    // "4.7 GB · Ollama": decimal gigabytes, one digit, always a full stop.
    static QString detailText(qint64 sizeInBytes);
    // "Runs on ollama.com — not on this computer": the host name alone, from
    // whatever the server gave ("https://ollama.com:443").
    static QString remoteDetailText(const QString &remoteHost);

private:
    ModelInfo m_info;
    QString m_modelName;
    OllamaServer m_server;
};
