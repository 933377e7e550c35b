#include "ReplyStream.h"

#include <algorithm>
#include <iterator>

ReplyStream::ReplyStream(QObject *parent) : QObject(parent)
{
    m_frame.setSingleShot(true);
    m_frame.setInterval(frameIntervalMs);
    m_frame.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5 % early
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (m_pending)
            deliverPending();
    });
}

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
    m_pending = false;
    m_frame.stop();
    if (!m_producerEnded)
        emit stopRequested();
    endLater();
}

void ReplyStream::append(QStringView piece)
{
    if (!acceptsInput() || piece.isEmpty())
        return;
    m_text.append(piece);
    textChanged();
}

void ReplyStream::setText(const QString &wholeText)
{
    if (!acceptsInput() || wholeText == m_text)
        return;
    m_text = wholeText;
    textChanged();
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

// The first change after a quiet frame goes out at once; later ones wait for
// the frame to end and go out together as the newest text.
void ReplyStream::textChanged()
{
    m_pending = true;
    if (!m_frame.isActive())
        deliverPending();
}

void ReplyStream::deliverPending()
{
    m_pending = false;
    m_frame.start();
    emitText();
}

// The copy goes into the buffer of an earlier element that nobody holds any
// more: a long reply then copies into memory already in use instead of asking
// the system for megabytes of fresh pages (a page fault each 4 KiB) every
// frame. Each element replaces the one before, and its holders (the list
// model, the message's text item) let go of the one before as they take the
// new one; a third buffer covers a holder that is a frame late.
void ReplyStream::emitText()
{
    const auto begin = std::begin(m_copies), end = std::end(m_copies);
    const auto unheld = std::find_if(begin, end, [](const QString &buffer) { return buffer.isDetached(); });
    m_lastCopy = unheld != end ? int(unheld - begin) : (m_lastCopy + 1) % int(std::size(m_copies));
    QString &copy = m_copies[m_lastCopy];
    copy.resize(0);  // keeps the buffer unless someone still holds it
    copy.append(QStringView(m_text));
    emit element(copy);
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
    if (m_pending && !m_cancelled) {
        m_pending = false;
        emitText();  // the newest text, before the end
    }
    m_frame.stop();
    m_ended = true;
    if (m_error && !m_cancelled)
        emit failed(*m_error);
    else
        emit finished();
}
