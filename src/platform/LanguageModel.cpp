#include "LanguageModel.h"

#ifdef HUSHWING_HAS_ENGINE
#include "LlamaEngine.h"
#endif

QString toString(UnavailableReason reason)
{
    switch (reason) {
    case UnavailableReason::deviceNotEligible: return QStringLiteral("deviceNotEligible");
    case UnavailableReason::appleIntelligenceNotEnabled: return QStringLiteral("appleIntelligenceNotEnabled");
    case UnavailableReason::modelNotReady: return QStringLiteral("modelNotReady");
    }
    return {};
}

// --- LanguageModelResponse

void LanguageModelResponse::stop()
{
    if (m_ended || m_stopRequested)
        return;
    m_stopRequested = true;
    emit stopRequested();
}

void LanguageModelResponse::deliver(const QString &wholeText)
{
    if (m_ended || wholeText == m_content)
        return;
    m_content = wholeText;
    emit snapshot(m_content);
}

void LanguageModelResponse::complete()
{
    if (m_ended)
        return;
    m_ended = true;
    emit finished();
}

void LanguageModelResponse::fail(const LanguageModelError &error)
{
    if (error.isCancellation()) {
        complete();
        return;
    }
    if (m_ended)
        return;
    m_ended = true;
    emit failed(error);
}

// --- LanguageModelEngine

LanguageModelEngine::~LanguageModelEngine()
{
    const LanguageModelError gone{LanguageModelError::Kind::unavailable,
                                  QStringLiteral("The on-device model was shut down.")};
    if (m_running)
        m_running->response->fail(gone);
    for (const Request &request : std::as_const(m_waiting))
        request.response->fail(gone);
}

void LanguageModelEngine::submit(std::shared_ptr<SessionRecord> session, const QString &prompt,
                                 const GenerationOptions &options, std::shared_ptr<LanguageModelResponse> response)
{
    m_waiting.append({std::move(session), prompt, options, std::move(response)});
    // From the event loop: a reply never reports within the call that asked for it.
    if (!m_running && m_waiting.size() == 1)
        QMetaObject::invokeMethod(m_context.get(), [this] { startNext(); }, Qt::QueuedConnection);
}

void LanguageModelEngine::startNext()
{
    m_running.reset();
    if (m_waiting.isEmpty())
        return;
    m_running = m_waiting.takeFirst();
    const Request request = *m_running;
    if (request.response->isStopRequested())
        complete(request);  // stopped while it waited: an empty reply
    else
        start(request);
}

void LanguageModelEngine::complete(const Request &request)
{
    request.session->transcript.append({TranscriptEntry::Kind::prompt, request.prompt});
    request.session->transcript.append({TranscriptEntry::Kind::response, request.response->content()});
    request.response->complete();
    startNext();
}

void LanguageModelEngine::fail(const Request &request, const LanguageModelError &error)
{
    if (error.isCancellation()) {
        complete(request);
        return;
    }
    request.response->fail(error);
    startNext();
}

// --- SystemLanguageModel

namespace {

std::shared_ptr<LanguageModelEngine> buildsOwnEngine()
{
#ifdef HUSHWING_HAS_ENGINE
    return std::make_shared<LlamaEngine>();
#else
    return nullptr;
#endif
}

} // namespace

SystemLanguageModel::SystemLanguageModel() : m_engine(buildsOwnEngine()) {}

SystemLanguageModel &SystemLanguageModel::defaultModel()
{
    static SystemLanguageModel model;
    return model;
}

Availability SystemLanguageModel::availability() const
{
    if (const auto current = engine())
        return current->availability();
    // This build has no on-device engine.
    return Availability::unavailable(UnavailableReason::deviceNotEligible);
}

void SystemLanguageModel::installEngine(std::shared_ptr<LanguageModelEngine> engine)
{
    defaultModel().m_engine = std::move(engine);
}

void SystemLanguageModel::restoreDefaultEngine()
{
    installEngine(buildsOwnEngine());
}

std::shared_ptr<LanguageModelEngine> SystemLanguageModel::engine() const
{
    return m_engine;
}

// --- LanguageModelSession

namespace {

// Fails every reply with the same sentence: the model of a build without an engine.
class NoEngine : public LanguageModelEngine
{
public:
    Availability availability() const override
    {
        return Availability::unavailable(UnavailableReason::deviceNotEligible);
    }

protected:
    void start(const Request &request) override
    {
        fail(request, {LanguageModelError::Kind::unavailable,
                       QStringLiteral("This device cannot run the on-device language model.")});
    }
};

quint64 nextSessionId()
{
    static quint64 last = 0;
    return ++last;
}

} // namespace

LanguageModelSession::LanguageModelSession(const SystemLanguageModel &model, QString instructions)
    : m_engine(model.engine() ? model.engine() : std::make_shared<NoEngine>()),
      m_record(std::make_shared<SessionRecord>(SessionRecord{nextSessionId(), std::move(instructions), {}}))
{
}

LanguageModelSession::~LanguageModelSession()
{
    m_engine->sessionEnded(m_record->id);
}

std::shared_ptr<LanguageModelResponse> LanguageModelSession::streamResponse(const QString &prompt,
                                                                            const GenerationOptions &options)
{
    auto response = std::make_shared<LanguageModelResponse>();
    m_engine->submit(m_record, prompt, options, response);
    return response;
}
