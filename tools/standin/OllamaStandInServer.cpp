#include "OllamaStandInServer.h"

#include <QPointer>
#include <QScopedValueRollback>
#include <QThread>
#include <QTimer>
#include <nlohmann/json.hpp>

namespace {

// Writes one reply's lines at their pace. A line is given to the socket once it
// is due and everything given before has been taken by the operating system, as
// a server blocked in send() would; the moment it is taken is reported.
class PacedReply : public QObject
{
public:
    using Written = std::function<void(qsizetype index)>;

    PacedReply(HttpExchange *exchange, OllamaStandInServer::Reply reply, Written written, std::function<void()> done)
        : QObject(exchange), m_exchange(exchange), m_reply(std::move(reply)), m_written(std::move(written)),
          m_done(std::move(done)), m_startNs(monotonicNs())
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &PacedReply::pump);
        connect(exchange, &HttpExchange::bytesWritten, this, [this] {
            if (m_pumping || m_exchange->bytesToWrite() > 0)
                return;  // (while pumping, the loop looks for itself)
            if (m_pending >= 0)
                m_written(std::exchange(m_pending, -1));
            pump();
        });
        exchange->sendChunkedHead();
        pump();
    }

private:
    void pump()
    {
        if (m_ended)
            return;
        const QScopedValueRollback pumping(m_pumping, true);
        while (m_exchange && m_exchange->isOpen() && m_exchange->bytesToWrite() == 0) {
            if (m_next == m_reply.lines.size()) {
                m_ended = true;
                m_exchange->endChunked();
                m_done();
                return;
            }
            const qint64 dueNs = m_startNs + qint64(m_reply.intervalUs) * 1000 * m_next;
            const qint64 waitNs = dueNs - monotonicNs();
            if (waitNs > 0) {
                m_timer.start(int((waitNs + 999999) / 1000000));
                return;
            }
            const qsizetype index = m_next++;
            m_exchange->sendChunk(m_reply.lines.at(index));
            if (m_exchange->bytesToWrite() == 0)
                m_written(index);
            else
                m_pending = index;  // noted when the operating system takes it
        }
    }

    QPointer<HttpExchange> m_exchange;
    const OllamaStandInServer::Reply m_reply;
    const Written m_written;
    const std::function<void()> m_done;
    const qint64 m_startNs;
    qsizetype m_next = 0;
    qsizetype m_pending = -1;
    bool m_pumping = false;
    bool m_ended = false;
    QTimer m_timer;
};

} // namespace

OllamaStandInServer::OllamaStandInServer(QList<Model> models, ReplyMaker makeReply)
    : m_models(std::move(models)), m_makeReply(std::move(makeReply))
{
}

OllamaStandInServer::~OllamaStandInServer()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(m_threadContext.get(), [this] { m_server.reset(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool OllamaStandInServer::start(quint16 port, Thread thread)
{
    bool listening = false;
    const auto listen = [this, port, &listening] {
        m_server = std::make_unique<LocalHttpServer>();
        m_server->handler = [this](const HttpRequest &request, HttpExchange *exchange) { handle(request, exchange); };
        listening = m_server->listen(port);
        m_port = m_server->port();
    };
    if (thread == Thread::caller) {
        listen();
        return listening;
    }
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("Ollama stand-in"));
    m_threadContext = std::make_unique<QObject>();
    m_threadContext->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(m_threadContext.get(), listen, Qt::BlockingQueuedConnection);
    return listening;
}

QUrl OllamaStandInServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

void OllamaStandInServer::handle(const HttpRequest &request, HttpExchange *exchange)
{
    if (request.method == "GET" && request.path == "/api/tags") {
        ++m_tagsRequests;
        exchange->respond(200, tagsBody(m_models));
    } else if (request.method == "POST" && request.path == "/api/chat") {
        m_requestFirstByteNs = request.firstByteNs;
        m_requestWholeNs = request.wholeNs;
        ++m_chatRequests;
        m_replyComplete = false;
        m_firstLineNs = 0;
        Reply reply = m_makeReply(request.body);
        const qsizetype last = reply.lines.size() - 1;
        new PacedReply(exchange, std::move(reply), [this, last](qsizetype index) {
            const qint64 now = monotonicNs();
            if (index == 0)
                m_firstLineNs = now;
            if (index == last)
                m_lastLineNs = now;
        }, [this] { m_replyComplete = true; });
    } else {
        exchange->respond(404, R"({"error":"not found"})");
    }
}

QByteArray OllamaStandInServer::chatLine(const QString &content, bool done, const QString &model)
{
    const nlohmann::ordered_json line = {{"model", model.toStdString()},
                                 {"created_at", "2024-05-01T10:00:00Z"},
                                 {"message", {{"role", "assistant"}, {"content", content.toStdString()}}},
                                 {"done", done}};
    return QByteArray::fromStdString(line.dump()) + '\n';
}

QList<QByteArray> OllamaStandInServer::chatLines(const QString &text, int count)
{
    QList<QByteArray> lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        const qsizetype from = text.size() * i / count;
        const qsizetype to = text.size() * (i + 1) / count;
        lines.append(chatLine(text.mid(from, to - from), i == count - 1));
    }
    return lines;
}

QByteArray OllamaStandInServer::tagsBody(const QList<Model> &models)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Model &m : models)
        list.push_back({{"name", m.name.toStdString()}, {"model", m.name.toStdString()},
                        {"size", m.size}, {"digest", "0123abcd"}});
    return QByteArray::fromStdString(nlohmann::ordered_json{{"models", list}}.dump());
}
