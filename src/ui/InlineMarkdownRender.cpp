#include "InlineMarkdown.h"

// Renderers of the parsed tree. Qt's rich text keeps runs of spaces and line
// breaks under "white-space: pre-wrap", so the text is escaped and never
// rewritten: what the user sees is exactly what the model wrote, styled.

namespace InlineMarkdown {
namespace {

using Kind = Node::Kind;

void escapeInto(QString &out, QStringView text)
{
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        default: out += c;
        }
    }
}

// The two outputs differ only in their tags, in what raw HTML becomes and in
// whether link titles are written.
struct Dialect
{
    QLatin1String emphasis, strong;
    bool rawHtmlAsWritten;  // false: shown as text, never interpreted
    bool linkTitles;
};

const Dialect kRichText{QLatin1String("i"), QLatin1String("b"), false, false};
const Dialect kCommonMark{QLatin1String("em"), QLatin1String("strong"), true, true};

void render(QString &out, const Node &node, const Dialect &dialect)
{
    switch (node.kind) {
    case Kind::Text:
        escapeInto(out, node.text);
        return;
    case Kind::RawHtml:
        if (dialect.rawHtmlAsWritten)
            out += node.text;
        else
            escapeInto(out, node.text);
        return;
    case Kind::Code:
        out += QLatin1String("<code>");
        escapeInto(out, node.text);
        out += QLatin1String("</code>");
        return;
    case Kind::Root:
        break;
    case Kind::Emphasis:
        out += u'<' + dialect.emphasis + u'>';
        break;
    case Kind::Strong:
        out += u'<' + dialect.strong + u'>';
        break;
    case Kind::Link:
        out += QLatin1String("<a href=\"");
        escapeInto(out, node.destination);
        out += u'"';
        if (dialect.linkTitles && !node.title.isEmpty()) {
            out += QLatin1String(" title=\"");
            escapeInto(out, node.title);
            out += u'"';
        }
        out += u'>';
        break;
    }
    for (const Node &child : node.children)
        render(out, child, dialect);
    switch (node.kind) {
    case Kind::Emphasis: out += QLatin1String("</") + dialect.emphasis + u'>'; break;
    case Kind::Strong: out += QLatin1String("</") + dialect.strong + u'>'; break;
    case Kind::Link: out += QLatin1String("</a>"); break;
    default: break;
    }
}

void plainText(QString &out, const Node &node)
{
    out += node.text;
    for (const Node &child : node.children)
        plainText(out, child);
}

const QLatin1String kOpen("<div style=\"white-space: pre-wrap;\">");
const QLatin1String kClose("</div>");

} // namespace

QString toRichText(const Node &root)
{
    QString out = kOpen;
    out.reserve(root.children.empty() ? 64 : 4096);
    render(out, root, kRichText);
    out += kClose;
    return out;
}

QString plainToRichText(QStringView text)
{
    QString out = kOpen;
    out.reserve(text.size() + 64);
    escapeInto(out, text);
    out += kClose;
    return out;
}

QString renderOrFallback(const QString &text)
{
    if (const auto root = parse(text))
        return toRichText(*root);
    return plainToRichText(text);
}

QString toCommonMarkHtml(const Node &root)
{
    QString out;
    render(out, root, kCommonMark);
    return out;
}

QString toPlainText(const Node &root)
{
    QString out;
    plainText(out, root);
    return out;
}

} // namespace InlineMarkdown
