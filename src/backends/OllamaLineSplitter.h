#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

// Cuts a byte stream into lines as it arrives. It works on bytes, so a UTF-8
// character split between two reads is whole again in its line. A line ends at
// LF; a CR before the LF is dropped too. Each new byte is scanned once, so a
// megabyte line arriving in many small reads costs no rescans.
class OllamaLineSplitter
{
public:
    static constexpr qsizetype defaultMaxLineLength = 16 * 1024 * 1024;

    explicit OllamaLineSplitter(qsizetype maxLineLength = defaultMaxLineLength)
        : m_maxLineLength(maxLineLength) {}

    enum class Result { more, stopped, lineTooLong };

    // Appends `bytes` and hands each complete line to `onLine`, which returns
    // false to stop; nothing after that line is handed out, now or later.
    Result feed(QByteArrayView bytes, const std::function<bool(QByteArrayView)> &onLine);
    // The unterminated rest once the stream has ended (possibly empty).
    QByteArray takeRest();

private:
    qsizetype m_maxLineLength;
    QByteArray m_buffer;
    qsizetype m_scanned = 0;  // bytes of m_buffer already searched for LF
    bool m_stopped = false;
};
