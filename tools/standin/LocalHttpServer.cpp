#include "LocalHttpServer.h"

#include <QTimer>
#include <memory>

#include <time.h>

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &[k, v] : headers)
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

int HttpRequest::headerCount(const QByteArray &name) const
{
    int n = 0;
    for (const auto &h : headers)
        n += h.first.compare(name, Qt::CaseInsensitive) == 0;
    return n;
}

HttpExchange::HttpExchange(QTcpSocket *socket, QObject *parent) : QObject(parent), m_socket(socket)
{
    connect(socket, &QTcpSocket::disconnected, this, &HttpExchange::connectionClosed);
    connect(socket, &QTcpSocket::bytesWritten, this, &HttpExchange::bytesWritten);
}

static QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

void HttpExchange::respond(int status, const QByteArray &body, const QByteArray &contentType)
{
    sendRaw("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonFor(status) + "\r\n"
            "Content-Type: " + contentType + "\r\n"
            "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
            "Connection: close\r\n\r\n" + body);
    close();
}

void HttpExchange::sendChunkedHead(int status, const QByteArray &contentType)
{
    sendRaw("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonFor(status) + "\r\n"
            "Content-Type: " + contentType + "\r\n"
            "Transfer-Encoding: chunked\r\n"
            "Connection: close\r\n\r\n");
}

void HttpExchange::sendChunk(const QByteArray &data)
{
    if (data.isEmpty())
        return;
    sendRaw(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
}

void HttpExchange::endChunked()
{
    sendRaw("0\r\n\r\n");
    close();
}

void HttpExchange::sendRaw(const QByteArray &bytes)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
        m_socket->flush();
    }
}

void HttpExchange::sendChunksSpaced(const QList<QByteArray> &chunks, int delayMs, bool end)
{
    auto index = std::make_shared<int>(0);
    auto timer = new QTimer(this);
    timer->setInterval(delayMs);
    connect(timer, &QTimer::timeout, this, [this, timer, index, chunks, end] {
        if (*index < chunks.size()) {
            sendChunk(chunks[(*index)++]);
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (end)
            endChunked();
    });
    timer->start();
}

void HttpExchange::close()
{
    if (m_socket) {
        m_socket->flush();
        m_socket->disconnectFromHost();
    }
}

bool HttpExchange::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 HttpExchange::bytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

LocalHttpServer::LocalHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onNewConnection);
}

bool LocalHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

quint16 LocalHttpServer::port() const { return m_server.serverPort(); }

QUrl LocalHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

void LocalHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++connections;
        socket->setParent(this);
        // Each write leaves at once, as a server flushing line by line sends it.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        auto handled = std::make_shared<bool>(false);
        auto firstByteNs = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer, handled, firstByteNs] {
            if (!*firstByteNs)
                *firstByteNs = monotonicNs();
            buffer->append(socket->readAll());
            if (*handled)
                return;
            const int headEnd = buffer->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            HttpRequest request;
            const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
            const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
            request.method = start.value(0);
            request.path = start.value(1);
            qsizetype length = 0;
            for (int i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const int colon = line.indexOf(':');
                if (colon <= 0)
                    continue;
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            length = request.header("Content-Length").toLongLong();
            if (buffer->size() - (headEnd + 4) < length)
                return;  // wait for the whole body
            request.body = buffer->mid(headEnd + 4, length);
            request.firstByteNs = *firstByteNs;
            request.wholeNs = monotonicNs();
            *handled = true;
            requests.append(request);
            auto exchange = new HttpExchange(socket, socket);
            emit requestReceived();
            if (handler)
                handler(request, exchange);
            else
                exchange->respond(404, R"({"error":"no handler"})");
        });
    }
}

quint16 unusedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
