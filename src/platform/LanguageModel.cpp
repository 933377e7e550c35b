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
    defaultModel().m_engine = std::move(engine);
}

std::shared_ptr<LanguageModelEngine> SystemLanguageModel::engine() const
{
    return m_engine;
}

LanguageModelSession::LanguageModelSession(const SystemLanguageModel &model, QString instructions)
    : m_instructions(std::move(instructions)), m_engine(model.engine())
{
}

std::optional<LanguageModelError> LanguageModelSession::streamResponse(
    const QString &prompt, const GenerationOptions &options, const SnapshotCallback &onSnapshot,
    const CancelledPredicate &isCancelled)
{
    if (isCancelled())
        return LanguageModelError::cancellation();
    if (!m_engine)
        return LanguageModelError{LanguageModelError::Kind::unavailable,
                                  QStringLiteral("This device cannot run the on-device language model.")};

    // Keep the last snapshot: it is the reply the transcript remembers.
    QString text;
    const auto error = m_engine->generate(m_instructions, m_transcript, prompt, options,
                                          [&](const ResponseSnapshot &snapshot) {
                                              text = snapshot.content;
                                              onSnapshot(snapshot);
                                          },
                                          isCancelled);
    const bool cancelled = (error && error->isCancellation()) || (!error && isCancelled());

    if (error && !cancelled)
        return error;
    m_transcript.append({TranscriptEntry::Kind::prompt, prompt});
    m_transcript.append({TranscriptEntry::Kind::response, text});
    if (cancelled)
        return LanguageModelError::cancellation();
    return std::nullopt;
}
