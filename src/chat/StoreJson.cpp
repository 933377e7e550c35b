#include "StoreJson.h"

#include "JsonText.h"

namespace {

template <typename TextOf>
QByteArray encodeList(const QList<ChatMessage> &messages, qsizetype estimate, TextOf textOf)
{
    QByteArray out;
    out.reserve(estimate + estimate / 8 + 2);
    out.append('[');
    for (const ChatMessage &message : messages) {
        if (out.size() > 1)
            out.append(',');
        JsonText::appendString(out, textOf(message));
    }
    out.append(']');
    return out;
}

inline bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hex digits at `at`, or -1.
int codeUnit(QByteArrayView raw, qsizetype at)
{
    if (raw.size() - at < 4)
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const int digit = hexValue(raw[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The character an escape after a backslash stands for, appended to `text`;
// `i` moves past it. False for a bad escape or a lone surrogate.
bool appendEscape(QString &text, QByteArrayView raw, qsizetype &i)
{
    const char c = i < raw.size() ? raw[i] : 0;
    ++i;
    switch (c) {
    case '"': case '\\': case '/': text += QLatin1Char(c); return true;
    case 'b': text += u'\b'; return true;
    case 'f': text += u'\f'; return true;
    case 'n': text += u'\n'; return true;
    case 'r': text += u'\r'; return true;
    case 't': text += u'\t'; return true;
    case 'u': break;
    default: return false;
    }
    const int unit = codeUnit(raw, i);
    i += 4;
    if (unit < 0 || QChar::isLowSurrogate(char32_t(unit)))
        return false;  // not hex, or a low surrogate without its high half
    text += QChar(unit);
    if (!QChar::isHighSurrogate(char32_t(unit)))
        return true;
    const int low = raw.sliced(std::min(i, raw.size())).startsWith("\\u") ? codeUnit(raw, i + 2) : -1;
    i += 6;
    text += QChar(low);
    return low >= 0 && QChar::isLowSurrogate(char32_t(low));
}

} // namespace

namespace StoreJson {

QByteArray encodeRoles(const QList<ChatMessage> &messages)
{
    static const QByteArray user("user"), assistant("assistant");
    return encodeList(messages, messages.size() * 12, [](const ChatMessage &message) -> const QByteArray & {
        return message.role == ChatMessage::Role::user ? user : assistant;
    });
}

QByteArray encodeContents(const QList<ChatMessage> &messages)
{
    qsizetype estimate = 0;
    for (const ChatMessage &message : messages)
        estimate += message.content.size() + 3;
    return encodeList(messages, estimate, [](const ChatMessage &message) { return message.content.toUtf8(); });
}

// Stops at the opening quote of a string that does not end inside `text`,
// remembering how far it looked for the end.
qsizetype ListReader::read(QByteArrayView text)
{
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype i = 0;
    for (;;) {
        while (i < size && isJsonSpace(data[i]))
            ++i;
        if (i == size)
            return i;
        const char c = data[i];
        switch (m_expect) {
        case Expect::open:
            if (c != '[')
                return -1;
            m_expect = Expect::firstItem;
            ++i;
            continue;
        case Expect::separator:
            if (c != ',' && c != ']')
                return -1;
            m_expect = c == ',' ? Expect::item : Expect::end;
            ++i;
            continue;
        case Expect::end:
            return -1;
        case Expect::firstItem:
            if (c == ']') {
                m_expect = Expect::end;
                ++i;
                continue;
            }
            [[fallthrough]];
        case Expect::item:
            break;
        }
        if (c != '"')
            return -1;
        qsizetype j = i + 1 + m_scanned;
        for (;;) {
            j = JsonText::nextSpecial(data, j, size);
            if (j < size && data[j] == '\\') {
                m_sawEscape = true;
                if (j + 1 < size) {
                    j += 2;  // the escaped byte is checked when the string is decoded
                    continue;
                }
            }
            if (j >= size || data[j] == '\\') {
                m_scanned = j - i - 1;  // the rest comes with the next piece
                return i;
            }
            break;
        }
        if (data[j] != '"')
            return -1;  // a raw control character
        if (!m_sink(QByteArrayView(data + i + 1, j - i - 1), m_sawEscape))
            return -1;
        m_scanned = 0;
        m_sawEscape = false;
        m_expect = Expect::separator;
        i = j + 1;
    }
}

// The UTF-8 between escapes is decoded as it stands; an escape never splits a
// UTF-8 sequence, since every byte of one is above 0x7F.
std::optional<QString> TextDecoder::decode(QByteArrayView raw, bool hasEscapes)
{
    if (!hasEscapes) {
        QString text = m_utf8.decode(raw);
        return m_utf8.hasError() ? std::nullopt : std::optional(text);
    }
    QString text;
    text.reserve(raw.size());
    for (qsizetype i = 0;;) {
        const qsizetype slash = raw.indexOf('\\', i);
        text += m_utf8.decode(raw.sliced(i, (slash < 0 ? raw.size() : slash) - i));
        if (slash < 0)
            break;
        i = slash + 1;
        if (!appendEscape(text, raw, i))
            return std::nullopt;
    }
    return m_utf8.hasError() ? std::nullopt : std::optional(text);
}

} // namespace StoreJson
