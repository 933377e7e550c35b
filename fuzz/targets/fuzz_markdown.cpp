// Assistant text through the inline Markdown parser and its renderers, and
// through the bubble's presentation (styled runs, or the raw-text fallback).
#include "CommonMarkHtml.h"
#include "MessageRuns.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto root = InlineMarkdown::parse(text)) {
        if (InlineMarkdown::toCommonMarkHtml(*root).size() < 0)
            std::abort();
    }
    // Markers are removed, never added: what a reader sees is no longer than
    // the text, give or take what character references expand to (an empty
    // message shows one space). A presentation differs from itself nowhere.
    const PresentedMessage shown = MessageRuns::present(text, QStringLiteral("assistant"));
    qsizetype length = 0;
    for (const StyledRun &run : shown.runs)
        length += run.text.size();
    if (length > text.size() * 4 + 16 || MessageRuns::firstDifference(shown.runs, shown.runs) != length)
        std::abort();
    // Grown in pieces through one presenter (which parses only what follows
    // the settled text), each text shows as it does presented afresh, and the
    // presenter reports where the runs first changed.
    MessagePresenter presenter;
    PresentedMessage previous;
    const qsizetype step = std::max<qsizetype>(1 + (size ? data[0] % 16 : 0), text.size() / 32);
    for (qsizetype end = 1; end <= text.size(); end += step) {
        const qsizetype changedFrom = presenter.present(text.left(end), QStringLiteral("assistant"));
        const PresentedMessage &grown = presenter.shown();
        PresentedMessage whole = MessageRuns::present(text.left(end), QStringLiteral("assistant"));
        if (grown.styled != whole.styled || grown.runs.size() != whole.runs.size()
            || changedFrom != MessageRuns::firstDifference(previous.runs, whole.runs))
            std::abort();
        for (size_t i = 0; i < grown.runs.size(); ++i)
            if (grown.runs[i].text != whole.runs[i].text || !grown.runs[i].sameStyle(whole.runs[i]))
                std::abort();
        previous = std::move(whole);
    }
    return 0;
}
