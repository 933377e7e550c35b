#pragma once

#include "ReplyStream.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// One installed model as the server lists it.
struct OllamaModelEntry
{
    QString name;
    qint64 size = 0;

    friend bool operator==(const OllamaModelEntry &, const OllamaModelEntry &) = default;
};

// The errors the Ollama backend raises itself, with the sentences the user reads.
class OllamaError
{
public:
    enum class Case { badResponse, notRunning };

    static OllamaError badResponse(int statusCode) { return OllamaError(Case::badResponse, statusCode); }
    static OllamaError notRunning() { return OllamaError(Case::notRunning, 0); }

    Case kind() const { return m_case; }
    int statusCode() const { return m_status; }
    QString errorDescription() const;
    ReplyError toReplyError() const { return {ReplyError::Kind::ollama, errorDescription()}; }

private:
    OllamaError(Case c, int status) : m_case(c), m_status(status) {}
    Case m_case;
    int m_status;
};
