#include "JsonText.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// True when any of the eight bytes is '"', '\\' or below 0x20.
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

} // namespace

namespace JsonText {

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

void appendString(QByteArray &out, QByteArrayView utf8)
{
    const char *data = utf8.data();
    const qsizetype size = utf8.size();
    out.append('"');
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
    out.append('"');
}

} // namespace JsonText
