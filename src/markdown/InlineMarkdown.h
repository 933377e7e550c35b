#pragma once

#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

// Inline Markdown as CommonMark defines it (backslash escapes, character
// references, code spans, emphasis, inline links, autolinks, raw HTML), with
// no block constructs: the text is one run of inline content whose spaces and
// line breaks are all kept. Raw HTML is recognised only so that markers inside
// a tag are not read as Markdown; the bubble shows it as text.
namespace InlineMarkdown {

struct Node
{
    enum class Kind { Root, Text, Code, Emphasis, Strong, Link, RawHtml };
    Kind kind = Kind::Text;
    QString text;         // Text, Code, RawHtml
    QString destination;  // Link: normalised (percent-encoded) address
    QString title;        // Link
    std::vector<Node> children;
};

// Inputs the parser refuses (the caller then shows the raw text).
constexpr qsizetype kMaxLength = 200000;
constexpr int kMaxNesting = 32;

// The parsed tree (a Root node), or nothing when the input is rejected: longer
// than kMaxLength, or styles nested deeper than kMaxNesting.
std::optional<Node> parse(QStringView text);

// Makes text what the parser reads, and what a message shows: CR LF and CR
// made LF, lone surrogates U+FFFD. The one place where line breaks are
// normalised. A text given in pieces comes out as it would whole.
class Normaliser
{
public:
    // Appends `piece`, normalised, to `out`, which holds what the earlier pieces
    // made. Returns the first position of `out` that changed: its size before,
    // or one less when the piece completes a surrogate pair that the last one
    // began (shown as U+FFFD until then).
    qsizetype append(QString &out, QStringView piece);

private:
    QChar m_last;  // the last character given
};

QString normalised(QStringView text);

// A text parsed from some point on, split where it is settled: any text that
// starts with text[0, settledEnd) parses that stretch into `settled`, so the
// parse of a longer text can start at settledEnd.
struct Continuation
{
    Node settled;                // Root of text[from, settledEnd)
    Node rest;                   // Root of text[settledEnd, end)
    qsizetype settledEnd = 0;    // `from`, or a line start after it
};

// Parses normalised text from `from`: 0, or the settledEnd of an earlier parse
// of a text this one starts with (up to that point). Nothing when styles nest
// deeper than kMaxNesting; the caller applies kMaxLength.
std::optional<Continuation> parseFrom(const QString &normalisedText, qsizetype from);

} // namespace InlineMarkdown
