#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The values that cross the on-device model layer, and the one interface an
// engine implements to stand behind it. The layer itself (SystemLanguageModel,
// LanguageModelSession) lives in LanguageModel.h.

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

// One step of a streamed reply: the whole text generated so far, not an increment.
struct ResponseSnapshot
{
    QString content;
};

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

using SnapshotCallback = std::function<void(const ResponseSnapshot &)>;
using CancelledPredicate = std::function<bool()>;

// The model behind the layer. A real on-device engine, or a scripted one in
// tests, implements this; nothing above the layer knows which one runs.
class LanguageModelEngine
{
public:
    virtual ~LanguageModelEngine() = default;

    // Read afresh on every call, on the GUI thread.
    virtual Availability availability() const = 0;

    // Produces one reply; runs on a worker thread and blocks until the reply
    // ends. `transcript` holds the session's earlier prompts and replies (not
    // this prompt). Calls `onSnapshot` with each growing whole text, in order.
    // Checks `isCancelled` between steps and stops early once it is true.
    // Returns no value when the reply is complete (or was stopped because it
    // was cancelled), or the error the reply failed with.
    virtual std::optional<LanguageModelError> generate(const QString &instructions,
                                                       const Transcript &transcript,
                                                       const QString &prompt,
                                                       const GenerationOptions &options,
                                                       const SnapshotCallback &onSnapshot,
                                                       const CancelledPredicate &isCancelled) = 0;
};
