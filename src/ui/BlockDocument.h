#pragma once

#include "MessageRuns.h"

#include <QColor>
#include <vector>

class QTextDocument;

// The text document of one block of a message's text (see MessageBlocks).
namespace BlockDocument {

// Makes `document` hold [start, end) of a message's shown `text`, in the
// styles of `runs` (the message's runs). The document's first `kept`
// characters (what it held before the text changed) stay, and only the rest
// is replaced, so a block that grows at its end is laid out again only from
// its last paragraph. `direction` is given to the first paragraph (a block
// that continues a paragraph keeps its direction); links are drawn in
// `linkColor`.
void show(QTextDocument *document, QStringView text, const std::vector<StyledRun> &runs, qsizetype start,
          qsizetype end, qsizetype kept, Qt::LayoutDirection direction, const QColor &linkColor);

// How the document's lines lie once laid out at its text width: the height,
// the horizontal reach from the leftmost to the rightmost line (right-to-left
// paragraphs sit at the right), and whether a paragraph wraps.
struct Extent
{
    qreal height = 0;
    qreal left = 0;
    qreal right = 0;
    int lines = 0;
    bool wraps = false;
};
Extent measure(QTextDocument *document);

} // namespace BlockDocument
