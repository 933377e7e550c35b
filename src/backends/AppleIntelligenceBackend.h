#pragma once

#include "LanguageModel.h"
#include "ModelBackend.h"

#include <memory>

// The default backend: the platform's on-device model. It keeps one model
// session, created on the first reply after construction or reset() with that
// reply's system prompt; the session carries the transcript, so history is
// never read. The model computes outside the GUI thread (LanguageModel.h);
// this backend only passes its snapshots on, and a stop back.
class AppleIntelligenceBackend : public ModelBackend
{
    Q_OBJECT
public:
    using ModelBackend::ModelBackend;

    ModelInfo info() const override;
    bool isAvailable() const override;
    // The platform's reason, e.g. "modelNotReady"; empty while available.
    QString unavailableText() const override;
    // When the consumer cancels or drops its stream, the model stops
    // generating between two tokens; the stream ends normally.
    std::unique_ptr<ReplyStream> streamResponse(const QString &to, const ChatHistory &history,
                                                const QString &systemPrompt) override;
    void reset() override;

private:
    std::unique_ptr<LanguageModelSession> m_session;
};
