#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for tests, drills, benchmarks and tools.
// It runs on the thread that made it: in a test, every wait (QSignalSpy::wait,
// QTest::qWait) lets it work; OllamaStandInServer can give it a thread of its own.
// Each request is handed to `handler` with an exchange through which the caller
// answers however it likes: whole, chunked, in split writes, late, or not at all.

struct HttpRequest
{
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers;  // as received, in order
    QByteArray body;
    // When its first bytes were read and when it was whole (monotonicNs()).
    qint64 firstByteNs = 0;
    qint64 wholeNs = 0;

    QByteArray header(const QByteArray &name) const;  // case-insensitive, first match
    int headerCount(const QByteArray &name) const;
};

class HttpExchange : public QObject
{
    Q_OBJECT
public:
    explicit HttpExchange(QTcpSocket *socket, QObject *parent = nullptr);

    // A complete reply with Content-Length; the connection closes after it.
    void respond(int status, const QByteArray &body,
                 const QByteArray &contentType = "application/json");
    // A status line and headers announcing a chunked body.
    void sendChunkedHead(int status = 200, const QByteArray &contentType = "application/x-ndjson");
    // One chunk of a chunked body (empty data is skipped: it would end the body).
    void sendChunk(const QByteArray &data);
    // The chunked body's terminator, then close.
    void endChunked();
    // Bytes exactly as given (for replies that are not well-formed HTTP).
    void sendRaw(const QByteArray &bytes);
    // Chunks one after another, `delayMs` apart; ends the body when `end` is true.
    void sendChunksSpaced(const QList<QByteArray> &chunks, int delayMs, bool end = true);
    void close();
    bool isOpen() const;
    // Bytes given but not yet taken by the operating system (the client reads slower).
    qint64 bytesToWrite() const;

signals:
    // The connection closed, by either side (a client that aborts shows here).
    void connectionClosed();
    // The operating system took some of the bytes waiting to be written.
    void bytesWritten();

private:
    QPointer<QTcpSocket> m_socket;
};

class LocalHttpServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const HttpRequest &, HttpExchange *)>;

    explicit LocalHttpServer(QObject *parent = nullptr);
    // Listens on 127.0.0.1 at `port` (0: any free port).
    bool listen(quint16 port = 0);
    quint16 port() const;
    QUrl url() const;  // http://127.0.0.1:<port>

    Handler handler;
    QList<HttpRequest> requests;  // every request received, in order
    int connections = 0;

signals:
    void requestReceived();

private:
    void onNewConnection();
    QTcpServer m_server;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
quint16 unusedLoopbackPort();

// CLOCK_MONOTONIC in nanoseconds: comparable across threads and processes.
qint64 monotonicNs();
