#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// The values that cross the on-device model layer, one streamed reply, and
// the interface an engine implements to stand behind the layer. The layer
// itself (SystemLanguageModel, LanguageModelSession) lives in LanguageModel.h.
// Everything here belongs to the GUI thread: an engine that computes
// elsewhere (a helper process, a worker thread) reports back to it.

// Why the system model cannot be used. The text form is the case name.
enum class UnavailableReason { deviceNotEligible, appleIntelligenceNotEnabled, modelNotReady };

// "deviceNotEligible", "appleIntelligenceNotEnabled" or "modelNotReady".
QString toString(UnavailableReason reason);

// Either available, or unavailable with a reason.
struct Availability
{
    bool available = false;
    std::optional<UnavailableReason> reason;  // set exactly when unavailable

    static Availability availableNow() { return {true, std::nullopt}; }
    static Availability unavailable(UnavailableReason why) { return {false, why}; }
    friend bool operator==(const Availability &, const Availability &) = default;
};

// Options of one reply. Every member left unset means "the model's default";
// the program leaves all of them unset.
struct GenerationOptions
{
    std::optional<double> temperature;
    std::optional<int> maximumResponseTokens;
};

// One entry of a session's transcript: a prompt the session was given or the
// reply it produced, in the order they happened.
struct TranscriptEntry
{
    enum class Kind { prompt, response };
    Kind kind;
    QString text;

    friend bool operator==(const TranscriptEntry &, const TranscriptEntry &) = default;
};
using Transcript = QList<TranscriptEntry>;

// What a reply can fail with. The description is a sentence the user can read.
struct LanguageModelError
{
    enum class Kind { cancelled, unavailable, generationFailed };
    Kind kind = Kind::generationFailed;
    QString description;

    static LanguageModelError cancellation()
    {
        return {Kind::cancelled, QStringLiteral("The reply was cancelled.")};
    }
    bool isCancellation() const { return kind == Kind::cancelled; }
};
Q_DECLARE_METATYPE(LanguageModelError)

// One reply as the engine produces it: whole-text snapshots, then finished()
// (the reply is complete, or ended early because it was stopped or the
// model's context was full: it keeps its text) or failed(). A cancellation
// error ends it as finished(). Nothing is emitted after the end.
class LanguageModelResponse : public QObject
{
    Q_OBJECT
public:
    QString content() const { return m_content; }
    bool hasEnded() const { return m_ended; }

    // The consumer's side: asks the engine to end the reply between two steps.
    void stop();
    bool isStopRequested() const { return m_stopRequested; }

    // The engine's side.
    void deliver(const QString &wholeText);
    void complete();
    void fail(const LanguageModelError &error);

signals:
    void snapshot(const QString &content);
    void finished();
    void failed(const LanguageModelError &error);
    // To the engine.
    void stopRequested();

private:
    QString m_content;
    bool m_stopRequested = false;
    bool m_ended = false;
};

// A session's state as the engine sees it: its instructions, and its
// transcript, which the layer extends after each reply that did not fail.
struct SessionRecord
{
    quint64 id = 0;
    QString instructions;
    Transcript transcript;
};

// The model behind the layer. A real engine, or a scripted one in tests,
// implements start() and availability(); the replies it is given run one at a
// time, in the order they were asked for, whatever session they belong to.
class LanguageModelEngine
{
public:
    // Replies still running or waiting fail: nothing will end them any more.
    virtual ~LanguageModelEngine();

    // Read afresh on every call.
    virtual Availability availability() const = 0;

    // Queues a reply to `prompt` in `session` (GUI thread). The session's
    // transcript is read when the reply starts, so it holds every reply
    // asked for before this one.
    void submit(std::shared_ptr<SessionRecord> session, const QString &prompt, const GenerationOptions &options,
                std::shared_ptr<LanguageModelResponse> response);

    // The session is gone: nothing more will be asked of it.
    virtual void sessionEnded(quint64 id) { Q_UNUSED(id); }

protected:
    struct Request
    {
        std::shared_ptr<SessionRecord> session;
        QString prompt;
        GenerationOptions options;
        std::shared_ptr<LanguageModelResponse> response;
    };

    // Runs the request (GUI thread; returns at once): deliver snapshots to its
    // response, and end it with complete() or fail() below, exactly once.
    virtual void start(const Request &request) = 0;

    // The running reply ended: records it in its session's transcript, ends
    // its response and starts the next request.
    void complete(const Request &request);
    void fail(const Request &request, const LanguageModelError &error);

private:
    void startNext();

    QList<Request> m_waiting;
    std::optional<Request> m_running;
    // Queued calls go through it, so that none reaches an engine that is gone.
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
};
