#include "DraftText.h"

bool DraftText::isWhiteSpace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool DraftText::isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x0A: case 0x0B: case 0x0C: case 0x0D:
    case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

bool DraftText::isBlank(const QString &text)
{
    // Trimming both ends leaves nothing exactly when every character is white space.
    for (QChar c : text) {
        if (!isWhiteSpace(c))
            return false;
    }
    return true;
}

QString DraftText::trimmedForSending(const QString &text)
{
    const auto trimmable = [](QChar c) { return isWhiteSpace(c) || isLineBreak(c); };
    qsizetype begin = 0, end = text.size();
    while (begin < end && trimmable(text.at(begin)))
        ++begin;
    while (end > begin && trimmable(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}
