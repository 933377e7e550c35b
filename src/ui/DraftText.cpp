#include "DraftText.h"

namespace {
bool isSpaceOrTab(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}
}  // namespace

bool DraftText::isBlank(const QString &text)
{
    // Trimming both ends leaves nothing exactly when every character is white space.
    for (QChar c : text) {
        if (!isSpaceOrTab(c))
            return false;
    }
    return true;
}
