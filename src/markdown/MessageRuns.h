#pragma once

#include "InlineMarkdown.h"

#include <QString>
#include <optional>
#include <vector>

// A stretch of a message's shown text in one style: from `start` to the next
// run's start (the last one to the end of the text).
struct StyledRun
{
    enum Style : quint8 { Plain = 0, Bold = 1, Italic = 2, Code = 4, Link = 8 };
    qsizetype start = 0;
    quint8 style = Plain;
    QString href;  // a link's address
    bool sameStyle(const StyledRun &other) const { return style == other.style && href == other.href; }
    bool operator==(const StyledRun &) const = default;
};

// Presents one message's text as it grows. The text arrives in pieces and is
// shown in one of two ways: an assistant's text that looks like Markdown is
// styled (markers removed), any other text is shown as it is. Line breaks in
// the shown text are single "\n" (CR LF and CR included) and lone surrogates
// U+FFFD, so one character of it is one position in a text document holding
// it; an empty message shows one space.
//
// A reply only grows, so a presentation costs what was added: plain text is
// appended to the shown text; styled text keeps the runs of its settled
// Markdown (see InlineMarkdown::parseFrom) and parses only the lines after it.
// The shown text is the message's own text while the two are the same (plain,
// with no CR and no lone surrogate): nothing else keeps a copy then.
class MessagePresenter
{
public:
    explicit MessagePresenter(bool mayStyle = false) : m_mayStyle(mayStyle) {}

    // Adds `piece` to the end of the message's text. Cheap: the work waits for present().
    void append(QStringView piece);
    // Presents the text as it now stands. Returns the first position at which
    // the shown text or its styles differ from the last presentation's (the
    // length of the shown text when nothing changed).
    qsizetype present();

    const QString &text() const;  // the shown text
    const std::vector<StyledRun> &runs() const { return m_runs; }
    bool styled() const { return m_shown == Kind::styled; }
    // The message's text as it was given.
    const QString &source() const { return m_keepsRaw ? m_raw : m_normalised; }

private:
    enum class Kind { nothing, space, plain, styled };
    struct Shown
    {
        QStringView text;
        std::vector<StyledRun> runs;
    };
    Shown lastShown() const;
    static const std::vector<StyledRun> &plainRuns();
    qsizetype showPlain();
    std::optional<qsizetype> showStyled();  // nothing when the parser refuses the text

    bool m_mayStyle;
    InlineMarkdown::Normaliser m_normaliser;
    QString m_normalised;  // the text as the parser reads it
    QString m_raw;         // the text as given, kept apart only once it differs from m_normalised
    bool m_keepsRaw = false;
    qsizetype m_changedFrom = 0;  // the first position of m_normalised changed since the last presentation
    bool m_looksLikeMarkdown = false;
    qsizetype m_markdownCheckedTo = 0;

    // What was shown last: m_normalised itself (or one space) when plain, else m_styledText.
    Kind m_shown = Kind::nothing;
    qsizetype m_plainShown = 0;  // how much of m_normalised
    QString m_styledText;
    std::vector<StyledRun> m_runs{{0, StyledRun::Plain, {}}};
    qsizetype m_settledEnd = 0;     // in m_normalised: the settled Markdown, not parsed again
    size_t m_settledRuns = 0;       // how many runs show it
    qsizetype m_settledLength = 0;  // how much of m_styledText shows it
};

namespace MessageRuns {

// True when the text contains "**", "__", "*", "`" or "[" (tested in that order).
bool looksLikeMarkdown(QStringView content);

// The shown text and runs of `content` presented at once, for a message of `role`.
struct Presented
{
    QString text;
    std::vector<StyledRun> runs;
    bool styled = false;
};
Presented present(const QString &content, const QString &role);

} // namespace MessageRuns
