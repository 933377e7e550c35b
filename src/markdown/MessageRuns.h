#pragma once

#include <QString>
#include <vector>

// A stretch of a message's text in one style.
struct StyledRun
{
    enum Style : quint8 { Plain = 0, Bold = 1, Italic = 2, Code = 4, Link = 8 };
    QString text;
    quint8 style = Plain;
    QString href;  // a link's address
    bool sameStyle(const StyledRun &other) const { return style == other.style && href == other.href; }
};

// What a message bubble shows: styled runs whose texts, end to end, are the
// text a reader sees and a screen reader reads. Line breaks in the runs are
// single "\n" (CR LF and CR included), so one character of the runs is one
// position in a text document holding them.
struct PresentedMessage
{
    std::vector<StyledRun> runs;
    bool styled = false;
};

// Presents one message again each time its text changes. A streamed reply
// only grows, so the Markdown already settled (see InlineMarkdown::parseFrom)
// is kept and only the text after it is parsed, and the runs it made stay
// where they are: a presentation costs the newest lines, not the whole reply.
// The runs are always MessageRuns::present()'s.
class MessagePresenter
{
public:
    // Presents `content` and returns the first position at which the runs now
    // differ from the last presentation's in a character or a style (their
    // length when they do not differ).
    qsizetype present(const QString &content, const QString &role);
    const PresentedMessage &shown() const { return m_shown; }
    // How much of the last styled text was settled, not to be parsed again.
    qsizetype settledLength() const { return m_settledEnd; }

private:
    qsizetype replace(PresentedMessage &&shown);
    void forget();

    PresentedMessage m_shown;
    QString m_text;  // the last styled text, as the parser read it
    qsizetype m_settledEnd = 0;
    size_t m_settledRuns = 0;           // how many of the runs show the settled text
    qsizetype m_lastSettledLength = 0;  // how much of the last of them is settled
    qsizetype m_settledRunsLength = 0;  // the settled characters they show
};

namespace MessageRuns {

// True when the text contains "**", "__", "*", "`" or "[" (tested in that order).
bool looksLikeMarkdown(const QString &content);

// An empty message shows one space; assistant text that looks like Markdown is
// styled (or shown raw when the parser rejects it); any other text is verbatim.
PresentedMessage present(const QString &content, const QString &role);

// The first position at which two run lists differ in a character or a style.
qsizetype firstDifference(const std::vector<StyledRun> &a, const std::vector<StyledRun> &b);
// The same, for the runs from offset `offsetA` into a[i] and `offsetB` into b[j]
// on, counted from there.
qsizetype firstDifference(const std::vector<StyledRun> &a, size_t i, qsizetype offsetA,
                          const std::vector<StyledRun> &b, size_t j, qsizetype offsetB);

} // namespace MessageRuns
