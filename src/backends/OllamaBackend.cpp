#include "OllamaBackend.h"

#include "OllamaChatExchange.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <charconv>

namespace {

// The one network manager for every request to the server, made on first use
// and gone with the application, which takes the requests still running along.
QNetworkAccessManager *networkManager()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return manager;
}

// The name of the computer a remote model runs on: the host of an address
// ("https://ollama.com:443" gives "ollama.com"), other text as it stands.
QString remotePlace(const QString &remoteHost)
{
    const QString text = remoteHost.trimmed();
    if (text.isEmpty())
        return QStringLiteral("another computer");
    const QString host = QUrl::fromUserInput(text).host();
    return host.isEmpty() ? text : host;
}

ModelInfo infoFor(const OllamaModelEntry &entry)
{
    ModelInfo info(QStringLiteral("ollama-") + entry.name, entry.name, ModelSource::ollama,
                   entry.remoteHost ? OllamaBackend::remoteDetailText(*entry.remoteHost)
                                    : OllamaBackend::detailText(entry.size));
    info.remoteHost = entry.remoteHost;
    return info;
}

} // namespace

OllamaBackend::OllamaBackend(const OllamaModelEntry &entry, const OllamaServer &server, QObject *parent)
    : ModelBackend(parent), m_info(infoFor(entry)), m_modelName(entry.name), m_server(server)
{
}

QString OllamaBackend::unavailableText() const
{
    if (!m_info.remoteHost)
        return {};
    return QStringLiteral("%1 runs on %2, not on this computer, and Hushwing sends nothing off your device. "
                          "Choose a model that runs here.")
        .arg(m_modelName, remotePlace(*m_info.remoteHost));
}

QString OllamaBackend::detailText(qint64 sizeInBytes)
{
    // std::to_chars rounds like printf's "%.1f" but never reads the locale.
    char digits[64];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), double(sizeInBytes) / 1e9,
                                      std::chars_format::fixed, 1);
    return QString::fromLatin1(digits, result.ptr - digits) + QStringLiteral(" GB \u00B7 Ollama");
}

QString OllamaBackend::remoteDetailText(const QString &remoteHost)
{
    return QStringLiteral("Runs on %1 \u2014 not on this computer").arg(remotePlace(remoteHost));
}

QList<OllamaMessage> OllamaBackend::requestMessages(const QString &to, const ChatHistory &history,
                                                    const QString &systemPrompt)
{
    QList<OllamaMessage> messages;
    messages.reserve(history.size() + 2);
    messages.append(OllamaMessage(QStringLiteral("system"), systemPrompt));
    for (const ChatMessage &message : history)
        messages.append(OllamaMessage(roleName(message.role), message.content));
    messages.append(OllamaMessage(QStringLiteral("user"), to));
    return messages;
}

std::unique_ptr<ReplyStream> OllamaBackend::streamResponse(const QString &to, const ChatHistory &history,
                                                           const QString &systemPrompt)
{
    auto stream = std::make_unique<ReplyStream>();
    // The local server would forward the conversation to another computer.
    if (const QString refusal = unavailableText(); !refusal.isEmpty()) {
        stream->fail({ReplyError::Kind::ollama, refusal});
        return stream;
    }
    OllamaChatExchange::Request request;
    request.url = m_server.endpoint(QStringLiteral("api/chat"));
    // The whole conversation goes with every request: tens of megabytes for a
    // long one, which take the GUI thread too long to write, so a worker
    // writes them. It gets the texts shared, not copied.
    request.body = QtConcurrent::run([model = m_modelName, to, history, systemPrompt] {
        return OllamaChatRequest(model, requestMessages(to, history, systemPrompt)).toJson();
    });
    request.idleTimeoutMs = m_server.replyIdleTimeoutMs;
    OllamaChatExchange::start(networkManager(), request, stream.get());
    return stream;
}

void OllamaBackend::discover(const OllamaServer &server, QObject *context,
                             std::function<void(QList<OllamaModelEntry>)> done)
{
    if (!context || !done)
        return;
    QNetworkRequest request(server.endpoint(QStringLiteral("api/tags")));
    request.setTransferTimeout(server.discoverTimeoutMs);
    QNetworkReply *reply = networkManager()->get(request);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    connect(reply, &QNetworkReply::finished, context, [reply, done] {
        QList<OllamaModelEntry> models;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->error() == QNetworkReply::NoError && status.toInt() == 200) {
            if (auto tags = OllamaTagsResponse::decode(reply->readAll()))
                models = std::move(tags->models);
        }
        done(models);
    });
}
