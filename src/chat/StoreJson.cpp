#include "StoreJson.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Eight bytes at a time: true when any of them is '"', '\\' or below 0x20,
// the only bytes that need a look inside a JSON string.
inline bool hasSpecialByte(uint64_t word)
{
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    const auto hasZero = [](uint64_t v) { return (v - ones) & ~v & highs; };
    const uint64_t quote = hasZero(word ^ (ones * '"'));
    const uint64_t backslash = hasZero(word ^ (ones * '\\'));
    const uint64_t control = (word - ones * 0x20) & ~word & highs;
    return (quote | backslash | control) != 0;
}

inline bool isSpecial(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

// The first special byte at or after `i`, or `size`.
qsizetype nextSpecial(const char *data, qsizetype i, qsizetype size)
{
    while (i + 8 <= size) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (hasSpecialByte(word))
            break;
        i += 8;
    }
    while (i < size && !isSpecial(static_cast<unsigned char>(data[i])))
        ++i;
    return i;
}

void appendEscaped(QByteArray &out, const QByteArray &text)
{
    const char *data = text.constData();
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const qsizetype special = nextSpecial(data, i, size);
        out.append(data + i, special - i);
        if (special == size)
            break;
        const unsigned char c = static_cast<unsigned char>(data[special]);
        switch (c) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\f': out.append("\\f", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        default: {
            const char escape[6] = {'\\', 'u', '0', '0', hexDigits[c >> 4], hexDigits[c & 0xF]};
            out.append(escape, 6);
        }
        }
        i = special + 1;
    }
}

template <typename TextOf>
QByteArray encodeList(const QList<ChatMessage> &messages, qsizetype estimate, TextOf textOf)
{
    QByteArray out;
    out.reserve(estimate + estimate / 8 + 2);
    out.append('[');
    for (const ChatMessage &message : messages) {
        if (out.size() > 1)
            out.append(',');
        out.append('"');
        appendEscaped(out, textOf(message));
        out.append('"');
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

void appendUtf8(QByteArray &out, char32_t point)
{
    if (point < 0x80) {
        out.append(char(point));
    } else if (point < 0x800) {
        out.append(char(0xC0 | (point >> 6)));
        out.append(char(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out.append(char(0xE0 | (point >> 12)));
        out.append(char(0x80 | ((point >> 6) & 0x3F)));
        out.append(char(0x80 | (point & 0x3F)));
    } else {
        out.append(char(0xF0 | (point >> 18)));
        out.append(char(0x80 | ((point >> 12) & 0x3F)));
        out.append(char(0x80 | ((point >> 6) & 0x3F)));
        out.append(char(0x80 | (point & 0x3F)));
    }
}

// The UTF-8 bytes a string's escapes stand for; nullopt for a bad escape or
// a lone surrogate.
std::optional<QByteArray> unescape(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    qsizetype i = 0;
    while (i < raw.size()) {
        const qsizetype slash = raw.indexOf('\\', i);
        if (slash < 0) {
            out.append(raw.sliced(i));
            break;
        }
        out.append(raw.sliced(i, slash - i));
        if (slash + 1 >= raw.size())
            return std::nullopt;
        i = slash + 2;
        switch (raw[slash + 1]) {
        case '"': case '\\': case '/': out.append(raw[slash + 1]); continue;
        case 'b': out.append('\b'); continue;
        case 'f': out.append('\f'); continue;
        case 'n': out.append('\n'); continue;
        case 'r': out.append('\r'); continue;
        case 't': out.append('\t'); continue;
        case 'u': break;
        default: return std::nullopt;
        }
        const int unit = codeUnit(raw, i);
        i += 4;
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
            return std::nullopt;  // not hex, or a low surrogate without its high half
        char32_t point = char32_t(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const int low = raw.sliced(i).startsWith("\\u") ? codeUnit(raw, i + 2) : -1;
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            point = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
            i += 6;
        }
        appendUtf8(out, point);
    }
    return out;
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
            j = nextSpecial(data, j, size);
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

std::optional<QString> TextDecoder::decode(QByteArrayView raw, bool hasEscapes)
{
    std::optional<QByteArray> unescaped;
    if (hasEscapes && !(unescaped = unescape(raw)))
        return std::nullopt;
    QString text = m_utf8.decode(unescaped ? QByteArrayView(*unescaped) : raw);
    if (m_utf8.hasError())
        return std::nullopt;
    return text;
}

} // namespace StoreJson
