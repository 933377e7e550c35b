#pragma once

#include "ReplyStream.h"

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

class QNetworkAccessManager;

// The one process-wide HTTP client that talks to the Ollama server: a worker
// thread owning one QNetworkAccessManager, started on first use and stopped
// when the QCoreApplication is destroyed. Reading and decoding replies happens
// there, never on the GUI thread. The client never uses a proxy (the server is
// on the loopback interface) and follows no redirects (nothing the user writes
// may be sent to another address).
namespace OllamaNetwork {

// Runs `work` on the network thread with the shared manager. Returns false,
// dropping `work`, when the application is shutting down.
bool post(std::function<void(QNetworkAccessManager *)> work);

// The error a reply ends with when its transfer failed, as a sentence of our
// own: no server listening is OllamaError::notRunning, anything else a network
// error. `headReceived` tells a connection dropped mid-reply from one closed
// without any HTTP answer. Only for transfers the caller did not abort
// itself: Qt reports an abort and the idle time-out alike.
ReplyError failureOf(QNetworkReply::NetworkError error, bool headReceived, int idleTimeoutMs);

} // namespace OllamaNetwork

// Calls a function on `context`'s thread from any thread, or drops the call
// once `context` has been destroyed.
class OllamaContextCall : public std::enable_shared_from_this<OllamaContextCall>
{
public:
    static std::shared_ptr<OllamaContextCall> watch(QObject *context);
    ~OllamaContextCall();

    // At most one call is delivered; later ones are ignored.
    void call(std::function<void()> function);

private:
    OllamaContextCall() = default;
    std::mutex m_mutex;
    QObject *m_context = nullptr;
    QMetaObject::Connection m_destroyedConnection;
    bool m_called = false;
};
