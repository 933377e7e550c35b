// PLACEHOLDER: replaced by the real implementation.
#include "OllamaBackend.h"

#include <QTimer>

namespace { QUrl g_baseUrl(QStringLiteral("http://127.0.0.1:11434")); }

OllamaBackend::OllamaBackend(const OllamaModelEntry &entry, QObject *parent)
    : ModelBackend(parent), m_modelName(entry.name)
{
    m_info = ModelInfo(QStringLiteral("ollama-") + entry.name, entry.name, ModelSource::ollama,
                       QString::asprintf("%.1f GB", double(entry.size) / 1e9) + QString::fromUtf8(" \u00B7 Ollama"));
}

std::unique_ptr<ReplyStream> OllamaBackend::streamResponse(const QString &, const QList<ChatMessage> &, const QString &)
{
    auto [stream, sink] = ReplyStream::create();
    sink.fail(OllamaError::notRunning().toReplyError());
    return std::move(stream);
}

void OllamaBackend::discover(QObject *context, std::function<void(QList<OllamaModelEntry>)> done)
{
    QTimer::singleShot(0, context, [done] { done({}); });
}

QUrl OllamaBackend::baseUrl() { return g_baseUrl; }
void OllamaBackend::setBaseUrlForTesting(const QUrl &url) { g_baseUrl = url; }
