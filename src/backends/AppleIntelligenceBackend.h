#pragma once

#include "LanguageModel.h"
#include "ModelBackend.h"

class LanguageModelSession;

// The default backend: the platform's on-device model. It keeps one model
// session, created on the first reply after construction or reset() with that
// reply's system prompt; the session carries the transcript, so history is unused.
class AppleIntelligenceBackend : public ModelBackend
{
    Q_OBJECT
public:
    explicit AppleIntelligenceBackend(QObject *parent = nullptr);
    ~AppleIntelligenceBackend() override;

    ModelInfo info() const override;
    bool isAvailable() const override;
    std::optional<UnavailableReason> unavailabilityReason() const;
    std::unique_ptr<ReplyStream> streamResponse(const QString &to, const QList<ChatMessage> &history,
                                                const QString &systemPrompt) override;
    void reset() override;

private:
    std::shared_ptr<LanguageModelSession> m_session;
};
