#include "MessageTextDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QQuickItem>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

namespace {

QTextCharFormat formatFor(const StyledRun &run)
{
    QTextCharFormat format;
    if (run.style & StyledRun::Bold)
        format.setFontWeight(QFont::Bold);
    if (run.style & StyledRun::Italic)
        format.setFontItalic(true);
    if (run.style & StyledRun::Code) {
        format.setFontFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
        format.setFontFixedPitch(true);
    }
    if (run.style & StyledRun::Link) {
        format.setAnchor(true);
        format.setAnchorHref(run.href);
        format.setForeground(QGuiApplication::palette().color(QPalette::Link));
        format.setFontUnderline(true);
    }
    return format;
}

} // namespace

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

void MessageTextDocument::present()
{
    PresentedMessage shown = MessageRuns::present(m_content, m_role);
    if (shown.styled != m_styled || shown.plainText != m_plainText) {
        m_styled = shown.styled;
        m_plainText = shown.plainText;
        emit presentedChanged();
    }
    QTextDocument *doc = m_document ? m_document->textDocument() : nullptr;
    if (!doc)
        return;

    const qsizetype from = m_documentFresh ? 0 : MessageRuns::firstDifference(m_shown, shown.runs);
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(int(std::min<qsizetype>(from, doc->characterCount() - 1)));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    qsizetype start = 0;
    for (const StyledRun &run : shown.runs) {
        const qsizetype end = start + run.text.size();
        if (end > from)
            cursor.insertText(run.text.mid(std::max<qsizetype>(0, from - start)), formatFor(run));
        start = end;
    }
    cursor.endEditBlock();
    m_shown = std::move(shown.runs);
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
