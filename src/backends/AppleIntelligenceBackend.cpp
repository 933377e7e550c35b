#include "AppleIntelligenceBackend.h"

#include <QCoreApplication>
#include <QThread>

namespace {

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

ModelInfo AppleIntelligenceBackend::info() const
{
    static const ModelInfo fixed(QStringLiteral("apple-intelligence"), QStringLiteral("Apple Intelligence"),
                                 ModelSource::appleIntelligence,
                                 QString::fromUtf8("On-device \u00B7 Private"));
    return fixed;
}

bool AppleIntelligenceBackend::isAvailable() const
{
    return SystemLanguageModel::defaultModel().isAvailable();
}

QString AppleIntelligenceBackend::unavailableText() const
{
    const Availability now = SystemLanguageModel::defaultModel().availability();
    return now.available ? QString() : toString(now.reason.value_or(UnavailableReason::deviceNotEligible));
}

std::unique_ptr<ReplyStream> AppleIntelligenceBackend::streamResponse(const QString &to,
                                                                      const ChatHistory &,
                                                                      const QString &systemPrompt)
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::streamResponse", "called off the main thread");
    // A session that exists keeps its own instructions; the prompt of this turn is ignored then.
    if (!m_session)
        m_session = std::make_unique<LanguageModelSession>(SystemLanguageModel::defaultModel(), systemPrompt);

    auto stream = std::make_unique<ReplyStream>();
    const auto response = m_session->streamResponse(to);
    ReplyStream *sink = stream.get();
    connect(response.get(), &LanguageModelResponse::snapshot, sink, &ReplyStream::setText);
    connect(response.get(), &LanguageModelResponse::finished, sink, &ReplyStream::finish);
    connect(response.get(), &LanguageModelResponse::failed, sink, [sink](const LanguageModelError &error) {
        sink->fail({ReplyError::Kind::model, error.description});
    });
    // A stopped or dropped stream is not worth generating further.
    connect(sink, &ReplyStream::stopRequested, response.get(), &LanguageModelResponse::stop);
    return stream;
}

void AppleIntelligenceBackend::reset()
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::reset", "called off the main thread");
    m_session.reset();
}
