#pragma once

#include "ChatMessage.h"
#include "ModelInfo.h"
#include "ReplyStream.h"

#include <QList>
#include <QObject>
#include <memory>

// The interface every language-model backend implements. Backends are shared
// objects (held by the model manager and by a running reply) that live on the
// GUI thread; all four operations are called there and return at once.
class ModelBackend : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ModelInfo info READ info CONSTANT)
    Q_PROPERTY(bool isAvailable READ isAvailable)
public:
    using QObject::QObject;

    virtual ModelInfo info() const = 0;
    virtual bool isAvailable() const = 0;
    // Why the backend cannot be used right now (read afresh); empty while it
    // can. The on-device backend gives the platform's reason; an Ollama model
    // that another computer runs gives a whole sentence saying so.
    virtual QString unavailableText() const { return {}; }
    // Starts a reply to `to` after `history` (the conversation before this turn,
    // oldest first) under `systemPrompt`. The stream hands on what each turn of
    // the event loop added to the reply, and never ends before the caller has
    // returned to the event loop.
    virtual std::unique_ptr<ReplyStream> streamResponse(const QString &to,
                                                        const ChatHistory &history,
                                                        const QString &systemPrompt) = 0;
    // Discards whatever conversation state the backend keeps.
    virtual void reset() = 0;
};

// Backends are shared; the last owner lets the event loop delete the object, so
// a view that still shows it never sees it vanish in the middle of a call.
template <typename Backend, typename... Args>
std::shared_ptr<Backend> makeBackend(Args &&...args)
{
    return std::shared_ptr<Backend>(new Backend(std::forward<Args>(args)...),
                                    [](Backend *b) { b->deleteLater(); });
}
