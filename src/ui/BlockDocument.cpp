#include "BlockDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

namespace {

QTextCharFormat formatFor(const StyledRun &run, const QColor &linkColor)
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
        format.setForeground(linkColor);
        format.setFontUnderline(true);
    }
    return format;
}

} // namespace

void BlockDocument::show(QTextDocument *document, std::vector<StyledRun> &shown, std::vector<StyledRun> runs,
                         Qt::LayoutDirection direction, const QColor &linkColor)
{
    const qsizetype from = MessageRuns::firstDifference(shown, runs);
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(int(std::min<qsizetype>(from, document->characterCount() - 1)));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    qsizetype start = 0;
    for (const StyledRun &run : runs) {
        const qsizetype end = start + run.text.size();
        if (end > from)
            cursor.insertText(run.text.mid(std::max<qsizetype>(0, from - start)), formatFor(run, linkColor));
        start = end;
    }
    if (document->begin().blockFormat().layoutDirection() != direction) {
        QTextBlockFormat format;
        format.setLayoutDirection(direction);
        QTextCursor(document->begin()).mergeBlockFormat(format);
    }
    cursor.endEditBlock();
    shown = std::move(runs);
}

BlockDocument::Extent BlockDocument::measure(QTextDocument *document)
{
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    Extent extent;
    qreal left = qInf(), right = -qInf();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QRectF area = layout->blockBoundingRect(block);  // lays the block out if needed
        const QTextLayout *lines = block.layout();
        if (!lines)
            continue;
        extent.lines += lines->lineCount();
        extent.wraps = extent.wraps || lines->lineCount() > 1 + block.text().count(QChar::LineSeparator);
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QRectF r = lines->lineAt(i).naturalTextRect();
            left = std::min(left, area.x() + r.left());
            right = std::max(right, area.x() + r.right());
        }
    }
    if (!(left <= right))
        left = right = 0;
    extent.left = std::floor(left);
    extent.right = std::ceil(right);
    extent.height = layout->documentSize().height();
    return extent;
}
