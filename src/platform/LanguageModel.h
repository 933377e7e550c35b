#pragma once

#include "LanguageModelEngine.h"

#include <QString>
#include <memory>
#include <optional>

// The on-device language model layer. The program asks it whether the system
// model can be used and runs replies in sessions that keep their own
// transcript. Linux has no on-device model: unless an engine has been
// installed, the default model is unavailable with deviceNotEligible.
//
// Threads, without locks: SystemLanguageModel belongs to the GUI thread. A
// session is made on the GUI thread and from then on used by one thread at a
// time: the on-device backend hands it to its one worker thread, which runs
// the session's replies one after another, so the transcript is written there
// only and stays in order. Read the transcript on the thread that runs the
// replies, or after the end of the last reply has been reported back.

class SystemLanguageModel
{
public:
    // The system's general-purpose model (one per process).
    static SystemLanguageModel &defaultModel();

    // Both read the engine's state afresh on every call.
    Availability availability() const;
    bool isAvailable() const { return availability().available; }

    // The one seam through which an engine stands behind the default model:
    // tests install a scripted one; nullptr goes back to none. Sessions keep
    // the engine they were created with.
    static void installEngine(std::shared_ptr<LanguageModelEngine> engine);
    std::shared_ptr<LanguageModelEngine> engine() const;

private:
    SystemLanguageModel() = default;
    std::shared_ptr<LanguageModelEngine> m_engine;
};

// A conversation with the model. It is created with instructions (the system
// prompt) and no tools, and keeps the transcript of every prompt and reply
// made through it. Replies run one at a time, on the thread that owns it (above).
class LanguageModelSession
{
public:
    LanguageModelSession(const SystemLanguageModel &model, QString instructions);

    QString instructions() const { return m_instructions; }
    Transcript transcript() const { return m_transcript; }

    // Streams a reply to `prompt`: blocks the calling (worker) thread, calls
    // `onSnapshot` with each growing whole text, and returns no value when the
    // reply ends, a cancellation error when `isCancelled` stopped it, or the
    // error it failed with. A complete or cancelled reply adds the prompt and
    // the text produced to the transcript; a failed one adds nothing.
    std::optional<LanguageModelError> streamResponse(const QString &prompt,
                                                     const GenerationOptions &options,
                                                     const SnapshotCallback &onSnapshot,
                                                     const CancelledPredicate &isCancelled);

private:
    const QString m_instructions;
    const std::shared_ptr<LanguageModelEngine> m_engine;
    Transcript m_transcript;
};
