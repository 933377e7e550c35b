#pragma once

#include <QString>
#include <QUrl>

// Where the local Ollama server is and how long the program waits for it. The
// program uses these defaults, fixed; tests give a server of their own and
// shorter waits.
struct OllamaServer
{
    // Plain HTTP to the IPv4 loopback address, port 11434, no path.
    QUrl baseUrl{QStringLiteral("http://127.0.0.1:11434")};
    // How long a reply may go without a byte from the server.
    int replyIdleTimeoutMs = 120000;
    // How long the model list may take to arrive: Qt's client has no time-out
    // of its own, and an unanswered request must still end.
    int discoverTimeoutMs = 60000;

    // The address of one of the server's endpoints, e.g. "api/chat".
    QUrl endpoint(const QString &path) const
    {
        QUrl url = baseUrl;
        url.setPath(QLatin1Char('/') + path);
        return url;
    }
};
