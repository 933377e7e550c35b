#include "StandInServer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

QByteArray chunked(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

StandInServer::StandInServer(QString modelName, ReplyMaker makeReply)
    : m_modelName(std::move(modelName)), m_makeReply(std::move(makeReply))
{
}

StandInServer::~StandInServer()
{
    m_stopping = true;
    if (m_listenFd >= 0)
        ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : m_connections)
        t.join();
}

bool StandInServer::start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_listenFd, 16) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

QUrl StandInServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

void StandInServer::acceptLoop()
{
    while (!m_stopping) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;  // shut down
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(m_mutex);
        m_openFds.push_back(fd);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void StandInServer::serve(int fd)
{
    QByteArray received;
    qsizetype headEnd = -1;
    qsizetype bodyLength = 0;
    char buffer[65536];
    for (;;) {
        if (headEnd >= 0 && received.size() >= headEnd + 4 + bodyLength)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, n);
        if (headEnd < 0 && (headEnd = received.indexOf("\r\n\r\n")) >= 0)
            bodyLength = header(received.left(headEnd), "content-length").toLongLong();
    }
    if (headEnd >= 0) {
        const QByteArray requestLine = received.left(received.indexOf("\r\n"));
        const QByteArray body = received.mid(headEnd + 4, bodyLength);
        if (requestLine.startsWith("GET /api/tags")) {
            ++m_tagsRequests;
            const nlohmann::json tags = {
                {"models", {{{"name", m_modelName.toStdString()}, {"model", m_modelName.toStdString()},
                             {"size", 1234567890123LL}, {"digest", "0123abcd"}}}}};
            const QByteArray json = QByteArray::fromStdString(tags.dump());
            sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                            + QByteArray::number(json.size()) + "\r\nConnection: close\r\n\r\n" + json);
        } else if (requestLine.startsWith("POST /api/chat")) {
            ++m_chatRequests;
            streamReply(fd, m_makeReply(body));
        } else {
            sendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

bool StandInServer::streamReply(int fd, const Reply &reply)
{
    m_replyComplete = false;
    m_firstLineNs = 0;
    if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\n"
                     "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n"))
        return false;
    const auto start = std::chrono::steady_clock::now();
    for (qsizetype i = 0; i < reply.lines.size(); ++i) {
        if (m_stopping)
            return false;
        if (reply.intervalUs > 0)
            std::this_thread::sleep_until(start + std::chrono::microseconds(qint64(reply.intervalUs) * i));
        if (!sendAll(fd, chunked(reply.lines.at(i))))
            return false;  // the client went away (a stopped reply)
        const qint64 now = monotonicNs();
        if (i == 0)
            m_firstLineNs = now;
        m_lastLineNs = now;
    }
    const bool ok = sendAll(fd, "0\r\n\r\n");
    m_replyComplete = ok;
    return ok;
}

QByteArray StandInServer::chatLine(const QString &content, bool done)
{
    const nlohmann::json line = {{"model", "standin"},
                                 {"created_at", "2024-05-01T10:00:00Z"},
                                 {"message", {{"role", "assistant"}, {"content", content.toStdString()}}},
                                 {"done", done}};
    return QByteArray::fromStdString(line.dump()) + '\n';
}

QList<QByteArray> StandInServer::chatLines(const QString &text, int count)
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
