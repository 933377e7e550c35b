#include "CommonMarkHtml.h"

// The parsed tree rendered as CommonMark's HTML, to check the parser against
// CommonMark's examples.

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

void render(QString &out, const Node &node)
{
    switch (node.kind) {
    case Kind::Text:
        escapeInto(out, node.text);
        return;
    case Kind::RawHtml:
        out += node.text;  // CommonMark passes raw HTML through
        return;
    case Kind::Code:
        out += QLatin1String("<code>");
        escapeInto(out, node.text);
        out += QLatin1String("</code>");
        return;
    case Kind::Root:
        break;
    case Kind::Emphasis:
        out += QLatin1String("<em>");
        break;
    case Kind::Strong:
        out += QLatin1String("<strong>");
        break;
    case Kind::Link:
        out += QLatin1String("<a href=\"");
        escapeInto(out, node.destination);
        out += u'"';
        if (!node.title.isEmpty()) {
            out += QLatin1String(" title=\"");
            escapeInto(out, node.title);
            out += u'"';
        }
        out += u'>';
        break;
    }
    for (const Node &child : node.children)
        render(out, child);
    switch (node.kind) {
    case Kind::Emphasis: out += QLatin1String("</em>"); break;
    case Kind::Strong: out += QLatin1String("</strong>"); break;
    case Kind::Link: out += QLatin1String("</a>"); break;
    default: break;
    }
}

} // namespace

QString toCommonMarkHtml(const Node &root)
{
    QString out;
    render(out, root);
    return out;
}

} // namespace InlineMarkdown
