#pragma once

#include "InlineMarkdown.h"

namespace InlineMarkdown {

// CommonMark's HTML for a parsed tree (raw HTML passed through, as CommonMark
// renders it): what the tests compare with CommonMark's published examples.
QString toCommonMarkHtml(const Node &root);

} // namespace InlineMarkdown
