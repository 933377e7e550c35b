#include "MessageTextDocument.h"

#include "InlineMarkdown.h"
#include "MessageFormatter.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQuickItem>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

namespace {

using Run = MessageTextDocument::Run;

// A document turns CR LF and a lone CR into one paragraph break; the runs do
// the same beforehand so that their positions are the document's positions.
QString normalisedBreaks(const QString &text)
{
    if (!text.contains(u'\r'))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                continue;
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

void append(std::vector<Run> &runs, const QString &text, quint8 style, const QString &href)
{
    if (text.isEmpty())
        return;
    if (!runs.empty() && runs.back().style == style && runs.back().href == href)
        runs.back().text += text;
    else
        runs.push_back({text, style, href});
}

void collect(std::vector<Run> &runs, const InlineMarkdown::Node &node, quint8 style, const QString &href)
{
    using Kind = InlineMarkdown::Node::Kind;
    switch (node.kind) {
    case Kind::Text:
    case Kind::RawHtml:  // shown as text, never interpreted
        append(runs, normalisedBreaks(node.text), style, href);
        return;
    case Kind::Code:
        append(runs, normalisedBreaks(node.text), style | Run::Code, href);
        return;
    case Kind::Emphasis: style |= Run::Italic; break;
    case Kind::Strong: style |= Run::Bold; break;
    case Kind::Link:
        for (const auto &child : node.children)
            collect(runs, child, style | Run::Link, node.destination);
        return;
    case Kind::Root: break;
    }
    for (const auto &child : node.children)
        collect(runs, child, style, href);
}

QTextCharFormat formatFor(const Run &run, const QColor &linkColor)
{
    QTextCharFormat format;
    if (run.style & Run::Bold)
        format.setFontWeight(QFont::Bold);
    if (run.style & Run::Italic)
        format.setFontItalic(true);
    if (run.style & Run::Code) {
        format.setFontFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
        format.setFontFixedPitch(true);
    }
    if (run.style & Run::Link) {
        format.setAnchor(true);
        format.setAnchorHref(run.href);
        format.setForeground(linkColor.isValid() ? linkColor : QGuiApplication::palette().color(QPalette::Link));
        format.setFontUnderline(true);
    }
    return format;
}

} // namespace

std::vector<Run> MessageTextDocument::runsFor(const QString &content, const QString &role, bool *styled,
                                              QString *plainText)
{
    std::vector<Run> runs;
    *styled = false;
    if (content.isEmpty()) {  // an empty message shows one space
        *plainText = QStringLiteral(" ");
        runs.push_back({*plainText, Run::Plain, {}});
        return runs;
    }
    if (role == QLatin1String("assistant") && MessageFormatter::looksLikeMarkdown(content)) {
        if (const auto root = InlineMarkdown::parse(content)) {
            collect(runs, *root, Run::Plain, {});
            *styled = true;
            *plainText = InlineMarkdown::toPlainText(*root);
            if (runs.empty())
                runs.push_back({QString(), Run::Plain, {}});
            return runs;
        }
    }
    *plainText = content;
    runs.push_back({normalisedBreaks(content), Run::Plain, {}});
    return runs;
}

qsizetype MessageTextDocument::firstDifference(const std::vector<Run> &a, const std::vector<Run> &b)
{
    qsizetype position = 0;
    size_t i = 0, j = 0;
    qsizetype offsetA = 0, offsetB = 0;
    while (i < a.size() && j < b.size()) {
        const Run &x = a[i], &y = b[j];
        if (offsetA == x.text.size()) { ++i; offsetA = 0; continue; }
        if (offsetB == y.text.size()) { ++j; offsetB = 0; continue; }
        if (!x.sameStyle(y))
            break;
        const qsizetype n = std::min(x.text.size() - offsetA, y.text.size() - offsetB);
        const QChar *p = x.text.constData() + offsetA, *q = y.text.constData() + offsetB;
        qsizetype k = 0;
        while (k < n && p[k] == q[k])
            ++k;
        position += k;
        if (k < n)
            break;
        offsetA += n;
        offsetB += n;
    }
    return position;
}

void MessageTextDocument::setDocument(QQuickTextDocument *document)
{
    if (document == m_document)
        return;
    disconnect(m_layoutWatch);
    m_document = document;
    m_documentFresh = true;
    if (QTextDocument *doc = document ? document->textDocument() : nullptr) {
        doc->setUndoRedoEnabled(false);  // a streamed reply would pile up undo steps
        // The text element then draws only the paragraphs inside the visible
        // area of the list around it (the list is a viewport); otherwise every
        // frame rebuilds and walks the glyphs of the whole reply.
        if (auto *textElement = qobject_cast<QQuickItem *>(document->parent()))
            textElement->setFlag(QQuickItem::ItemObservesViewport);
        // The text element lays its document out again when its width changes.
        m_layoutWatch = connect(doc->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
                                &MessageTextDocument::measure);
    }
    emit documentChanged();
    present();
}

void MessageTextDocument::setContent(const QString &content)
{
    if (content == m_content && !m_shown.empty())
        return;
    m_content = content;
    emit contentChanged();
    present();
}

void MessageTextDocument::setRole(const QString &role)
{
    if (role == m_role)
        return;
    m_role = role;
    emit roleChanged();
    present();
}

void MessageTextDocument::setLinkColor(const QColor &color)
{
    if (color == m_linkColor)
        return;
    m_linkColor = color;
    emit linkColorChanged();
    m_documentFresh = true;  // every link is drawn again in the new colour
    present();
}

void MessageTextDocument::present()
{
    bool styled = false;
    QString plain;
    std::vector<Run> runs = runsFor(m_content, m_role, &styled, &plain);
    if (styled != m_styled || plain != m_plainText) {
        m_styled = styled;
        m_plainText = plain;
        emit presentedChanged();
    }
    QTextDocument *doc = m_document ? m_document->textDocument() : nullptr;
    if (!doc)
        return;

    const qsizetype from = m_documentFresh ? 0 : firstDifference(m_shown, runs);
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(int(std::min<qsizetype>(from, doc->characterCount() - 1)));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    qsizetype start = 0;
    for (const Run &run : runs) {
        const qsizetype end = start + run.text.size();
        if (end > from)
            cursor.insertText(run.text.mid(std::max<qsizetype>(0, from - start)), formatFor(run, m_linkColor));
        start = end;
    }
    cursor.endEditBlock();
    m_shown = std::move(runs);
    m_documentFresh = false;
    measure();
}

// Where the lines reach once laid out at the text element's width: from the
// leftmost to the rightmost line (right-to-left paragraphs sit at the right).
void MessageTextDocument::measure()
{
    QTextDocument *doc = m_document ? m_document->textDocument() : nullptr;
    if (!doc)
        return;
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    qreal left = qInf(), right = -qInf();
    bool wraps = false;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QRectF area = layout->blockBoundingRect(block);  // lays the block out if needed
        const QTextLayout *lines = block.layout();
        if (!lines)
            continue;
        wraps = wraps || lines->lineCount() > 1 + block.text().count(QChar::LineSeparator);
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QRectF r = lines->lineAt(i).naturalTextRect();
            left = std::min(left, area.x() + r.left());
            right = std::max(right, area.x() + r.right());
        }
    }
    if (!(left <= right))
        left = right = 0;
    left = std::floor(left);
    right = std::ceil(right);
    if (left != m_left || right != m_right || wraps != m_wraps) {
        m_left = left;
        m_right = right;
        m_wraps = wraps;
        emit extentChanged();
    }
}
