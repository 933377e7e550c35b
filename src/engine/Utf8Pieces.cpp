#include "Utf8Pieces.h"

namespace {

const char replacement[] = "\xEF\xBF\xBD";

// The length of the sequence a lead byte starts, or 0 for a byte that starts none.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether `byte` may follow `lead` at position `index` (1-based) of its
// sequence: no overlong forms, no surrogates, nothing past U+10FFFF.
bool continues(unsigned char lead, int index, unsigned char byte)
{
    if ((byte & 0xC0) != 0x80)
        return false;
    if (index != 1)
        return true;
    switch (lead) {
    case 0xE0: return byte >= 0xA0;
    case 0xED: return byte <= 0x9F;
    case 0xF0: return byte >= 0x90;
    case 0xF4: return byte <= 0x8F;
    default: return true;
    }
}

} // namespace

std::string Utf8Pieces::take(const std::string &bytes)
{
    m_held += bytes;
    std::string out;
    size_t i = 0;
    while (i < m_held.size()) {
        const auto lead = static_cast<unsigned char>(m_held[i]);
        const int length = sequenceLength(lead);
        if (length == 0) {
            out += replacement;
            ++i;
            continue;
        }
        int have = 1;
        while (have < length && i + have < m_held.size()
               && continues(lead, have, static_cast<unsigned char>(m_held[i + have])))
            ++have;
        if (have == length) {
            out.append(m_held, i, size_t(length));
            i += size_t(length);
        } else if (i + have == m_held.size()) {
            break;  // a character the next token may complete
        } else {
            out += replacement;  // broken off by a byte that cannot continue it
            i += size_t(have);
        }
    }
    m_held.erase(0, i);
    return out;
}

void Utf8Pieces::finish()
{
    m_held.clear();
}
