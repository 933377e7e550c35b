#pragma once

#include "ChatMessage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringDecoder>
#include <functional>
#include <optional>

// The store's list columns: a JSON array of strings in UTF-8, compact, with
// non-ASCII text written as is (the bytes a general JSON writer produces).
// A long conversation is tens of megabytes: the writer encodes it straight
// from the messages, and the reader decodes it piece by piece as SQLite hands
// the column over, so the whole text is never held at once.
namespace StoreJson {

QByteArray encodeRoles(const QList<ChatMessage> &messages);
QByteArray encodeContents(const QList<ChatMessage> &messages);

// Reads one JSON array of strings given in pieces, strictly (RFC 8259): one
// array of strings and nothing else but white space; any other value, a bad
// escape, a lone surrogate, a raw control character, invalid UTF-8 or trailing
// bytes make the whole text unreadable. Each string goes to the sink as soon as
// it is complete, as its raw bytes between the quotes.
class ListReader
{
public:
    // Returns false when the string cannot be used (the text is then unreadable).
    using Sink = std::function<bool(QByteArrayView raw, bool hasEscapes)>;
    explicit ListReader(Sink sink) : m_sink(std::move(sink)) {}

    // Takes what it can from `text`: returns how many bytes it used, or -1 when
    // the text cannot be an array of strings. Bytes not used (a string that
    // does not end in `text`) must be given again, followed by the next piece.
    qsizetype read(QByteArrayView text);
    // True when everything given, and used, was one whole array.
    bool finish() const { return m_expect == Expect::end; }

private:
    enum class Expect { open, firstItem, item, separator, end };
    Sink m_sink;
    Expect m_expect = Expect::open;
    qsizetype m_scanned = 0;  // how far into an unfinished string its end was looked for
    bool m_sawEscape = false;
};

// Turns raw string bytes into text, refusing invalid UTF-8 and bad escapes.
class TextDecoder
{
public:
    std::optional<QString> decode(QByteArrayView raw, bool hasEscapes);

private:
    QStringDecoder m_utf8{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

} // namespace StoreJson
