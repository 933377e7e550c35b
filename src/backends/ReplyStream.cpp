#include "ReplyStream.h"

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

// The copy goes into the buffer of the element before last, which its holders
// have let go by now as a rule (each element replaces the one before): a long
// reply then copies into memory already in use instead of asking the system
// for megabytes of fresh pages every frame.
void ReplyStream::emitText()
{
    m_lastCopy ^= 1;
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
