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

inline bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Reader
{
public:
    explicit Reader(QByteArrayView text) : m_data(text.data()), m_size(text.size()) {}

    std::optional<QStringList> array()
    {
        QStringList list;
        skipSpace();
        if (!take('['))
            return std::nullopt;
        skipSpace();
        if (!take(']')) {
            for (;;) {
                std::optional<QString> item = string();
                if (!item)
                    return std::nullopt;
                list.append(std::move(*item));
                skipSpace();
                if (take(']'))
                    break;
                if (!take(','))
                    return std::nullopt;
                skipSpace();
            }
        }
        skipSpace();
        if (m_pos != m_size)
            return std::nullopt;
        return list;
    }

private:
    void skipSpace()
    {
        while (m_pos < m_size && isJsonSpace(m_data[m_pos]))
            ++m_pos;
    }
    bool take(char c)
    {
        if (m_pos < m_size && m_data[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    std::optional<QString> string()
    {
        if (!take('"'))
            return std::nullopt;
        QByteArray unescaped;  // used only once an escape turns up
        bool escaped = false;
        qsizetype runStart = m_pos;
        for (;;) {
            const qsizetype special = nextSpecial(m_data, m_pos, m_size);
            if (special == m_size)
                return std::nullopt;  // no closing quote
            const char c = m_data[special];
            if (c == '"') {
                m_pos = special + 1;
                if (!escaped)
                    return QString::fromUtf8(m_data + runStart, special - runStart);
                unescaped.append(m_data + runStart, special - runStart);
                return QString::fromUtf8(unescaped);
            }
            if (c != '\\')
                return std::nullopt;  // a raw control character
            if (!escaped) {
                escaped = true;
                unescaped.reserve(special - runStart + 64);
            }
            unescaped.append(m_data + runStart, special - runStart);
            m_pos = special + 1;
            if (!escape(unescaped))
                return std::nullopt;
            runStart = m_pos;
        }
    }

    // One escape after its backslash, appended to `out` as UTF-8.
    bool escape(QByteArray &out)
    {
        if (m_pos >= m_size)
            return false;
        const char c = m_data[m_pos++];
        switch (c) {
        case '"': case '\\': case '/': out.append(c); return true;
        case 'b': out.append('\b'); return true;
        case 'f': out.append('\f'); return true;
        case 'n': out.append('\n'); return true;
        case 'r': out.append('\r'); return true;
        case 't': out.append('\t'); return true;
        case 'u': break;
        default: return false;
        }
        int unit = codeUnit();
        if (unit < 0)
            return false;
        char32_t point = char32_t(unit);
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;  // a low surrogate without its high half
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (!take('\\') || !take('u'))
                return false;
            const int low = codeUnit();
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            point = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
        }
        const QString character = QString::fromUcs4(&point, 1);
        out.append(character.toUtf8());
        return true;
    }

    int codeUnit()
    {
        if (m_size - m_pos < 4)
            return -1;
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(m_data[m_pos++]);
            if (digit < 0)
                return -1;
            value = value * 16 + digit;
        }
        return value;
    }

    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

} // namespace

QByteArray StoreJson::encode(const QStringList &list)
{
    qsizetype estimate = 2;
    for (const QString &s : list)
        estimate += s.size() + 3;
    QByteArray out;
    out.reserve(estimate + estimate / 8);
    out.append('[');
    bool first = true;
    for (const QString &s : list) {
        if (!first)
            out.append(',');
        first = false;
        out.append('"');
        appendEscaped(out, s.toUtf8());
        out.append('"');
    }
    out.append(']');
    return out;
}

std::optional<QStringList> StoreJson::decode(QByteArrayView utf8)
{
    if (!utf8.isValidUtf8())
        return std::nullopt;
    return Reader(utf8).array();
}
