#include "Channel.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr auto lookInterval = std::chrono::milliseconds(2);

bool writeAll(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

bool Channel::fill(bool wait)
{
    if (m_closed)
        return false;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, wait ? -1 : 0);
    if (ready <= 0)
        return ready == 0 || errno == EINTR;
    char chunk[65536];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    m_buffer.append(chunk, size_t(n));
    splitLines();
    return true;
}

void Channel::splitLines()
{
    size_t start = 0;
    for (size_t end; (end = m_buffer.find('\n', start)) != std::string::npos; start = end + 1) {
        auto command = nlohmann::json::parse(m_buffer.begin() + std::ptrdiff_t(start),
                                             m_buffer.begin() + std::ptrdiff_t(end), nullptr, false);
        if (!command.is_object())
            continue;  // not ours: the window writes only objects
        if (const auto stop = command.find("stop"); stop != command.end()) {
            if (stop->is_number_integer())
                m_stoppedReply = std::max(m_stoppedReply, stop->get<long long>());
        } else
            m_commands.push_back(std::move(command));
    }
    m_buffer.erase(0, start);
}

std::optional<nlohmann::json> Channel::next()
{
    while (m_commands.empty())
        if (!fill(true))
            return std::nullopt;
    auto command = std::move(m_commands.front());
    m_commands.pop_front();
    return command;
}

bool Channel::stopRequested()
{
    if (m_stoppedReply >= m_reply || m_closed)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastLook >= lookInterval) {
        m_lastLook = now;
        fill(false);
    }
    return m_stoppedReply >= m_reply || m_closed;
}

bool Channel::send(const nlohmann::json &message)
{
    // Texts are valid UTF-8 by construction; a file name may not be.
    return writeAll(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n');
}
