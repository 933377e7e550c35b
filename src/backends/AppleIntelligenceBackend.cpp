#include "AppleIntelligenceBackend.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <atomic>

namespace {

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

AppleIntelligenceBackend::AppleIntelligenceBackend(QObject *parent) : ModelBackend(parent) {}
AppleIntelligenceBackend::~AppleIntelligenceBackend() = default;

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

std::optional<UnavailableReason> AppleIntelligenceBackend::unavailabilityReason() const
{
    const Availability now = SystemLanguageModel::defaultModel().availability();
    return now.available ? std::nullopt : now.reason;
}

std::unique_ptr<ReplyStream> AppleIntelligenceBackend::streamResponse(const QString &to,
                                                                      const QList<ChatMessage> &,
                                                                      const QString &systemPrompt)
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::streamResponse", "called off the main thread");
    // A session that exists keeps its own instructions; the prompt of this turn is ignored then.
    if (!m_session)
        m_session = std::make_shared<LanguageModelSession>(SystemLanguageModel::defaultModel(), systemPrompt);

    auto [stream, sink] = ReplyStream::create();
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    // A stopped reply is not worth generating further: stop the worker too.
    sink.onCancel([cancelled] { cancelled->store(true); });

    QThreadPool::globalInstance()->start([session = m_session, prompt = to, sink = sink, cancelled] {
        const auto error = session->streamResponse(
            prompt, GenerationOptions{},
            [&sink](const ResponseSnapshot &snapshot) { sink.yield(snapshot.content); },
            [&cancelled] { return cancelled->load(); });
        if (!error || error->isCancellation())
            sink.finish();
        else
            sink.fail({ReplyError::Kind::model, error->description});
    });
    return std::move(stream);
}

void AppleIntelligenceBackend::reset()
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::reset", "called off the main thread");
    m_session.reset();
}
