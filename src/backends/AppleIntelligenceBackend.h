#pragma once

#include "LanguageModel.h"
#include "ModelBackend.h"

#include <QThread>
#include <memory>

// The default backend: the platform's on-device model. It keeps one model
// session, created on the first reply after construction or reset() with that
// reply's system prompt; the session carries the transcript, so history is
// never read.
//
// The model generates on one worker thread of this backend, which runs the
// replies one after another; snapshots come back to the reply's stream by
// queued signals. The session pointer itself is read and written on the GUI
// thread only; the session's transcript belongs to the worker (LanguageModel.h).
class AppleIntelligenceBackend : public ModelBackend
{
    Q_OBJECT
public:
    explicit AppleIntelligenceBackend(QObject *parent = nullptr);
    // Stops the replies still running or waiting, and the worker after them.
    ~AppleIntelligenceBackend() override;

    ModelInfo info() const override;
    bool isAvailable() const override;
    // The platform's reason, e.g. "deviceNotEligible"; empty while available.
    QString unavailableText() const override;
    // When the consumer cancels or drops its stream, the worker stops
    // generating; the stream ends normally.
    std::unique_ptr<ReplyStream> streamResponse(const QString &to, const ChatHistory &history,
                                                const QString &systemPrompt) override;
    void reset() override;

    // The cached session, for inspection; null before the first reply and after reset().
    std::shared_ptr<LanguageModelSession> session() const { return m_session; }

private:
    void startWorker();

    std::shared_ptr<LanguageModelSession> m_session;
    QThread m_worker;
    std::unique_ptr<QObject> m_onWorker;  // lives on the worker thread once it runs
};
