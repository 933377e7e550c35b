#pragma once

#include <QObject>
#include <QProcess>

// The window's side of one hushwing-engine helper: starts it on a model file
// and talks to it over its stdin/stdout with asynchronous I/O on the GUI
// thread (no thread, no lock). One JSON object per line each way:
//
//   to the helper     {"open": {"instructions": "...", "transcript": [{"role", "content"}...]}}
//                     {"reply": "prompt"}        {"stop": n} (stops the n-th reply, counted from 1)
//   from the helper   {"ready": {"context", "threads", "loadMs"}}   {"fatal": "sentence"} (then it ends)
//                     {"piece": "text"} ...  then {"end": "complete" | "stopped" | "contextFull",
//                     "promptTokens", "generatedTokens", "contextUsed", "promptMs",
//                     "firstPieceMs", "generateMs"}  or  {"error": "sentence"}
//
// Closing its stdin ends the helper; so does destroying this object.
class EngineProcess : public QObject
{
    Q_OBJECT
public:
    struct Statistics
    {
        QString end;
        int promptTokens = 0;
        int generatedTokens = 0;
        int contextUsed = 0;
        double promptMs = 0;
        double firstPieceMs = -1;
        double generateMs = 0;
    };

    EngineProcess(const QString &program, const QStringList &arguments, QObject *parent = nullptr);
    ~EngineProcess() override;

    void open(const QString &instructions, const QList<QPair<QString, QString>> &transcript);
    void reply(const QString &prompt);
    void stop();

    qint64 processId() const { return m_process.processId(); }

signals:
    void ready();
    void piece(const QString &text);
    void ended(const EngineProcess::Statistics &statistics);
    // A reply failed; the helper goes on.
    void failed(const QString &sentence);
    // The helper refused its model and ended.
    void refused(const QString &sentence);
    // The helper ended without saying why: it crashed, was killed, or could not start.
    void died(const QString &how);

private:
    void send(const QJsonObject &message);
    void readLines();
    void handle(const QJsonObject &message);
    void onFinished(int exitCode, QProcess::ExitStatus status);

    QProcess m_process;
    QByteArray m_partial;
    qint64 m_replies = 0;
    bool m_refused = false;
};
