#include "OllamaChatExchange.h"

#include "OllamaWire.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace {

QString describe(QNetworkReply::NetworkError error)
{
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::RemoteHostClosedError:
        return QStringLiteral("Ollama closed the connection before the reply was complete.");
    case E::HostNotFoundError:
        return QStringLiteral("The address of the Ollama server could not be found.");
    case E::TimeoutError:
        return QStringLiteral("The connection to Ollama timed out.");
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::UnknownNetworkError:
        return QStringLiteral("Ollama could not be reached.");
    case E::ProtocolFailure:
    case E::ProtocolUnknownError:
    case E::ProtocolInvalidOperationError:
    case E::UnknownServerError:
        return QStringLiteral("The program on Ollama's port did not answer as an HTTP server would.");
    default:
        return QStringLiteral("The connection to Ollama failed.");
    }
}

QString closedEarly() { return QStringLiteral("The program closed before Ollama's reply was complete."); }

} // namespace

void OllamaChatExchange::start(QNetworkAccessManager *manager, const Request &request, ReplyStream *stream)
{
    new OllamaChatExchange(manager, request, stream);
}

OllamaChatExchange::OllamaChatExchange(QNetworkAccessManager *manager, const Request &request, ReplyStream *stream)
    : QObject(stream), m_stream(stream), m_manager(manager), m_url(request.url), m_idleTimeoutMs(request.idleTimeoutMs)
{
    // The consumer cancelled or dropped the stream: it takes nothing more, so
    // only the request is left to stop.
    connect(stream, &ReplyStream::stopRequested, this, &OllamaChatExchange::stopReading);
    // The body comes through the event loop, even one written already.
    connect(&m_body, &QFutureWatcher<QByteArray>::finished, this, &OllamaChatExchange::send);
    m_body.setFuture(request.body);
}

OllamaChatExchange::~OllamaChatExchange()
{
    stopReading();
}

void OllamaChatExchange::send()
{
    if (m_ended)
        return;
    if (!m_manager) {
        endWith(ReplyError{ReplyError::Kind::network, closedEarly()});
        return;
    }
    QNetworkRequest post(m_url);
    post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    post.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    m_reply = m_manager->post(post, m_body.result());
    // An idle time-out of our own: it restarts whenever bytes move, so a long
    // reply that keeps sending lines is never cut off. (Qt's transfer time-out
    // does the same, but restarts a timer through a queued call per network
    // read, which doubled the cost of each line here.)
    m_sinceBytes.start();
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &OllamaChatExchange::checkIdle);
    m_idle.start(m_idleTimeoutMs);
    connect(m_reply, &QNetworkReply::uploadProgress, this, [this] { m_sinceBytes.start(); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        m_sinceBytes.start();
        statusIsAcceptable();
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &OllamaChatExchange::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &OllamaChatExchange::onFinished);
    // The manager goes with the application, and its replies with it.
    connect(m_reply, &QObject::destroyed, this, [this] {
        m_reply = nullptr;
        endWith(ReplyError{ReplyError::Kind::network, closedEarly()});
    });
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
    m_sinceBytes.start();
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
    if (m_ended)
        return false;
    if (line.isEmpty())
        return true;
    QString reason;
    const std::optional<OllamaChatChunk> chunk = OllamaChatChunk::decode(line, &reason);
    if (!chunk) {
        endWith(decodingError(line, reason));
        return false;
    }
    // The stream may hand the text to its consumer at once, and the consumer
    // may cancel right there: then this exchange has stopped reading.
    m_stream->append(chunk->message.content);
    if (m_ended)
        return false;
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
        endWith(failure());
        return;
    }
    // The body ended: a last line without a line break still counts, and a
    // reply without a chunk marked done is complete as it stands.
    if (handleLine(m_lines.takeRest()))
        endWith(std::nullopt);
}

void OllamaChatExchange::checkIdle()
{
    const qint64 quietMs = m_sinceBytes.elapsed();
    if (quietMs < m_idleTimeoutMs) {
        m_idle.start(int(m_idleTimeoutMs - quietMs));
        return;
    }
    endWith(ReplyError{ReplyError::Kind::network,
                       QStringLiteral("Ollama sent nothing for %1 seconds, so the reply was stopped.")
                           .arg(QString::number(m_idleTimeoutMs / 1000.0))});
}

void OllamaChatExchange::endWith(const std::optional<ReplyError> &error)
{
    if (m_ended)
        return;
    stopReading();
    if (error)
        m_stream->fail(*error);
    else
        m_stream->finish();
}

// Stops reading for good: the server sees the connection close and stops generating.
void OllamaChatExchange::stopReading()
{
    m_ended = true;
    m_idle.stop();
    m_body.disconnect(this);
    m_body.cancel();  // a body not begun yet is never written
    if (!m_reply)
        return;
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->disconnect(this);
    // Deleting a reply closes its connection whatever state it is in, and ends
    // it exactly once. abort() would end it a second time when Qt has already
    // failed it and its error is still on the way to this thread (a 4xx or 5xx
    // status is such an error, reported after the status we act on).
    reply->deleteLater();
}

// The transfer failed on its own (we never abort a reply, and the idle
// time-out is ours):
// no server listening is OllamaError::notRunning, anything else a sentence of
// our own. A connection closed before any HTTP answer is told apart from one
// dropped mid-reply.
ReplyError OllamaChatExchange::failure() const
{
    const QNetworkReply::NetworkError error = m_reply->error();
    if (error == QNetworkReply::ConnectionRefusedError)
        return OllamaError::notRunning().toReplyError();
    const bool headReceived = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (error == QNetworkReply::RemoteHostClosedError && !headReceived)
        return {ReplyError::Kind::network,
                QStringLiteral("The connection to Ollama's port closed without an HTTP answer.")};
    return {ReplyError::Kind::network, describe(error)};
}

ReplyError OllamaChatExchange::decodingError(QByteArrayView line, const QString &reason) const
{
    if (const std::optional<QString> text = ollamaErrorText(line))
        return {ReplyError::Kind::decoding, QStringLiteral("Ollama reported an error: ") + *text};
    return {ReplyError::Kind::decoding, QStringLiteral("Ollama's reply could not be read: ") + reason + u'.'};
}
