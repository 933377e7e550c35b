// Assistant text through the inline Markdown parser and every renderer of its
// tree, and through the raw-text fallback.
#include "InlineMarkdown.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto root = InlineMarkdown::parse(text)) {
        const QString rich = InlineMarkdown::toRichText(*root);
        const QString plain = InlineMarkdown::toPlainText(*root);
        const QString html = InlineMarkdown::toCommonMarkHtml(*root);
        // Markers are removed, never added: what a reader hears is no longer than the text,
        // give or take what character references expand to.
        if (rich.isEmpty() || (plain.size() > text.size() * 4 + 16) || html.size() < 0)
            std::abort();
    }
    const QString fallback = InlineMarkdown::plainToRichText(text);
    if (fallback.isEmpty())
        std::abort();
    InlineMarkdown::renderOrFallback(text);
    return 0;
}
