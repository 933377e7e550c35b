#pragma once

#include "OllamaLineSplitter.h"
#include "ReplyStream.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <memory>

class QNetworkAccessManager;

// One streamed chat reply, on the network thread: it posts the request, reads
// the body as it arrives, decodes it line by line and yields the growing text.
// It ends the stream exactly once and then deletes itself.
class OllamaChatExchange : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QUrl url;
        QByteArray body;
        int idleTimeoutMs = 120000;
    };

    // Starts a reply on the shared client. When the consumer cancels or drops
    // its stream, the HTTP request is aborted so the server stops generating.
    static void start(Request request, ReplySink sink);

    ~OllamaChatExchange() override;

private:
    struct CancelLink;

    OllamaChatExchange(Request request, ReplySink sink, std::shared_ptr<CancelLink> link,
                       QNetworkAccessManager *manager);
    void send(QNetworkAccessManager *manager);
    bool statusIsAcceptable();
    void readAvailable();
    bool handleLine(QByteArrayView line);
    void onFinished();
    void endWith(const std::optional<ReplyError> &error);
    ReplyError decodingError(QByteArrayView line, const QString &reason) const;

    Request m_request;
    ReplySink m_sink;
    std::shared_ptr<CancelLink> m_link;
    QPointer<QNetworkReply> m_reply;
    OllamaLineSplitter m_lines;
    QString m_text;
    bool m_statusChecked = false;
    bool m_ended = false;
};
