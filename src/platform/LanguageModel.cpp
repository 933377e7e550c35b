#include "LanguageModel.h"

QString toString(UnavailableReason reason)
{
    switch (reason) {
    case UnavailableReason::deviceNotEligible: return QStringLiteral("deviceNotEligible");
    case UnavailableReason::appleIntelligenceNotEnabled: return QStringLiteral("appleIntelligenceNotEnabled");
    case UnavailableReason::modelNotReady: return QStringLiteral("modelNotReady");
    }
    return {};
}

SystemLanguageModel &SystemLanguageModel::defaultModel()
{
    static SystemLanguageModel model;
    return model;
}

Availability SystemLanguageModel::availability() const
{
    if (const auto current = engine())
        return current->availability();
    // No on-device model exists on this platform.
    return Availability::unavailable(UnavailableReason::deviceNotEligible);
}

void SystemLanguageModel::installEngine(std::shared_ptr<LanguageModelEngine> engine)
{
    SystemLanguageModel &model = defaultModel();
    std::lock_guard lock(model.m_mutex);
    model.m_engine = std::move(engine);
}

std::shared_ptr<LanguageModelEngine> SystemLanguageModel::engine() const
{
    std::lock_guard lock(m_mutex);
    return m_engine;
}

LanguageModelSession::LanguageModelSession(const SystemLanguageModel &model, QString instructions)
    : m_instructions(std::move(instructions)), m_engine(model.engine())
{
}

Transcript LanguageModelSession::transcript() const
{
    std::lock_guard lock(m_stateMutex);
    return m_transcript;
}

bool LanguageModelSession::isResponding() const
{
    std::lock_guard lock(m_stateMutex);
    return m_responding;
}

std::optional<LanguageModelError> LanguageModelSession::streamResponse(
    const QString &prompt, const GenerationOptions &options, const SnapshotCallback &onSnapshot,
    const CancelledPredicate &isCancelled)
{
    std::lock_guard reply(m_replyMutex);
    if (isCancelled())
        return LanguageModelError::cancellation();
    if (!m_engine)
        return LanguageModelError{LanguageModelError::Kind::unavailable,
                                  QStringLiteral("This device cannot run the on-device language model.")};

    Transcript before;
    {
        std::lock_guard lock(m_stateMutex);
        before = m_transcript;
        m_responding = true;
    }
    // Keep the last snapshot: it is the reply the transcript remembers.
    QString text;
    const auto error = m_engine->generate(m_instructions, before, prompt, options,
                                          [&](const ResponseSnapshot &snapshot) {
                                              text = snapshot.content;
                                              onSnapshot(snapshot);
                                          },
                                          isCancelled);
    const bool cancelled = (error && error->isCancellation()) || (!error && isCancelled());

    std::lock_guard lock(m_stateMutex);
    m_responding = false;
    if (error && !cancelled)
        return error;
    m_transcript.append({TranscriptEntry::Kind::prompt, prompt});
    m_transcript.append({TranscriptEntry::Kind::response, text});
    if (cancelled)
        return LanguageModelError::cancellation();
    return std::nullopt;
}
