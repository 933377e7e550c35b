#include "OllamaChatExchange.h"

#include "OllamaNetwork.h"
#include "OllamaWire.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <mutex>

// Joins the consumer's cancellation (on the GUI thread) to the exchange (on the
// network thread), which may not exist yet or may already be gone.
struct OllamaChatExchange::CancelLink
{
    std::mutex mutex;
    OllamaChatExchange *exchange = nullptr;
    bool cancelled = false;
};

void OllamaChatExchange::start(Request request, ReplySink sink)
{
    auto link = std::make_shared<CancelLink>();
    sink.onCancel([link] {
        std::lock_guard lock(link->mutex);
        link->cancelled = true;
        // Posted under the lock, so the exchange cannot be destroyed in between;
        // a destroyed exchange discards the call.
        if (OllamaChatExchange *exchange = link->exchange)
            QMetaObject::invokeMethod(exchange, [exchange] { exchange->endWith(std::nullopt); },
                                      Qt::QueuedConnection);
    });
    const bool posted = OllamaNetwork::post([request = std::move(request), sink, link](QNetworkAccessManager *manager) {
        OllamaChatExchange *exchange = nullptr;
        {
            std::lock_guard lock(link->mutex);
            if (link->cancelled) {
                sink.finish();
                return;
            }
            exchange = new OllamaChatExchange(request, sink, link, manager);
            link->exchange = exchange;
        }
        exchange->send(manager);
    });
    if (!posted)
        sink.fail({ReplyError::Kind::network, QStringLiteral("The program is closing, so Ollama was not asked.")});
}

OllamaChatExchange::OllamaChatExchange(Request request, ReplySink sink, std::shared_ptr<CancelLink> link,
                                       QNetworkAccessManager *manager)
    : QObject(manager), m_request(std::move(request)), m_sink(std::move(sink)), m_link(std::move(link))
{
}

OllamaChatExchange::~OllamaChatExchange()
{
    {
        std::lock_guard lock(m_link->mutex);
        m_link->exchange = nullptr;
    }
    if (m_ended)
        return;
    // Only when the network thread stops under a running reply.
    m_ended = true;
    if (m_reply) {
        m_reply->disconnect(this);
        if (m_reply->isRunning() && m_reply->error() == QNetworkReply::NoError)
            m_reply->abort();
    }
    m_sink.fail({ReplyError::Kind::network, QStringLiteral("The program closed before Ollama's reply was complete.")});
}

void OllamaChatExchange::send(QNetworkAccessManager *manager)
{
    QNetworkRequest request(m_request.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    // Qt restarts this timer whenever bytes move, so it is an idle time-out:
    // a long reply that keeps sending lines is never cut off.
    request.setTransferTimeout(m_request.idleTimeoutMs);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    m_reply = manager->post(request, m_request.body);
    m_reply->setParent(this);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { statusIsAcceptable(); });
    connect(m_reply, &QNetworkReply::readyRead, this, &OllamaChatExchange::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &OllamaChatExchange::onFinished);
}

// Any status but exactly 200 ends the reply before any of its body is read.
bool OllamaChatExchange::statusIsAcceptable()
{
    if (m_ended)
        return false;
    if (m_statusChecked)
        return true;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true;  // no response head yet
    m_statusChecked = true;
    if (status.toInt() == 200)
        return true;
    endWith(OllamaError::badResponse(status.toInt()).toReplyError());
    return false;
}

void OllamaChatExchange::readAvailable()
{
    if (!statusIsAcceptable())
        return;
    const QByteArray bytes = m_reply->readAll();
    const auto result = m_lines.feed(bytes, [this](QByteArrayView line) { return handleLine(line); });
    if (result == OllamaLineSplitter::Result::lineTooLong)
        endWith(ReplyError{ReplyError::Kind::decoding,
                           QStringLiteral("Ollama sent a line longer than 16 MiB, so the reply was stopped.")});
}

// Returns false once the reply has ended.
bool OllamaChatExchange::handleLine(QByteArrayView line)
{
    if (line.isEmpty())
        return true;
    if (m_sink.isCancelled()) {
        endWith(std::nullopt);
        return false;
    }
    QString reason;
    const std::optional<OllamaChatChunk> chunk = OllamaChatChunk::decode(line, &reason);
    if (!chunk) {
        endWith(decodingError(line, reason));
        return false;
    }
    m_text += chunk->message.content;
    m_sink.yield(m_text);
    if (chunk->done) {
        endWith(std::nullopt);  // nothing after the chunk marked done is read
        return false;
    }
    return true;
}

void OllamaChatExchange::onFinished()
{
    if (m_reply->bytesAvailable() > 0)
        readAvailable();
    if (!statusIsAcceptable())
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        const bool headReceived = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        endWith(OllamaNetwork::failureOf(m_reply->error(), headReceived, m_request.idleTimeoutMs));
        return;
    }
    // The body ended: a last line without a line break still counts, and a
    // reply without a chunk marked done is complete as it stands.
    const QByteArray rest = m_lines.takeRest();
    if (!handleLine(rest))
        return;
    endWith(std::nullopt);
}

void OllamaChatExchange::endWith(const std::optional<ReplyError> &error)
{
    if (m_ended)
        return;
    m_ended = true;
    if (error)
        m_sink.fail(*error);
    else
        m_sink.finish();
    if (m_reply) {
        // Stop reading: the server sees the connection close and stops generating.
        m_reply->disconnect(this);
        // A reply that already failed (Qt marks 4xx and 5xx statuses as
        // errors) must not be aborted again; deleting it closes it.
        if (m_reply->isRunning() && m_reply->error() == QNetworkReply::NoError)
            m_reply->abort();
    }
    deleteLater();
}

ReplyError OllamaChatExchange::decodingError(QByteArrayView line, const QString &reason) const
{
    if (const std::optional<QString> text = ollamaErrorText(line))
        return {ReplyError::Kind::decoding, QStringLiteral("Ollama reported an error: ") + *text};
    return {ReplyError::Kind::decoding, QStringLiteral("Ollama's reply could not be read: ") + reason + u'.'};
}
