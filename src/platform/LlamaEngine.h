#pragma once

#include "EngineProcess.h"
#include "LanguageModelEngine.h"
#include "ModelChoice.h"

#include <QPointer>

// The on-device engine of a build with llama.cpp: the model is the GGUF file
// that ModelChoice picks in the Models folder, run by the hushwing-engine
// helper process, which holds one conversation at a time in its cache.
//
// - Available whenever the Models folder holds a candidate file (the check
//   reads a folder listing and a few kilobytes; the model is loaded only at
//   a send). Otherwise unavailable with modelNotReady.
// - A changed file (path, size, time, inode) is noticed at the next reply:
//   the helper is started afresh on it.
// - A reply of another session than the helper holds opens that session
//   first, with its instructions and the transcript it has so far.
// - Stop reaches the helper between two tokens; it keeps its cache.
// - The helper's end in the middle of a reply (a crash, llama.cpp ending it
//   on a bad file, the out-of-memory killer) fails that reply with a sentence
//   naming the file; the window and the conversation are untouched, and the
//   next reply starts a new helper.
class LlamaEngine : public LanguageModelEngine
{
public:
    // What the last reply cost, as the helper measured it (tests, benchmarks).
    using Statistics = EngineProcess::Statistics;

    LlamaEngine();
    ~LlamaEngine() override;

    Availability availability() const override;

    // The helper: <this program's folder>/../lib/hushwing/hushwing-engine.
    static QString helperProgram();
    // Generation threads: all cores but one, which the window keeps (1 to 8).
    static int defaultThreadCount();

    // Not for users: the benchmarks and tests choose these; the next reply
    // starts a new helper with them.
    void setThreadCount(int threads) { m_threads = threads; }
    void setContextLength(int tokens) { m_contextLength = tokens; }
    // A fixed sampling seed: the same model, prompt and thread count then
    // give the same reply (tests: random weights must not end a reply early).
    void setSeed(std::optional<quint32> seed) { m_seed = seed; }

    Statistics lastReply() const { return m_last; }
    // A reply is running in the helper (a stopped stream ends before its reply does).
    bool isReplying() const { return m_running.has_value(); }
    qint64 helperProcessId() const { return m_helper ? m_helper->processId() : 0; }

protected:
    void start(const Request &request) override;

private:
    bool ensureHelper(const ModelFile &file, const Request &request);
    void dropHelper();
    void connectHelper();
    void endRunning(const std::optional<LanguageModelError> &error);

    QPointer<EngineProcess> m_helper;
    ModelFile m_helperFile;
    QStringList m_helperArguments;
    quint64 m_helperSession = 0;  // the session the helper's cache holds
    std::optional<Request> m_running;
    QString m_text;  // the running reply so far
    QMetaObject::Connection m_stopConnection;
    Statistics m_last;
    int m_threads;
    int m_contextLength = 4096;
    std::optional<quint32> m_seed;
};
