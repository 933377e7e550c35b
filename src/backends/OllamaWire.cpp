#include "OllamaWire.h"

#include "JsonText.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <utility>

using nlohmann::json;

namespace {

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void setReason(QString *reason, const char *text)
{
    if (reason)
        *reason = QString::fromUtf8(text);
}

// Parses without exceptions escaping; a parse failure says whether the bytes
// were bad UTF-8 or bad JSON.
std::optional<json> parse(QByteArrayView bytes, QString *reason)
{
    try {
        return json::parse(bytes.begin(), bytes.end());
    } catch (const json::parse_error &e) {
        const bool badText = std::string_view(e.what()).find("UTF-8") != std::string_view::npos;
        setReason(reason, badText ? "the line is not valid UTF-8" : "the line is not valid JSON");
    } catch (const json::exception &) {
        setReason(reason, "the line is not valid JSON");
    }
    return std::nullopt;
}

// "size" must be a JSON integer that fits a signed 64-bit number exactly.
std::optional<qint64> exactInt64(const json &value)
{
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > std::uint64_t(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(n);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    return std::nullopt;  // floats (1.5, 1e9) and values beyond the 64-bit range
}

// "remote_host" is optional. Absent, null or "" means the server runs the model
// itself; any other text names the computer that does. A value of another type
// counts as remote too: when in doubt, nothing is sent.
std::optional<QString> remoteHostOf(const json &object)
{
    const auto host = object.find("remote_host");
    if (host == object.end() || host->is_null())
        return std::nullopt;
    if (!host->is_string())
        return QString();
    const std::string &text = host->get_ref<const std::string &>();
    if (text.empty())
        return std::nullopt;
    return fromUtf8(text);
}

std::optional<OllamaModelEntry> decodeEntry(const json &object)
{
    if (!object.is_object())
        return std::nullopt;
    const auto name = object.find("name");
    const auto size = object.find("size");
    if (name == object.end() || !name->is_string() || size == object.end())
        return std::nullopt;
    const std::optional<qint64> bytes = exactInt64(*size);
    if (!bytes)
        return std::nullopt;
    return OllamaModelEntry{fromUtf8(name->get_ref<const std::string &>()), *bytes, remoteHostOf(object)};
}

} // namespace

QByteArray OllamaChatRequest::toJson() const
{
    // Strings are written straight into the body: a long conversation is tens
    // of megabytes, which a document tree would hold twice.
    qsizetype estimate = model.size() + 48;
    for (const OllamaMessage &message : messages)
        estimate += message.role.size() + message.content.size() + 32;
    QByteArray body;
    body.reserve(estimate + estimate / 8);
    body.append(R"({"model":)");
    JsonText::appendString(body, model.toUtf8());
    body.append(R"(,"messages":[)");
    bool first = true;
    for (const OllamaMessage &message : messages) {
        if (!std::exchange(first, false))
            body.append(',');
        body.append(R"({"role":)");
        JsonText::appendString(body, message.role.toUtf8());
        body.append(R"(,"content":)");
        JsonText::appendString(body, message.content.toUtf8());
        body.append('}');
    }
    body.append(stream ? R"(],"stream":true})" : R"(],"stream":false})");
    return body;
}

std::optional<OllamaChatChunk> OllamaChatChunk::decode(QByteArrayView line, QString *reason)
{
    const std::optional<json> parsed = parse(line, reason);
    if (!parsed)
        return std::nullopt;
    if (!parsed->is_object()) {
        setReason(reason, "the line is not a JSON object");
        return std::nullopt;
    }
    const auto message = parsed->find("message");
    if (message == parsed->end() || !message->is_object()) {
        setReason(reason, "\"message\" is missing or not an object");
        return std::nullopt;
    }
    const auto content = message->find("content");
    if (content == message->end() || !content->is_string()) {
        setReason(reason, "\"content\" is missing or not a string");
        return std::nullopt;
    }
    const auto done = parsed->find("done");
    if (done == parsed->end() || !done->is_boolean()) {
        setReason(reason, "\"done\" is missing or not true or false");
        return std::nullopt;
    }
    OllamaChatChunk chunk;
    chunk.message.content = fromUtf8(content->get_ref<const std::string &>());
    chunk.done = done->get<bool>();
    return chunk;
}

std::optional<OllamaTagsResponse> OllamaTagsResponse::decode(QByteArrayView body, QString *reason)
{
    const std::optional<json> parsed = parse(body, reason);
    if (!parsed)
        return std::nullopt;
    const auto models = parsed->is_object() ? parsed->find("models") : parsed->end();
    if (!parsed->is_object() || models == parsed->end() || !models->is_array()) {
        setReason(reason, "\"models\" is missing or not an array");
        return std::nullopt;
    }
    OllamaTagsResponse response;
    for (const json &item : *models) {
        std::optional<OllamaModelEntry> entry = decodeEntry(item);
        if (!entry) {
            setReason(reason, "an entry lacks a text \"name\" or a whole-number \"size\"");
            return std::nullopt;
        }
        response.models.append(std::move(*entry));
    }
    return response;
}

std::optional<QString> ollamaErrorText(QByteArrayView line)
{
    const std::optional<json> parsed = parse(line, nullptr);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    const auto error = parsed->find("error");
    if (error == parsed->end() || !error->is_string())
        return std::nullopt;
    return fromUtf8(error->get_ref<const std::string &>());
}

QString OllamaError::errorDescription() const
{
    switch (m_case) {
    case Case::badResponse:
        return QStringLiteral("Ollama returned an unexpected status (%1).").arg(QString::number(m_status));
    case Case::notRunning:
        return QStringLiteral("Ollama is not running. Launch Ollama to use local models.");
    }
    return {};
}
