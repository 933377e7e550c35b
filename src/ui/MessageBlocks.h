#pragma once

#include <QStringView>
#include <vector>

// A stretch of a message's shown text that is laid out and drawn on its own.
struct TextBlock
{
    qsizetype start = 0;  // in the shown text
    qsizetype end = 0;    // exclusive; a line break between two blocks belongs to neither
    // Where the paragraph the block starts in begins: before `start` when an
    // earlier block began that paragraph (the block then keeps its direction).
    qsizetype paragraphStart = 0;
    bool continuesParagraph() const { return paragraphStart < start; }
    bool operator==(const TextBlock &) const = default;
};

// A long message is shown as a column of blocks so that only the blocks near
// the visible area need a text layout. A block holds whole paragraphs, up to
// half of kBlockLength characters together, or one paragraph up to
// kBlockLength; a longer paragraph is cut after a space (or, with none near the
// limit, between two characters a reader sees as separate) into blocks of at
// most kBlockLength. A message up to half of kBlockLength characters is one
// block, laid out as a whole. Each change to a block's text costs the text item
// showing it work that grows with the whole block (however small the change),
// so many short lines go in smaller blocks, while a reader can still select
// across a paragraph of a few thousand characters.
namespace MessageBlocks {

constexpr qsizetype kBlockLength = 4000;

// How many of `blocks` (cut from an earlier text) the text before
// `changedFrom`, where the new text first differs, still decides: a block's
// end depends on the text up to a little past its limit.
size_t unaffected(const std::vector<TextBlock> &blocks, qsizetype changedFrom, qsizetype limit = kBlockLength);

// Cuts `text` into `blocks`, keeping the first `keep` of those already there
// (see unaffected()) and cutting the rest again. So a streamed reply, which
// grows at its end, re-cuts only its last block.
void split(std::vector<TextBlock> &blocks, QStringView text, size_t keep, qsizetype limit = kBlockLength);

// The direction of the paragraph starting at the beginning of `text`: that of
// its first strong character (auto when it has none).
Qt::LayoutDirection paragraphDirection(QStringView text);

// About how many lines `text` takes at `charsPerLine` characters a line (each
// paragraph at least one), and whether some paragraph surely wraps.
struct LineEstimate
{
    qsizetype lines = 0;
    bool wraps = false;
};
LineEstimate estimateLines(QStringView text, double charsPerLine);

} // namespace MessageBlocks
