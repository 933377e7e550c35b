#include "BlockDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
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

void BlockDocument::show(QTextDocument *document, QStringView text, const std::vector<StyledRun> &runs,
                         qsizetype start, qsizetype end, qsizetype kept, Qt::LayoutDirection direction,
                         const QColor &linkColor)
{
    kept = std::clamp<qsizetype>(kept, 0, std::min<qsizetype>(end - start, document->characterCount() - 1));
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(int(kept));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    // The runs from the one in force at the first new character.
    const qsizetype from = start + kept;
    auto run = std::upper_bound(runs.begin(), runs.end(), from,
                                [](qsizetype position, const StyledRun &r) { return position < r.start; });
    for (run = run == runs.begin() ? run : run - 1; run != runs.end() && run->start < end; ++run) {
        const qsizetype runFrom = std::max(from, run->start);
        const qsizetype runTo = std::min(end, run + 1 != runs.end() ? (run + 1)->start : end);
        if (runTo > runFrom)
            cursor.insertText(text.sliced(runFrom, runTo - runFrom).toString(), formatFor(*run, linkColor));
    }
    if (document->begin().blockFormat().layoutDirection() != direction) {
        QTextBlockFormat format;
        format.setLayoutDirection(direction);
        QTextCursor(document->begin()).mergeBlockFormat(format);
    }
    cursor.endEditBlock();
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
