#include "ReplyStream.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <deque>
#include <mutex>

namespace {
constexpr qint64 kDrainSliceMs = 8;
}

namespace detail {

struct ReplyEvent
{
    enum class Type { element, finished, failed } type;
    QString text;
    ReplyError error;
};

struct ReplyChannel
{
    std::mutex mutex;
    std::deque<ReplyEvent> queue;
    ReplyStream *stream = nullptr;  // null once the consumer is gone
    bool drainPosted = false;
    bool cancelled = false;
    bool producerEnded = false;
    std::function<void()> cancelHandler;

    void push(ReplyEvent event)
    {
        std::lock_guard lock(mutex);
        if (cancelled || !stream || producerEnded)
            return;
        if (event.type != ReplyEvent::Type::element)
            producerEnded = true;
        queue.push_back(std::move(event));
        if (!drainPosted) {
            drainPosted = true;
            // Posted while holding the lock: the stream cannot be destroyed in
            // between, and a destroyed stream discards its pending calls.
            ReplyStream *target = stream;
            QMetaObject::invokeMethod(target, [target] { target->drain(); }, Qt::QueuedConnection);
        }
    }

    // Marks the channel cancelled; returns the handler to run, if this call did it.
    std::function<void()> markCancelled()
    {
        std::lock_guard lock(mutex);
        if (cancelled)
            return {};
        cancelled = true;
        queue.clear();
        return std::exchange(cancelHandler, {});
    }
};

} // namespace detail

std::pair<std::unique_ptr<ReplyStream>, ReplySink> ReplyStream::create()
{
    auto channel = std::make_shared<detail::ReplyChannel>();
    std::unique_ptr<ReplyStream> stream(new ReplyStream(channel));
    return {std::move(stream), ReplySink(channel)};
}

ReplyStream::ReplyStream(std::shared_ptr<detail::ReplyChannel> channel)
    : m_channel(std::move(channel))
{
    m_channel->stream = this;
}

ReplyStream::~ReplyStream()
{
    {
        std::lock_guard lock(m_channel->mutex);
        m_channel->stream = nullptr;
    }
    if (auto handler = m_channel->markCancelled())
        handler();
}

void ReplyStream::cancel()
{
    if (m_ended)
        return;
    if (auto handler = m_channel->markCancelled())
        handler();
    QMetaObject::invokeMethod(this, [this] { endWith(true, {}); }, Qt::QueuedConnection);
}

bool ReplyStream::isCancelled() const
{
    std::lock_guard lock(m_channel->mutex);
    return m_channel->cancelled;
}

void ReplyStream::drain()
{
    // One event at a time, so that a cancel() from inside a handler stops the
    // delivery of everything behind it. A long backlog is handed out in slices
    // of a few milliseconds, so the event loop (painting, input) is never held
    // up by it; order is kept because only one drain is ever pending.
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        detail::ReplyEvent event;
        {
            std::lock_guard lock(m_channel->mutex);
            if (m_channel->queue.empty() || m_channel->cancelled) {
                m_channel->drainPosted = false;
                return;
            }
            if (slice.elapsed() >= kDrainSliceMs) {
                QMetaObject::invokeMethod(this, [this] { drain(); }, Qt::QueuedConnection);
                return;
            }
            event = std::move(m_channel->queue.front());
            m_channel->queue.pop_front();
        }
        switch (event.type) {
        case detail::ReplyEvent::Type::element:
            if (!m_ended)
                emit element(event.text);
            break;
        case detail::ReplyEvent::Type::finished:
            endWith(true, {});
            break;
        case detail::ReplyEvent::Type::failed:
            endWith(false, event.error);
            break;
        }
    }
}

void ReplyStream::endWith(bool ok, const ReplyError &error)
{
    if (m_ended)
        return;
    m_ended = true;
    if (ok)
        emit finished();
    else
        emit failed(error);
}

void ReplySink::yield(const QString &wholeText) const
{
    if (m_channel)
        m_channel->push({detail::ReplyEvent::Type::element, wholeText, {}});
}

void ReplySink::finish() const
{
    if (m_channel)
        m_channel->push({detail::ReplyEvent::Type::finished, {}, {}});
}

void ReplySink::fail(const ReplyError &error) const
{
    if (!m_channel)
        return;
    if (error.isCancellation())
        finish();
    else
        m_channel->push({detail::ReplyEvent::Type::failed, {}, error});
}

bool ReplySink::isCancelled() const
{
    if (!m_channel)
        return true;
    std::lock_guard lock(m_channel->mutex);
    return m_channel->cancelled;
}

void ReplySink::onCancel(std::function<void()> handler) const
{
    if (!m_channel || !handler)
        return;
    {
        std::lock_guard lock(m_channel->mutex);
        if (!m_channel->cancelled) {
            m_channel->cancelHandler = std::move(handler);
            return;
        }
    }
    handler();
}
