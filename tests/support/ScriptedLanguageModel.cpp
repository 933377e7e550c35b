#include "ScriptedLanguageModel.h"

#include <chrono>

ScriptedLanguageModel::ScriptedLanguageModel() = default;

ScriptedLanguageModel::~ScriptedLanguageModel() = default;

std::shared_ptr<ScriptedLanguageModel> ScriptedLanguageModel::install()
{
    auto model = std::make_shared<ScriptedLanguageModel>();
    SystemLanguageModel::installEngine(model);
    return model;
}

void ScriptedLanguageModel::uninstall()
{
    auto current = std::dynamic_pointer_cast<ScriptedLanguageModel>(SystemLanguageModel::defaultModel().engine());
    SystemLanguageModel::installEngine(nullptr);
    // A reply still stalled would hold its worker thread for good.
    if (current)
        current->releaseAll();
}

void ScriptedLanguageModel::setAvailability(Availability availability)
{
    std::lock_guard lock(m_mutex);
    m_availability = availability;
}

Availability ScriptedLanguageModel::availability() const
{
    std::lock_guard lock(m_mutex);
    return m_availability;
}

void ScriptedLanguageModel::enqueue(ScriptedReply reply)
{
    std::lock_guard lock(m_mutex);
    m_queue.append(std::move(reply));
}

void ScriptedLanguageModel::setResponder(std::function<ScriptedReply(const ScriptedRequest &)> responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedLanguageModel::release()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_permits;
    }
    m_released.notify_all();
}

void ScriptedLanguageModel::releaseAll()
{
    {
        std::lock_guard lock(m_mutex);
        m_releaseAll = true;
    }
    m_released.notify_all();
}

QList<ScriptedRequest> ScriptedLanguageModel::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int ScriptedLanguageModel::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

std::optional<ScriptedRequest> ScriptedLanguageModel::lastRequest() const
{
    std::lock_guard lock(m_mutex);
    if (m_requests.isEmpty())
        return std::nullopt;
    return m_requests.last();
}

int ScriptedLanguageModel::stalledCount() const
{
    std::lock_guard lock(m_mutex);
    return m_stalled;
}

int ScriptedLanguageModel::runningCount() const
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto &r : m_requests)
        n += r.outcome == ScriptedRequest::Outcome::running;
    return n;
}

ScriptedReply ScriptedLanguageModel::nextReply(const ScriptedRequest &request)
{
    std::function<ScriptedReply(const ScriptedRequest &)> responder;
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue.isEmpty())
            return m_queue.takeFirst();
        responder = m_responder;
    }
    if (responder)
        return responder(request);
    return ScriptedReply::of({QStringLiteral("Reply to: ") + request.prompt});
}

void ScriptedLanguageModel::setOutcome(int index, ScriptedRequest::Outcome outcome)
{
    std::lock_guard lock(m_mutex);
    m_requests[index].outcome = outcome;
}

bool ScriptedLanguageModel::waitForRelease(const CancelledPredicate &isCancelled)
{
    std::unique_lock lock(m_mutex);
    ++m_stalled;
    // Cancellation is a flag set elsewhere, not a notification: look at it often.
    while (!m_releaseAll && m_permits == 0) {
        lock.unlock();
        const bool cancelled = isCancelled();
        lock.lock();
        if (cancelled) {
            --m_stalled;
            return false;
        }
        m_released.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (!m_releaseAll)
        --m_permits;
    --m_stalled;
    return true;
}

std::optional<LanguageModelError> ScriptedLanguageModel::generate(
    const QString &instructions, const Transcript &transcript, const QString &prompt,
    const GenerationOptions &options, const SnapshotCallback &onSnapshot, const CancelledPredicate &isCancelled)
{
    ScriptedRequest request{instructions, transcript, prompt, options, ScriptedRequest::Outcome::running, 0};
    int index = 0;
    {
        std::lock_guard lock(m_mutex);
        index = int(m_requests.size());
        m_requests.append(request);
    }
    const ScriptedReply reply = nextReply(request);

    for (int i = 0; i <= reply.snapshots.size(); ++i) {
        if (reply.stallAfter && *reply.stallAfter == i && !waitForRelease(isCancelled)) {
            setOutcome(index, ScriptedRequest::Outcome::cancelled);
            return LanguageModelError::cancellation();
        }
        if (isCancelled()) {
            setOutcome(index, ScriptedRequest::Outcome::cancelled);
            return LanguageModelError::cancellation();
        }
        if (i == reply.snapshots.size())
            break;
        onSnapshot({reply.snapshots[i]});
        std::lock_guard lock(m_mutex);
        ++m_requests[index].snapshotsProduced;
    }
    if (reply.failure) {
        setOutcome(index, ScriptedRequest::Outcome::failed);
        return LanguageModelError{LanguageModelError::Kind::generationFailed, *reply.failure};
    }
    setOutcome(index, ScriptedRequest::Outcome::completed);
    return std::nullopt;
}
