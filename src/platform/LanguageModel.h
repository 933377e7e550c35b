#pragma once

#include "LanguageModelEngine.h"

#include <QString>
#include <memory>

// The on-device language model layer. The program asks it whether the system
// model can be used and runs replies in sessions that keep their own
// transcript. In a build with llama.cpp the default model is the llama
// engine (LlamaEngine.h), which runs a GGUF file from the Models folder; in a
// build without it, the default model is unavailable with deviceNotEligible.
//
// Threads: all of it belongs to the GUI thread. Engines compute elsewhere and
// report back there.

class SystemLanguageModel
{
public:
    // The system's general-purpose model (one per process).
    static SystemLanguageModel &defaultModel();

    // Both read the engine's state afresh on every call.
    Availability availability() const;
    bool isAvailable() const { return availability().available; }

    // The one seam through which an engine stands behind the default model:
    // tests install a scripted one; nullptr means none at all (a build with
    // no engine); restoreDefaultEngine() goes back to the build's own.
    // Sessions keep the engine they were created with.
    static void installEngine(std::shared_ptr<LanguageModelEngine> engine);
    static void restoreDefaultEngine();
    std::shared_ptr<LanguageModelEngine> engine() const;

private:
    SystemLanguageModel();
    std::shared_ptr<LanguageModelEngine> m_engine;
};

// A conversation with the model. It is created with instructions (the system
// prompt) and no tools, and keeps the transcript of every prompt and reply
// made through it: a reply that completes, or ends early (stopped, context
// full), adds its prompt and its text; a failed one adds nothing.
class LanguageModelSession
{
public:
    LanguageModelSession(const SystemLanguageModel &model, QString instructions);
    ~LanguageModelSession();
    LanguageModelSession(const LanguageModelSession &) = delete;
    LanguageModelSession &operator=(const LanguageModelSession &) = delete;

    QString instructions() const { return m_record->instructions; }
    Transcript transcript() const { return m_record->transcript; }

    // Starts a reply to `prompt` and returns at once; the response reports
    // later, from the event loop, never within this call. Replies asked for
    // while another runs wait their turn.
    std::shared_ptr<LanguageModelResponse> streamResponse(const QString &prompt,
                                                          const GenerationOptions &options = {});

private:
    const std::shared_ptr<LanguageModelEngine> m_engine;
    const std::shared_ptr<SessionRecord> m_record;
};
