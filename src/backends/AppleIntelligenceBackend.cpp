// PLACEHOLDER: replaced by the real implementation.
#include "AppleIntelligenceBackend.h"

AppleIntelligenceBackend::AppleIntelligenceBackend(QObject *parent) : ModelBackend(parent) {}
AppleIntelligenceBackend::~AppleIntelligenceBackend() = default;

ModelInfo AppleIntelligenceBackend::info() const
{
    return ModelInfo(QStringLiteral("apple-intelligence"), QStringLiteral("Apple Intelligence"),
                     ModelSource::appleIntelligence, QString::fromUtf8("On-device \u00B7 Private"));
}

bool AppleIntelligenceBackend::isAvailable() const { return SystemLanguageModel::defaultModel().isAvailable(); }
std::optional<UnavailableReason> AppleIntelligenceBackend::unavailabilityReason() const
{
    return SystemLanguageModel::defaultModel().availability().reason;
}

std::unique_ptr<ReplyStream> AppleIntelligenceBackend::streamResponse(const QString &, const QList<ChatMessage> &, const QString &)
{
    auto [stream, sink] = ReplyStream::create();
    sink.finish();
    return std::move(stream);
}

void AppleIntelligenceBackend::reset() { m_session.reset(); }
