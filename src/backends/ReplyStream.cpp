#include "ReplyStream.h"

ReplyStream::ReplyStream(QObject *parent) : QObject(parent) {}

ReplyStream::~ReplyStream()
{
    if (!m_ended && !m_cancelled && !m_producerEnded)
        emit stopRequested();
}

void ReplyStream::cancel()
{
    if (m_ended || m_cancelled)
        return;
    m_cancelled = true;
    m_added.clear();
    m_replacement.reset();
    if (!m_producerEnded)
        emit stopRequested();
    endLater();
}

void ReplyStream::append(QStringView piece)
{
    if (!acceptsInput() || piece.isEmpty())
        return;
    if (m_replacement)
        m_replacement->append(piece);
    else
        m_added.append(piece);
    deliverLater();
}

void ReplyStream::setText(const QString &wholeText)
{
    if (!acceptsInput())
        return;
    const QString before = std::exchange(m_snapshot, wholeText);
    if (wholeText.startsWith(before)) {
        append(QStringView(wholeText).sliced(before.size()));
        return;
    }
    m_added.clear();
    m_replacement = wholeText;
    deliverLater();
}

void ReplyStream::finish()
{
    if (!acceptsInput())
        return;
    m_producerEnded = true;
    endLater();
}

void ReplyStream::fail(const ReplyError &error)
{
    if (error.isCancellation()) {
        finish();
        return;
    }
    if (!acceptsInput())
        return;
    m_producerEnded = true;
    m_error = error;
    endLater();
}

void ReplyStream::deliverLater()
{
    if (std::exchange(m_deliveryScheduled, true))
        return;
    QMetaObject::invokeMethod(this, &ReplyStream::deliver, Qt::QueuedConnection);
}

void ReplyStream::deliver()
{
    m_deliveryScheduled = false;
    if (m_cancelled)
        return;
    if (m_replacement)
        emit replaced(*std::exchange(m_replacement, std::nullopt));
    if (!m_added.isEmpty() && !m_cancelled)
        emit appended(std::exchange(m_added, QString()));
}

// The end always comes from the event loop, so a producer may finish inside
// the call that started it, and a consumer is never ended from within cancel().
void ReplyStream::endLater()
{
    if (m_endScheduled)
        return;
    m_endScheduled = true;
    QMetaObject::invokeMethod(this, &ReplyStream::deliverEnd, Qt::QueuedConnection);
}

void ReplyStream::deliverEnd()
{
    if (m_ended)
        return;
    deliver();  // what came last, before the end
    m_ended = true;
    if (m_error && !m_cancelled)
        emit failed(*m_error);
    else
        emit finished();
}
