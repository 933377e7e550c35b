#pragma once

#include "ReplyStream.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// The JSON records exchanged with a local Ollama server. Writing keeps the
// members in a fixed order, compact; reading is strict about the members it
// needs (present, not null, of the right JSON type) and ignores all others.

// One model as the server lists it. A model that the server only forwards to
// another computer (a cloud model) names that computer in "remote_host": it is
// listed so the user sees it, but nothing is ever sent to it.
struct OllamaModelEntry
{
    QString name;
    qint64 size = 0;
    // Set for a model another computer runs: the host as the server gave it
    // (empty when the server gave something other than text).
    std::optional<QString> remoteHost;

    friend bool operator==(const OllamaModelEntry &, const OllamaModelEntry &) = default;
};

// One element of "messages" in a chat request: "role" then "content".
struct OllamaMessage
{
    OllamaMessage(QString role, QString content) : role(std::move(role)), content(std::move(content)) {}

    QString role;
    QString content;
};

// The body of a chat request: "model", "messages", "stream" (always true).
struct OllamaChatRequest
{
    OllamaChatRequest(QString model, QList<OllamaMessage> messages)
        : model(std::move(model)), messages(std::move(messages)) {}

    QString model;
    QList<OllamaMessage> messages;
    const bool stream = true;

    // Compact UTF-8 JSON, as a general JSON writer writes it. Any text can be
    // written: QString's UTF-8 is always valid, so this never fails.
    QByteArray toJson() const;
};

// One line of a streamed chat reply.
struct OllamaChatChunk
{
    struct Message
    {
        QString content;
    };

    Message message;
    bool done = false;

    // Decodes one line (its bytes, without the line break). On failure `reason`
    // says why in a few words, e.g. "the line is not valid JSON".
    static std::optional<OllamaChatChunk> decode(QByteArrayView line, QString *reason = nullptr);
};

// The whole body of the installed-models reply. One bad entry fails it all.
struct OllamaTagsResponse
{
    QList<OllamaModelEntry> models;

    static std::optional<OllamaTagsResponse> decode(QByteArrayView body, QString *reason = nullptr);
};

// The "error" text of a line such as {"error":"..."}, which a server sends in
// place of a chunk when it fails in the middle of a reply.
std::optional<QString> ollamaErrorText(QByteArrayView line);

// The errors the Ollama backend raises itself, with the sentences the user reads.
class OllamaError
{
public:
    static OllamaError badResponse(int statusCode) { return OllamaError(Case::badResponse, statusCode); }
    static OllamaError notRunning() { return OllamaError(Case::notRunning, 0); }

    // The description carries the status code, so nothing else is kept public.
    QString errorDescription() const;
    ReplyError toReplyError() const { return {ReplyError::Kind::ollama, errorDescription()}; }

private:
    enum class Case { badResponse, notRunning };
    OllamaError(Case c, int status) : m_case(c), m_status(status) {}
    Case m_case;
    int m_status;
};
