// Assistant text through the inline Markdown parser and its renderer, and
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
    // message shows one space). The runs start at 0, in order, inside the text.
    const MessageRuns::Presented shown = MessageRuns::present(text, QStringLiteral("assistant"));
    if (shown.text.size() > text.size() * 4 + 16 || shown.runs.empty() || shown.runs.front().start != 0)
        std::abort();
    for (size_t i = 1; i < shown.runs.size(); ++i)
        if (shown.runs[i].start <= shown.runs[i - 1].start || shown.runs[i].start >= shown.text.size())
            std::abort();
    // Grown in pieces through one presenter (which parses only what follows
    // the settled text), each text shows as it does presented afresh, and the
    // text as given is kept.
    MessagePresenter presenter(true);
    const qsizetype step = std::max<qsizetype>(1 + (size ? data[0] % 16 : 0), text.size() / 32);
    for (qsizetype start = 0; start < text.size(); start += step) {
        presenter.append(QStringView(text).sliced(start, std::min(step, text.size() - start)));
        const qsizetype changedFrom = presenter.present();
        const MessageRuns::Presented whole = MessageRuns::present(text.left(start + step), QStringLiteral("assistant"));
        if (presenter.styled() != whole.styled || presenter.text() != whole.text || presenter.runs() != whole.runs
            || presenter.source() != text.left(start + step) || changedFrom < 0 || changedFrom > whole.text.size())
            std::abort();
    }
    return 0;
}
