#pragma once

#include "LocalHttpServer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

class QThread;

// A stand-in for the local Ollama server: GET /api/tags lists its models, POST
// /api/chat streams the NDJSON lines its reply maker gives, at the reply's pace
// and never faster than the client takes them. It is a LocalHttpServer with an
// Ollama-shaped handler, run on a thread of its own (benchmarks time the program
// against it and drills kill the program under it, whatever the program's
// threads are doing) or on the caller's thread (hushwing-standin, whose event
// loop serves nothing else).
class OllamaStandInServer
{
public:
    struct Model
    {
        QString name;
        qint64 size = 4700000000;  // bytes; above 2^32, as large models are
    };
    struct Reply
    {
        QList<QByteArray> lines;  // NDJSON lines, each ending in "\n"
        int intervalUs = 0;       // between lines; 0: as fast as the client takes them
    };
    // Called on the server's thread with each chat request's body.
    using ReplyMaker = std::function<Reply(const QByteArray &requestBody)>;
    enum class Thread { own, caller };

    OllamaStandInServer(QList<Model> models, ReplyMaker makeReply);
    ~OllamaStandInServer();
    OllamaStandInServer(const OllamaStandInServer &) = delete;
    OllamaStandInServer &operator=(const OllamaStandInServer &) = delete;

    // Listens on 127.0.0.1 at `port` (0: any free port).
    bool start(quint16 port = 0, Thread thread = Thread::own);
    quint16 port() const { return m_port; }
    QUrl url() const;

    int tagsRequests() const { return m_tagsRequests; }
    int chatRequests() const { return m_chatRequests; }
    // CLOCK_MONOTONIC nanoseconds when the last reply's first and last lines had
    // been taken by the operating system (0 before any).
    qint64 firstLineWrittenNs() const { return m_firstLineNs; }
    qint64 lastLineWrittenNs() const { return m_lastLineNs; }
    // True once the last reply's body has been written in full.
    bool replyComplete() const { return m_replyComplete; }
    // monotonicNs() when the last chat request's first bytes were read and
    // when it was whole (0 before any): the time the request took to arrive.
    qint64 requestFirstByteNs() const { return m_requestFirstByteNs; }
    qint64 requestWholeNs() const { return m_requestWholeNs; }

    // One streamed line as a server writes it, with the members a server sends.
    static QByteArray chatLine(const QString &content, bool done,
                               const QString &model = QStringLiteral("standin"));
    // `text` cut into `count` pieces of near-equal size, as chat lines; the last one done.
    static QList<QByteArray> chatLines(const QString &text, int count);
    // The body of a tags reply listing `models`.
    static QByteArray tagsBody(const QList<Model> &models);

private:
    void handle(const HttpRequest &request, HttpExchange *exchange);

    const QList<Model> m_models;
    const ReplyMaker m_makeReply;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QObject> m_threadContext;  // lives on m_thread
    std::unique_ptr<LocalHttpServer> m_server;  // lives on m_thread, or the caller's
    quint16 m_port = 0;
    std::atomic<int> m_tagsRequests{0};
    std::atomic<int> m_chatRequests{0};
    std::atomic<qint64> m_firstLineNs{0};
    std::atomic<qint64> m_lastLineNs{0};
    std::atomic<bool> m_replyComplete{false};
    std::atomic<qint64> m_requestFirstByteNs{0};
    std::atomic<qint64> m_requestWholeNs{0};
};
