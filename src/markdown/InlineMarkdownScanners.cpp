#include "InlineMarkdownScanners.h"

#include "HtmlEntities.h"

#include <QRegularExpression>

namespace InlineMarkdown::Scan {

namespace {
// The parser hands over text whose UTF-16 is valid (lone surrogates replaced),
// so the regular expressions skip re-checking the whole text at every "<".
constexpr auto kMatchOptions = QRegularExpression::AnchorAtOffsetMatchOption
    | QRegularExpression::DontCheckSubjectStringMatchOption;
} // namespace

bool isAsciiPunctuation(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60)
        || (u >= 0x7B && u <= 0x7E);
}

bool isUnicodeWhitespace(char32_t cp)
{
    return cp == '\t' || cp == '\n' || cp == '\f' || cp == '\r'
        || QChar::category(cp) == QChar::Separator_Space;
}

bool isPunctuation(char32_t cp)
{
    if (cp < 0x80)
        return isAsciiPunctuation(QChar(char16_t(cp)));
    switch (QChar::category(cp)) {
    case QChar::Punctuation_Connector: case QChar::Punctuation_Dash: case QChar::Punctuation_Open:
    case QChar::Punctuation_Close: case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote: case QChar::Punctuation_Other:
    case QChar::Symbol_Math: case QChar::Symbol_Currency: case QChar::Symbol_Modifier:
    case QChar::Symbol_Other:
        return true;
    default:
        return false;
    }
}

namespace {

bool isAsciiAlnum(QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); }
bool isHex(QChar c) { return c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

QString codePointText(char32_t cp)
{
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    return QString::fromUcs4(&cp, 1);
}

} // namespace

std::optional<Match> entity(QStringView text, qsizetype pos)
{
    const qsizetype n = text.size();
    qsizetype p = pos + 1;
    if (p < n && text[p] == u'#') {
        ++p;
        const bool hex = p < n && (text[p] == u'x' || text[p] == u'X');
        if (hex)
            ++p;
        const qsizetype start = p;
        const int maxDigits = hex ? 6 : 7;
        while (p < n && p - start < maxDigits && (hex ? isHex(text[p]) : text[p].isDigit() && text[p].unicode() < 0x80))
            ++p;
        if (p == start || p >= n || text[p] != u';')
            return std::nullopt;
        const char32_t cp = text.mid(start, p - start).toUInt(nullptr, hex ? 16 : 10);
        return Match{codePointText(cp), p + 1};
    }
    const qsizetype start = p;
    while (p < n && p - start <= 32 && isAsciiAlnum(text[p]))
        ++p;
    if (p == start || p >= n || text[p] != u';')
        return std::nullopt;
    if (auto value = HtmlEntities::lookup(text.mid(start, p - start)))
        return Match{*value, p + 1};
    return std::nullopt;
}

QString unescape(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size();) {
        const QChar c = raw[i];
        if (c == u'\\' && i + 1 < raw.size() && isAsciiPunctuation(raw[i + 1])) {
            out += raw[i + 1];
            i += 2;
        } else if (c == u'&') {
            if (auto e = entity(raw, i)) {
                out += e->value;
                i = e->end;
            } else {
                out += c;
                ++i;
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

QString normaliseUrl(const QString &url)
{
    static const QByteArray kept = ";/?:@&=+$,-_.!~*'()#";
    const QByteArray bytes = url.toUtf8();
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || kept.contains(c)) {
            out += QLatin1Char(c);
        } else if (c == '%' && i + 2 < bytes.size() && isHex(QLatin1Char(bytes[i + 1])) && isHex(QLatin1Char(bytes[i + 2]))) {
            out += QLatin1Char('%');
        } else {
            out += QStringLiteral("%%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

namespace {

// Reads a link's tail and notes whether it ever looked for a character beyond
// the end of the text: a tail that fails there may succeed once the text grows.
struct TailReader
{
    QStringView text;
    bool reachedEnd = false;

    bool has(qsizetype p)
    {
        if (p < text.size())
            return true;
        reachedEnd = true;
        return false;
    }

    // Spaces and tabs, at most one line ending, spaces and tabs.
    qsizetype skipSpacesAndOneLineEnding(qsizetype pos)
    {
        auto skipBlanks = [&] { while (has(pos) && (text[pos] == u' ' || text[pos] == u'\t')) ++pos; };
        skipBlanks();
        if (has(pos) && text[pos] == u'\n') {
            ++pos;
            skipBlanks();
        }
        return pos;
    }

    // The destination of an inline link: "<...>" or a run without spaces and
    // with balanced parentheses. Returns the raw text and where it ends.
    std::optional<std::pair<QStringView, qsizetype>> destination(qsizetype p)
    {
        if (has(p) && text[p] == u'<') {
            for (qsizetype q = p + 1; has(q); ++q) {
                const QChar c = text[q];
                if (c == u'\\' && has(q + 1) && isAsciiPunctuation(text[q + 1]))
                    ++q;
                else if (c == u'>')
                    return std::pair{text.mid(p + 1, q - p - 1), q + 1};
                else if (c == u'<' || c == u'\n')
                    return std::nullopt;
            }
            return std::nullopt;
        }
        int depth = 0;
        qsizetype q = p;
        for (; has(q); ++q) {
            const QChar c = text[q];
            if (c == u'\\' && has(q + 1) && isAsciiPunctuation(text[q + 1]))
                ++q;
            else if (c == u'(')
                ++depth;
            else if (c == u')') {
                if (depth == 0)
                    break;
                --depth;
            } else if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
                break;
        }
        if (q == p || depth != 0)
            return std::nullopt;
        return std::pair{text.mid(p, q - p), q};
    }

    std::optional<std::pair<QStringView, qsizetype>> title(qsizetype p)
    {
        if (!has(p))
            return std::nullopt;
        const QChar open = text[p];
        const QChar close = open == u'(' ? u')' : open;
        if (open != u'"' && open != u'\'' && open != u'(')
            return std::nullopt;
        for (qsizetype q = p + 1; has(q); ++q) {
            const QChar c = text[q];
            if (c == u'\\' && has(q + 1) && isAsciiPunctuation(text[q + 1]))
                ++q;
            else if (c == close)
                return std::pair{text.mid(p + 1, q - p - 1), q + 1};
            else if (open == u'(' && c == u'(')
                return std::nullopt;
            else if (c == u'\n') {
                qsizetype r = q + 1;
                while (has(r) && (text[r] == u' ' || text[r] == u'\t'))
                    ++r;
                if (!has(r) || text[r] == u'\n')
                    return std::nullopt;  // a blank line ends the text a title can span
            }
        }
        return std::nullopt;
    }

    std::optional<InlineLink> inlineLinkTail(qsizetype pos)
    {
        if (!has(pos) || text[pos] != u'(')
            return std::nullopt;
        qsizetype p = skipSpacesAndOneLineEnding(pos + 1);
        InlineLink link;
        if (has(p) && text[p] != u')') {
            const auto dest = destination(p);
            if (!dest)
                return std::nullopt;
            link.destination = normaliseUrl(unescape(dest->first));
            p = dest->second;
            const qsizetype afterSpace = skipSpacesAndOneLineEnding(p);
            if (afterSpace > p) {
                if (const auto t = title(afterSpace)) {
                    link.title = unescape(t->first);
                    p = skipSpacesAndOneLineEnding(t->second);
                } else {
                    p = afterSpace;
                }
            }
        }
        if (!has(p) || text[p] != u')')
            return std::nullopt;
        link.end = p + 1;
        return link;
    }
};

// A match at pos, and whether the expression ran out of text on the way: then
// a longer text may match differently.
QRegularExpressionMatch matchAt(const QRegularExpression &re, const QString &text, qsizetype pos, bool *needsMore)
{
    if (needsMore) {
        const auto hard = re.match(text, pos, QRegularExpression::PartialPreferFirstMatch, kMatchOptions);
        if (!hard.hasPartialMatch())
            return hard;
        *needsMore = true;
    }
    return re.match(text, pos, QRegularExpression::NormalMatch, kMatchOptions);
}

} // namespace

std::optional<InlineLink> inlineLinkTail(QStringView text, qsizetype pos, bool *needsMore)
{
    TailReader reader{text};
    auto link = reader.inlineLinkTail(pos);
    if (needsMore && reader.reachedEnd)
        *needsMore = true;
    return link;
}

std::optional<Autolink> autolink(const QString &text, qsizetype pos, bool *needsMore)
{
    static const QRegularExpression uri(QStringLiteral("<([A-Za-z][A-Za-z0-9+.-]{1,31}:[^<>\\x00-\\x20]*)>"));
    static const QRegularExpression email(QStringLiteral(
        "<([a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?"
        "(?:\\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*)>"));
    for (const auto *re : {&uri, &email}) {
        const auto m = matchAt(*re, text, pos, needsMore);
        if (m.hasMatch())
            return Autolink{m.captured(1), re == &email, m.capturedEnd(0)};
    }
    return std::nullopt;
}

std::optional<Match> rawHtml(const QString &text, qsizetype pos, bool *needsMore)
{
    static const QRegularExpression tag(QStringLiteral(
        "<[A-Za-z][A-Za-z0-9-]*"
        "(?:\\s+[A-Za-z_:][A-Za-z0-9_.:-]*(?:\\s*=\\s*(?:[^\\s\"'=<>`]+|'[^']*'|\"[^\"]*\"))?)*"
        "\\s*/?>"
        "|</[A-Za-z][A-Za-z0-9-]*\\s*>"
        "|<!-->|<!--->|<!--[\\s\\S]*?-->"
        "|<\\?[\\s\\S]*?\\?>"
        "|<![A-Za-z][^>]*>"
        "|<!\\[CDATA\\[[\\s\\S]*?\\]\\]>"));
    const auto m = matchAt(tag, text, pos, needsMore);
    if (!m.hasMatch())
        return std::nullopt;
    return Match{m.captured(0), m.capturedEnd(0)};
}

} // namespace InlineMarkdown::Scan
