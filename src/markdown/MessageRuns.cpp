#include "MessageRuns.h"

#include "InlineMarkdown.h"

#include <algorithm>
#include <limits>

namespace {

// Adds `text` in one style to the end of the shown text, continuing the last
// run when the style is the same.
void append(QString &shown, std::vector<StyledRun> &runs, const QString &text, quint8 style, const QString &href)
{
    if (text.isEmpty())
        return;
    if (runs.empty() || runs.back().style != style || runs.back().href != href)
        runs.push_back({shown.size(), style, href});
    // A character reference may stand for a CR.
    shown += text.contains(u'\r') ? InlineMarkdown::normalised(text) : text;
}

void collect(QString &shown, std::vector<StyledRun> &runs, const InlineMarkdown::Node &node, quint8 style,
             const QString &href)
{
    using Kind = InlineMarkdown::Node::Kind;
    switch (node.kind) {
    case Kind::Text:
    case Kind::RawHtml:  // shown as text, never interpreted
        append(shown, runs, node.text, style, href);
        return;
    case Kind::Code:
        append(shown, runs, node.text, style | StyledRun::Code, href);
        return;
    case Kind::Link:
        for (const auto &child : node.children)
            collect(shown, runs, child, style | StyledRun::Link, node.destination);
        return;
    case Kind::Emphasis: style |= StyledRun::Italic; break;
    case Kind::Strong: style |= StyledRun::Bold; break;
    case Kind::Root: break;
    }
    for (const auto &child : node.children)
        collect(shown, runs, child, style, href);
}

// The first position from `from` on at which two shown texts differ in a
// character or a style; `oldTail` is the old text from `from` on, the runs
// are the whole lists (each run to the next one's start).
qsizetype firstDifference(QStringView oldTail, const std::vector<StyledRun> &oldRuns, QStringView newText,
                          const std::vector<StyledRun> &newRuns, qsizetype from)
{
    const QStringView newTail = newText.sliced(from);
    const qsizetype common = std::min(oldTail.size(), newTail.size());
    const qsizetype end
        = from + (std::mismatch(oldTail.begin(), oldTail.begin() + common, newTail.begin()).first - oldTail.begin());
    // The runs in force at a position, then at each next run start of either list.
    const auto runAt = [](const std::vector<StyledRun> &runs, qsizetype position) {
        const auto after = std::upper_bound(runs.begin(), runs.end(), position,
                                            [](qsizetype p, const StyledRun &run) { return p < run.start; });
        return after == runs.begin() ? after : after - 1;
    };
    constexpr qsizetype never = std::numeric_limits<qsizetype>::max();
    auto i = runAt(oldRuns, from), j = runAt(newRuns, from);
    for (qsizetype position = from; position < end;) {
        if (!i->sameStyle(*j))
            return position;
        const qsizetype nextOld = i + 1 != oldRuns.end() ? (i + 1)->start : never;
        const qsizetype nextNew = j + 1 != newRuns.end() ? (j + 1)->start : never;
        position = std::min(nextOld, nextNew);
        i += position == nextOld;
        j += position == nextNew;
    }
    return end;
}

} // namespace

bool MessageRuns::looksLikeMarkdown(QStringView content)
{
    for (const char *marker : {"**", "__", "*", "`", "["})
        if (content.contains(QLatin1String(marker)))
            return true;
    return false;
}

MessageRuns::Presented MessageRuns::present(const QString &content, const QString &role)
{
    MessagePresenter presenter(role == QLatin1String("assistant"));
    presenter.append(content);
    presenter.present();
    return {presenter.text(), presenter.runs(), presenter.styled()};
}

void MessagePresenter::append(QStringView piece)
{
    if (piece.isEmpty())
        return;
    const qsizetype before = m_normalised.size();
    const qsizetype changedFrom = m_normaliser.append(m_normalised, piece);
    m_changedFrom = std::min(m_changedFrom, changedFrom);
    // The text as given is kept apart only once normalising changed it.
    if (m_keepsRaw) {
        m_raw.append(piece);
    } else if (changedFrom < before || QStringView(m_normalised).sliced(before) != piece) {
        m_raw = m_normalised.first(before);
        m_raw.append(piece);
        m_keepsRaw = true;
    }
}

const QString &MessagePresenter::text() const
{
    static const QString space = QStringLiteral(" ");  // an empty message shows one space
    if (m_shown == Kind::styled)
        return m_styledText;
    return m_normalised.isEmpty() ? space : m_normalised;
}

qsizetype MessagePresenter::present()
{
    if (m_mayStyle && !m_looksLikeMarkdown) {
        // Only what was added can bring the first marker ("__" may straddle).
        const qsizetype from = std::max<qsizetype>(0, m_markdownCheckedTo - 1);
        m_looksLikeMarkdown = MessageRuns::looksLikeMarkdown(QStringView(m_normalised).sliced(from));
        m_markdownCheckedTo = m_normalised.size();
    }
    if (m_looksLikeMarkdown && m_normalised.size() <= InlineMarkdown::kMaxLength) {
        if (const auto changedFrom = showStyled())
            return *changedFrom;
    }
    return showPlain();
}

// What the last presentation showed, for comparing a differently presented
// text with it: a plain text only as far as it is unchanged.
MessagePresenter::Shown MessagePresenter::lastShown() const
{
    static const QString space = QStringLiteral(" ");
    switch (m_shown) {
    case Kind::nothing: return {};
    case Kind::space: return {space, plainRuns()};
    case Kind::plain: return {QStringView(m_normalised).first(std::min(m_plainShown, m_changedFrom)), plainRuns()};
    case Kind::styled: return {m_styledText, m_runs};
    }
    return {};
}

const std::vector<StyledRun> &MessagePresenter::plainRuns()
{
    static const std::vector<StyledRun> runs{{0, StyledRun::Plain, {}}};
    return runs;
}

qsizetype MessagePresenter::showPlain()
{
    const Kind now = m_normalised.isEmpty() ? Kind::space : Kind::plain;
    qsizetype changedFrom = 0;
    if (m_shown == Kind::plain && now == Kind::plain) {
        changedFrom = std::min(m_changedFrom, m_plainShown);  // the text grew
    } else {
        const Shown before = lastShown();
        const QString &shown = m_normalised.isEmpty() ? QStringLiteral(" ") : m_normalised;
        changedFrom = firstDifference(before.text, before.runs, shown, plainRuns(), 0);
        m_styledText = QString();
        m_runs = plainRuns();
    }
    m_shown = now;
    m_changedFrom = m_plainShown = m_normalised.size();
    return changedFrom;
}

std::optional<qsizetype> MessagePresenter::showStyled()
{
    // Only what follows the settled Markdown is parsed again.
    const bool resumes = m_shown == Kind::styled && m_changedFrom >= m_settledEnd;
    auto parsed = InlineMarkdown::parseFrom(m_normalised, resumes ? m_settledEnd : 0);
    if (!parsed)
        return std::nullopt;  // shown as it is

    // The runs of the settled text stay; those after it are made again and
    // compared with what they replace (a text shown otherwise before is
    // compared whole, once).
    const qsizetype keptLength = resumes ? m_settledLength : 0;
    std::vector<StyledRun> runs;
    QString text;
    if (resumes) {
        text = m_styledText.sliced(keptLength);
        runs.assign(m_runs.begin() + qsizetype(m_settledRuns > 0 ? m_settledRuns - 1 : 0), m_runs.end());
        m_styledText.truncate(keptLength);
        m_runs.resize(m_settledRuns);
    } else {
        const Shown before = lastShown();
        text = before.text.toString();
        runs = before.runs;
        m_styledText.clear();
        m_runs.clear();
    }
    collect(m_styledText, m_runs, parsed->settled, StyledRun::Plain, {});
    m_settledRuns = m_runs.size();
    m_settledLength = m_styledText.size();
    m_settledEnd = parsed->settledEnd;
    collect(m_styledText, m_runs, parsed->rest, StyledRun::Plain, {});
    if (m_runs.empty())
        m_runs = plainRuns();
    m_shown = Kind::styled;
    m_changedFrom = m_normalised.size();
    m_plainShown = 0;
    return firstDifference(text, runs.empty() ? plainRuns() : runs, m_styledText, m_runs, keptLength);
}
