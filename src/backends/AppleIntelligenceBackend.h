#pragma once

#include "LanguageModel.h"
#include "ModelBackend.h"

#include <memory>
#include <optional>

// The default backend: the platform's on-device model. It keeps one model
// session, created on the first reply after construction or reset() with that
// reply's system prompt; the session carries the transcript, so history is
// never read. The session is touched on the main thread only.
class AppleIntelligenceBackend : public ModelBackend
{
    Q_OBJECT
public:
    explicit AppleIntelligenceBackend(QObject *parent = nullptr);
    ~AppleIntelligenceBackend() override;

    ModelInfo info() const override;
    bool isAvailable() const override;
    // The platform's reason while the model is unavailable; no value while it is available.
    std::optional<UnavailableReason> unavailabilityReason() const;
    // Snapshots are produced on a worker thread. When the consumer cancels its
    // stream, the worker stops generating and the stream ends normally.
    std::unique_ptr<ReplyStream> streamResponse(const QString &to, const QList<ChatMessage> &history,
                                                const QString &systemPrompt) override;
    void reset() override;

    // The cached session, for inspection; null before the first reply and after reset().
    std::shared_ptr<LanguageModelSession> session() const { return m_session; }

private:
    std::shared_ptr<LanguageModelSession> m_session;
};
