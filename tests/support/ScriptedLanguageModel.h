#pragma once

#include "LanguageModel.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// One scripted reply: the whole-text snapshots to produce, in order, and then
// either the end, a failure, or (with stallAfter) a wait until released.
struct ScriptedReply
{
    QStringList snapshots;
    // After all snapshots, fail with this description instead of completing.
    std::optional<QString> failure;
    // After this many snapshots, wait until release() or cancellation.
    std::optional<int> stallAfter;

    // A reply of these snapshots, then the end.
    static ScriptedReply of(QStringList snapshots) { return {std::move(snapshots), {}, {}}; }
    // These snapshots (possibly none), then a failure with `description`.
    static ScriptedReply failing(QStringList before, QString description)
    {
        return {std::move(before), std::move(description), {}};
    }
    // `before`, then a stall until released (or cancelled), then `after`.
    static ScriptedReply stalling(QStringList before, QStringList after = {})
    {
        const int n = int(before.size());
        return {before + after, {}, n};
    }
};

// What the model was asked, and how that reply ended.
struct ScriptedRequest
{
    enum class Outcome { running, completed, failed, cancelled };

    QString instructions;
    Transcript transcript;  // the session's earlier prompts and replies
    QString prompt;
    GenerationOptions options;
    Outcome outcome = Outcome::running;
    int snapshotsProduced = 0;
    quint64 sessionId = 0;
};

// A deterministic engine for tests. Replies are taken from a queue in order;
// with the queue empty, the reply is one snapshot "Reply to: <prompt>" (or
// whatever a responder set with setResponder returns). It generates on a
// worker thread of its own, as a real engine computes away from the GUI
// thread; what the test reads is guarded by a mutex. Install it with
// ScriptedLanguageModel::install() and remove it with uninstall() (the
// destructor of ScopedScriptedModel does that).
class ScriptedLanguageModel : public LanguageModelEngine
{
public:
    ScriptedLanguageModel();
    ~ScriptedLanguageModel() override;

    // Makes a new scripted model the default system model's engine.
    static std::shared_ptr<ScriptedLanguageModel> install();
    // Back to the build's own engine; releases stalls.
    static void uninstall();

    // Available by default.
    void setAvailability(Availability availability);
    void setAvailable() { setAvailability(Availability::availableNow()); }
    void setUnavailable(UnavailableReason reason) { setAvailability(Availability::unavailable(reason)); }

    void enqueue(ScriptedReply reply);
    void enqueue(QStringList snapshots) { enqueue(ScriptedReply::of(std::move(snapshots))); }
    // Used when the queue is empty; sees what was asked.
    void setResponder(std::function<ScriptedReply(const ScriptedRequest &)> responder);

    // Lets one stalled (or next-to-stall) reply go on; releaseAll() lets every one go.
    void release();
    void releaseAll();

    // Every request so far, in the order they arrived, with their outcome so far.
    QList<ScriptedRequest> requests() const;
    int requestCount() const;
    std::optional<ScriptedRequest> lastRequest() const;
    // Replies waiting at their stall point right now.
    int stalledCount() const;
    int runningCount() const;
    // Whether the layer has let go of the session (the backend was reset).
    bool hasEndedSession(quint64 id) const;

    Availability availability() const override;
    void sessionEnded(quint64 id) override;

protected:
    void start(const Request &request) override;

private:
    using Cancelled = std::function<bool()>;
    // Runs on the worker thread.
    std::optional<LanguageModelError> generate(ScriptedRequest request,
                                               const std::function<void(const QString &)> &onSnapshot,
                                               const Cancelled &isCancelled);
    ScriptedReply nextReply(const ScriptedRequest &request);
    void setOutcome(int index, ScriptedRequest::Outcome outcome);
    // Returns false when cancelled while stalled.
    bool waitForRelease(const Cancelled &isCancelled);

    QThread m_worker;
    std::unique_ptr<QObject> m_onWorker;
    std::unique_ptr<QObject> m_onGui;
    std::optional<Request> m_current;  // GUI thread only
    QSet<quint64> m_endedSessions;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    Availability m_availability = Availability::availableNow();
    QList<ScriptedReply> m_queue;
    std::function<ScriptedReply(const ScriptedRequest &)> m_responder;
    QList<ScriptedRequest> m_requests;
    int m_permits = 0;
    bool m_releaseAll = false;
    int m_stalled = 0;
};

// Installs a scripted model for the life of a scope (a test function).
class ScopedScriptedModel
{
public:
    ScopedScriptedModel() : m_model(ScriptedLanguageModel::install()) {}
    ~ScopedScriptedModel() { ScriptedLanguageModel::uninstall(); }
    ScopedScriptedModel(const ScopedScriptedModel &) = delete;
    ScopedScriptedModel &operator=(const ScopedScriptedModel &) = delete;

    ScriptedLanguageModel *operator->() const { return m_model.get(); }
    ScriptedLanguageModel &operator*() const { return *m_model; }
    const std::shared_ptr<ScriptedLanguageModel> &get() const { return m_model; }

private:
    std::shared_ptr<ScriptedLanguageModel> m_model;
};
