#include "OllamaWire.h"

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
