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

// CommonMark's HTML for the same tree (raw HTML passed through, as CommonMark
// renders it). Used to check the parser against CommonMark's published examples.
QString toCommonMarkHtml(const Node &root);

// The text a reader sees (markers removed), for accessibility.
QString toPlainText(const Node &root);

} // namespace InlineMarkdown
