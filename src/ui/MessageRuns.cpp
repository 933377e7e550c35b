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
    return MessagePresenter().present(content, role);
}

PresentedMessage MessagePresenter::present(const QString &content, const QString &role)
{
    PresentedMessage shown;
    if (content.isEmpty()) {
        forget();
        shown.plainText = QStringLiteral(" ");
        shown.runs.push_back({shown.plainText, StyledRun::Plain, {}});
        return shown;
    }
    if (role == QLatin1String("assistant") && MessageRuns::looksLikeMarkdown(content)
        && content.size() <= InlineMarkdown::kMaxLength) {
        const QString text = InlineMarkdown::normalised(content);
        if (m_settledEnd > text.size()
            || QStringView(text).first(m_settledEnd) != QStringView(m_text).first(m_settledEnd))
            forget();  // not the text settled before
        if (const auto parsed = InlineMarkdown::parseFrom(text, m_settledEnd)) {
            m_text = text;
            m_settledEnd = parsed->settledEnd;
            collect(m_settledRuns, parsed->settled, StyledRun::Plain, {});
            m_settledPlainText += InlineMarkdown::toPlainText(parsed->settled);
            shown.runs = m_settledRuns;
            collect(shown.runs, parsed->rest, StyledRun::Plain, {});
            shown.styled = true;
            shown.plainText = m_settledPlainText + InlineMarkdown::toPlainText(parsed->rest);
            return shown;
        }
    }
    forget();
    shown.plainText = content;
    shown.runs.push_back({normalisedBreaks(content), StyledRun::Plain, {}});
    return shown;
}

void MessagePresenter::forget()
{
    m_text.clear();
    m_settledEnd = 0;
    m_settledRuns.clear();
    m_settledPlainText.clear();
}

qsizetype MessageRuns::firstDifference(const std::vector<StyledRun> &a, const std::vector<StyledRun> &b)
{
    qsizetype position = 0;
    size_t i = 0, j = 0;
    qsizetype offsetA = 0, offsetB = 0;
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
