// Assistant text through the inline Markdown parser and its renderers, and
// through the bubble's presentation (styled runs, or the raw-text fallback).
#include "InlineMarkdown.h"
#include "MessageRuns.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto root = InlineMarkdown::parse(text)) {
        const QString plain = InlineMarkdown::toPlainText(*root);
        const QString html = InlineMarkdown::toCommonMarkHtml(*root);
        // Markers are removed, never added: what a reader hears is no longer than the text,
        // give or take what character references expand to.
        if ((plain.size() > text.size() * 4 + 16) || html.size() < 0)
            std::abort();
    }
    // The runs hold exactly the text a reader hears (line breaks made single),
    // and a presentation differs from itself nowhere.
    const PresentedMessage shown = MessageRuns::present(text, QStringLiteral("assistant"));
    QString joined;
    for (const StyledRun &run : shown.runs)
        joined += run.text;
    QString expected = shown.plainText;
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (joined != expected || MessageRuns::firstDifference(shown.runs, shown.runs) != joined.size())
        std::abort();
    // Grown in pieces through one presenter (which parses only what follows
    // the settled text), each text shows as it does presented afresh.
    MessagePresenter presenter;
    const qsizetype step = std::max<qsizetype>(1 + (size ? data[0] % 16 : 0), text.size() / 32);
    for (qsizetype end = 1; end <= text.size(); end += step) {
        const PresentedMessage grown = presenter.present(text.left(end), QStringLiteral("assistant"));
        const PresentedMessage whole = MessageRuns::present(text.left(end), QStringLiteral("assistant"));
        if (grown.styled != whole.styled || grown.plainText != whole.plainText || grown.runs.size() != whole.runs.size())
            std::abort();
        for (size_t i = 0; i < grown.runs.size(); ++i)
            if (grown.runs[i].text != whole.runs[i].text || !grown.runs[i].sameStyle(whole.runs[i]))
                std::abort();
    }
    return 0;
}
