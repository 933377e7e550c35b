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

// Reads one JSON array of strings given in pieces of any size, strictly
// (RFC 8259): one array of strings and nothing else but white space; any other
// value, a bad escape, a lone surrogate, a raw control character, invalid UTF-8
// or trailing bytes make the whole text unreadable. Each string goes to the
// sink as soon as it is complete, as its raw bytes between the quotes.
class ListReader
{
public:
    // Returns false when the string cannot be used (the text is then unreadable).
    using Sink = std::function<bool(QByteArrayView raw, bool hasEscapes)>;
    explicit ListReader(Sink sink) : m_sink(std::move(sink)) {}

    // False once the text is known to be unreadable.
    bool read(QByteArrayView piece);
    // True when everything read is one whole array.
    bool finish() const;

private:
    qsizetype parse(const char *data, qsizetype size);

    enum class Expect { open, firstItem, item, separator, end };
    Sink m_sink;
    Expect m_expect = Expect::open;
    QByteArray m_unfinished;  // a string begun in an earlier piece, from its quote
    qsizetype m_scanned = 0;  // where in it to go on looking for its end
    bool m_sawEscape = false;
    bool m_failed = false;
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
