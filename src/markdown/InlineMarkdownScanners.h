#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// The small recognisers the inline parser uses. Each looks at `text` from
// `pos` and, on a match, returns what it found and where the match ends. Those
// that take `needsMore` set it when they looked beyond the end of the text, so
// that the same text with more after it might be read differently.
namespace InlineMarkdown::Scan {

bool isAsciiPunctuation(QChar c);
bool isUnicodeWhitespace(char32_t cp);
// ASCII punctuation or any Unicode punctuation (P*) or symbol (S*) character.
bool isPunctuation(char32_t cp);

struct Match
{
    QString value;    // the decoded text (entity), address (link) or matched source (tag)
    qsizetype end = 0;
};

// "&name;", "&#123;" or "&#x1F;" at pos.
std::optional<Match> entity(QStringView text, qsizetype pos);

// Backslash escapes and character references resolved (link addresses and titles).
QString unescape(QStringView raw);

// Percent-encodes what does not belong in an address, keeping existing %XX.
QString normaliseUrl(const QString &url);

struct InlineLink
{
    QString destination;  // normalised
    QString title;
    qsizetype end = 0;    // just after ")"
};
// "(destination "title")" at pos (pos is just after "]").
std::optional<InlineLink> inlineLinkTail(QStringView text, qsizetype pos, bool *needsMore = nullptr);

// "<scheme:...>" or "<user@host>" at pos: value is the address as written
// (for an e-mail address without "mailto:").
struct Autolink
{
    QString address;
    bool isEmail = false;
    qsizetype end = 0;
};
std::optional<Autolink> autolink(const QString &text, qsizetype pos, bool *needsMore = nullptr);

// An HTML tag, comment, processing instruction, declaration or CDATA section at pos.
std::optional<Match> rawHtml(const QString &text, qsizetype pos, bool *needsMore = nullptr);

} // namespace InlineMarkdown::Scan
