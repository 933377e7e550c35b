#include "OllamaNetwork.h"

#include "OllamaWire.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSemaphore>
#include <QThread>

namespace {

class NetworkThread : public QThread
{
public:
    QNetworkAccessManager *manager = nullptr;
    QSemaphore ready;

protected:
    void run() override
    {
        QNetworkAccessManager shared;
        shared.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        shared.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        manager = &shared;
        ready.release();
        exec();
        // Requests still running are children of the manager: they, their
        // replies and the manager go here, on the thread that owns them.
        manager = nullptr;
    }
};

std::mutex g_mutex;
NetworkThread *g_thread = nullptr;
QCoreApplication *g_stoppedFor = nullptr;  // no restart while this application is being destroyed

void stopNetworkThread()
{
    NetworkThread *thread = nullptr;
    {
        std::lock_guard lock(g_mutex);
        thread = std::exchange(g_thread, nullptr);
        g_stoppedFor = QCoreApplication::instance();
    }
    if (!thread)
        return;
    thread->quit();
    thread->wait();
    delete thread;
}

QString describe(QNetworkReply::NetworkError error, int idleTimeoutMs)
{
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::OperationCanceledError:  // only the idle time-out reaches here
        return QStringLiteral("Ollama sent nothing for %1 seconds, so the reply was stopped.")
            .arg(QString::number(idleTimeoutMs / 1000.0));
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

} // namespace

bool OllamaNetwork::post(std::function<void(QNetworkAccessManager *)> work)
{
    std::lock_guard lock(g_mutex);
    if (!g_thread) {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app || app == g_stoppedFor)
            return false;
        g_thread = new NetworkThread;
        g_thread->setObjectName(QStringLiteral("Ollama network"));
        g_thread->start();
        g_thread->ready.acquire();
        qAddPostRoutine(stopNetworkThread);
    }
    QNetworkAccessManager *manager = g_thread->manager;
    QMetaObject::invokeMethod(manager, [manager, work = std::move(work)] { work(manager); },
                              Qt::QueuedConnection);
    return true;
}

ReplyError OllamaNetwork::failureOf(QNetworkReply::NetworkError error, bool headReceived, int idleTimeoutMs)
{
    if (error == QNetworkReply::ConnectionRefusedError)
        return OllamaError::notRunning().toReplyError();
    if (error == QNetworkReply::RemoteHostClosedError && !headReceived)
        return {ReplyError::Kind::network,
                QStringLiteral("The connection to Ollama's port closed without an HTTP answer.")};
    return {ReplyError::Kind::network, describe(error, idleTimeoutMs)};
}

std::shared_ptr<OllamaContextCall> OllamaContextCall::watch(QObject *context)
{
    std::shared_ptr<OllamaContextCall> guard(new OllamaContextCall);
    guard->m_context = context;
    std::weak_ptr<OllamaContextCall> weak = guard;
    // Direct: runs inside the context's destructor, before its pending calls are discarded.
    guard->m_destroyedConnection = QObject::connect(context, &QObject::destroyed, [weak] {
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->m_mutex);
            self->m_context = nullptr;
        }
    });
    return guard;
}

OllamaContextCall::~OllamaContextCall()
{
    QObject::disconnect(m_destroyedConnection);
}

void OllamaContextCall::call(std::function<void()> function)
{
    std::lock_guard lock(m_mutex);
    if (!m_context || m_called)
        return;
    m_called = true;
    // Posted under the lock: the context cannot finish dying in between, and a
    // dying object discards the calls posted to it.
    QMetaObject::invokeMethod(m_context, std::move(function), Qt::QueuedConnection);
}
