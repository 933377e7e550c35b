#include "OllamaLineSplitter.h"

namespace {

QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

} // namespace

OllamaLineSplitter::Result OllamaLineSplitter::feed(QByteArrayView bytes,
                                                    const std::function<bool(QByteArrayView)> &onLine)
{
    if (m_stopped)
        return Result::stopped;
    m_buffer.append(bytes);
    qsizetype lineStart = 0;
    Result result = Result::more;
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_scanned);
        if (end < 0)
            break;
        m_scanned = end + 1;
        const QByteArrayView line = withoutCarriageReturn(QByteArrayView(m_buffer).sliced(lineStart, end - lineStart));
        lineStart = end + 1;
        if (line.size() > m_maxLineLength) {
            result = Result::lineTooLong;
            break;
        }
        if (!onLine(line)) {
            result = Result::stopped;
            break;
        }
    }
    if (result == Result::more && m_buffer.size() - lineStart > m_maxLineLength + 1)
        result = Result::lineTooLong;  // +1: room for a CR still waiting for its LF
    if (result != Result::more) {
        m_stopped = true;
        m_buffer.clear();
        m_scanned = 0;
        return result;
    }
    // Drop the handed-out lines once per read, not once per line.
    m_buffer.remove(0, lineStart);
    m_scanned = m_buffer.size();
    return result;
}

QByteArray OllamaLineSplitter::takeRest()
{
    if (m_stopped)
        return {};
    QByteArray rest = std::exchange(m_buffer, {});
    m_scanned = 0;
    if (rest.endsWith('\r'))
        rest.chop(1);
    return rest;
}
