#include "MessageBlocks.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>

namespace {

// How far past a block's limit its cut may look (for a grapheme boundary).
constexpr qsizetype kLookahead = 32;

// Where to end a block that starts at `start` inside a paragraph running past
// `start + limit`: after the last space in the block's second half, else at the
// last boundary between two grapheme clusters, never inside a surrogate pair.
qsizetype cutInsideParagraph(QStringView text, qsizetype start, qsizetype limit)
{
    const qsizetype hardEnd = start + limit;
    for (qsizetype i = hardEnd - 1; i >= start + limit / 2; --i) {
        if ((text[i] == u' ' || text[i] == u'\t') && !text[i + 1].isMark())
            return i + 1;
    }
    const QStringView window = text.sliced(start, std::min(text.size(), hardEnd + kLookahead) - start);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, window);
    graphemes.setPosition(limit);
    const qsizetype at = graphemes.isAtBoundary() ? limit : graphemes.toPreviousBoundary();
    if (at > 0)
        return start + at;
    // One cluster longer than a block (a letter with thousands of marks).
    return text[hardEnd - 1].isHighSurrogate() ? hardEnd - 1 : hardEnd;
}

} // namespace

size_t MessageBlocks::unaffected(const std::vector<TextBlock> &blocks, qsizetype changedFrom, qsizetype limit)
{
    return size_t(std::partition_point(blocks.begin(), blocks.end(),
                                       [&](const TextBlock &block) {
                                           return block.start + limit + kLookahead < changedFrom;
                                       })
                  - blocks.begin());
}

void MessageBlocks::split(std::vector<TextBlock> &blocks, QStringView text, size_t keep, qsizetype limit)
{
    qsizetype start = 0, paragraphStart = 0;
    if (keep < blocks.size()) {
        start = blocks[keep].start;
        paragraphStart = blocks[keep].paragraphStart;
    }
    blocks.resize(keep);
    const qsizetype groupLimit = std::max<qsizetype>(1, limit / 2);
    for (;;) {
        if (text.size() - start <= groupLimit) {
            blocks.push_back({start, text.size(), paragraphStart});
            return;
        }
        const qsizetype lastBreak = text.sliced(start, groupLimit + 1).lastIndexOf(u'\n');
        if (lastBreak > 0) {
            blocks.push_back({start, start + lastBreak, paragraphStart});
            start = paragraphStart = start + lastBreak + 1;
            continue;
        }
        // One paragraph runs past the group's limit: alone in its block when
        // it ends within the limit, else cut inside it.
        if (lastBreak == 0)
            paragraphStart = start + 1;
        const qsizetype from = std::max(start, paragraphStart);
        const qsizetype reach = std::min(text.size(), start + limit + 1);
        const qsizetype lineBreak = text.sliced(from, reach - from).indexOf(u'\n');
        if (lineBreak >= 0) {
            blocks.push_back({start, from + lineBreak, paragraphStart});
            start = paragraphStart = from + lineBreak + 1;
            continue;
        }
        if (text.size() - start <= limit) {
            blocks.push_back({start, text.size(), paragraphStart});
            return;
        }
        const qsizetype cut = cutInsideParagraph(text, start, limit);
        blocks.push_back({start, cut, paragraphStart});
        start = cut;
    }
}

Qt::LayoutDirection MessageBlocks::paragraphDirection(QStringView text)
{
    for (qsizetype i = 0; i < text.size() && text[i] != u'\n'; ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        switch (QChar::direction(c)) {
        case QChar::DirL: return Qt::LeftToRight;
        case QChar::DirR:
        case QChar::DirAL: return Qt::RightToLeft;
        default: break;
        }
    }
    return Qt::LayoutDirectionAuto;
}

MessageBlocks::LineEstimate MessageBlocks::estimateLines(QStringView text, double charsPerLine)
{
    LineEstimate estimate;
    charsPerLine = std::max(1.0, charsPerLine);
    qsizetype from = 0;
    for (;;) {
        const qsizetype lineBreak = text.indexOf(u'\n', from);
        const qsizetype length = (lineBreak < 0 ? text.size() : lineBreak) - from;
        estimate.lines += std::max<qsizetype>(1, qsizetype(std::ceil(double(length) / charsPerLine)));
        // Well past the estimated line length: no plausible mix of narrow letters fits it on one line.
        estimate.wraps = estimate.wraps || double(length) > 2 * charsPerLine;
        if (lineBreak < 0)
            return estimate;
        from = lineBreak + 1;
    }
}
