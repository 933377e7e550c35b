#pragma once

#include "OllamaLineSplitter.h"
#include "ReplyStream.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QFutureWatcher>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;

// One streamed chat reply, on the GUI thread: it waits for the request body
// (written on a worker thread: a long conversation makes tens of megabytes),
// posts the request, reads the reply as the network manager delivers it,
// decodes it line by line and appends each line's text to its stream. It is a
// child of the stream: when the consumer cancels or drops the stream, the
// request is dropped, so the server sees the connection close and stops
// generating; before the body is ready, nothing is ever sent.
class OllamaChatExchange : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QUrl url;
        QFuture<QByteArray> body;
        int idleTimeoutMs = 120000;
    };

    static void start(QNetworkAccessManager *manager, const Request &request, ReplyStream *stream);
    ~OllamaChatExchange() override;

private:
    OllamaChatExchange(QNetworkAccessManager *manager, const Request &request, ReplyStream *stream);
    void send();
    bool statusIsAcceptable();
    void readAvailable();
    bool handleLine(QByteArrayView line);
    void onFinished();
    void checkIdle();
    void endWith(const std::optional<ReplyError> &error);
    void stopReading();
    ReplyError failure() const;
    ReplyError decodingError(QByteArrayView line, const QString &reason) const;

    ReplyStream *m_stream;  // the parent
    QPointer<QNetworkAccessManager> m_manager;
    QUrl m_url;
    QFutureWatcher<QByteArray> m_body;
    int m_idleTimeoutMs;
    QElapsedTimer m_sinceBytes;  // restarted whenever bytes move
    QTimer m_idle;
    QPointer<QNetworkReply> m_reply;
    OllamaLineSplitter m_lines;
    bool m_statusChecked = false;
    bool m_ended = false;
};
