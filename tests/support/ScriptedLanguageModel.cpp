#include "ScriptedLanguageModel.h"

#include <atomic>
#include <chrono>

ScriptedLanguageModel::ScriptedLanguageModel()
    : m_onWorker(std::make_unique<QObject>()), m_onGui(std::make_unique<QObject>())
{
    m_worker.setObjectName(QStringLiteral("Scripted model"));
    m_onWorker->moveToThread(&m_worker);
    m_worker.start();
}

// What the worker still posts to the GUI side goes with m_onGui, unrun.
ScriptedLanguageModel::~ScriptedLanguageModel()
{
    releaseAll();
    QMetaObject::invokeMethod(m_onWorker.get(), [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    m_worker.wait();
}

std::shared_ptr<ScriptedLanguageModel> ScriptedLanguageModel::install()
{
    auto model = std::make_shared<ScriptedLanguageModel>();
    SystemLanguageModel::installEngine(model);
    return model;
}

void ScriptedLanguageModel::uninstall()
{
    auto current = std::dynamic_pointer_cast<ScriptedLanguageModel>(SystemLanguageModel::defaultModel().engine());
    SystemLanguageModel::restoreDefaultEngine();
    // A reply still stalled would hold its worker thread for good.
    if (current)
        current->releaseAll();
}

void ScriptedLanguageModel::sessionEnded(quint64 id)
{
    std::lock_guard lock(m_mutex);
    m_endedSessions.insert(id);
}

bool ScriptedLanguageModel::hasEndedSession(quint64 id) const
{
    std::lock_guard lock(m_mutex);
    return m_endedSessions.contains(id);
}

void ScriptedLanguageModel::start(const Request &request)
{
    m_current = request;
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    QObject::connect(request.response.get(), &LanguageModelResponse::stopRequested, m_onGui.get(),
                     [cancelled] { *cancelled = true; });
    const ScriptedRequest asked{request.session->instructions, request.session->transcript, request.prompt,
                                request.options, ScriptedRequest::Outcome::running, 0, request.session->id};
    QObject *gui = m_onGui.get();
    QMetaObject::invokeMethod(m_onWorker.get(), [this, gui, asked, cancelled] {
        const auto error = generate(
            asked,
            [this, gui](const QString &text) {
                QMetaObject::invokeMethod(gui, [this, text] {
                    if (m_current)
                        m_current->response->deliver(text);
                }, Qt::QueuedConnection);
            },
            [cancelled] { return cancelled->load(); });
        QMetaObject::invokeMethod(gui, [this, error] {
            if (!m_current)
                return;
            const Request done = *std::exchange(m_current, std::nullopt);
            if (error)
                fail(done, *error);
            else
                complete(done);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
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

bool ScriptedLanguageModel::waitForRelease(const Cancelled &isCancelled)
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
    ScriptedRequest request, const std::function<void(const QString &)> &onSnapshot, const Cancelled &isCancelled)
{
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
        onSnapshot(reply.snapshots[i]);
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
