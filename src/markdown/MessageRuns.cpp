#include "MessageRuns.h"

#include "InlineMarkdown.h"

#include <cstring>

namespace {

QString normalisedBreaks(const QString &text)
{
    if (!text.contains(u'\r'))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                continue;
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

void append(std::vector<StyledRun> &runs, const QString &text, quint8 style, const QString &href)
{
    if (text.isEmpty())
        return;
    if (!runs.empty() && runs.back().style == style && runs.back().href == href)
        runs.back().text += text;
    else
        runs.push_back({text, style, href});
}

void collect(std::vector<StyledRun> &runs, const InlineMarkdown::Node &node, quint8 style, const QString &href)
{
    using Kind = InlineMarkdown::Node::Kind;
    switch (node.kind) {
    case Kind::Text:
    case Kind::RawHtml:  // shown as text, never interpreted
        append(runs, normalisedBreaks(node.text), style, href);
        return;
    case Kind::Code:
        append(runs, normalisedBreaks(node.text), style | StyledRun::Code, href);
        return;
    case Kind::Link:
        for (const auto &child : node.children)
            collect(runs, child, style | StyledRun::Link, node.destination);
        return;
    case Kind::Emphasis: style |= StyledRun::Italic; break;
    case Kind::Strong: style |= StyledRun::Bold; break;
    case Kind::Root: break;
    }
    for (const auto &child : node.children)
        collect(runs, child, style, href);
}

} // namespace

bool MessageRuns::looksLikeMarkdown(const QString &content)
{
    static const QString markers[] = {QStringLiteral("**"), QStringLiteral("__"), QStringLiteral("*"),
                                      QStringLiteral("`"), QStringLiteral("[")};
    for (const QString &marker : markers)
        if (content.contains(marker))
            return true;
    return false;
}

PresentedMessage MessageRuns::present(const QString &content, const QString &role)
{
    MessagePresenter presenter;
    presenter.present(content, role);
    return presenter.shown();
}

qsizetype MessagePresenter::present(const QString &content, const QString &role)
{
    if (content.isEmpty()) {
        forget();
        return replace({{{QStringLiteral(" "), StyledRun::Plain, {}}}, false});
    }
    if (role == QLatin1String("assistant") && MessageRuns::looksLikeMarkdown(content)
        && content.size() <= InlineMarkdown::kMaxLength) {
        const QString text = InlineMarkdown::normalised(content);
        if (m_settledEnd > text.size()
            || QStringView(text).first(m_settledEnd) != QStringView(m_text).first(m_settledEnd))
            forget();  // not the text settled before
        if (const auto parsed = InlineMarkdown::parseFrom(text, m_settledEnd)) {
            // The runs of the settled text stay; those after it are made again.
            // The last settled run may hold unsettled text that continued its
            // style, and may grow when the newly settled text continues it.
            std::vector<StyledRun> &runs = m_shown.runs;
            std::vector<StyledRun> before;  // the runs from the end of the settled text on
            const size_t lastSettled = m_settledRuns > 0 ? m_settledRuns - 1 : 0;
            if (m_settledRuns > 0 && runs[lastSettled].text.size() > m_lastSettledLength) {
                StyledRun &last = runs[lastSettled];
                before.push_back({last.text.sliced(m_lastSettledLength), last.style, last.href});
                last.text.truncate(m_lastSettledLength);
            }
            before.insert(before.end(), std::make_move_iterator(runs.begin() + qsizetype(m_settledRuns)),
                          std::make_move_iterator(runs.end()));
            runs.resize(m_settledRuns);
            const qsizetype lastSettledLength = m_lastSettledLength;
            const qsizetype previouslySettled = m_settledRunsLength;
            collect(runs, parsed->settled, StyledRun::Plain, {});
            for (size_t i = lastSettled; i < runs.size(); ++i)
                m_settledRunsLength += runs[i].text.size() - (i == lastSettled ? lastSettledLength : 0);
            m_settledRuns = runs.size();
            m_lastSettledLength = runs.empty() ? 0 : runs.back().text.size();
            collect(runs, parsed->rest, StyledRun::Plain, {});
            m_text = text;
            m_settledEnd = parsed->settledEnd;
            m_shown.styled = true;
            return previouslySettled + MessageRuns::firstDifference(before, 0, 0, runs, lastSettled, lastSettledLength);
        }
    }
    forget();
    return replace({{{normalisedBreaks(content), StyledRun::Plain, {}}}, false});
}

qsizetype MessagePresenter::replace(PresentedMessage &&shown)
{
    const qsizetype changedFrom = MessageRuns::firstDifference(m_shown.runs, shown.runs);
    m_shown = std::move(shown);
    return changedFrom;
}

void MessagePresenter::forget()
{
    m_text.clear();
    m_settledEnd = 0;
    m_settledRuns = 0;
    m_lastSettledLength = 0;
    m_settledRunsLength = 0;
}

qsizetype MessageRuns::firstDifference(const std::vector<StyledRun> &a, const std::vector<StyledRun> &b)
{
    return firstDifference(a, 0, 0, b, 0, 0);
}

qsizetype MessageRuns::firstDifference(const std::vector<StyledRun> &a, size_t i, qsizetype offsetA,
                                       const std::vector<StyledRun> &b, size_t j, qsizetype offsetB)
{
    qsizetype position = 0;
    while (i < a.size() && j < b.size()) {
        const StyledRun &x = a[i], &y = b[j];
        if (offsetA == x.text.size()) { ++i; offsetA = 0; continue; }
        if (offsetB == y.text.size()) { ++j; offsetB = 0; continue; }
        if (!x.sameStyle(y))
            break;
        const qsizetype n = std::min(x.text.size() - offsetA, y.text.size() - offsetB);
        const QChar *p = x.text.constData() + offsetA, *q = y.text.constData() + offsetB;
        qsizetype k = 0;
        // A streamed reply compares megabytes a frame: whole stretches at a
        // time first (memcmp is vectorised), then the last one character-wise.
        constexpr qsizetype stretch = 512;
        if (p == q)  // the same characters, shared by both texts
            k = n;
        while (k + stretch <= n && std::memcmp(p + k, q + k, stretch * sizeof(QChar)) == 0)
            k += stretch;
        while (k < n && p[k] == q[k])
            ++k;
        position += k;
        if (k < n)
            break;
        offsetA += n;
        offsetB += n;
    }
    return position;
}
