#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A stand-in for the local Ollama server on 127.0.0.1, serving api/tags and
// streaming api/chat replies. It runs on threads of its own over plain sockets,
// so it keeps its pace whatever the program's GUI and network threads are doing
// (benchmarks time the program against it; drills kill the program under it).
class StandInServer
{
public:
    struct Reply
    {
        QList<QByteArray> lines;  // NDJSON lines, each ending in "\n"
        int intervalUs = 0;       // 0: as fast as the socket takes them
    };
    using ReplyMaker = std::function<Reply(const QByteArray &requestBody)>;

    StandInServer(QString modelName, ReplyMaker makeReply);
    ~StandInServer();
    StandInServer(const StandInServer &) = delete;
    StandInServer &operator=(const StandInServer &) = delete;

    // Listens on 127.0.0.1 at any free port.
    bool start();
    quint16 port() const { return m_port; }
    QUrl url() const;

    int tagsRequests() const { return m_tagsRequests; }
    int chatRequests() const { return m_chatRequests; }
    // CLOCK_MONOTONIC nanoseconds when the last reply's first and last lines
    // had been handed to the socket (0 before any).
    qint64 firstLineWrittenNs() const { return m_firstLineNs; }
    qint64 lastLineWrittenNs() const { return m_lastLineNs; }
    // True once the last reply's body has been written in full.
    bool replyComplete() const { return m_replyComplete; }

    // One streamed line as a server writes it, with the members a server sends.
    static QByteArray chatLine(const QString &content, bool done);
    // `text` cut into `count` pieces of near-equal size, as chat lines; the last one done.
    static QList<QByteArray> chatLines(const QString &text, int count);

private:
    void acceptLoop();
    void serve(int fd);
    bool streamReply(int fd, const Reply &reply);

    QString m_modelName;
    ReplyMaker m_makeReply;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
    std::vector<int> m_openFds;
    std::atomic<int> m_tagsRequests{0};
    std::atomic<int> m_chatRequests{0};
    std::atomic<qint64> m_firstLineNs{0};
    std::atomic<qint64> m_lastLineNs{0};
    std::atomic<bool> m_replyComplete{false};
};

// CLOCK_MONOTONIC in nanoseconds: comparable across threads and processes.
qint64 monotonicNs();
